#include "app/win/UserPrompts.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shlobj.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <iterator>

#include "app/model/Dialogs.h"
#include "app/win/DialogProc.h"
#include "app/win/DialogTemplate.h"
#include "app/win/WindowDpi.h"
#include "platform/windows/Wide.h"

using platform::win::Narrow;
using platform::win::Wide;

namespace {

constexpr DWORD kModalStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER;

// Windows' filter list: "name (pattern)", the pattern, ... ending in two nulls. "*" is every
// file, "*.*" on Windows.
std::wstring FilterOf(const std::vector<FileType>& types) {
    std::wstring filter;
    for (const FileType& type : types) {
        const std::string pattern = type.pattern == "*" ? "*.*" : type.pattern;
        filter += Wide(type.name + " (" + pattern + ")");
        filter.push_back(L'\0');
        filter += Wide(pattern);
        filter.push_back(L'\0');
    }
    filter.push_back(L'\0');
    return filter;
}

std::wstring DocumentsFolder() {
    wchar_t path[MAX_PATH] = {};
    return SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, 0, path)) ? path : L"";
}

// What both file dialogs are given: the owner, the types, the folder to open in (the user's
// documents when none) and room for the path chosen.
struct FileDialog {
    FileDialog(HWND owner, const std::vector<FileType>& types, std::wstring openIn)
        : filter(FilterOf(types)), folder(openIn.empty() ? DocumentsFolder() : std::move(openIn)) {
        ofn.lStructSize = sizeof(ofn);
        ofn.hwndOwner = owner;
        ofn.lpstrFilter = filter.c_str();
        ofn.nFilterIndex = 1;
        ofn.lpstrFile = path.data();
        ofn.nMaxFile = static_cast<DWORD>(path.size());
        ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
        // The working folder stays: the store may be named relative to it.
        ofn.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    }
    FileDialog(const FileDialog&) = delete;
    FileDialog& operator=(const FileDialog&) = delete;
    std::string Chosen() const { return Narrow(path.c_str(), wcslen(path.c_str())); }

    std::wstring filter;
    std::wstring folder;
    std::wstring path = std::wstring(32768, L'\0');
    OPENFILENAMEW ofn{};
};

void AddColumns(HWND list, const ResultColumn* columns, size_t count) {
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                 LVS_EX_FULLROWSELECT | LVS_EX_LABELTIP | LVS_EX_DOUBLEBUFFER);
    for (size_t i = 0; i < count; ++i) {
        std::wstring header = Wide(columns[i].header);
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.cx = MulDiv(columns[i].width, WindowDpi(list), 96);
        column.pszText = header.data();
        SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
}

void SetCell(HWND list, int row, int column, const std::string& text) {
    std::wstring wide = Wide(text);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.iSubItem = column;
    item.pszText = wide.data();
    if (column == 0) {
        SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    } else {
        SendMessageW(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    }
}

// The text of an edit.
std::string EditText(HWND hwnd, int id) {
    HWND edit = GetDlgItem(hwnd, id);
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(edit)) + 1, L'\0');
    const int n = GetWindowTextW(edit, text.data(), static_cast<int>(text.size()));
    return Narrow(text.c_str(), static_cast<size_t>(std::max(0, n)));
}

}  // namespace

PromptAnswer AskMessage(HWND owner, const Question& q) {
    static const UINT icons[] = {0, MB_ICONINFORMATION, MB_ICONWARNING, MB_ICONERROR,
                                 MB_ICONQUESTION};
    UINT type = (q.yesNo ? MB_YESNO : MB_OK) | icons[static_cast<int>(q.icon)];
    if (q.yesNo && q.defaultAnswer == PromptAnswer::No) {
        type |= MB_DEFBUTTON2;
    }
    const int pressed = MessageBoxW(owner, Wide(q.text).c_str(), Wide(q.caption).c_str(), type);
    return pressed == IDYES  ? PromptAnswer::Yes
           : pressed == IDNO ? PromptAnswer::No
                             : PromptAnswer::Ok;
}

