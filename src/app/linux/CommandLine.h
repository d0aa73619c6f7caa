#pragma once
// The Linux program's command line: what it prints and ends with, and the names it is given
// on the JACK server.

#include <string>
#include <vector>

namespace vl::linuxapp {

struct CommandLine {
    bool help = false;
    bool version = false;
    std::string clientName;  // --client-name: the host's JACK client (else the effect's name)
    std::string serverName;  // --server: the JACK server to join (else the default one)
    std::string error;       // a bad command line, said in one line; then nothing else holds
    std::vector<std::string> files;  // the arguments that are no option (preset files)
};

// arguments without the program name. An option of ours with no value (or an empty one) and
// an unknown "--" option are errors; other arguments starting with '-' are the toolkit's
// (-platform ...), the rest are files.
CommandLine parseCommandLine(const std::vector<std::string>& arguments);

inline constexpr char kUsageText[] =
    "Usage: Foo [--client-name NAME] [--server NAME] [--help] [--version] [preset.fxp | bank.fxb ...]\n"
    "A standalone host for one VST 2.x plug-in on the JACK server. Copy or link the host beside\n"
    "the plug-in under the plug-in's name: \"Foo\" (or a link named Foo) plays \"Foo.so\" beside it.\n"
    "Program (.fxp) and bank (.fxb) files given are loaded after the plug-in's saved state.\n"
    "\n"
    "  --client-name NAME  the host's name on the JACK server (default: the plug-in's name)\n"
    "  --server NAME       the JACK server to join (default: $JACK_DEFAULT_SERVER or \"default\")\n"
    "  --help              print this text and end\n"
    "  --version           print the version and end\n"
    "\n"
    "Under a session manager (NSM_URL set: RaySession, Agordejo, New Session Manager) the host\n"
    "takes its JACK client name from the session and keeps the plug-in's state and its settings\n"
    "in the session's folder; the manager's save saves them.\n"
    "SIGTERM, SIGINT and SIGHUP save a running take and the plug-in's state, then end the host.\n";

}  // namespace vl::linuxapp
