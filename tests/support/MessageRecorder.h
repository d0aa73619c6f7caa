#pragma once
// Records the user-facing messages that the application would show as message boxes.

#include <mutex>
#include <vector>

#include "platform/UserMessages.h"

namespace vltest {

class MessageRecorder : public vl::platform::MessageSink {
public:
    vl::platform::MessageAnswer answer = vl::platform::MessageAnswer::Ok;
    std::vector<vl::platform::UserMessage> shown;

    vl::platform::MessageAnswer show(const vl::platform::UserMessage& message) override {
        std::lock_guard<std::mutex> lock(mutex);
        shown.push_back(message);
        return answer;
    }

private:
    std::mutex mutex;
};

}  // namespace vltest
