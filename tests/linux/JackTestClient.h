#pragma once
// A JACK client of the tests: captures two audio inputs into preallocated buffers, plays a
// sine on one audio output, and sends scheduled MIDI messages from one MIDI output.

#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "audio/jack/JackPorts.h"

namespace vltest {

struct ScheduledMidi {
    uint64_t frame;  // the server's frames after the first cycle that sees the schedule
    uint8_t bytes[3];
    uint8_t size;
};

// Connects two ports once this client knows both: jackd tells every client of a new port at
// once, PipeWire a little later (bounded). Answers jack_connect's result.
inline int connectWhenKnown(jack_client_t* client, const std::string& from, const std::string& to) {
    for (int i = 0; i < 300 && !(jack_port_by_name(client, from.c_str()) && jack_port_by_name(client, to.c_str())); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return jack_connect(client, from.c_str(), to.c_str());
}

class JackTestClient {
public:
    explicit JackTestClient(const char* name, size_t captureFrames = 48000 * 8) : left_(captureFrames), right_(captureFrames) {
        jack_status_t status{};
        client_ = jack_client_open(name, JackNoStartServer, &status);
        if (!client_) return;
        in_[0] = jack_port_register(client_, "in_left", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        in_[1] = jack_port_register(client_, "in_right", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        out_ = jack_port_register(client_, "out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        midi_ = jack_port_register(client_, "midi_out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        midiIn_ = jack_port_register(client_, "midi_in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        jack_set_process_callback(client_, &process, this);
        jack_on_shutdown(client_, [](void* self) { static_cast<JackTestClient*>(self)->gone_ = true; }, this);
        if (jack_activate(client_) != 0) {
            jack_client_close(client_);
            client_ = nullptr;
        }
    }
    ~JackTestClient() {
        if (client_) {
            if (!gone_) jack_deactivate(client_);
            jack_client_close(client_);
        }
    }
    bool ok() const { return client_ != nullptr; }
    jack_client_t* handle() const { return client_; }
    std::string port(const char* shortName) const { return std::string(jack_get_client_name(client_)) + ":" + shortName; }

    // The sine of the "out" port (0 amplitude: silence).
    void setSine(double hz, float amplitude) {
        step_.store(2.0 * 3.14159265358979323846 * hz / jack_get_sample_rate(client_));
        amplitude_.store(amplitude);
    }
    // MIDI to send, counted from now. The list is replaced only while no cycle reads it.
    void schedule(std::vector<ScheduledMidi> events) {
        armed_.store(false, std::memory_order_seq_cst);
        for (int i = 0; i < 1000 && busy_.load(std::memory_order_seq_cst); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        events_ = std::move(events);
        next_ = 0;
        sentCount_ = 0;
        started_ = false;
        armed_.store(true, std::memory_order_seq_cst);
    }
    bool scheduleDone() const { return armed_.load() && next_.load() >= events_.size(); }
    // The server's frame at which the i-th scheduled event went out (i < sentCount()).
    size_t sentCount() const { return sentCount_.load(); }
    jack_nframes_t sentFrame(size_t i) const { return sentFrames_[i]; }
    // Its frame within the cycle it went out in, and that cycle's first frame.
    jack_nframes_t sentOffset(size_t i) const { return sentOffsets_[i]; }
    jack_nframes_t sentCycle(size_t i) const { return sentFrames_[i] - sentOffsets_[i]; }
    // Starts capturing from the next block on (earlier capture is discarded).
    void capture() {
        capturing_.store(false);
        captured_.store(0);
        capturing_.store(true);
    }
    size_t captured() const { return captured_.load(); }
    // Process cycles this client has run. A connection takes effect at the server's next cycle,
    // so a test waits for a few of them, not for a time, before it sends through one.
    uint64_t cycles() const { return cycles_.load(); }
    // MIDI received on "midi_in", packed with byte 0 in bits 0-7.
    size_t receivedCount() const { return receivedCount_.load(); }
    uint32_t received(size_t i) const { return received_[i]; }
    // Where the i-th received message was: its frame in the cycle, and that cycle's first frame.
    jack_nframes_t receivedOffset(size_t i) const { return receivedOffsets_[i]; }
    jack_nframes_t receivedCycle(size_t i) const { return receivedCycles_[i]; }
    const std::vector<float>& left() const { return left_; }
    const std::vector<float>& right() const { return right_; }

private:
    static int process(jack_nframes_t frames, void* user) {
        auto* self = static_cast<JackTestClient*>(user);
        self->busy_.store(true, std::memory_order_seq_cst);
        const jack_nframes_t cycleStart = jack_last_frame_time(self->client_);
        float* out = static_cast<float*>(jack_port_get_buffer(self->out_, frames));
        const float a = self->amplitude_.load();
        const double step = self->step_.load();
        float sine[8192];
        for (jack_nframes_t i = 0; i < frames && i < 8192; ++i) {
            sine[i] = a * static_cast<float>(std::sin(self->phase_));
            self->phase_ += step;
        }
        vl::jackports::copyFloats(out, sine, frames < 8192 ? frames : 8192);
        void* midi = jack_port_get_buffer(self->midi_, frames);
        jack_midi_clear_buffer(midi);
        if (self->armed_.load(std::memory_order_seq_cst)) {
            // Counted on the server's frame clock, not in cycles of ours: a cycle this client
            // misses on a loaded machine makes the events due in it late, not every one after.
            if (!self->started_) {
                self->startFrame_ = cycleStart;
                self->started_ = true;
            }
            const uint64_t elapsed = static_cast<jack_nframes_t>(cycleStart - self->startFrame_);
            size_t next = self->next_.load();
            while (next < self->events_.size() && self->events_[next].frame < elapsed + frames) {
                const ScheduledMidi& e = self->events_[next];
                const uint64_t at = e.frame > elapsed ? e.frame - elapsed : 0;
                jack_midi_event_write(midi, static_cast<jack_nframes_t>(at), e.bytes, e.size);
                const size_t sent = self->sentCount_.load();
                if (sent < self->sentFrames_.size()) {
                    self->sentFrames_[sent] = cycleStart + static_cast<jack_nframes_t>(at);
                    self->sentOffsets_[sent] = static_cast<jack_nframes_t>(at);
                    self->sentCount_.store(sent + 1);
                }
                ++next;
            }
            self->next_.store(next);
        }
        void* midiIn = jack_port_get_buffer(self->midiIn_, frames);
        for (uint32_t e = 0, n = jack_midi_get_event_count(midiIn); e < n; ++e) {
            jack_midi_event_t event;
            const size_t at = self->receivedCount_.load();
            if (jack_midi_event_get(&event, midiIn, e) != 0 || at >= self->received_.size()) continue;
            self->received_[at] = vl::jackports::packBytes(event.buffer, event.size < 3 ? event.size : 3);
            self->receivedOffsets_[at] = event.time;
            self->receivedCycles_[at] = cycleStart;
            self->receivedCount_.store(at + 1);
        }
        if (self->capturing_.load()) {
            const float* l = static_cast<const float*>(jack_port_get_buffer(self->in_[0], frames));
            const float* r = static_cast<const float*>(jack_port_get_buffer(self->in_[1], frames));
            const size_t at = self->captured_.load();
            const size_t n = std::min<size_t>(frames, self->left_.size() - at);
            vl::jackports::copyFloats(self->left_.data() + at, l, n);
            vl::jackports::copyFloats(self->right_.data() + at, r, n);
            self->captured_.store(at + n);
        }
        self->cycles_.fetch_add(1);
        self->busy_.store(false, std::memory_order_seq_cst);
        return 0;
    }

    jack_client_t* client_ = nullptr;
    jack_port_t* in_[2] = {nullptr, nullptr};
    jack_port_t* out_ = nullptr;
    jack_port_t* midi_ = nullptr;
    jack_port_t* midiIn_ = nullptr;
    std::array<uint32_t, 256> received_{};
    std::array<jack_nframes_t, 256> receivedOffsets_{};
    std::array<jack_nframes_t, 256> receivedCycles_{};
    std::atomic<size_t> receivedCount_{0};
    std::atomic<bool> gone_{false};
    double phase_ = 0.0;
    std::atomic<double> step_{0.0};
    std::atomic<bool> busy_{false};
    std::atomic<float> amplitude_{0.0f};
    std::vector<ScheduledMidi> events_;
    std::atomic<size_t> next_{0};
    std::array<jack_nframes_t, 256> sentFrames_{};
    std::array<jack_nframes_t, 256> sentOffsets_{};
    std::atomic<size_t> sentCount_{0};
    bool started_ = false;  // written by schedule() only while no cycle reads the schedule
    jack_nframes_t startFrame_ = 0;
    std::atomic<bool> armed_{false};
    std::vector<float> left_, right_;
    std::atomic<size_t> captured_{0};
    std::atomic<bool> capturing_{false};
    std::atomic<uint64_t> cycles_{0};

};

}  // namespace vltest
