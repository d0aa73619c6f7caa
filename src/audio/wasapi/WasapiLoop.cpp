#include "audio/wasapi/WasapiLoop.h"

#include <algorithm>
#include <new>

namespace vl {

namespace wasapi {

void Stream::close() {
    if (started && client) client->stop();
    started = false;
    client.reset();
}

namespace {

Result initializeExclusive(Endpoints& endpoints, const AudioDeviceRecord& record, uint32_t blockFrames, Block block,
                           Stream& stream) {
    int64_t defaultPeriod = 0, minimumPeriod = 0;
    Result r = stream.client->devicePeriod(defaultPeriod, minimumPeriod);
    if (failed(r)) return r;
    const uint32_t rate = stream.format.samplesPerSec;
    const int64_t asked = block == Block::Granted ? durationOfFrames(blockFrames, rate)
                                                  : exclusiveBufferDuration(blockFrames, rate);
    const int64_t duration = std::max(asked, minimumPeriod);
    r = stream.client->initialize(true, duration, duration, stream.format);
    if (r != kBufferSizeNotAligned) return r;
    // The documented answer: ask the failed client for the aligned size, then initialise a
    // new client once with exactly that duration.
    uint32_t aligned = 0;
    r = stream.client->bufferFrames(aligned);
    if (failed(r)) return r;
    if (aligned == 0) return kBufferSizeNotAligned;
    stream.client = endpoints.activate(record);
    if (!stream.client) return kDeviceInvalidated;
    const int64_t alignedDuration = durationOfFrames(aligned, rate);
    return stream.client->initialize(true, alignedDuration, alignedDuration, stream.format);
}

Result chooseExclusiveFormat(Endpoints& endpoints, const AudioDeviceRecord& record, Stream& stream) {
    DeviceFormat stored;
    if (!endpoints.storedFormat(record, stored) && failed(stream.client->mixFormat(stored))) return kFail;
    for (size_t step = 0; step < kExclusiveLadderSteps; ++step) {
        const DeviceFormat candidate =
            exclusiveLadderFormat(step, stored.channels, stored.samplesPerSec, exclusiveChannelMask(stored));
        if (stream.client->supportsExclusive(candidate)) {
            stream.format = candidate;
            return kOk;
        }
    }
    return kUnsupportedFormat;
}

}  // namespace

Result openStream(Endpoints& endpoints, const AudioDeviceRecord& record, uint32_t blockFrames, Stream& stream,
                  Block block) {
    stream.close();
    stream.exclusive = record.type == kDeviceTypeWasapiExclusive;
    stream.client = endpoints.activate(record);
    if (!stream.client) return kDeviceInvalidated;
    Result r = kOk;
    if (stream.exclusive) {
        r = chooseExclusiveFormat(endpoints, record, stream);
        if (!failed(r)) r = initializeExclusive(endpoints, record, blockFrames, block, stream);
    } else {
        r = stream.client->mixFormat(stream.format);
        int64_t defaultPeriod = 0, minimumPeriod = 0;
        // Capture asks for one device period; render leaves the buffer to the engine.
        if (!failed(r) && record.isInput) r = stream.client->devicePeriod(defaultPeriod, minimumPeriod);
        if (!failed(r)) r = stream.client->initialize(false, record.isInput ? defaultPeriod : 0, 0, stream.format);
    }
    if (!failed(r)) r = stream.client->bufferFrames(stream.bufferFrames);
    stream.kind = sampleKindOf(stream.format);
    if (!failed(r) && (stream.bufferFrames == 0 || stream.kind == SampleKind::Unsupported)) r = kUnsupportedFormat;
    if (failed(r)) stream.close();
    return r;
}

bool DuplexFifo::reserve(uint32_t frames) {
    try {
        left.assign(frames, 0.0f);
        right.assign(frames, 0.0f);
    } catch (const std::bad_alloc&) {
        return false;
    }
    head = count = 0;
    primed = false;
    tally = {};
    return frames > 0;
}

void DuplexFifo::holdBack(uint32_t frames, uint32_t above) {
    target = frames;
    slack = above;
}

void DuplexFifo::drop(uint32_t frames) {
    const uint32_t n = std::min(frames, count);
    if (n == 0) return;
    head = (head + n) % static_cast<uint32_t>(left.size());
    count -= n;
}

uint32_t DuplexFifo::take(float* l, float* r, uint32_t frames) {
    if (!primed) {
        if (count < uint64_t(frames) + target) return 0;
        primed = true;
    }
    if (count < frames) {
        ++tally.underflows;
        return 0;
    }
    const uint64_t most = uint64_t(frames) + target + slack;
    if (count > most) {
        const uint32_t excess = count - frames - target;
        drop(excess);
        ++tally.drops;
        tally.droppedFrames += excess;
    }
    return pop(l, r, frames);
}

void DuplexFifo::push(const float* l, const float* r, uint32_t frames) {
    const uint32_t capacity = static_cast<uint32_t>(left.size());
    if (capacity == 0) return;
    const uint32_t unkept = frames > capacity ? frames - capacity : 0;
    if (unkept > 0) {  // only the newest frames can be kept
        l += unkept;
        r += unkept;
        frames = capacity;
    }
    const uint32_t overflow = count + frames > capacity ? count + frames - capacity : 0;
    if (unkept + overflow > 0) {  // the render side has not come for a long while
        ++tally.drops;
        tally.droppedFrames += unkept + overflow;
    }
    head = (head + overflow) % capacity;
    count -= overflow;
    for (uint32_t i = 0; i < frames; ++i) {
        const uint32_t at = (head + count + i) % capacity;
        left[at] = l[i];
        right[at] = r[i];
    }
    count += frames;
}

uint32_t DuplexFifo::pop(float* l, float* r, uint32_t frames) {
    const uint32_t capacity = static_cast<uint32_t>(left.size());
    const uint32_t n = std::min(frames, count);
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t at = (head + i) % capacity;
        l[i] = left[at];
        r[i] = right[at];
    }
    if (n > 0) head = (head + n) % capacity;
    count -= n;
    return n;
}

}  // namespace wasapi

