#pragma once
// The dots per inch a window is drawn at, for sizes given in pixels at 96.

#include <windows.h>

// The DPI of the monitor `hwnd` is on (Windows 10 1607 and later), else the system's.
int WindowDpi(HWND hwnd);
