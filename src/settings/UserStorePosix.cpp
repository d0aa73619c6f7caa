#include <cstdlib>

#include "settings/FileStore.h"
#include "settings/KeyValueStore.h"

namespace vl {

// VORLANE_SETTINGS_FILE lets a test run (or a user) keep the settings in a file of its own.
std::shared_ptr<KeyValueStore> makeUserSettingsStore() {
    return std::make_shared<FileStore>(FileStore::userFilePath(std::getenv("VORLANE_SETTINGS_FILE"),
                                                               std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME")));
}

}  // namespace vl
