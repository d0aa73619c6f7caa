#include "RenderOptions.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "platform/Text.h"

namespace vl::render {

namespace {

bool parseNumber(const std::string& text, double& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(value)) return false;
    out = value;
    return true;
}

std::filesystem::path pathOf(const std::string& utf8) { return platform::pathFromWide(platform::utf8ToWide(utf8)); }

}  // namespace

const char* usageText() {
    return "usage: vorlane-render --plugin PATH [--input in.wav|in.aif] [--midi file.mid] [--notes SPEC] [--keys SPEC]\n"
           "                      [--rate 44100] [--block 512] [--tempo 120] [--seconds S] [--tail S]\n"
           "                      [--chunk state.bin] [--save-chunk state.bin] [--load-preset FILE] [--save-preset FILE]\n"
           "                      [--format s16|s24|f32] [--quiet]\n"
           "                      --output out.wav\n"
           "\n"
           "Renders a VST 2.x plug-in offline through the host's engine. --notes takes\n"
           "note@start+length[:velocity] entries separated by commas, times in seconds,\n"
           "for example 60@0+1,64@0.5+1:90. --keys plays the computer keyboard the same way:\n"
           "KEY@start+length, for example D@0+0.5,F@0.5+0.5 (D is C3). The output is a 16-bit WAV, or AIFF for a name\n"
           "ending in .aif or .aiff; --format s24 writes a 24-bit WAV and --format f32 a 32-bit float WAV,\n"
           "which keeps output beyond full scale unclipped. The length is --seconds, else the input's\n"
           "length or the last MIDI event, plus --tail (2 seconds unless given). --load-preset hands a\n"
           "VST program (.fxp) or bank (.fxb) file to the plug-in after --chunk; --save-preset writes\n"
           "the plug-in's bank for a name ending in .fxb, else its current program.\n";
}

std::optional<RenderOptions> parseArguments(const std::vector<std::string>& args, std::string& error) {
    RenderOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool hasValue = false;
        const size_t eq = name.find('=');
        if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            hasValue = true;
        }
        if (name == "--help" || name == "-h") {
            options.help = true;
            continue;
        }
        if (name == "--quiet" || name == "-q") {
            options.quiet = true;
            continue;
        }
        if (!hasValue) {
            if (i + 1 >= args.size()) {
                error = "missing value after " + name;
                return std::nullopt;
            }
            value = args[++i];
        }
        double number = 0.0;
        auto needNumber = [&](double low, double high) {
            if (!parseNumber(value, number) || number < low || number > high) {
                error = "bad value for " + name + ": " + value;
                return false;
            }
            return true;
        };
        if (name == "--plugin") options.plugin = pathOf(value);
        else if (name == "--input") options.input = pathOf(value);
        else if (name == "--midi") options.midi = pathOf(value);
        else if (name == "--notes") options.notes = value;
        else if (name == "--keys") options.keys = value;
        else if (name == "--output") options.output = pathOf(value);
        else if (name == "--chunk") options.chunk = pathOf(value);
        else if (name == "--save-chunk") options.saveChunk = pathOf(value);
        else if (name == "--load-preset") options.loadPreset = pathOf(value);
        else if (name == "--save-preset") options.savePreset = pathOf(value);
        else if (name == "--format") {
            if (value == "s16") options.format = OutputFormat::S16;
            else if (value == "s24") options.format = OutputFormat::S24;
            else if (value == "f32") options.format = OutputFormat::F32;
            else {
                error = "bad value for --format: " + value + " (s16, s24 or f32)";
                return std::nullopt;
            }
        }
        else if (name == "--rate") {
            if (!needNumber(8000.0, 384000.0)) return std::nullopt;
            options.rate = number;
        } else if (name == "--block") {
            if (!needNumber(1.0, 8192.0) || number != std::floor(number)) {
                error = "bad value for --block: " + value;
                return std::nullopt;
            }
            options.block = static_cast<uint32_t>(number);
        } else if (name == "--tempo") {
            if (!needNumber(1.0, 999.0)) return std::nullopt;
            options.tempo = number;
        } else if (name == "--seconds") {
            if (!needNumber(0.001, 300.0)) return std::nullopt;
            options.seconds = number;
        } else if (name == "--tail") {
            if (!needNumber(0.0, 300.0)) return std::nullopt;
            options.tail = number;
        } else {
            error = "unknown option " + name;
            return std::nullopt;
        }
    }
    if (options.help) return options;
    if (options.plugin.empty()) {
        error = "--plugin is required";
        return std::nullopt;
    }
    if (options.output.empty()) {
        error = "--output is required";
        return std::nullopt;
    }
    const std::string outputName = options.output.filename().string();
    const char last = outputName.empty() ? '\0' : outputName.back();
    if (last != 'v' && last != 'f') {
        error = "the output name must end in .wav, .aif or .aiff";
        return std::nullopt;
    }
    if (last == 'f' && options.format != OutputFormat::S16) {
        error = "--format s24 and f32 write WAV files: the output name must end in .wav";
        return std::nullopt;
    }
    return options;
}

