// Drives collector.exe's window from outside, as a test does under wine: presses buttons,
// types into edits, reads texts and list counts, answers message boxes and file dialogs.
// One command per run; exit 0 when it was done, 1 when not (with the reason on stderr).
//
//   window_driver click ID          press button ID
//   window_driver set ID TEXT       put TEXT into edit ID, as typing would
//   window_driver get ID            print the text of control ID
//   window_driver count ID          print the number of rows of list ID
//   window_driver tab ID INDEX      open page INDEX of tab ID
//   window_driver answer ID         wait for a box of the window and press its button ID
//   window_driver save PATH         wait for a file dialog and choose PATH in it
//   window_driver boxset ID TEXT    set, get and count, in the box of the window that has
//   window_driver boxget ID         control ID (waited for)
//   window_driver boxcount ID
//   window_driver close             ask the window to close (returns once it was handled)

#include <windows.h>

#include <commctrl.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/model/Controls.h"

namespace {

constexpr DWORD kWaitMs = 30000;

std::string Utf8(const std::wstring& wide) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

std::wstring TextOf(HWND hwnd) {
    wchar_t text[4096] = {};
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(hwnd, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, 5000, &copied);
    return text;
}

bool IsDialog(HWND hwnd) {
    wchar_t name[32] = {};
    GetClassNameW(hwnd, name, static_cast<int>(std::size(name)));
    return std::wstring(name) == L"#32770";
}

// The collector's main window: a dialog with the search tab.
HWND MainWindow() {
    HWND found = nullptr;
    EnumWindows(
        [](HWND hwnd, LPARAM out) -> BOOL {
            if (IsDialog(hwnd) && GetDlgItem(hwnd, IDC_TAB) != nullptr &&
                GetDlgItem(hwnd, IDC_LIST_TAB) != nullptr) {
                *reinterpret_cast<HWND*>(out) = hwnd;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// Control `id` anywhere in `parent`, its pages included.
HWND Control(HWND parent, int id) {
    struct Search {
        int id;
        HWND found;
    } search{id, nullptr};
    EnumChildWindows(
        parent,
        [](HWND hwnd, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            if (GetDlgCtrlID(hwnd) == s->id) {
                s->found = hwnd;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The box the window shows now: a visible, enabled dialog of the same program.
HWND OpenBox(HWND main) {
    struct Search {
        HWND main;
        DWORD process;
        HWND found;
    } search{main, 0, nullptr};
    GetWindowThreadProcessId(main, &search.process);
    EnumWindows(
        [](HWND hwnd, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            DWORD process = 0;
            GetWindowThreadProcessId(hwnd, &process);
            if (hwnd != s->main && process == s->process && IsDialog(hwnd) &&
                IsWindowVisible(hwnd) && IsWindowEnabled(hwnd)) {
                s->found = hwnd;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

template <typename F>
HWND WaitFor(F find) {
    for (DWORD waited = 0; waited < kWaitMs; waited += 100) {
        if (HWND hwnd = find()) {
            return hwnd;
        }
        Sleep(100);
    }
    return nullptr;
}

int Fail(const char* what) {
    std::fprintf(stderr, "window_driver: %s\n", what);
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);  // "\n", not "\r\n": the test compares the lines
    if (argc < 2) {
        return Fail("no command");
    }
    const std::wstring command = argv[1];
    HWND main = WaitFor(MainWindow);
    if (main == nullptr) {
        return Fail("the window is not there");
    }
    const int id = argc > 2 ? _wtoi(argv[2]) : 0;
    if (command == L"close") {
        // Sent, not posted: when this returns, the window has handled it.
        DWORD_PTR result = 0;
        SendMessageTimeoutW(main, WM_CLOSE, 0, 0, SMTO_NORMAL, 10000, &result);
        return 0;
    }
    if (command == L"save") {
        // A file dialog: its file name's edit (edt1), or its combo box (cmb13). The box
        // answered before it may still be closing.
        HWND box = WaitFor([main] {
            HWND open = OpenBox(main);
            return open != nullptr && (GetDlgItem(open, 0x480) || GetDlgItem(open, 0x47c))
                       ? open
                       : nullptr;
        });
        if (box == nullptr || argc < 3) {
            return Fail("no file dialog");
        }
        HWND name = GetDlgItem(box, 0x480);
        if (name == nullptr) {
            name = GetDlgItem(box, 0x47c);
        }
        SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[2]));
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return 0;
    }
    if (command == L"answer") {
        HWND box = WaitFor([main] { return OpenBox(main); });
        if (box == nullptr) {
            return Fail("no box opened");
        }
        std::printf("%s\n", Utf8(TextOf(box)).c_str());
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
        return 0;
    }
    // The commands on the window's own controls, or with "box" before them, on those of the
    // box it shows.
    std::wstring verb = command;
    HWND control = nullptr;
    if (verb.rfind(L"box", 0) == 0) {
        verb = verb.substr(3);
        HWND box = WaitFor([main, id] {
            HWND open = OpenBox(main);
            return open != nullptr && GetDlgItem(open, id) != nullptr ? open : nullptr;
        });
        control = box != nullptr ? GetDlgItem(box, id) : nullptr;
    } else {
        control = Control(main, id);
    }
    if (control == nullptr) {
        return Fail("no such control");
    }
    if (verb == L"click") {
        PostMessageW(GetParent(control), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(control));
    } else if (verb == L"set" && argc > 3) {
        SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[3]));
    } else if (verb == L"get") {
        std::printf("%s\n", Utf8(TextOf(control)).c_str());
    } else if (verb == L"count") {
        std::printf("%ld\n", static_cast<long>(SendMessageW(control, LVM_GETITEMCOUNT, 0, 0)));
    } else if (verb == L"tab" && argc > 3) {
        // Unlike TCM_SETCURSEL, this tells the window the page changed.
        SendMessageW(control, TCM_SETCURFOCUS, static_cast<WPARAM>(_wtoi(argv[3])), 0);
    } else {
        return Fail("unknown command");
    }
    return 0;
}