std::optional<SaveAnswer> ChooseSaveFile(HWND owner, const SaveRequest& request) {
    // A name with a folder opens in that folder; a bare name in the user's documents.
    std::wstring initial = Wide(request.initialName);
    std::wstring folder;
    if (const size_t cut = initial.find_last_of(L"\\/"); cut != std::wstring::npos) {
        folder = initial.substr(0, cut);
        initial.erase(0, cut + 1);
    }
    FileDialog dialog(owner, request.types, folder);
    initial.copy(dialog.path.data(), std::min(initial.size(), dialog.path.size() - 1));
    const std::wstring suffix = Wide(request.defaultSuffix);
    dialog.ofn.lpstrDefExt = suffix.empty() ? nullptr : suffix.c_str();
    dialog.ofn.Flags |= OFN_OVERWRITEPROMPT;
    if (!GetSaveFileNameW(&dialog.ofn)) {
        return std::nullopt;
    }
    const DWORD type = dialog.ofn.nFilterIndex;
    return SaveAnswer{dialog.Chosen(), type > 0 ? type - 1 : 0};
}

std::optional<std::string> ChooseOpenFile(HWND owner, const OpenRequest& request) {
    FileDialog dialog(owner, request.types, {});
    const std::wstring title = Wide(request.title);
    dialog.ofn.lpstrTitle = title.c_str();
    dialog.ofn.Flags |= OFN_FILEMUSTEXIST;
    if (!GetOpenFileNameW(&dialog.ofn)) {
        return std::nullopt;
    }
    return dialog.Chosen();
}

std::optional<std::vector<std::int64_t>> ChooseFailures(HWND owner,
                                                        const std::vector<FailureRow>& rows) {
    DialogTemplate dialog(kFailuresTitle, kFailuresWidth, kFailuresHeight, kModalStyle);
    dialog.AddAll(kFailuresControls);
    std::optional<std::vector<std::int64_t>> answer;
    RunModal(owner, dialog, [&](HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) -> INT_PTR {
        HWND list = GetDlgItem(hwnd, IDC_FAILURES_LIST);
        switch (message) {
            case WM_INITDIALOG:
                AddColumns(list, kFailureColumns, std::size(kFailureColumns));
                for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
                    const std::array<std::string, 5> cells = rows[static_cast<size_t>(r)].Cells();
                    for (int c = 0; c < static_cast<int>(std::size(cells)); ++c) {
                        SetCell(list, r, c, cells[c]);
                    }
                }
                EnableWindow(GetDlgItem(hwnd, IDC_RETRY_SELECTED), FALSE);
                return TRUE;
            case WM_NOTIFY:
                if (reinterpret_cast<const NMHDR*>(lParam)->code == LVN_ITEMCHANGED) {
                    EnableWindow(GetDlgItem(hwnd, IDC_RETRY_SELECTED),
                                 SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0) > 0);
                }
                return FALSE;
            case WM_COMMAND:
                switch (LOWORD(wParam)) {
                    case IDC_RETRY_SELECTED: {
                        std::vector<std::int64_t> ids;
                        for (int i = -1; (i = static_cast<int>(SendMessageW(
                                              list, LVM_GETNEXTITEM, static_cast<WPARAM>(i),
                                              LVNI_SELECTED))) >= 0;) {
                            ids.push_back(rows[static_cast<size_t>(i)].id);
                        }
                        answer = std::move(ids);
                        EndDialog(hwnd, IDOK);
                        return TRUE;
                    }
                    case IDC_RETRY_ALL:
                        answer = std::vector<std::int64_t>{};
                        EndDialog(hwnd, IDOK);
                        return TRUE;
                    case IDC_FAILURES_CLOSE:
                    case IDCANCEL:
                        EndDialog(hwnd, IDCANCEL);
                        return TRUE;
                    default:
                        return FALSE;
                }
            default:
                return FALSE;
        }
    });
    return answer;
}

