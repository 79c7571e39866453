#include "platform/Console.h"

#include <unistd.h>

namespace platform {

void PrepareConsole() {}

bool StderrIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

bool CanHideOwnArguments() {
    return true;
}

}  // namespace platform