using wasapi::Result;
using wasapi::SampleKind;

namespace {

// scratch holds frames x channels floats for the packed 24-bit formats.
void convertInput(SampleKind kind, const uint8_t* data, uint32_t channels, interleaved::InputChannels chosen,
                  float* left, float* right, uint32_t frames, float* scratch) {
    switch (kind) {
        case SampleKind::Int16:
            interleaved::int16ToChosenPlanes(reinterpret_cast<const int16_t*>(data), channels, chosen, left, right, frames);
            break;
        case SampleKind::Int24:
            planar::int24ToFloat(data, scratch, frames * channels);
            interleaved::float32ToChosenPlanes(scratch, channels, chosen, left, right, frames);
            break;
        case SampleKind::Int32:
            interleaved::int32ToChosenPlanes(reinterpret_cast<const int32_t*>(data), channels, chosen, left, right, frames);
            break;
        case SampleKind::Float32:
            interleaved::float32ToChosenPlanes(reinterpret_cast<const float*>(data), channels, chosen, left, right, frames);
            break;
        case SampleKind::Unsupported: break;
    }
}

void convertOutput(SampleKind kind, const float* left, const float* right, uint8_t* data, uint32_t channels,
                   int32_t leftChannel, int32_t rightChannel, uint32_t frames, float* scratch) {
    switch (kind) {
        case SampleKind::Int16:
            interleaved::planesToInt16(left, right, reinterpret_cast<int16_t*>(data), channels, leftChannel, rightChannel,
                                       frames);
            break;
        case SampleKind::Int24:
            interleaved::planesToFloat32(left, right, scratch, channels, leftChannel, rightChannel, frames);
            planar::floatToInt24(scratch, data, frames * channels);
            break;
        case SampleKind::Int32:
            interleaved::planesToInt32(left, right, reinterpret_cast<int32_t*>(data), channels, leftChannel, rightChannel,
                                       frames);
            break;
        case SampleKind::Float32:
            interleaved::planesToFloat32(left, right, reinterpret_cast<float*>(data), channels, leftChannel,
                                         rightChannel, frames);
            break;
        case SampleKind::Unsupported: break;
    }
}

}  // namespace

// What one start holds; the record's fields are copied once, as the settings window may write
// them while the loop runs.
struct VLWasapiLoop::Run {
    wasapi::Stream render, capture;
    bool withInput = false;
    uint32_t blockFrames = 0;  // exclusive: the granted buffer; shared: the most a cycle takes
    uint32_t planeFrames = 0;
    uint32_t outChannels = 0;
    int32_t leftChannel = 0, rightChannel = 1;
    interleaved::InputChannels chosen;
    std::vector<float> scratch;  // interleaved floats for the packed 24-bit conversions
    std::vector<float> captureLeft, captureRight;
    wasapi::DuplexFifo fifo;

    ~Run() {
        render.close();
        capture.close();
    }
};

wasapi::DuplexFifo::Counts VLWasapiLoop::duplexCounts() const {
    return {fifoDrops.load(std::memory_order_relaxed), fifoDroppedFrames.load(std::memory_order_relaxed),
            fifoUnderflows.load(std::memory_order_relaxed)};
}

