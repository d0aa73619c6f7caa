#include "app/linux/CommandLine.h"

#include <string_view>

namespace vl::linuxapp {

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine line;
    const auto fail = [&line](std::string text) {
        line = CommandLine{};
        line.error = std::move(text);
        return line;
    };
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            line.help = true;
            continue;
        }
        if (argument == "--version") {
            line.version = true;
            continue;
        }
        bool taken = false;
        for (auto [option, target] : {std::pair<std::string_view, std::string*>{"--client-name", &line.clientName},
                                      {"--server", &line.serverName}}) {
            std::string value;
            if (argument == option) {
                if (i + 1 >= arguments.size()) return fail(std::string(option) + " needs a name");
                value = arguments[++i];
            } else if (argument.size() > option.size() && argument.compare(0, option.size(), option) == 0 &&
                       argument[option.size()] == '=') {
                value = argument.substr(option.size() + 1);
            } else {
                continue;
            }
            if (value.empty()) return fail(std::string(option) + " needs a name");
            *target = value;
            taken = true;
        }
        if (taken) continue;
        if (argument.size() > 2 && argument.compare(0, 2, "--") == 0) return fail("unknown option " + argument);
        if (!argument.empty() && argument[0] != '-') line.files.push_back(argument);
    }
    return line;
}

}  // namespace vl::linuxapp
