#pragma once
// Small helpers shared by the JACK audio back end and the JACK MIDI engine.

#include <jack/jack.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Port buffers are shared memory that the server hands from one client to the next through
// its own process-shared synchronisation, which ThreadSanitizer cannot see. Copies into and
// out of them are therefore left out of its checks; the host's own memory stays checked.
#if defined(__SANITIZE_THREAD__)
#define VL_JACK_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VL_JACK_TSAN 1
#endif
#endif
#if defined(VL_JACK_TSAN) && defined(__clang__)
#define VL_PORT_MEMORY inline __attribute__((no_sanitize("thread"), noinline))
#elif defined(VL_JACK_TSAN)
// GCC would otherwise turn the loops back into memcpy calls, which the sanitizer intercepts.
#define VL_PORT_MEMORY inline __attribute__((no_sanitize("thread"), noinline, optimize("no-tree-loop-distribute-patterns")))
#else
#define VL_PORT_MEMORY inline
#endif

namespace vl::jackports {

VL_PORT_MEMORY void copyFloats(float* to, const float* from, size_t count) {
    for (size_t i = 0; i < count; ++i) to[i] = from[i];
}

VL_PORT_MEMORY void zeroFloats(float* to, size_t count) {
    for (size_t i = 0; i < count; ++i) to[i] = 0.0f;
}

// The first length bytes of a port's MIDI event, byte 0 in bits 0-7.
VL_PORT_MEMORY uint32_t packBytes(const uint8_t* bytes, size_t length) {
    uint32_t packed = 0;
    for (size_t b = 0; b < length && b < 4; ++b) packed |= static_cast<uint32_t>(bytes[b]) << (8 * b);
    return packed;
}

// The status byte of a port's MIDI event.
VL_PORT_MEMORY uint8_t firstByte(const uint8_t* bytes) { return bytes[0]; }

// The library reports to stderr by default; the host has no log, and every failure reaches
// the caller as a result.
inline void silenceLibrary() {
    jack_set_error_function([](const char*) {});
    jack_set_info_function([](const char*) {});
}

// Full names of the server's ports of a type ("client:port") with all of the given flags.
inline std::vector<std::string> portNames(jack_client_t* client, const char* type, unsigned long flags) {
    std::vector<std::string> names;
    const char** ports = jack_get_ports(client, nullptr, type, flags);
    if (!ports) return names;
    for (const char** p = ports; *p; ++p) names.emplace_back(*p);
    jack_free(ports);
    return names;
}

}  // namespace vl::jackports
