// vorlane-render: runs any VST 2.x module offline through the host's own engine. The plug-in
// is loaded by the host's loader, configured by a real engine start, and driven block by block
// by the coordinator's RenderBlock from an offline device; an input file plays through the real
// player, MIDI arrives through the coordinator's event lists, and the real recorder captures
// the output.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define VL_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define VL_ISATTY(fd) isatty(fd)
#endif

#include "RenderOptions.h"
#include "audio/VLOfflineAudio.h"
#include "host/HostCallback.h"
#include "host/PluginPresets.h"
#include "host/PluginSlot.h"
#include "host/VLVSTHostInterface.h"
#include "midi/VLNullMidi.h"
#include "platform/FileIO.h"
#include "platform/Text.h"
#include "player/AudioFile.h"
#include "settings/HostSettings.h"
#include "settings/MemoryStore.h"

namespace vl::render {
namespace {

// Engine messages go to the terminal.
class StderrMessages : public platform::MessageSink {
public:
    platform::MessageAnswer show(const platform::UserMessage& message) override {
        std::string text = platform::wideToUtf8(message.text);
        for (char& c : text)
            if (c == '\r') c = ' ';
        std::fprintf(stderr, "vorlane-render: %s: %s\n", platform::wideToUtf8(message.caption).c_str(), text.c_str());
        return platform::MessageAnswer::Ok;
    }
};

int fail(int code, const std::string& text) {
    std::fprintf(stderr, "vorlane-render: %s\n", text.c_str());
    return code;
}

std::string shown(const std::filesystem::path& path) { return platform::wideToUtf8(platform::pathToWide(path)); }

// Events handed to the engine at the block in which they fall.
struct EventFeed {
    VLVSTHostInterface* host = nullptr;
    const std::vector<TimedMidiEvent>* events = nullptr;
    const std::vector<TimedKey>* keys = nullptr;
    double rate = 44100.0;
    size_t next = 0;
    size_t nextKey = 0;
    // Progress display.
    bool progress = false;
    uint64_t total = 0;
    std::chrono::steady_clock::time_point lastShown{};

