#pragma once
// A session manager of the tests speaking the NSM protocol over UDP on the loopback address
// (liblo): it records what its client sends and answers as the manager does.

#include <lo/lo.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace vltest {

class NsmTestManager {
public:
    struct Message {
        std::string path;
        std::vector<std::string> strings;
        std::vector<int> ints;
    };

    NsmTestManager() {
        server_ = lo_server_new_with_proto(nullptr, LO_UDP, nullptr);
        if (server_) lo_server_add_method(server_, nullptr, nullptr, &record, this);
    }
    ~NsmTestManager() {
        if (server_) lo_server_free(server_);
    }
    NsmTestManager(const NsmTestManager&) = delete;
    NsmTestManager& operator=(const NsmTestManager&) = delete;

    bool ok() const { return server_ != nullptr; }
    // NSM_URL for the client.
    std::string url() const { return "osc.udp://127.0.0.1:" + std::to_string(lo_server_get_port(server_)) + "/"; }

    // The next message with this path (the others before it are kept), waited for at most limit.
    std::optional<Message> waitFor(const std::string& path, std::chrono::milliseconds limit) {
        const auto until = std::chrono::steady_clock::now() + limit;
        for (;;) {
            for (size_t i = 0; i < received_.size(); ++i) {
                if (received_[i].path != path) continue;
                Message found = received_[i];
                received_.erase(received_.begin() + static_cast<long>(i));
                return found;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
            if (left.count() <= 0) return std::nullopt;
            lo_server_recv_noblock(server_, static_cast<int>(std::min<long long>(left.count(), 100)));
        }
    }

    // To the client (where its last message came from).
    template <class... Args>
    bool send(const char* path, const char* types, Args... args) {
        if (client_.empty()) return false;
        lo_address to = lo_address_new_from_url(client_.c_str());
        const int sent = lo_send_from(to, server_, LO_TT_IMMEDIATE, path, types, args...);
        lo_address_free(to);
        return sent >= 0;
    }

private:
    static int record(const char* path, const char* types, lo_arg** argv, int argc, lo_message message, void* user) {
        auto* self = static_cast<NsmTestManager*>(user);
        Message got{path, {}, {}};
        for (int i = 0; i < argc; ++i) {
            // Arguments are 4-byte aligned, the lo_arg union 8: read them as bytes.
            if (types[i] == 's') got.strings.emplace_back(reinterpret_cast<const char*>(argv[i]));
            if (types[i] == 'i') {
                int32_t value = 0;
                std::memcpy(&value, argv[i], sizeof value);
                got.ints.push_back(value);
            }
        }
        if (lo_address source = lo_message_get_source(message)) {
            if (char* url = lo_address_get_url(source)) {
                self->client_ = url;
                std::free(url);
            }
        }
        self->received_.push_back(std::move(got));
        return 0;
    }

    lo_server server_ = nullptr;
    std::string client_;
    std::vector<Message> received_;
};

}  // namespace vltest
