#pragma once
// Command line of vorlane-render: options, the short note text form, and the exit codes.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "midi/StandardMidiFile.h"

namespace vl::render {

enum ExitCode : int {
    kExitOk = 0,
    kExitRenderFailed = 1,
    kExitUsage = 2,
    kExitModuleNotFound = 3,
    kExitNotAVstModule = 4,
    kExitWrongMagic = 5,
    kExitInputUnreadable = 6,
    kExitOutputUnwritable = 7,
    kExitMidiUnreadable = 8,
    kExitChunkUnreadable = 9,
    kExitPresetRefused = 10,  // --load-preset: unreadable, damaged, of another plug-in, or refused by it
};

// Sample format of the output file: 16-bit PCM (WAV or AIFF, through the host's own recorder
// save), 24-bit PCM or 32-bit float (WAV only; float keeps values beyond +-1).
enum class OutputFormat { S16, S24, F32 };

struct RenderOptions {
    std::filesystem::path plugin;
    std::filesystem::path input;
    std::filesystem::path midi;
    std::string notes;
    std::string keys;
    double rate = 44100.0;
    uint32_t block = 512;
    double tempo = 120.0;
    std::optional<double> seconds;
    double tail = 2.0;
    std::filesystem::path chunk;
    std::filesystem::path saveChunk;
    std::filesystem::path loadPreset;  // .fxp / .fxb handed to the plug-in before the render
    std::filesystem::path savePreset;  // written after it: a bank for a .fxb name, else the program
    std::filesystem::path output;
    OutputFormat format = OutputFormat::S16;
    bool quiet = false;
    bool help = false;
};

// Parses UTF-8 arguments (without the program name). On failure answers nothing and puts the
// reason into error.
std::optional<RenderOptions> parseArguments(const std::vector<std::string>& args, std::string& error);

const char* usageText();

// "60@0+1,64@0.5+1:90": note@start-seconds+length-seconds[:velocity], velocity 100 when
// omitted. Answers note-on and note-off events sorted by time, or nothing with a reason.
std::optional<std::vector<TimedMidiEvent>> parseNotes(const std::string& text, std::string& error);

// "D@0+0.5,F@0.5+0.5": computer keys pressed at start-seconds and released after
// length-seconds, played through the host's keyboard notes (D is C3 at the default octave;
// C and V change the octave when released).
struct TimedKey {
    double seconds = 0.0;
    int key = 0;
    bool down = false;
};
std::optional<std::vector<TimedKey>> parseKeys(const std::string& text, std::string& error);

}  // namespace vl::render
