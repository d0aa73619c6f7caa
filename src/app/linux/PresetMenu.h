#pragma once
// The Linux window's Preset menu: program and bank files through Qt's file dialogs, the
// plug-in's programs (checked, in groups of 32), Rename Program and Reset to Default. The
// rules are the engine's (host/PluginPresets) and the app's (app/PresetRules).

#include <QObject>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/PluginPresets.h"
#include "platform/UserMessages.h"

class QMenu;
class QWidget;

namespace vl {
class HostSettings;
class KeyValueStore;
class PluginSlot;
class VLVSTHostInterface;
}  // namespace vl

namespace vl::linuxapp {

class PresetMenu : public QObject {
public:
    struct Links {
        QWidget* owner = nullptr;
        PluginSlot* slot = nullptr;
        VLVSTHostInterface* coordinator = nullptr;
        HostSettings* settings = nullptr;
        platform::MessageSink* messages = nullptr;
        // The store to write the remembered folder to; null for a copy that stores nothing.
        std::function<std::shared_ptr<KeyValueStore>()> writableStore;
        // The sound changed to a program or file: the caption shows the program's name.
        std::function<void(const std::wstring& programName)> soundChanged;
    };
    PresetMenu(QMenu* menu, Links links);

    // Right after the plug-in was opened, before any saved state reaches it.
    void keepDefault() { defaultState.capture(*links.slot); }
    // A file given on the command line or dropped on the window; false when it was refused
    // (the user has been told why).
    bool loadFile(const std::filesystem::path& path);

private:
    void rebuild();
    void loadChosen();
    void save(PresetKind kind);
    void rename();
    void reset();
    void chooseProgram(int index);
    void rememberFolder(const std::filesystem::path& file);
    void tellChanged();
    std::wstring startFolder() const;

    QMenu* menu;
    Links links;
    DefaultState defaultState;
    std::vector<std::string> names;
    bool namesStale = true;
};

}  // namespace vl::linuxapp
