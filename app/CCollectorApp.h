#pragma once

// The application: runs the main window until it is closed.
class CCollectorApp {
  public:
    // Returns the process's exit code.
    int InitInstance();
};
