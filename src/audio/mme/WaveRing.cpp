#include "audio/mme/WaveRing.h"

namespace vl::mme {

void HeaderRing::reset(uint32_t headerBytes) {
    bufferBytes = headerBytes;
    fillPosition = 0;
    fillIndex = 0;
    pausedForPreroll = true;
    prerollLeft = kPrerollHeaders;
    for (bool& s : sent) s = false;
    underrunCount.store(0, std::memory_order_relaxed);
}

void HeaderRing::route(OutputChannels channels) {
    for (int8_t j = 0; j < 2; ++j)
        channelSource[j] = channels.left == j ? 0 : channels.right == j ? 1 : -1;
}

bool HeaderRing::waitUntilFree(WaveDevice& device, int32_t index) {
    if (!sent[index]) return true;
    // Each wake means some header came back; at most every other header can come first.
    for (int32_t wakes = 0; wakes <= kHeaderCount; ++wakes) {
        if (device.returned(index)) {
            sent[index] = false;
            return true;
        }
        if (!device.waitForReturn(kHeaderWaitMs)) return false;
    }
    if (!device.returned(index)) return false;
    sent[index] = false;
    return true;
}

bool HeaderRing::ranDry(WaveDevice& device) {
    if (pausedForPreroll) return false;
    bool any = false;
    for (int32_t i = 0; i < kHeaderCount; ++i) {
        if (!sent[i]) continue;
        if (!device.returned(i)) return false;
        any = true;
    }
    return any;
}

bool HeaderRing::sendFilled(WaveDevice& device, uint32_t bytes) {
    if (!device.send(fillIndex, bytes)) return false;
    sent[fillIndex] = true;
    fillPosition = 0;
    if (pausedForPreroll && --prerollLeft == 0) {
        pausedForPreroll = false;
        device.restart();
    }
    fillIndex = nextHeader(fillIndex);
    return true;
}

bool HeaderRing::write(WaveDevice& device, const float* left, const float* right, uint32_t frames) {
    if (bufferBytes < 4) return false;
    if (ranDry(device)) {
        // Played out before the next block came: hold the device until the pre-roll is queued
        // again, so that it does not run dry at once on the next late block.
        underrunCount.fetch_add(1, std::memory_order_relaxed);
        device.pause();
        pausedForPreroll = true;
        prerollLeft = kPrerollHeaders;
    }
    const float* planes[2] = {left, right};
    const float* first = channelSource[0] < 0 ? nullptr : planes[channelSource[0]];
    const float* second = channelSource[1] < 0 ? nullptr : planes[channelSource[1]];
    uint32_t done = 0;
    while (done < frames) {
        if (fillPosition == 0 && !waitUntilFree(device, fillIndex)) return false;
        uint8_t* data = device.buffer(fillIndex);
        if (!data) return false;
        const uint32_t room = (bufferBytes - fillPosition) / 4;
        const uint32_t n = frames - done < room ? frames - done : room;
        writeStereoInt16(first ? first + done : nullptr, second ? second + done : nullptr, data + fillPosition, n);
        fillPosition += n * 4;
        done += n;
        if (fillPosition + 4 > bufferBytes && !sendFilled(device, fillPosition)) return false;
    }
    return true;
}

bool HeaderRing::flush(WaveDevice& device) {
    // A device still in pre-roll would never hand its headers back.
    if (pausedForPreroll) {
        pausedForPreroll = false;
        device.restart();
    }
    return fillPosition == 0 || sendFilled(device, fillPosition);
}

bool HeaderRing::drain(WaveDevice& device) {
    for (int32_t i = 0; i < kHeaderCount; ++i)
        if (!waitUntilFree(device, i)) return false;
    return true;
}

}  // namespace vl::mme