    static void beforeBlock(uint64_t firstFrame, uint32_t frames, void* user) {
        auto* self = static_cast<EventFeed*>(user);
        const uint64_t end = firstFrame + frames;
        auto due = [&](double seconds) { return static_cast<uint64_t>(std::floor(seconds * self->rate)) < end; };
        while (self->next < self->events->size() && due((*self->events)[self->next].seconds)) {
            const TimedMidiEvent& e = (*self->events)[self->next++];
            self->host->insertMidiEvent(e.status & 0xF0, e.data1, e.data2, e.status & 0x0F);
        }
        while (self->nextKey < self->keys->size() && due((*self->keys)[self->nextKey].seconds)) {
            const TimedKey& k = (*self->keys)[self->nextKey++];
            self->host->KeyboardNote(k.key, k.down);
        }
        if (self->progress) {
            const auto now = std::chrono::steady_clock::now();
            if (now - self->lastShown > std::chrono::milliseconds(250)) {
                self->lastShown = now;
                std::fprintf(stderr, "\rrendering %.1f / %.1f s", static_cast<double>(end) / self->rate,
                             static_cast<double>(self->total) / self->rate);
                std::fflush(stderr);
            }
        }
    }
};

bool canWrite(const std::filesystem::path& path) {
    std::error_code ec;
    const bool existed = std::filesystem::exists(path, ec);
    FILE* f = platform::openFile(path, "ab");
    if (!f) return false;
    std::fclose(f);
    if (!existed) std::filesystem::remove(path, ec);
    return true;
}

// Writes the recording: 16-bit through the host's own save (held at full scale, as the
// application saves it), 24-bit and float by the same writer in the wider format.
bool saveOutput(VLVSTHostInterface& host, const RenderOptions& options) {
    if (options.format == OutputFormat::S16) return host.SaveRecording(options.output);
    host.StartRecorder(Stopped, 0);  // the engine has stopped: the count is final
    const uint32_t frames = host.recordedFrames;
    const SampleFormat format = options.format == OutputFormat::S24 ? SampleFormat::Stereo24 : SampleFormat::StereoFloat32;
    std::unique_ptr<VLAudioFileBase> file;
    return frames > 0 && host.recordLeft && host.recordRight &&
           CreateAudioFile(file, options.output, frames, static_cast<uint32_t>(options.rate), format) &&
           file->writeFrames(StereoBuffer{host.recordLeft.get(), host.recordRight.get()}, frames);
}

int render(const RenderOptions& options) {
    // Everything that can be checked before the plug-in runs is checked first.
    std::vector<TimedMidiEvent> events;
    double eventsEnd = 0.0;
    if (!options.midi.empty()) {
        auto bytes = platform::readWholeFile(options.midi, size_t(64) << 20);
        if (!bytes) return fail(kExitMidiUnreadable, "cannot read MIDI file " + shown(options.midi));
        MidiFile file = readStandardMidiFile(bytes->data(), bytes->size());
        if (file.error != MidiFileError::None)
            return fail(kExitMidiUnreadable, shown(options.midi) + ": " + describe(file.error));
        events = std::move(file.events);
        eventsEnd = file.lengthSeconds;
    }
    if (!options.notes.empty()) {
        std::string error;
        auto notes = parseNotes(options.notes, error);
        if (!notes) return fail(kExitUsage, error);
        for (const TimedMidiEvent& e : *notes) eventsEnd = std::max(eventsEnd, e.seconds);
        events.insert(events.end(), notes->begin(), notes->end());
        std::stable_sort(events.begin(), events.end(),
                         [](const TimedMidiEvent& a, const TimedMidiEvent& b) { return a.seconds < b.seconds; });
    }
    std::vector<TimedKey> keys;
    if (!options.keys.empty()) {
        std::string error;
        auto parsed = parseKeys(options.keys, error);
        if (!parsed) return fail(kExitUsage, error);
        keys = std::move(*parsed);
        eventsEnd = std::max(eventsEnd, keys.back().seconds);
    }
    double inputSeconds = 0.0;
    if (!options.input.empty()) {
        std::unique_ptr<VLAudioFileBase> probeFile;
        const uint32_t frames = OpenAudioFile(probeFile, options.input);
        if (frames == 0 || probeFile->sampleRate() <= 0) {
            const std::string reason = probeFile ? std::string(": ") + describe(probeFile->lastError()) : "";
            return fail(kExitInputUnreadable, "cannot read audio file " + shown(options.input) + reason);
        }
        inputSeconds = static_cast<double>(frames) / probeFile->sampleRate();
    }
    std::optional<std::vector<uint8_t>> chunk;
    if (!options.chunk.empty()) {
        chunk = platform::readWholeFile(options.chunk, size_t(256) << 20);
        if (!chunk) return fail(kExitChunkUnreadable, "cannot read state file " + shown(options.chunk));
    }
    if (!canWrite(options.output)) return fail(kExitOutputUnwritable, "cannot write " + shown(options.output));

    const double seconds = options.seconds ? *options.seconds : std::max(inputSeconds, eventsEnd) + options.tail;
    const auto totalFrames = static_cast<uint64_t>(std::llround(seconds * options.rate));
    if (totalFrames == 0) return fail(kExitUsage, "nothing to render: give --seconds, --input, --midi, --notes or --keys");
    if (totalFrames > recordLimitFrames(options.rate))
        return fail(kExitUsage, "at most 300 seconds can be rendered at a time");

    PluginSlot slot;
    setHostContext(&slot);
    // Some plug-ins ask for the sample rate from inside their entry point and keep that answer:
    // give them the rate they will run at.
    slot.timeInfo.sampleRate = static_cast<double>(static_cast<float>(options.rate));
    std::error_code ec;
    const std::filesystem::path modulePath = std::filesystem::absolute(options.plugin, ec);
    const LoadResult loaded = slot.load(modulePath);
    switch (loaded) {
        case LoadResult::Loaded: break;
        case LoadResult::ModuleNotFound:
            return fail(kExitModuleNotFound, "cannot load module " + shown(modulePath) + " (" + platform::lastModuleError() + ")");
        case LoadResult::WrongMagic:
            return fail(kExitWrongMagic, shown(modulePath) + ": the plug-in's effect record has the wrong magic");
        default:
            return fail(kExitNotAVstModule, shown(modulePath) + " is not a VST 2.x plug-in: " + describe(loaded));
    }

    VLOfflineAudio device(options.rate, options.block);
    AudioBackendSet backends;
    backends.set(kDeviceTypeASIO, &device);
    VLNullMidi midi;
    HostSettings settings(slot.effectNameWide(), std::make_shared<MemoryStore>());
    settings.outputDevice = device.output();
    settings.inputDevice = device.input();
    settings.tempo = options.tempo;

    StderrMessages messages;
    VLVSTHostInterface host;
    host.setMessageSink(&messages);
    host.link(&slot, &backends, &midi, &settings);

    if (chunk) slot.setChunk(chunk->empty() ? nullptr : chunk->data(), static_cast<vst::intptr>(chunk->size()));
    if (!options.loadPreset.empty()) {
        const PresetOutcome loadedPreset = loadPresetFile(slot, options.loadPreset, directly());
        if (!loadedPreset.ok) return fail(kExitPresetRefused, shown(options.loadPreset) + ": " + loadedPreset.message);
    }
    host.requestTransport(true);
    if (!host.StartAudioEngine() || !device.running) return fail(kExitRenderFailed, "the engine did not start");
    if (!options.input.empty()) {
        if (host.LoadSample(options.input) == 0 || !host.StartPlayer(Running, false))
            return fail(kExitInputUnreadable, "cannot play " + shown(options.input));
    }
    if (!host.StartRecorder(Running, static_cast<uint32_t>(totalFrames)))
        return fail(kExitRenderFailed, "cannot allocate the recording buffer");
    host.ReserveRecording(true);  // offline: all of it now, no timer keeps it ahead

    EventFeed feed;
    feed.host = &host;
    feed.events = &events;
    feed.keys = &keys;
    feed.rate = options.rate;
    feed.total = totalFrames;
    feed.progress = !options.quiet && VL_ISATTY(2) && seconds > 5.0;

    const auto started = std::chrono::steady_clock::now();
    const uint64_t rendered = device.run(totalFrames, &EventFeed::beforeBlock, &feed);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (feed.progress) std::fprintf(stderr, "\r%60s\r", "");
    host.StopAudioEngine();
    if (rendered < totalFrames) return fail(kExitRenderFailed, "the engine stopped early");

    if (!saveOutput(host, options)) return fail(kExitOutputUnwritable, "cannot write " + shown(options.output));
    if (!options.saveChunk.empty()) {
        void* data = nullptr;
        const vst::intptr size = slot.getChunk(&data);
        if (size <= 0 || !data) {
            std::fprintf(stderr, "vorlane-render: the plug-in returned no state; %s not written\n",
                         shown(options.saveChunk).c_str());
        } else if (!platform::writeFileAtomically(options.saveChunk, data, static_cast<size_t>(size))) {
            return fail(kExitOutputUnwritable, "cannot write " + shown(options.saveChunk));
        }
    }
    if (!options.savePreset.empty()) {
        const PresetKind kind =
            platform::lowerExtension(options.savePreset) == ".fxb" ? PresetKind::Bank : PresetKind::Program;
        const PresetOutcome saved = savePresetFile(slot, options.savePreset, kind, directly());
        if (!saved.ok) return fail(kExitOutputUnwritable, shown(options.savePreset) + ": " + saved.message);
    }
    if (!options.quiet) {
        std::printf("rendered %.2f s in %.2f s (real-time factor %.1f) to %s\n", seconds, wall,
                    wall > 0.0 ? seconds / wall : 0.0, shown(options.output).c_str());
    }
    return kExitOk;
}

int run(const std::vector<std::string>& args) {
    std::string error;
    auto options = parseArguments(args, error);
    if (!options) {
        std::fprintf(stderr, "vorlane-render: %s\n\n%s", error.c_str(), usageText());
        return kExitUsage;
    }
    if (options->help) {
        std::fputs(usageText(), stdout);
        return kExitOk;
    }
    return render(*options);
}

}  // namespace
}  // namespace vl::render

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(vl::platform::wideToUtf8(argv[i]));
    return vl::render::run(args);
}
#else
int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return vl::render::run(args);
}
#endif
