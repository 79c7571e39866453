#pragma once

#include <string>

// The application: runs the main window until it is closed.
class CCollectorApp {
  public:
    // Returns the process's exit code. `storePath` (from `--store PATH`, read before the
    // arguments lost their passwords) names the store, as for collector-cli; empty, the store
    // is the default one. `--print-state` prints the window's state lines on standard output
    // (for checking the window from a script).
    int InitInstance(const std::string& storePath);
};