std::optional<ExportChoice> ChooseExport(HWND owner, const ExportChoice& offer) {
    DialogTemplate dialog(kExportTitle, kExportWidth, kExportHeight, kModalStyle);
    dialog.AddAll(kExportControls);
    std::optional<ExportChoice> answer;
    RunModal(owner, dialog, [&](HWND hwnd, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
        HWND date = GetDlgItem(hwnd, IDC_SINCE_DATE);
        if (message == WM_INITDIALOG) {
            SetDlgItemTextW(hwnd, IDC_SCOPE_SEARCH,
                            Wide(offer.search.empty() ? std::string(kSearchScopeNone)
                                                      : kSearchScopeOf + offer.search)
                                .c_str());
            EnableWindow(GetDlgItem(hwnd, IDC_SCOPE_SEARCH), !offer.search.empty());
            CheckRadioButton(
                hwnd, IDC_SEARCH_ALL, IDC_SCOPE_SEARCH,
                offer.ofSearch && !offer.search.empty() ? IDC_SCOPE_SEARCH : IDC_SEARCH_ALL);
            CheckRadioButton(hwnd, IDC_PERIOD_ALL, IDC_PERIOD_OF_RUN,
                             IDC_PERIOD_ALL + static_cast<int>(offer.period));
            EnableWindow(GetDlgItem(hwnd, IDC_PERIOD_OF_RUN), offer.runOffered);
            SendMessageW(date, DTM_SETFORMATW, 0, reinterpret_cast<LPARAM>(L"yyyy-MM-dd"));
            SYSTEMTIME day{};
            if (std::sscanf(offer.since.c_str(), "%hu-%hu-%hu", &day.wYear, &day.wMonth,
                            &day.wDay) == 3) {
                SendMessageW(date, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&day));
            }
            CheckDlgButton(hwnd, IDC_COMPLETE_ONLY,
                           offer.completeOnly ? BST_CHECKED : BST_UNCHECKED);
            CheckDlgButton(hwnd, IDC_ALL_COLUMNS, offer.allColumns ? BST_CHECKED : BST_UNCHECKED);
            return TRUE;
        }
        if (message != WM_COMMAND) {
            return FALSE;
        }
        switch (LOWORD(wParam)) {
            case IDOK:
            case IDC_EXPORT_NEXT: {
                ExportChoice choice = offer;
                choice.ofSearch = IsDlgButtonChecked(hwnd, IDC_SCOPE_SEARCH) == BST_CHECKED;
                for (int id = IDC_PERIOD_ALL; id <= IDC_PERIOD_OF_RUN; ++id) {
                    if (IsDlgButtonChecked(hwnd, id) == BST_CHECKED) {
                        choice.period = static_cast<ExportChoice::Period>(id - IDC_PERIOD_ALL);
                    }
                }
                SYSTEMTIME day{};
                if (SendMessageW(date, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&day)) ==
                    GDT_VALID) {
                    char text[16];
                    std::snprintf(text, sizeof text, "%04u-%02u-%02u", day.wYear, day.wMonth,
                                  day.wDay);
                    choice.since = text;
                }
                choice.completeOnly = IsDlgButtonChecked(hwnd, IDC_COMPLETE_ONLY) == BST_CHECKED;
                choice.allColumns = IsDlgButtonChecked(hwnd, IDC_ALL_COLUMNS) == BST_CHECKED;
                answer = choice;
                EndDialog(hwnd, IDOK);
                return TRUE;
            }
            case IDC_EXPORT_CANCEL:
            case IDCANCEL:
                EndDialog(hwnd, IDCANCEL);
                return TRUE;
            default:
                return FALSE;
        }
    });
    return answer;
}

