// collector-cli: collects, exports and clears without a window.

#include <string>
#include <vector>

#include "cli/CliCommands.h"
#include "platform/Console.h"
#include "platform/Memory.h"
#include "store/Store.h"

using namespace store;

int main(int argc, char** argv) {
    platform::PrepareConsole();
    platform::ReturnLargeBlocksToSystem();
    std::vector<std::string> args(argv + 1, argv + argc);
    // Read now; from here on `ps` shows no password of a store URI or a proxy address.
    HidePasswordsInArguments(argc, argv);
    return RunCli(args);
}
