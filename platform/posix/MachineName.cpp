#include "platform/MachineName.h"

#include <unistd.h>

namespace platform {

std::string MachineName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    return name;
}

}  // namespace platform
