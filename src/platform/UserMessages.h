#pragma once
// User-facing messages of the engine. The Windows application shows them as modal message
// boxes owned by the window in front; tests record them.

#include <string>

namespace vl::platform {

enum class MessageButtons { Ok, YesNo };
enum class MessageIcon { None, Error, Warning, Question, Information };
enum class MessageAnswer { Ok, Yes, No };

struct UserMessage {
    std::wstring text;
    std::wstring caption;
    MessageButtons buttons = MessageButtons::Ok;
    MessageIcon icon = MessageIcon::None;
    void* owner = nullptr;  // window handle of the owner; null = the application's main window
};

class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual MessageAnswer show(const UserMessage& message) = 0;
};

}  // namespace vl::platform
