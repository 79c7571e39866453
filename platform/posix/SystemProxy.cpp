#include "platform/SystemProxy.h"

namespace platform {

std::string SystemProxy() {
    return {};  // the environment's http_proxy, read by libcurl
}

}  // namespace platform
