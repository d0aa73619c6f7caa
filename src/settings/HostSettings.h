#pragma once
// HostSettings: the host's persistent choices, kept under
// "Software\Vorlane\<effect name>" of the per-user settings store (the registry on Windows).

#include <memory>
#include <string>
#include <vector>

#include "audio/AudioDevice.h"
#include "midi/MidiDevice.h"
#include "platform/RelaxedAtomic.h"
#include "settings/KeyValueStore.h"

namespace vl {

// The tempos the host takes, in beats per minute. Every writer of a tempo (settings, plug-in
// request, MIDI clock, tempo dialog) ignores a value outside this range or not finite: 1 to
// 999 BPM covers every real use, and the plug-in's time information and every division by the
// tempo stay finite.
constexpr double kMinTempoBpm = 1.0;
constexpr double kMaxTempoBpm = 999.0;
inline bool isUsableTempo(double bpm) { return bpm >= kMinTempoBpm && bpm <= kMaxTempoBpm; }  // false for NaN

class HostSettings {
public:
    // Opens (creating if needed) the root key "Software\Vorlane\" + effectName in store; a
    // null store means the platform's per-user store.
    explicit HostSettings(const std::wstring& effectName, std::shared_ptr<KeyValueStore> store = nullptr);
    ~HostSettings();
    HostSettings(const HostSettings&) = delete;
    HostSettings& operator=(const HostSettings&) = delete;

    void loadSettings(const AudioBackendSet& backends);
    void mergeMidiDevices(const std::vector<std::unique_ptr<MidiDeviceRecord>>& engineDevices);
    void saveSettings();
    MidiDeviceRecord* findMidiDevice(const MidiDeviceRecord& device) const;
    bool chooseDefaultAudioDevices(const VLAudioBase& wasapi);
    bool anyClockSync() const;

    // A string value of the root key ("contentpath"); false when it cannot be read.
    bool readRootString(const std::wstring& valueName, std::wstring& out);

    AudioDeviceRecord* inputDevice = nullptr;   // not owned
    AudioDeviceRecord* outputDevice = nullptr;  // not owned
    // The running devices stand in for a stored interface that was off or unplugged at launch:
    // saves leave the stored device values (type, names, channels, block sizes) as they are, so
    // the interface is back once it is, until the user picks devices in Audio Settings.
    bool audioDevicesAreFallback = false;
    std::vector<std::unique_ptr<MidiDeviceRecord>> midiDevices;
    RelaxedAtomic<double> tempo{120.0};  // also stored by the MIDI clock thread
    bool PluginCanSetTempo = false;
    std::wstring samplePath;
    bool sampleLooped = false;
    bool sampleStartByMidi = false;
    bool sampleCalcTempo = false;
    int32_t sampleRecordOption = 0;
    int32_t sampleRecordMaxBars = 0;
    bool openPlayerOnStartup = false;
    bool startPlayerAutomatic = false;
    std::wstring keyPath;
    std::wstring effectName;  // the last part of keyPath
    // The store the settings live in, for the few values kept beside them by the windows (a
    // second copy's store writes nothing).
    KeyValueStore& valueStore() { return *store; }

private:
    std::shared_ptr<KeyValueStore> store;
    KeyValueStore::Key rootKey = KeyValueStore::Key::None;  // None when it could not be opened
};

}  // namespace vl
