#include "audio/dsound/DirectSoundRing.h"

namespace vl::dsound {

Ring ringFor(uint32_t bufferSize) {
    Ring ring;
    ring.blockBytes = bufferSize / 4 * 4;
    ring.ringBytes = kBlockCount * ring.blockBytes;
    ring.waitMs = 2 * static_cast<uint32_t>(uint64_t(bufferSize) * 1000 / kBytesPerSecond);
    return ring;
}

}  // namespace vl::dsound
