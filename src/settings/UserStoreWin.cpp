#include "settings/KeyValueStore.h"
#include "settings/RegistryStore.h"

namespace vl {

std::shared_ptr<KeyValueStore> makeUserSettingsStore() { return std::make_shared<RegistryStore>(); }

}  // namespace vl
