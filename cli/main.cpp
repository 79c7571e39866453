// collector-cli: collects, exports and clears without a window.

#include <string>
#include <vector>

#include "cli/CliCommands.h"

int main(int argc, char** argv) {
    return RunCli(std::vector<std::string>(argv + 1, argv + argc));
}
