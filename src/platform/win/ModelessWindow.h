#pragma once
// What the modeless windows of the host share: they delete themselves once their window is
// gone (telling their owner first, who clears its pointer), show the engine's messages as boxes
// owned by themselves, and set control texts and states only where they changed (no flicker,
// no echo of our own text as a user's edit).

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/UserMessages.h"
#include "platform/win/Dialog.h"

namespace vl::platform {

// Forwards messages to the application's sink with this window as their owner.
class OwnedMessageSink final : public MessageSink {
public:
    OwnedMessageSink(MessageSink* target, const Dialog* owner) : target(target), owner(owner) {}
    MessageAnswer show(const UserMessage& message) override;

private:
    MessageSink* target;
    const Dialog* owner;
};

class ModelessWindow : public Dialog {
public:
    ModelessWindow(UINT templateId, MessageSink* messages)
        : Dialog(templateId), ownMessages(messages, this) {}

    // Called once the window is gone, just before the object deletes itself.
    std::function<void()> onClosed;

protected:
    void OnDestroyed() override;
    void Close() { EndDialog(IDCANCEL); }

    MessageSink* messages() { return &ownMessages; }

    // While true, change notifications come from our own updates.
    bool updating = false;
    void ShowText(int id, const std::wstring& text);
    void ShowCheck(int id, bool on);
    void ShowEnabled(int id, bool on);
    void ShowSelection(int id, int index);
    bool Checked(int id) const;
    int Selection(int id) const;
    void FillList(int id, int count, const std::function<std::wstring(int)>& text);
    // Refills a drop-down list only when its entries differ, then selects.
    void ShowList(int id, const std::vector<std::wstring>& entries, int selected);
    std::vector<std::wstring> ListEntries(int id) const;
    // An up-down control's proposed step, with its upper arrow as +1 (the default range runs
    // downwards, so that arrow proposes -1); 0 when the notification is something else.
    static int UpSteps(LPARAM notification, int spinId);
    // The wait cursor for the lifetime of the object.
    struct WaitCursor {
        WaitCursor() { SetCursor(LoadCursorW(nullptr, IDC_WAIT)); }
        ~WaitCursor() { SetCursor(LoadCursorW(nullptr, IDC_ARROW)); }
    };

private:
    OwnedMessageSink ownMessages;
};

}  // namespace vl::platform