bool VLWasapiLoop::queryStreamDetails(wasapi::Endpoints& endpoints, AudioDeviceRecord* record, bool probe) {
    if (!record) return false;
    if (record->detailsKnown) return true;
    if (record->type == kDeviceTypeWasapiExclusive) {
        // A device that refuses the stream here keeps the user's block: the start then
        // fails on its own.
        wasapi::Stream stream;
        if (!probe && !record->isInput && record->bufferSize != 0 &&
            !wasapi::failed(wasapi::openStream(endpoints, *record, record->bufferSize, stream))) {
            record->bufferSize = stream.bufferFrames;
            record->detailsKnown = true;
        }
        return record->bufferSize != 0;
    }
    if (record->type != kDeviceTypeWasapiShared) return false;
    wasapi::Stream stream;
    if (wasapi::failed(wasapi::openStream(endpoints, *record, record->bufferSize, stream))) return false;
    record->bufferSize = stream.bufferFrames;
    record->sampleRate = stream.format.samplesPerSec;
    record->detailsKnown = true;
    return true;
}

bool VLWasapiLoop::openRun(wasapi::Endpoints& endpoints, const AudioDeviceRecord* input,
                           const AudioDeviceRecord& output, Run& run) {
    const uint32_t toldBlock = output.bufferSize;
    run.withInput = input != nullptr;
    if (input) {
        if (input->type != kDeviceTypeWasapiShared) return false;  // exclusive capture is not supported
        if (wasapi::failed(wasapi::openStream(endpoints, *input, input->bufferSize, run.capture))) return false;
        run.chosen = interleaved::chooseInputChannels(run.capture.format.channels, input->leftChannel,
                                                      input->rightChannel);
    }
    const wasapi::Block block = output.detailsKnown ? wasapi::Block::Granted : wasapi::Block::Asked;
    if (wasapi::failed(wasapi::openStream(endpoints, output, toldBlock, run.render, block))) return false;
    const uint32_t rate = run.render.format.samplesPerSec;
    // The plug-in was told the output's rate and block: a stream that runs otherwise is refused
    // rather than played at the wrong pitch or with blocks larger than announced.
    if (rate != static_cast<uint32_t>(output.sampleRate)) return false;
    if (input && run.capture.format.samplesPerSec != rate) return false;
    run.blockFrames = run.render.exclusive ? run.render.bufferFrames : std::min(toldBlock, run.render.bufferFrames);
    if (run.blockFrames == 0 || run.blockFrames > toldBlock) return false;
    run.outChannels = run.render.format.channels;
    const OutputChannels out = chooseOutputChannels(run.outChannels, output.leftChannel, output.rightChannel);
    run.leftChannel = out.left;
    run.rightChannel = out.right;

    const uint32_t captureFrames = input ? run.capture.bufferFrames : 0;
    run.planeFrames = std::max(run.blockFrames, captureFrames);
    const uint32_t channels = std::max<uint32_t>(run.outChannels, input ? run.capture.format.channels : 0);
    try {
        run.scratch.assign(size_t(run.planeFrames) * channels, 0.0f);
        run.captureLeft.assign(captureFrames, 0.0f);
        run.captureRight.assign(captureFrames, 0.0f);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (input) {
        // One capture period held back, as packets come a period at a time, and a margin.
        int64_t defaultPeriod = 0, minimumPeriod = 0;
        uint32_t period = run.capture.bufferFrames;
        if (!wasapi::failed(run.capture.client->devicePeriod(defaultPeriod, minimumPeriod)) && defaultPeriod > 0)
            period = static_cast<uint32_t>((defaultPeriod * rate + 5000000) / 10000000);
        const uint32_t target = period + rate * kFifoMarginMs / 1000;
        if (!run.fifo.reserve(std::max(4 * run.planeFrames, 2 * (run.blockFrames + target + period)))) return false;
        run.fifo.holdBack(target, period);
    }
    fifoDrops.store(0, std::memory_order_relaxed);
    fifoDroppedFrames.store(0, std::memory_order_relaxed);
    fifoUnderflows.store(0, std::memory_order_relaxed);
    if (!allocatePlanes(run.planeFrames)) return false;

    // Pre-roll: one block of silence queued before the stream starts.
    uint8_t* data = nullptr;
    if (wasapi::failed(run.render.client->getRenderBuffer(run.blockFrames, data)) ||
        wasapi::failed(run.render.client->releaseRenderBuffer(run.blockFrames, true)))
        return false;
    if (wasapi::failed(run.render.client->start())) return false;
    run.render.started = true;
    if (input) {
        if (wasapi::failed(run.capture.client->start())) return false;
        run.capture.started = true;
    }
    return true;
}

Result VLWasapiLoop::drainCapture(Run& run) {
    wasapi::Client& capture = *run.capture.client;
    const uint32_t chunk = static_cast<uint32_t>(run.captureLeft.size());
    // Bounded: a device that keeps handing packets cannot hold the render side off forever.
    for (int packets = 0; packets < 64; ++packets) {
        uint8_t* data = nullptr;
        uint32_t frames = 0;
        bool silent = false;
        Result r = capture.getCapturePacket(data, frames, silent);
        if (wasapi::failed(r)) return r;
        if (r == wasapi::kBufferEmpty || frames == 0) return wasapi::kOk;
        for (uint32_t done = 0; done < frames;) {
            const uint32_t n = std::min(frames - done, chunk);
            if (silent || !data) {
                std::fill_n(run.captureLeft.data(), n, 0.0f);
                std::fill_n(run.captureRight.data(), n, 0.0f);
            } else {
                convertInput(run.capture.kind, data + size_t(done) * run.capture.format.blockAlign,
                             run.capture.format.channels, run.chosen, run.captureLeft.data(), run.captureRight.data(), n,
                             run.scratch.data());
            }
            run.fifo.push(run.captureLeft.data(), run.captureRight.data(), n);
            done += n;
        }
        r = capture.releaseCapturePacket(frames);
        if (wasapi::failed(r)) return r;
    }
    return wasapi::kOk;
}

bool VLWasapiLoop::runLoop(wasapi::Endpoints& endpoints, Run& run, RenderBlockProc callback, void* user) {
    wasapi::Client& render = *run.render.client;
    wasapi::Client* capture = run.withInput ? run.capture.client.get() : nullptr;
    uint64_t lastBlock = endpoints.nowMs();
    // A device that keeps signalling without ever taking audio is stalled as well.
    const auto stalled = [&] { return endpoints.nowMs() - lastBlock > kEventWaitMs; };

    for (;;) {
        const uint32_t signalled = endpoints.wait(render, capture, kEventWaitMs);
        if (signalled == 0) return false;
        if (capture && wasapi::failed(drainCapture(run))) return false;

        uint32_t frames = run.blockFrames;
        if (run.render.exclusive) {
            // An exclusive buffer is due exactly when its own event fires.
            if (!(signalled & wasapi::kRenderSignalled)) frames = 0;
        } else {
            uint32_t padding = 0;
            if (wasapi::failed(render.padding(padding))) return false;
            frames = wasapi::sharedWritableFrames(run.blockFrames, padding);
        }
        if (frames == 0) {
            if (stalled()) return false;
            continue;
        }
        uint8_t* data = nullptr;
        const Result r = render.getRenderBuffer(frames, data);
        if (r == wasapi::kBufferTooLarge) {
            if (stalled()) return false;
            continue;
        }
        if (wasapi::failed(r)) return false;

        // The plug-in's input is a whole block of what was captured, or a whole block of silence
        // (while the FIFO fills, or when it ran short), never a block spliced with zeros.
        const uint32_t captured = capture ? run.fifo.take(leftPlane, rightPlane, frames) : 0;
        if (capture) {
            const wasapi::DuplexFifo::Counts& counts = run.fifo.counts();
            fifoDrops.store(counts.drops, std::memory_order_relaxed);
            fifoDroppedFrames.store(counts.droppedFrames, std::memory_order_relaxed);
            fifoUnderflows.store(counts.underflows, std::memory_order_relaxed);
        }
        std::fill(leftPlane + captured, leftPlane + frames, 0.0f);
        std::fill(rightPlane + captured, rightPlane + frames, 0.0f);
        lastBlock = endpoints.nowMs();
        if (!callback(planePair, planePair, frames, user)) {
            render.releaseRenderBuffer(frames, true);
            return true;
        }
        convertOutput(run.render.kind, leftPlane, rightPlane, data, run.outChannels, run.leftChannel, run.rightChannel,
                      frames, run.scratch.data());
        if (wasapi::failed(render.releaseRenderBuffer(frames, false))) return false;
    }
}

bool VLWasapiLoop::runStreams(wasapi::Endpoints& endpoints, const AudioDeviceRecord* input,
                              const AudioDeviceRecord& output, RenderBlockProc callback, void* user) {
    bool ended = false;
    {
        Run run;
        if (openRun(endpoints, input, output, run)) {
            ended = runLoop(endpoints, run, callback, user);
            if (ended) {
                // Let the last buffer play before the stream stops.
                int64_t defaultPeriod = 0, minimumPeriod = 0;
                if (!wasapi::failed(run.render.client->devicePeriod(defaultPeriod, minimumPeriod)))
                    endpoints.sleepMs(static_cast<uint32_t>(minimumPeriod / 10000));
            } else {
                reportDeviceEvent(DeviceEvent::Failed);
            }
        }
    }
    freePlanes();
    return ended;
}

}  // namespace vl