std::optional<HotKeySpec> ChooseHotKey(HWND owner, const HotKeySpec& current) {
    DialogTemplate dialog(kHotKeyTitle, kHotKeyWidth, kHotKeyHeight, kModalStyle);
    dialog.AddAll(kHotKeyControls);
    std::optional<HotKeySpec> answer;
    RunModal(owner, dialog, [&](HWND hwnd, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
        if (message == WM_INITDIALOG) {
            CheckRadioButton(
                hwnd, IDC_HOTKEY_NONE, IDC_HOTKEY_F1 + 11,
                current.Off() ? IDC_HOTKEY_NONE : IDC_HOTKEY_F1 + current.function - 1);
            CheckDlgButton(hwnd, IDC_HOTKEY_CTRL, current.ctrl ? BST_CHECKED : BST_UNCHECKED);
            CheckDlgButton(hwnd, IDC_HOTKEY_ALT, current.alt ? BST_CHECKED : BST_UNCHECKED);
            CheckDlgButton(hwnd, IDC_HOTKEY_SHIFT, current.shift ? BST_CHECKED : BST_UNCHECKED);
            return TRUE;
        }
        if (message != WM_COMMAND) {
            return FALSE;
        }
        switch (LOWORD(wParam)) {
            case IDOK:
            case IDC_HOTKEY_OK: {
                HotKeySpec chosen{0};
                for (int f = 1; f <= 12; ++f) {
                    if (IsDlgButtonChecked(hwnd, IDC_HOTKEY_F1 + f - 1) == BST_CHECKED) {
                        chosen.function = f;
                    }
                }
                chosen.ctrl = IsDlgButtonChecked(hwnd, IDC_HOTKEY_CTRL) == BST_CHECKED;
                chosen.alt = IsDlgButtonChecked(hwnd, IDC_HOTKEY_ALT) == BST_CHECKED;
                chosen.shift = IsDlgButtonChecked(hwnd, IDC_HOTKEY_SHIFT) == BST_CHECKED;
                answer = chosen;
                EndDialog(hwnd, IDOK);
                return TRUE;
            }
            case IDC_HOTKEY_CANCEL:
            case IDCANCEL:
                EndDialog(hwnd, IDCANCEL);
                return TRUE;
            default:
                return FALSE;
        }
    });
    return answer;
}

void ShowAboutBox(HWND owner, const std::string& storeName) {
    DialogTemplate dialog(kAboutTitle, kAboutWidth, kAboutHeight, kModalStyle);
    dialog.AddAll(kAboutControls);
    RunModal(owner, dialog, [&](HWND hwnd, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
        if (message == WM_INITDIALOG) {
            HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1));
            SendDlgItemMessageW(hwnd, IDC_ABOUT_ICON, STM_SETICON, reinterpret_cast<WPARAM>(icon),
                                0);
            // Where the records are kept (the rule under it comes with the table).
            SetDlgItemTextW(hwnd, IDC_ABOUT_STORE, Wide(kAboutStore + storeName).c_str());
            return TRUE;
        }
        if (message == WM_COMMAND && (LOWORD(wParam) == IDC_ABOUT_OK || LOWORD(wParam) == IDOK ||
                                      LOWORD(wParam) == IDCANCEL)) {
            EndDialog(hwnd, IDOK);
            return TRUE;
        }
        return FALSE;
    });
}

std::optional<std::string> AskSearchName(HWND owner, const std::string& proposed) {
    DialogTemplate dialog(kSearchNameTitle, kSearchNameWidth, kSearchNameHeight, kModalStyle);
    dialog.AddAll(kSearchNameControls);
    std::optional<std::string> answer;
    RunModal(owner, dialog, [&](HWND hwnd, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
        if (message == WM_INITDIALOG) {
            SetDlgItemTextW(hwnd, IDC_SEARCH_NAME, Wide(proposed).c_str());
            SendDlgItemMessageW(hwnd, IDC_SEARCH_NAME, EM_SETSEL, 0, -1);
            SetFocus(GetDlgItem(hwnd, IDC_SEARCH_NAME));
            return FALSE;  // the focus is set
        }
        if (message != WM_COMMAND) {
            return FALSE;
        }
        switch (LOWORD(wParam)) {
            case IDOK:
            case IDC_SEARCH_NAME_OK:
                answer = EditText(hwnd, IDC_SEARCH_NAME);
                EndDialog(hwnd, IDOK);
                return TRUE;
            case IDC_SEARCH_NAME_CANCEL:
            case IDCANCEL:
                EndDialog(hwnd, IDCANCEL);
                return TRUE;
            default:
                return FALSE;
        }
    });
    return answer;
}

