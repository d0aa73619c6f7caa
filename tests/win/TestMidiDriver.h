#pragma once
// Test access to the test MIDI driver (mididriver/): asks for its ports before the multimedia
// functions first look for MIDI devices, and reaches its control block.

#include <gtest/gtest.h>

#include <windows.h>
#include <mmsystem.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "midi/MidiDevice.h"
#include "mididriver/MidiDriverControl.h"
#include "support/Wait.h"

namespace vltest {

// Set during static initialisation, before any test makes the first MIDI call of the process.
inline const bool midiPortsRequested = SetEnvironmentVariableW(vlmididrv::kEnableVariable, L"1") != 0;

// The driver's control block, reset; null (with a failure) when the prefix does not use the driver.
inline vlmididrv::Control* testMidiDriver() {
    midiInGetNumDevs();  // loads the driver
    HMODULE module = GetModuleHandleW(L"winevlmidi.drv");
    auto proc = module ? reinterpret_cast<vlmididrv::ControlProc>(reinterpret_cast<void*>(GetProcAddress(module, "VlMidiDriverControl"))) : nullptr;
    if (!proc || midiInGetNumDevs() != vlmididrv::kInputs) {
        ADD_FAILURE() << "the test MIDI driver is not the prefix's audio driver (see the wine_up fixture)";
        return nullptr;
    }
    vlmididrv::Control* control = proc();
    control->reset();
    return control;
}

// Waits up to timeoutMs for done(), calling step() in between (for example to run audio blocks).
inline testing::AssertionResult waitFor(const std::function<bool()>& done, int timeoutMs = 5000,
                                        const std::function<void()>& step = {}) {
    return vltest::waitUntil(done, std::chrono::milliseconds(timeoutMs), std::chrono::milliseconds(2), step);
}

// The engine's record of a driver port by its product name.
inline vl::MidiDeviceRecord* findDevice(const std::vector<std::unique_ptr<vl::MidiDeviceRecord>>& devices,
                                        const std::wstring& name) {
    for (const auto& d : devices)
        if (d->name == name) return d.get();
    ADD_FAILURE() << "no MIDI device named " << std::string(name.begin(), name.end());
    return nullptr;
}

}  // namespace vltest
