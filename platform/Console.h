#pragma once
// The console a command-line program writes to.

namespace platform {

// Makes the console show UTF-8 text and redraw a progress line, and standard input and output
// carry bytes unchanged (nothing to do where the system already does so).
void PrepareConsole();

// Whether standard error is a terminal (a redrawn progress line) or a file or pipe.
bool StderrIsTerminal();

// Whether a program can blank its own arguments once read, so that other programs no longer
// see them (Linux: `ps` reads them from the process). On Windows any program reads another's
// command line as it was started: a secret there cannot be hidden.
bool CanHideOwnArguments();

}  // namespace platform
