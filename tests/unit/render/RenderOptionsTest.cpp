#include "RenderOptions.h"

#include <gtest/gtest.h>

using namespace vl::render;

TEST(RenderOptions, ParsesEveryOption) {
    std::string error;
    auto o = parseArguments({"--plugin", "synth.so", "--input=in.wav", "--midi", "song.mid", "--notes", "60@0+1",
                             "--rate", "48000", "--block", "128", "--tempo", "98.5", "--seconds", "3", "--tail", "0.5",
                             "--chunk", "a.bin", "--save-chunk", "b.bin", "--load-preset", "in.fxp", "--save-preset=out.fxb",
                             "--quiet", "--output", "out.wav"},
                            error);
    ASSERT_TRUE(o.has_value()) << error;
    EXPECT_EQ(o->plugin, "synth.so");
    EXPECT_EQ(o->input, "in.wav");
    EXPECT_EQ(o->midi, "song.mid");
    EXPECT_EQ(o->notes, "60@0+1");
    EXPECT_EQ(o->rate, 48000.0);
    EXPECT_EQ(o->block, 128u);
    EXPECT_EQ(o->tempo, 98.5);
    EXPECT_EQ(*o->seconds, 3.0);
    EXPECT_EQ(o->tail, 0.5);
    EXPECT_EQ(o->chunk, "a.bin");
    EXPECT_EQ(o->saveChunk, "b.bin");
    EXPECT_EQ(o->loadPreset, "in.fxp");
    EXPECT_EQ(o->savePreset, "out.fxb");
    EXPECT_TRUE(o->quiet);
    EXPECT_EQ(o->output, "out.wav");
}

TEST(RenderOptions, RefusesBadCommandLines) {
    const std::vector<std::vector<std::string>> bad = {
        {"--output", "x.wav"},                                       // no plug-in
        {"--plugin", "p.so"},                                        // no output
        {"--plugin", "p.so", "--output", "x.mp3"},                   // unknown output format
        {"--plugin", "p.so", "--output", "x.wav", "--rate", "abc"},
        {"--plugin", "p.so", "--output", "x.wav", "--rate", "100"},
        {"--plugin", "p.so", "--output", "x.wav", "--block", "0"},
        {"--plugin", "p.so", "--output", "x.wav", "--block", "64.5"},
        {"--plugin", "p.so", "--output", "x.wav", "--tempo", "-3"},
        {"--plugin", "p.so", "--output", "x.wav", "--seconds", "301"},
        {"--plugin", "p.so", "--output", "x.wav", "--frobnicate", "1"},
        {"--plugin", "p.so", "--output"},
        {"--plugin", "p.so", "--output", "x.wav", "--format", "s32"},
        {"--plugin", "p.so", "--output", "x.wav", "--format", "F32"},
        {"--plugin", "p.so", "--output", "x.aiff", "--format", "f32"},  // wider formats are WAV only
    };
    for (const auto& args : bad) {
        std::string error;
        EXPECT_FALSE(parseArguments(args, error).has_value()) << args.back();
        EXPECT_FALSE(error.empty());
    }
    std::string error;
    auto aiff = parseArguments({"--plugin", "p.so", "--output", "x.aiff"}, error);
    ASSERT_TRUE(aiff.has_value());
    EXPECT_EQ(aiff->tail, 2.0);
    EXPECT_FALSE(aiff->seconds.has_value());
    EXPECT_EQ(aiff->format, OutputFormat::S16);
    for (const auto& [text, format] : {std::pair{"s16", OutputFormat::S16}, std::pair{"s24", OutputFormat::S24},
                                       std::pair{"f32", OutputFormat::F32}}) {
        auto o = parseArguments({"--plugin", "p.so", std::string("--format=") + text, "--output", "x.wav"}, error);
        ASSERT_TRUE(o.has_value()) << error;
        EXPECT_EQ(o->format, format) << text;
    }
}

TEST(RenderOptions, NotesBecomeSortedNoteOnAndOffEvents) {
    std::string error;
    auto events = parseNotes("64@0.5+1:90,60@0+1", error);
    ASSERT_TRUE(events.has_value()) << error;
    ASSERT_EQ(events->size(), 4u);
    EXPECT_EQ((*events)[0].seconds, 0.0);
    EXPECT_EQ((*events)[0].status, 0x90);
    EXPECT_EQ((*events)[0].data1, 60);
    EXPECT_EQ((*events)[0].data2, 100);
    EXPECT_EQ((*events)[1].seconds, 0.5);
    EXPECT_EQ((*events)[1].data2, 90);
    EXPECT_EQ((*events)[2].seconds, 1.0);
    EXPECT_EQ((*events)[2].status, 0x80);
    EXPECT_EQ((*events)[3].seconds, 1.5);
    for (const char* text : {"", "60", "60@0", "128@0+1", "60@-1+1", "60@0+0", "60@0+1:0", "60@0+1:128", "x@0+1",
                             "60@0+1,,62@0+1", "60.5@0+1", "@0+1"}) {
        EXPECT_FALSE(parseNotes(text, error).has_value()) << text;
    }
}

TEST(RenderOptions, KeysBecomePressesAndReleases) {
    std::string error;
    auto keys = parseKeys("F@0.5+0.5,D@0+1,V@2+0.1", error);
    ASSERT_TRUE(keys.has_value()) << error;
    ASSERT_EQ(keys->size(), 6u);
    EXPECT_EQ((*keys)[0].key, 'D');
    EXPECT_TRUE((*keys)[0].down);
    EXPECT_EQ((*keys)[1].key, 'F');
    EXPECT_EQ((*keys)[2].seconds, 1.0);
    EXPECT_FALSE((*keys)[5].down);
    for (const char* text : {"d@0+1", "DF@0+1", "D@0+1:3", "5@0+1", "D@0"}) {
        EXPECT_FALSE(parseKeys(text, error).has_value()) << text;
    }
}