namespace {

// One "what@start+length[:extra]" entry of the comma-separated note and key lists.
struct TimedEntry {
    std::string what;
    double start = 0.0;
    double length = 0.0;
    std::string extra;
};

std::optional<std::vector<TimedEntry>> splitEntries(const std::string& text, std::string& error) {
    std::vector<TimedEntry> entries;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        const std::string entry = text.substr(start, comma - start);
        start = comma + 1;
        if (entry.empty()) {
            if (comma == text.size() && !entries.empty()) break;
            error = "empty entry";
            return std::nullopt;
        }
        const size_t at = entry.find('@');
        const size_t plus = at == std::string::npos ? std::string::npos : entry.find('+', at);
        const size_t colon = plus == std::string::npos ? std::string::npos : entry.find(':', plus);
        TimedEntry e;
        if (at == std::string::npos || plus == std::string::npos || at == 0 ||
            !parseNumber(entry.substr(at + 1, plus - at - 1), e.start) ||
            !parseNumber(entry.substr(plus + 1, colon == std::string::npos ? std::string::npos : colon - plus - 1),
                         e.length) ||
            e.start < 0 || e.length <= 0 || e.start + e.length > 3600.0) {
            error = "entry needs what@start+length: " + entry;
            return std::nullopt;
        }
        e.what = entry.substr(0, at);
        if (colon != std::string::npos) e.extra = entry.substr(colon + 1);
        entries.push_back(e);
    }
    return entries;
}

}  // namespace

std::optional<std::vector<TimedMidiEvent>> parseNotes(const std::string& text, std::string& error) {
    auto entries = splitEntries(text, error);
    if (!entries) return std::nullopt;
    std::vector<TimedMidiEvent> events;
    for (const TimedEntry& e : *entries) {
        double note = 0, velocity = 100;
        if (!parseNumber(e.what, note) || note < 0 || note > 127 || note != std::floor(note) ||
            (!e.extra.empty() && !parseNumber(e.extra, velocity)) || velocity < 1 || velocity > 127 ||
            velocity != std::floor(velocity)) {
            error = "bad note entry: " + e.what + "@...";
            return std::nullopt;
        }
        events.push_back({e.start, 0x90, static_cast<uint8_t>(note), static_cast<uint8_t>(velocity)});
        events.push_back({e.start + e.length, 0x80, static_cast<uint8_t>(note), 0});
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const TimedMidiEvent& a, const TimedMidiEvent& b) { return a.seconds < b.seconds; });
    return events;
}

std::optional<std::vector<TimedKey>> parseKeys(const std::string& text, std::string& error) {
    auto entries = splitEntries(text, error);
    if (!entries) return std::nullopt;
    std::vector<TimedKey> keys;
    for (const TimedEntry& e : *entries) {
        const char c = e.what.size() == 1 ? e.what[0] : '\0';
        if (c < 'A' || c > 'Z' || !e.extra.empty()) {
            error = "bad key entry (an upper-case letter is expected): " + e.what;
            return std::nullopt;
        }
        keys.push_back({e.start, c, true});
        keys.push_back({e.start + e.length, c, false});
    }
    std::stable_sort(keys.begin(), keys.end(), [](const TimedKey& a, const TimedKey& b) { return a.seconds < b.seconds; });
    return keys;
}

}  // namespace vl::render
