// collector: the window of the collector, on Windows.

#include <windows.h>

#include <commctrl.h>
#include <fcntl.h>
#include <io.h>
#include <ole2.h>
#include <shellapi.h>

#include <iostream>
#include <string>

#include "app/win/CCollectorWnd.h"
#include "cli/CliCommands.h"
#include "crawl/CurlFetcher.h"
#include "platform/Memory.h"
#include "platform/ProgramFolders.h"
#include "platform/windows/Wide.h"
#include "store/Store.h"

using namespace crawl;
using namespace store;

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show) {
    // Started by a task (--refresh) or by the installer: the work runs without a window, so
    // nothing shows and nothing can be closed to stop it.
    {
        std::vector<std::string> args;
        int count = 0;
        if (wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count)) {
            for (int i = 1; i < count; ++i) {
                args.push_back(platform::win::Narrow(argv[i]));
            }
            LocalFree(argv);
        }
        if (auto code = RunWithoutWindow(args)) {
            return *code;
        }
    }
    // The controls of this program's manifest (common controls 6): lists, tabs, date picker.
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES |
                                                        ICC_DATE_CLASSES | ICC_PROGRESS_CLASS |
                                                        ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    // Windows' file dialogs use COM on this thread.
    const bool com = SUCCEEDED(OleInitialize(nullptr));
    CurlGlobalInit();
    platform::ReturnLargeBlocksToSystem();

    std::string storePath;
    bool printState = false;
    int argc = 0;
    if (wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc)) {
        for (int i = 1; i < argc; ++i) {
            const std::wstring arg = argv[i];
            if (arg == L"--store" && i + 1 < argc) {
                storePath = platform::win::Narrow(argv[++i]);
            } else if (arg == L"--print-state") {
                printState = true;
            }
        }
        LocalFree(argv);
    }

    // Any program can read this one's command line: a password in it is refused, not used.
    if (const std::string refusal = PasswordOnCommandLine(storePath, {}); !refusal.empty()) {
        MessageBoxW(nullptr, platform::win::Wide(refusal).c_str(), L"Tarvola采集器",
                    MB_OK | MB_ICONERROR);
        if (com) {
            OleUninitialize();
        }
        return 2;
    }
    if (printState) {
        _setmode(_fileno(stdout), _O_BINARY);  // lines end in "\n", as on Linux
    }
    SteadyClock clock;
    const WindowModel::StoreChoice store = WindowModel::ChooseStore(storePath);
    // One window per store and user: the session's mutex says a window is open on this store;
    // that window (marked with a property named after the store) is asked to come to the front
    // and allowed to take the foreground. Other users have mutexes of their own.
    const std::string key = WindowModel::StoreKey(store.path);
    const std::wstring mark = platform::win::Wide("collector.store." + key);
    HANDLE instance =
        CreateMutexW(nullptr, FALSE, (L"Local\\collector-" + platform::win::Wide(key)).c_str());
    if (instance != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
        // The first window may still be coming up: look for it a few seconds.
        for (int tries = 0; tries < 50; ++tries) {
            struct Found {
                const std::wstring* mark;
                HWND window;
            } found{&mark, nullptr};
            EnumWindows(
                [](HWND hwnd, LPARAM param) -> BOOL {
                    auto* f = reinterpret_cast<Found*>(param);
                    if (GetPropW(hwnd, f->mark->c_str()) != nullptr) {
                        f->window = hwnd;
                        return FALSE;
                    }
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(&found));
            if (found.window != nullptr) {
                DWORD pid = 0;
                GetWindowThreadProcessId(found.window, &pid);
                AllowSetForegroundWindow(pid);
                PostMessageW(found.window, CCollectorWnd::kShowAgain, 0, 0);
                if (printState) {
                    std::cout << "instance: the window open on this store was shown" << std::endl;
                }
                CloseHandle(instance);
                if (com) {
                    OleUninitialize();
                }
                return 0;
            }
            Sleep(100);
        }
    }
    CCollectorWnd window(store.path, clock, printState, store.notice);
    int code = 1;
    if (window.Create(show)) {
        window.MarkAs(mark);
        code = window.Run();
    } else {
        MessageBoxW(nullptr, L"无法创建程序窗口。", L"Tarvola采集器", MB_OK | MB_ICONERROR);
    }
    if (instance != nullptr) {
        CloseHandle(instance);
    }
    if (com) {
        OleUninitialize();
    }
    return code;
}