std::optional<ScheduleChoice> ChooseSchedule(HWND owner, const ScheduleOffer& offer) {
    DialogTemplate dialog(kScheduleTitle, kScheduleWidth, kScheduleHeight, kModalStyle);
    dialog.AddAll(kScheduleControls);
    std::optional<ScheduleChoice> answer;
    static constexpr ResultColumn kNameColumn[] = {{"名称", 180}};
    RunModal(owner, dialog, [&](HWND hwnd, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
        HWND searches = GetDlgItem(hwnd, IDC_SCHED_SEARCHES);
        HWND listed = GetDlgItem(hwnd, IDC_SCHED_LIST);
        if (message == WM_INITDIALOG) {
            AddColumns(searches, kNameColumn, std::size(kNameColumn));
            for (int r = 0; r < static_cast<int>(offer.searches.size()); ++r) {
                const std::string& name = offer.searches[static_cast<size_t>(r)];
                SetCell(searches, r, 0, name);
                if (std::find(offer.last.searches.begin(), offer.last.searches.end(), name) !=
                    offer.last.searches.end()) {
                    LVITEMW state{};
                    state.stateMask = LVIS_SELECTED;
                    state.state = LVIS_SELECTED;
                    SendMessageW(searches, LVM_SETITEMSTATE, static_cast<WPARAM>(r),
                                 reinterpret_cast<LPARAM>(&state));
                }
            }
            AddColumns(listed, kScheduleColumns, std::size(kScheduleColumns));
            for (int r = 0; r < static_cast<int>(offer.schedules.size()); ++r) {
                const ScheduleOffer::Listed& s = offer.schedules[static_cast<size_t>(r)];
                SetCell(listed, r, 0, std::to_string(s.id));
                SetCell(listed, r, 1, s.when);
                SetCell(listed, r, 2, s.command);
            }
            CheckRadioButton(hwnd, IDC_SCHED_DAILY, IDC_SCHED_WEEKLY,
                             offer.last.daily ? IDC_SCHED_DAILY : IDC_SCHED_WEEKLY);
            for (int d : offer.last.weekdays) {
                CheckDlgButton(hwnd, IDC_SCHED_DAY1 + d - 1, BST_CHECKED);
            }
            SetDlgItemTextW(hwnd, IDC_SCHED_TIME, Wide(offer.last.time).c_str());
            CheckDlgButton(hwnd, IDC_SCHED_EXPORT, offer.last.exportNew ? BST_CHECKED : 0);
            SetDlgItemTextW(hwnd, IDC_SCHED_FOLDER, Wide(offer.last.exportFolder).c_str());
            return TRUE;
        }
        if (message != WM_COMMAND) {
            return FALSE;
        }
        switch (LOWORD(wParam)) {
            case IDOK:
            case IDC_SCHED_ADD: {
                ScheduleChoice choice;
                choice.daily = IsDlgButtonChecked(hwnd, IDC_SCHED_DAILY) == BST_CHECKED;
                for (int d = 1; d <= 7; ++d) {
                    if (IsDlgButtonChecked(hwnd, IDC_SCHED_DAY1 + d - 1) == BST_CHECKED) {
                        choice.weekdays.push_back(d);
                    }
                }
                choice.time = EditText(hwnd, IDC_SCHED_TIME);
                for (int i = -1; (i = static_cast<int>(SendMessageW(searches, LVM_GETNEXTITEM,
                                                                    static_cast<WPARAM>(i),
                                                                    LVNI_SELECTED))) >= 0;) {
                    choice.searches.push_back(offer.searches[static_cast<size_t>(i)]);
                }
                choice.exportNew = IsDlgButtonChecked(hwnd, IDC_SCHED_EXPORT) == BST_CHECKED;
                choice.exportFolder = EditText(hwnd, IDC_SCHED_FOLDER);
                answer = choice;
                EndDialog(hwnd, IDOK);
                return TRUE;
            }
            case IDC_SCHED_REMOVE: {
                const int row = static_cast<int>(
                    SendMessageW(listed, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
                if (row < 0 || row >= static_cast<int>(offer.schedules.size())) {
                    return TRUE;
                }
                ScheduleChoice choice = offer.last;
                choice.remove = true;
                choice.removeId = offer.schedules[static_cast<size_t>(row)].id;
                answer = choice;
                EndDialog(hwnd, IDOK);
                return TRUE;
            }
            case IDC_SCHED_CLOSE:
            case IDCANCEL:
                EndDialog(hwnd, IDCANCEL);
                return TRUE;
            default:
                return FALSE;
        }
    });
    return answer;
}
