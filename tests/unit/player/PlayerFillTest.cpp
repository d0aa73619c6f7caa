// The resampling player's fill against the plain loop it replaces: every frame's position is the
// running sum of the step, to the bit, over long runs, across binades, at loop wraps and with
// steps whose rounding ties; every sample is the same interpolation within 1e-6 (most frames are
// interpolated in single precision).

#include <gtest/gtest.h>

#include "support/ReferenceFill.h"

#include <bit>
#include <cmath>
#include <vector>

#include "player/PlayerCore.h"

namespace {


struct Sample {
    std::vector<float> left, right;
    explicit Sample(uint32_t frames) : left(frames + 1), right(frames + 1) {
        for (uint32_t i = 0; i < frames; ++i) {
            left[i] = static_cast<float>(std::sin(i * 0.0627) * 0.9);
            right[i] = static_cast<float>(std::cos(i * 0.0113) * 0.5 + (i % 7) * 1e-3);
        }
        left[frames] = left[0];
        right[frames] = right[0];
    }
};

// A step whose sums tie: between 1024 and 2048 positions are 2^-42 apart, and 1 + 2^-43 lies
// half way between two of them, so each sum there rounds by the position's last bit (a start
// one spacing above 1024 makes that bit odd).
const double kTieStep = 1.0 + std::ldexp(1.0, -43);
const double kTieStart = 1024.0 + std::ldexp(1.0, -42);

}  // namespace

TEST(PlayerFill, ChunkedPositionsGiveTheBitsOfTheRunningSumAndTheSamplesWithin1e6) {
    struct Case {
        const char* name;
        double step;
        uint32_t fileFrames, block, blocks;
        double start;
        bool loop;
    };
    const Case cases[] = {
        {"48k file on 44.1k, 64 frames", double(48000.0f / 44100.0f), 44100, 64, 3000, 0.0, true},
        {"44.1k file on 48k, 64 frames", double(44100.0f / 48000.0f), 44100, 64, 3000, 0.0, true},
        {"96k file on 44.1k, odd block", double(96000.0f / 44100.0f), 30011, 37, 4000, 0.0, true},
        {"22.05k file on 96k, 1024 frames", double(22050.0f / 96000.0f), 5000, 1024, 100, 0.0, true},
        {"8k file on 192k", double(8000.0f / 192000.0f), 1000, 256, 200, 0.0, true},
        {"192k file on 8k", double(192000.0f / 8000.0f), 100000, 64, 200, 0.0, true},
        {"step 1 off the frame grid", 1.0, 3000, 64, 200, 0.5, true},
        {"near the end, not looping", double(48000.0f / 44100.0f), 4096, 64, 100, 3000.25, false},
        {"start in a high binade", 1.0000001, 1u << 24, 512, 40, 16777000.0, true},
        {"a step whose sums tie", kTieStep, 4096, 64, 200, kTieStart, true},
        {"the step 1.5 (exact sums)", 1.5, 2000, 64, 100, 0.0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Sample s(c.fileFrames);
        double a = c.start, b = c.start;
        bool endedA = false, endedB = false;
        std::vector<float> l1(c.block), r1(c.block), l2(c.block), r2(c.block);
        for (uint32_t block = 0; block < c.blocks; ++block) {
            vl::playerFill(s.left.data(), s.right.data(), c.fileFrames, c.loop, c.step, a, endedA, l1.data(), r1.data(),
                           c.block);
            vltest::referenceFill(s.left.data(), s.right.data(), c.fileFrames, c.loop, c.step, b, endedB, l2.data(), r2.data(),
                      c.block);
            ASSERT_EQ(std::bit_cast<uint64_t>(a), std::bit_cast<uint64_t>(b)) << "position after block " << block;
            ASSERT_EQ(endedA, endedB) << block;
            for (uint32_t i = 0; i < c.block; ++i) {
                ASSERT_NEAR(l1[i], l2[i], 1e-6) << block << ":" << i;
                ASSERT_NEAR(r1[i], r2[i], 1e-6) << block << ":" << i;
            }
            if (endedA) break;
        }
    }
}
