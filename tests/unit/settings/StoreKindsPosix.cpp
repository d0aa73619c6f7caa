#include "StoreSpace.h"

namespace vl::test {

std::vector<StoreKind> storeKinds() { return {{"File", &makeFileStoreSpace}}; }

}  // namespace vl::test
