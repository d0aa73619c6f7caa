#pragma once
// A private jackd (jackd2's dummy driver, no sound card) for one test program, on a server
// name of its own, and a child process with a bounded end. The server name is exported in
// JACK_DEFAULT_SERVER, which libjack reads, so every client of the test and its children
// reach this server and no other.
//
// With VL_JACK_EXTERNAL=1 the tests use the JACK server that already runs instead (PipeWire's
// under pw-jack, or a jackd of the user's on the default name): nothing is started or stopped,
// the server is only asked to answer and to take the block size the test wants, which it keeps
// afterwards: PipeWire takes a size over some cycles later, so one given back at a test's end
// would reach the next test's cycles. Tests that stop the server skip there.

#include <jack/jack.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace vltest {

// A child process started with fork/exec; stop() ends it, first politely, always bounded.
class Child {
public:
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() { stop(); }

    bool start(const std::vector<std::string>& argv, const std::vector<std::pair<std::string, std::string>>& env = {},
               const std::filesystem::path& output = "/dev/null") {
        pid_ = fork();
        if (pid_ < 0) return false;
        if (pid_ == 0) {
            // A test that crashes takes its server and its programs with it.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
            if (FILE* f = std::fopen(output.c_str(), "w")) {
                dup2(fileno(f), 1);
                dup2(fileno(f), 2);
            }
            std::vector<char*> args;
            std::vector<std::string> copies(argv);
            for (std::string& a : copies) args.push_back(a.data());
            args.push_back(nullptr);
            execvp(args[0], args.data());
            _exit(127);
        }
        return true;
    }

    bool running() {
        if (pid_ <= 0) return false;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            exitStatus_ = status;
            pid_ = -1;
            return false;
        }
        return true;
    }

    // Sends signal and waits up to timeoutMs; then kills. Answers the exit status.
    int stop(int signal = SIGTERM, int timeoutMs = 5000) {
        if (pid_ <= 0) return exitStatus_;
        kill(pid_, signal);
        if (!waitFor(timeoutMs)) {
            kill(pid_, SIGKILL);
            waitFor(5000);
        }
        return exitStatus_;
    }

    // Waits for the child to end by itself; false when it still runs after timeoutMs.
    bool waitFor(int timeoutMs) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (running()) {
            if (std::chrono::steady_clock::now() > until) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

    int exitStatus() const { return exitStatus_; }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int exitStatus_ = -1;
};

// True when the tests run on a server they did not start (VL_JACK_EXTERNAL set, not "0").
inline bool externalServer() {
    const char* value = std::getenv("VL_JACK_EXTERNAL");
    return value && *value && std::strcmp(value, "0") != 0;
}

class JackTestServer {
public:
    static constexpr int kRate = 48000;

    explicit JackTestServer(int blockFrames = 256)
        : name_("vltest" + std::to_string(getpid()) + "_" + std::to_string(counter()++)), frames_(blockFrames) {}
    ~JackTestServer() { stop(); }

    const std::string& name() const { return name_; }
    bool external() const { return external_; }

    // Starts jackd and waits, bounded, until a client can join it. A server that ends at once
    // is started again within the bound: the server registry is shared by the machine, and
    // while other programs' servers fill it ("Too many servers already active") a new one
    // gives up until one of them ends.
    bool start(int timeoutMs = 60000) {
        if (external_) return joinExternal(timeoutMs);
        setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
        setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < until) {
            if (!server_.start({"jackd", "--no-realtime", "-n", name_, "-d", "dummy", "-r", std::to_string(kRate), "-p",
                                std::to_string(frames_)},
                               {}, std::filesystem::temp_directory_path() / (name_ + ".log")))
                return false;
            while (std::chrono::steady_clock::now() < until) {
                jack_status_t status{};
                if (jack_client_t* probe = jack_client_open("probe", JackNoStartServer, &status)) {
                    jack_client_close(probe);
                    return true;
                }
                if (!server_.running()) break;
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
        return false;
    }

    // A server killed before it could unregister leaves its entry in the machine's registry
    // for good: it is given time to end by itself.
    void stop() {
        if (!external_) server_.stop(SIGTERM, 20000);
    }

    // The server's index-th physical playback (or capture) port: "system:playback_1" ... on the
    // test's own dummy jackd; on an external server whatever it lists (PipeWire's null sink:
    // "<sink>:playback_FL"), "" when it has fewer.
    std::string physicalPort(bool playback, size_t index) const {
        if (!external_) return std::string("system:") + (playback ? "playback_" : "capture_") + std::to_string(index + 1);
        std::string name;
        jack_status_t status{};
        jack_client_t* probe = jack_client_open("probe", JackNoStartServer, &status);
        if (!probe) return name;
        if (const char** ports = jack_get_ports(probe, nullptr, JACK_DEFAULT_AUDIO_TYPE,
                                                JackPortIsPhysical | (playback ? JackPortIsInput : JackPortIsOutput))) {
            for (size_t i = 0; ports[i] && name.empty(); ++i)
                if (i == index) name = ports[i];
            jack_free(ports);
        }
        jack_client_close(probe);
        return name;
    }

private:
    // The running server answers within the bound and runs at the test's block size (asked
    // for and seen by a new client: PipeWire takes a forced quantum over at its next cycles).
    bool joinExternal(int timeoutMs) {
        unsetenv("JACK_DEFAULT_SERVER");  // a test may have pointed it elsewhere: the default server
        // PipeWire's libjack applies jack_set_buffer_size to the asking client's node only (a
        // quantum forced while it runs), and not at all while the server's size is forced; the
        // tests change the server's size as jackd does, for every client (ignored by jackd's).
        setenv("PIPEWIRE_PROPS", "{ jack.global-buffer-size = true }", 0);
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        const auto wanted = static_cast<jack_nframes_t>(frames_);
        while (std::chrono::steady_clock::now() < until) {
            jack_status_t status{};
            if (jack_client_t* probe = jack_client_open("probe", JackNoStartServer, &status)) {
                const jack_nframes_t size = jack_get_buffer_size(probe);
                // PipeWire's request is a message of the client's: it is given time to leave.
                if (size != wanted) {
                    jack_set_buffer_size(probe, wanted);
                    std::this_thread::sleep_for(std::chrono::milliseconds(200));
                }
                jack_client_close(probe);
                if (size == wanted) return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }

    static int& counter() {
        static int n = 0;
        return n;
    }
    std::string name_;
    int frames_;
    bool external_ = externalServer();
    Child server_;
};

// ThreadSanitizer slows the clients' process callbacks several times over: on a loaded 2-core
// machine the dummy server's cycles then overrun, and what a test hears has gaps that are the
// build's, not the code's. That build checks the threads; the others check the sound.
#if defined(__SANITIZE_THREAD__)
inline constexpr bool kUnderThreadSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
inline constexpr bool kUnderThreadSanitizer = true;
#else
inline constexpr bool kUnderThreadSanitizer = false;
#endif
#else
inline constexpr bool kUnderThreadSanitizer = false;
#endif

// True when jackd can be run here, or an external server is to be used; tests that need a
// server skip cleanly without either.
inline bool jackdInstalled() { return externalServer() || std::system("command -v jackd >/dev/null 2>&1") == 0; }

}  // namespace vltest
