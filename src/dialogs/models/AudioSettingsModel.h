#pragma once
// AudioSettingsModel: what the Audio Settings dialog decides. Channel and buffer-size choices
// are held in the model and reach the back ends' device records only on Apply (or OK), which
// also hands the chosen devices to HostSettings and restarts the audio engine. Until the new
// choice runs, the settings keep the last working one: a failed Apply puts it back, in the
// window and in the engine. Opening and browsing never stop a running engine: while it runs on
// an ASIO driver no ASIO driver is queried (loading a second one would release the running
// one), and a device whose details are unknown then shows its channel lists greyed.
//
// Binding: each control event calls one operation; afterwards the window re-reads the lists,
// selections, texts and enabled states below. The window sets the edits' texts itself, so it
// must not pass its own text updates back as edits (only the user's typing is an edit).
// Operations that may take long (device queries, engine restarts) are the ones marked below;
// the window shows the wait cursor around them.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "audio/AudioDevice.h"
#include "platform/UserMessages.h"

namespace vl {

class HostSettings;
class PluginSlot;
class VLVSTHostInterface;

inline constexpr wchar_t kDeviceInfosErrorText[] = L"Error getting Device Infos!";
inline constexpr wchar_t kControlPanelErrorText[] = L"Unable to open ASIO Controlpanel!";
inline constexpr wchar_t kAudioEngineErrorText[] = L"Couldn't start Audioengine";
// The texts of the dialog framework's number check, raised by Apply for an unreadable edit.
inline constexpr wchar_t kEnterIntegerText[] = L"Enter an integer.";
inline constexpr wchar_t kEnterNumberText[] = L"Enter a number.";

constexpr int32_t kMinBufferSamples = 2;
constexpr int32_t kMaxBufferSamples = 9096;
constexpr double kMinLatencyMs = 0.2;

// Milliseconds of a block, to one decimal (512 samples at 44 100 Hz: 11.6). 0 without a rate.
double latencyMsFromSamples(int32_t samples, double sampleRate);
// Samples of a latency, truncated (10 ms at 44 100 Hz: 441), limited to the int32 range.
int32_t samplesFromLatencyMs(double ms, double sampleRate);

struct AudioTypeEntry {
    std::wstring text;
    uint32_t type = 0;  // AudioDeviceType
};

// The driver families offered: "WASAPI (Shared Mode)", "WASAPI (Exclusive Mode)" (only for a
// plug-in that takes no audio input), "ASIO", "Direct Sound" (only where WASAPI lists no
// device); a family appears only when its back end lists a device. MME is never offered.
std::vector<AudioTypeEntry> audioTypeEntries(const AudioBackendSet& backends, bool takesNoAudioInput);

// An instrument, or a plug-in without audio inputs: the input controls are switched off.
bool takesNoAudioInput(const PluginSlot& slot);

// A message about one device: the message, the device's name on the next line and the reason
// the driver gave, if any ("Error getting Device Infos!\r\nCard: no clock").
std::wstring deviceFailureText(const wchar_t* message, const std::wstring& deviceName, const std::wstring& reason);

class AudioSettingsModel {
public:
    enum class Side { Left, Right };

    struct DeviceList {
        std::vector<AudioDeviceRecord*> devices;  // each entry shows its record's name
        int selected = -1;
        AudioDeviceRecord* selectedDevice() const {
            return selected >= 0 && selected < static_cast<int>(devices.size()) ? devices[selected] : nullptr;
        }
    };
    struct ChannelLists {
        std::vector<std::wstring> names;  // both lists show the same names
        int left = -1;
        int right = -1;
    };

    AudioSettingsModel(AudioBackendSet& backends, HostSettings& settings, VLVSTHostInterface& host,
                       bool takesNoAudioInput, bool applyEnabledAtStart, platform::MessageSink* messages);

    // Opens the ASIO control panel of a device (the ASIO back end's); unset = cannot open.
    std::function<bool(AudioDeviceRecord&)> openControlPanel;
    // Why the device's driver failed last, as the driver says it (ASIO's error message); empty
    // when it gives no reason. Asked right after a failed query or start. Unset = no reasons.
    std::function<std::wstring(const AudioDeviceRecord&)> failureReason;

