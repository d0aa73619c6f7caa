#include "app/linux/NsmClient.h"

#include <lo/lo.h>
#include <unistd.h>

#include <chrono>

namespace vl::linuxapp {

namespace {

constexpr int kApiMajor = 1;
constexpr int kApiMinor = 2;
constexpr int kGeneralError = -1;
constexpr int kUnsupported = -9;  // ERR_UNSUPPORTED_OPERATION: a second open without :switch:
constexpr char kCapabilities[] = "";  // no :switch:, :dirty: or :message:

std::string stringArgument(lo_arg** argv, const char* types, int argc, int i) {
    // OSC aligns arguments to 4 bytes, the lo_arg union to 8: the string is read through a
    // plain char pointer, never as a member of a misaligned union.
    return i < argc && types[i] == 's' ? std::string(reinterpret_cast<const char*>(argv[i])) : std::string();
}

class LoClient final : public NsmClient {
public:
    LoClient(lo_address manager, lo_server server) : manager(manager), server(server) {
        lo_server_add_method(server, "/nsm/client/open", "sss", &onOpen, this);
        lo_server_add_method(server, "/nsm/client/save", "", &onSaveMessage, this);
        lo_server_add_method(server, "/error", nullptr, &onError, this);
        lo_server_add_method(server, "/reply", nullptr, &onReply, this);
        // The rest (session_is_loaded, show_optional_gui, ...) asks nothing of the host.
        lo_server_add_method(server, nullptr, nullptr, &onOther, this);
    }
    ~LoClient() override {
        lo_server_free(server);
        lo_address_free(manager);
    }

    bool announce(const std::string& applicationName, const std::string& executable) override {
        return lo_send_from(manager, server, LO_TT_IMMEDIATE, "/nsm/server/announce", "sssiii",
                            applicationName.c_str(), kCapabilities, executable.c_str(), kApiMajor, kApiMinor,
                            static_cast<int>(getpid())) >= 0;
    }

    std::optional<Open> waitForOpen(int timeoutMs, std::string& error) override {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!opened && refusal.empty()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            lo_server_recv_noblock(server, static_cast<int>(left.count()));
        }
        if (!opened) error = refusal.empty() ? "the session manager did not open the session in time" : refusal;
        return opened;
    }

    void answerOpen(const std::optional<std::string>& failure) override {
        answer("/nsm/client/open", failure);
        openAnswered = true;
    }

    int socket() const override { return lo_server_get_socket_fd(server); }

    void poll() override {
        while (lo_server_recv_noblock(server, 0) > 0) {
        }
    }

private:
    void answer(const char* path, const std::optional<std::string>& failure) {
        if (failure)
            lo_send_from(manager, server, LO_TT_IMMEDIATE, "/error", "sis", path, kGeneralError, failure->c_str());
        else
            lo_send_from(manager, server, LO_TT_IMMEDIATE, "/reply", "ss", path, "OK");
    }

    static int onOpen(const char*, const char* types, lo_arg** argv, int argc, lo_message, void* user) {
        auto* self = static_cast<LoClient*>(user);
        if (self->opened) {
            // Announced without :switch:: the manager restarts the host for another session.
            lo_send_from(self->manager, self->server, LO_TT_IMMEDIATE, "/error", "sis", "/nsm/client/open",
                         kUnsupported, "The host opens one session per run.");
            return 0;
        }
        self->opened = Open{stringArgument(argv, types, argc, 0), stringArgument(argv, types, argc, 1),
                            stringArgument(argv, types, argc, 2)};
        return 0;
    }

    static int onSaveMessage(const char*, const char*, lo_arg**, int, lo_message, void* user) {
        auto* self = static_cast<LoClient*>(user);
        std::optional<std::string> failure;
        if (!self->openAnswered) failure = "The session is not open yet.";
        else if (self->onSave) failure = self->onSave();
        else failure = "Nothing can be saved now.";
        self->answer("/nsm/client/save", failure);
        return 0;
    }

    static int onError(const char*, const char* types, lo_arg** argv, int argc, lo_message, void* user) {
        auto* self = static_cast<LoClient*>(user);
        // The manager refused the announce (an API it does not speak, a full session).
        if (stringArgument(argv, types, argc, 0) == "/nsm/server/announce")
            self->refusal = "the session manager refused the host: " + stringArgument(argv, types, argc, 2);
        return 0;
    }

    static int onReply(const char*, const char*, lo_arg**, int, lo_message, void*) { return 0; }
    static int onOther(const char*, const char*, lo_arg**, int, lo_message, void*) { return 0; }

    lo_address manager;
    lo_server server;
    std::optional<Open> opened;
    std::string refusal;
    bool openAnswered = false;
};

void ignoreServerError(int, const char*, const char*) {}

}  // namespace

std::unique_ptr<NsmClient> NsmClient::connect(const std::string& url, std::string& error) {
    lo_address manager = lo_address_new_from_url(url.c_str());
    if (!manager || lo_address_get_protocol(manager) != LO_UDP) {
        if (manager) lo_address_free(manager);
        error = "NSM_URL is not an OSC address over UDP: " + url;
        return nullptr;
    }
    // A port of our own, chosen by the system; the manager answers to where we send from.
    lo_server server = lo_server_new_with_proto(nullptr, LO_UDP, &ignoreServerError);
    if (!server) {
        lo_address_free(manager);
        error = "no socket for the session manager's messages";
        return nullptr;
    }
    return std::make_unique<LoClient>(manager, server);
}

}  // namespace vl::linuxapp
