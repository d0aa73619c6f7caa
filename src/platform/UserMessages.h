#pragma once
// User-facing messages of the engine. The Windows application shows them as modal message
// boxes owned by the window in front; tests record them.

#include <string>
#include <string_view>

namespace vl::platform {

enum class MessageButtons { Ok, YesNo };
enum class MessageIcon { None, Error, Warning, Question, Information };
// Cancel: the box ended without an answer (dismissed by the system or the program), not OK.
enum class MessageAnswer { Ok, Yes, No, Cancel };

struct UserMessage {
    std::wstring text;
    std::wstring caption;
    MessageButtons buttons = MessageButtons::Ok;
    MessageIcon icon = MessageIcon::None;
    void* owner = nullptr;  // window handle of the owner; null = the application's main window
};

// A box with OK only, its icon chosen by its caption: "Warning" warns, any other caption is an error.
inline UserMessage okMessage(const wchar_t* text, const wchar_t* caption) {
    UserMessage message;
    message.text = text;
    message.caption = caption;
    message.icon = std::wstring_view(caption) == L"Warning" ? MessageIcon::Warning : MessageIcon::Error;
    return message;
}

class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual MessageAnswer show(const UserMessage& message) = 0;
};

}  // namespace vl::platform
