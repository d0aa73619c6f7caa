#pragma once
// The host as a client of a session manager speaking the NSM protocol (OSC over UDP: New
// Session Manager, RaySession, Agordejo). The manager's address is NSM_URL. The host announces
// itself before it joins the JACK server, is told by the manager's open where the session
// keeps it (a folder) and under which name (the JACK client name), and saves when told.
// The manager ends the host with SIGTERM, which the program already answers by saving.
//
// User-interface thread only; nothing here waits longer than the bound it is given.

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vl::linuxapp {

class NsmClient {
public:
    struct Open {
        std::string path;         // the folder the session keeps this client in
        std::string displayName;  // the session's name
        std::string clientId;     // the client's name in the session: the JACK client name
    };

    // A client of the manager at url (NSM_URL); null with the reason in `error` when none can
    // be made (a bad address, no socket, a build without session support).
    static std::unique_ptr<NsmClient> connect(const std::string& url, std::string& error);
    virtual ~NsmClient() = default;

    // /nsm/server/announce: application name, the program to start again, the process.
    virtual bool announce(const std::string& applicationName, const std::string& executable) = 0;
    // The manager's open, waited for at most timeoutMs; none when it did not come (or the
    // manager refused the announce: the reason in `error`).
    virtual std::optional<Open> waitForOpen(int timeoutMs, std::string& error) = 0;
    // The answer to the open: OK, or the error text.
    virtual void answerOpen(const std::optional<std::string>& failure) = 0;

    // The socket to watch for the manager's messages; poll() hands each one to its handler,
    // without waiting.
    virtual int socket() const = 0;
    virtual void poll() = 0;
    // /nsm/client/save: answers the error text, none when saved. Answered to the manager.
    std::function<std::optional<std::string>()> onSave;
};

}  // namespace vl::linuxapp
