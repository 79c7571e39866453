#include "platform/Console.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include <initializer_list>

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace platform {

void PrepareConsole() {
    // Exports to standard output and imports from standard input are bytes: text mode would
    // turn every line end of an export into CR CR LF.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stdin), _O_BINARY);
    // The program's text is UTF-8; the progress line is redrawn with escape sequences.
    // The console's own code page comes back when the program ends: programs run after it in
    // the same window still show their text.
    static const UINT before = GetConsoleOutputCP();
    if (before != 0 && before != CP_UTF8) {
        std::atexit([] { SetConsoleOutputCP(before); });
    }
    SetConsoleOutputCP(CP_UTF8);
    for (DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        HANDLE h = GetStdHandle(which);
        DWORD mode = 0;
        if (h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode)) {
            SetConsoleMode(h, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
        }
    }
}

bool StderrIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

bool CanHideOwnArguments() {
    return false;
}

}  // namespace platform
