#pragma once
// Test access to a probe plug-in module: locates it beside the test program, keeps it loaded,
// resets its control block and exposes it. The slot under test loads the same module again
// (the platform counts references), so configuration made here is what its entry point sees.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "../../plugins/probe/ProbeControl.h"
#include "platform/Module.h"

namespace vltest {

inline std::filesystem::path binaryDir() { return vl::platform::executablePath().parent_path(); }

inline std::filesystem::path modulePath(const std::string& baseName) {
    return binaryDir() / (baseName + vl::platform::moduleSuffix());
}

class ProbeModule {
public:
    explicit ProbeModule(const std::string& baseName = "vorlane_probe") : path_(modulePath(baseName)) {
        handle_ = vl::platform::loadModule(path_);
        if (!handle_) {
            ADD_FAILURE() << "cannot load " << path_.string() << ": " << vl::platform::lastModuleError();
            return;
        }
        auto get = reinterpret_cast<probe::GetControlProc>(vl::platform::findSymbol(handle_, "ProbeGetControl"));
        reset_ = reinterpret_cast<probe::ResetProc>(vl::platform::findSymbol(handle_, "ProbeReset"));
        callHost_ = reinterpret_cast<probe::CallHostProc>(vl::platform::findSymbol(handle_, "ProbeCallHost"));
        if (!get || !reset_ || !callHost_) {
            ADD_FAILURE() << "probe exports missing in " << path_.string();
            return;
        }
        reset_();
        control_ = get();
    }
    ~ProbeModule() { vl::platform::freeModule(handle_); }
    ProbeModule(const ProbeModule&) = delete;
    ProbeModule& operator=(const ProbeModule&) = delete;

    const std::filesystem::path& path() const { return path_; }
    probe::Config& config() { return control_->config; }
    probe::Log& log() { return control_->log; }
    bool ok() const { return control_ != nullptr; }

    // Calls the host callback from inside the plug-in module, as the plug-in would.
    vst::intptr callHost(vst::int32 opcode, vst::int32 index = 0, vst::intptr value = 0, void* ptr = nullptr,
                         float opt = 0.0f) {
        return callHost_(opcode, index, value, ptr, opt);
    }

    // Opcodes received so far, in order.
    std::vector<int> opcodes() const {
        std::vector<int> out;
        int n = control_->log.callCount.load();
        for (int i = 0; i < n && i < probe::kMaxCalls; ++i) out.push_back(control_->log.calls[i].opcode);
        return out;
    }

    const probe::Call& call(int i) const { return control_->log.calls[i]; }

    // The last call with this opcode, or null.
    const probe::Call* lastCall(int opcode) const {
        int n = control_->log.callCount.load();
        for (int i = (n < probe::kMaxCalls ? n : probe::kMaxCalls) - 1; i >= 0; --i)
            if (control_->log.calls[i].opcode == opcode) return &control_->log.calls[i];
        return nullptr;
    }

    const probe::Block& block(int64_t n) const { return control_->log.blocks[n % probe::kMaxBlocks]; }
    int64_t blockCount() const { return control_->log.blockCount.load(); }

private:
    std::filesystem::path path_;
    vl::platform::ModuleHandle handle_ = nullptr;
    probe::Control* control_ = nullptr;
    probe::ResetProc reset_ = nullptr;
    probe::CallHostProc callHost_ = nullptr;
};

}  // namespace vltest
