#include "app/linux/KeyCodes.h"

#include <Qt>

#include "app/AppRules.h"

namespace vl::linuxapp {

namespace {

struct KeyPair {
    int qt;
    int vk;
};

constexpr KeyPair kKeys[] = {
    {Qt::Key_Backspace, app::vk::Back}, {Qt::Key_Tab, app::vk::Tab},         {Qt::Key_Clear, app::vk::Clear},
    {Qt::Key_Return, app::vk::Return},  {Qt::Key_Enter, app::vk::Return},    {Qt::Key_Shift, app::vk::Shift},
    {Qt::Key_Control, app::vk::Control}, {Qt::Key_Alt, app::vk::Menu},       {Qt::Key_Pause, app::vk::Pause},
    {Qt::Key_Escape, app::vk::Escape},  {Qt::Key_Space, app::vk::Space},     {Qt::Key_PageUp, app::vk::Prior},
    {Qt::Key_PageDown, app::vk::Next},  {Qt::Key_End, app::vk::End},         {Qt::Key_Home, app::vk::Home},
    {Qt::Key_Left, app::vk::Left},      {Qt::Key_Up, app::vk::Up},           {Qt::Key_Right, app::vk::Right},
    {Qt::Key_Down, app::vk::Down},      {Qt::Key_Select, app::vk::Select},   {Qt::Key_Print, app::vk::Print},
    {Qt::Key_Execute, app::vk::Execute}, {Qt::Key_Insert, app::vk::Insert},  {Qt::Key_Delete, app::vk::Delete},
    {Qt::Key_Help, app::vk::Help},      {Qt::Key_Asterisk, app::vk::Multiply}, {Qt::Key_Plus, app::vk::Add},
    {Qt::Key_Minus, app::vk::Subtract}, {Qt::Key_Period, app::vk::Decimal},  {Qt::Key_Slash, app::vk::Divide},
    {Qt::Key_NumLock, app::vk::Numlock}, {Qt::Key_ScrollLock, app::vk::Scroll},
};

}  // namespace

int virtualKeyOfQtKey(int qtKey) {
    // Letters and digits carry their upper-case ASCII code in both systems.
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) return qtKey;
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) return qtKey;
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F12) return app::vk::F1 + (qtKey - Qt::Key_F1);
    for (const KeyPair& pair : kKeys)
        if (pair.qt == qtKey) return pair.vk;
    return 0;
}

}  // namespace vl::linuxapp
