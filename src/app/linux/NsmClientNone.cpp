// A build without liblo: no session manager can be spoken to.
#include "app/linux/NsmClient.h"

namespace vl::linuxapp {

std::unique_ptr<NsmClient> NsmClient::connect(const std::string&, std::string& error) {
    error = "this build has no session support (liblo was missing)";
    return nullptr;
}

}  // namespace vl::linuxapp
