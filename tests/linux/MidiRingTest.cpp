// The MIDI ring between the real-time threads and their reader, and the short-message rule.

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "midi/jack/MidiRing.h"

namespace {

TEST(MidiRing, KeepsOrderDropsWhenFullAndCountsTheDrops) {
    vl::MidiRing<4> ring;
    for (uint32_t i = 0; i < 6; ++i) EXPECT_EQ(ring.push({i, 0, i}), i < 4) << i;
    EXPECT_EQ(ring.droppedCount(), 2u);
    vl::RingMessage m;
    for (uint32_t i = 0; i < 4; ++i) {
        ASSERT_TRUE(ring.pop(m));
        EXPECT_EQ(m.packed, i);
    }
    EXPECT_FALSE(ring.pop(m));
    // The slots are used again after wrapping.
    EXPECT_TRUE(ring.push({9, 1, 9}));
    ASSERT_TRUE(ring.pop(m));
    EXPECT_EQ(m.source, 1u);
}

TEST(MidiRing, SeveralProducersLoseNothingThatFits) {
    vl::MidiRing<4096> ring;
    constexpr uint32_t kPerThread = 1000;
    std::vector<std::thread> producers;
    for (uint32_t t = 0; t < 4; ++t)
        producers.emplace_back([&ring, t] {
            for (uint32_t i = 0; i < kPerThread; ++i) ring.push({i, t, 0});
        });
    for (auto& p : producers) p.join();
    std::vector<uint32_t> next(4, 0);
    vl::RingMessage m;
    size_t total = 0;
    while (ring.pop(m)) {
        EXPECT_EQ(m.packed, next[m.source]++) << "order within one producer";
        ++total;
    }
    EXPECT_EQ(total, 4u * kPerThread);
    EXPECT_EQ(ring.droppedCount(), 0u);
}

TEST(MidiRing, ShortMessageLengthsByStatus) {
    struct Case {
        uint8_t status;
        int length;
    };
    const Case cases[] = {{0x00, 0}, {0x7F, 0}, {0x80, 3}, {0x9F, 3}, {0xA0, 3}, {0xB0, 3}, {0xC5, 2}, {0xD0, 2},
                          {0xE0, 3}, {0xF0, 0}, {0xF1, 2}, {0xF2, 3}, {0xF3, 2}, {0xF4, 0}, {0xF6, 1}, {0xF7, 0},
                          {0xF8, 1}, {0xF9, 0}, {0xFA, 1}, {0xFC, 1}, {0xFD, 0}, {0xFE, 1}, {0xFF, 1}};
    for (const Case& c : cases) EXPECT_EQ(vl::shortMessageLength(c.status), c.length) << int(c.status);
}

}  // namespace
