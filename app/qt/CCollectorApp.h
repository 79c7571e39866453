#pragma once

// The application: runs the main window until it is closed.
class CCollectorApp {
  public:
    // Returns the process's exit code. `--store PATH` among the arguments names the store, as
    // for collector-cli; without it the store is the default one. `--print-state` prints the
    // window's state lines on standard output (for checking the window from a script).
    int InitInstance();
};
