#pragma once
// Small helpers shared by the JACK audio back end and the JACK MIDI engine.

#include <jack/jack.h>

#include <string>
#include <vector>

namespace vl::jackports {

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