    // ---- control events ----------------------------------------------------------------
    void initialise();                        // queries devices
    void selectType(int index);               // queries devices (never a running ASIO engine's family)
    void selectInputDevice(int index);        // queries (as selectType)
    void selectOutputDevice(int index);       // queries (as selectType)
    void selectInputChannel(Side side, int index);
    void selectOutputChannel(Side side, int index);
    void stepSamples(int upSteps);            // spin beside the samples edit; up = +1
    void stepLatency(int upSteps);            // spin beside the ms edit; up = +0.1 ms
    // Typed values; false when the text is not (yet) a number of the kind. Nothing is reported
    // while typing: Apply reports an edit that still holds no number and applies nothing.
    bool editSamples(std::wstring_view text);
    bool editLatency(std::wstring_view text);
    void pressControlPanel();
    // Restarts the engine with the chosen devices; true when it runs. Stops the engine, queries.
    // On failure the previous devices and their values come back, in the settings, in this
    // model and in the engine (restarted when it ran before).
    bool apply();
    // OK: applies when Apply is enabled; true when the window may close (not after a failure).
    bool ok();

    // ---- what the dialog shows -----------------------------------------------------------
    const std::vector<AudioTypeEntry>& types() const { return typeEntries; }
    int typeIndex() const { return selectedType; }
    const DeviceList& inputs() const { return inputList; }
    const DeviceList& outputs() const { return outputList; }
    const ChannelLists& inputChannels() const { return inputChannelLists; }
    const ChannelLists& outputChannels() const { return outputChannelLists; }
    int32_t outputBufferSamples() const { return bufferSamples; }
    double outputLatencyMs() const { return latencyMs; }
    std::wstring samplesText() const;
    std::wstring latencyText() const;
    // No back end reports an input latency: the input latency fields and their spins are
    // greyed and show nothing rather than a made-up 0.
    bool inputLatencyKnown() const { return false; }

    bool applyEnabled() const { return applyOn; }
    // The edit Apply found without a number (the window puts the focus there); 0 = none.
    bool samplesUnreadable() const { return unreadableEdit == Edit::Samples; }
    bool latencyUnreadable() const { return unreadableEdit == Edit::Latency; }
    bool controlPanelEnabled() const { return controlPanelOn; }
    // Output samples / ms edits and their spins (off where the driver or system sets the size).
    bool bufferControlsEnabled() const { return bufferControlsOn; }
    // Input device and its channel lists.
    bool inputControlsEnabled() const { return !noAudioInput; }
    // The channel lists of a device whose details could be read (greyed when not).
    bool inputChannelsEnabled() const { return inputControlsEnabled() && inputDetails; }
    bool outputChannelsEnabled() const { return outputDetails; }

private:
    uint32_t selectedTypeCode() const;
    // A failure is told (tell) once per device and action: one message per failure.
    bool queryDetails(AudioDeviceRecord* record, bool tell = true);
    std::wstring reasonOf(const AudioDeviceRecord& record) const;
    // false when this action has told the device's failure already.
    bool firstFailureOf(const AudioDeviceRecord* record);
    struct Action;
    // False when the query would load an ASIO driver beside the one the engine runs on.
    bool mayQuery(const AudioDeviceRecord* record) const;
    void fillDeviceLists(uint32_t type);
    void showChannels(AudioDeviceRecord* record, AudioDeviceRecord* current, ChannelLists& lists);
    // Selects an entry, queries its record and shows its channels; the record or none.
    AudioDeviceRecord* chooseDevice(DeviceList& list, int index, ChannelLists& channels, AudioDeviceRecord* current,
                                    bool& detailsShown);
    void storeChannel(ChannelLists& lists, Side side, int index);
    void takeSamples(int32_t samples);  // with the latency
    void takeLatency(double ms);        // samples from it
    void changed();
    void commitDeviceChoice();
    // Shows the settings' devices again, as the window opened (after a failed Apply).
    void showSettingsChoice();

    AudioBackendSet& backends;
    HostSettings& settings;
    VLVSTHostInterface& host;
    platform::MessageSink* messages;
    bool noAudioInput;

    bool initialising = false;
    bool applyOn;
    bool controlPanelOn = false;
    bool bufferControlsOn = true;
    std::vector<AudioTypeEntry> typeEntries;
    int selectedType = -1;
    DeviceList inputList;
    DeviceList outputList;
    ChannelLists inputChannelLists;
    ChannelLists outputChannelLists;
    int32_t bufferSamples = 0;
    double latencyMs = 0.0;
    bool inputDetails = true;
    bool outputDetails = true;
    enum class Edit { None, Samples, Latency };
    Edit unreadableEdit = Edit::None;  // an edit whose text is no number yet
    int actionDepth = 0;
    std::vector<std::wstring> failuresTold;  // devices whose failure this action has told
    std::wstring lastQueryReason;
};

}  // namespace vl
