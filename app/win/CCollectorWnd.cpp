#include "app/win/CCollectorWnd.h"

#include <commctrl.h>
#include <uxtheme.h>
#include <windowsx.h>

#include <algorithm>
#include <iostream>
#include <iterator>

#include "app/model/Dialogs.h"
#include "app/model/UserSettings.h"
#include "app/win/DialogTemplate.h"
#include "app/win/UserPrompts.h"
#include "app/win/WaitBox.h"
#include "app/win/WindowDpi.h"
#include "platform/windows/Wide.h"

using platform::win::Narrow;
using platform::win::Wide;

namespace {

constexpr UINT_PTR kTickTimer = 1;
constexpr UINT_PTR kFilterTimer = 2;
constexpr UINT kRelayout = WM_APP + 2;  // lays out again after Windows scaled the window

// The column a data row shows: the nine fields, when it was collected, for which search.
const std::string& DataCell(const ResultRow& row, size_t column) {
    if (column < row.fields.size()) {
        return row.fields[column];
    }
    return column == row.fields.size() ? row.collected : row.search;
}

}  // namespace

CCollectorWnd::CCollectorWnd(std::string storePath, const Clock& clock, bool printState,
                             std::string storeNotice)
    : storePath_(std::move(storePath)),
      storeNotice_(std::move(storeNotice)),
      clock_(clock),
      printState_(printState) {}

CCollectorWnd::~CCollectorWnd() {
    {
        std::lock_guard<std::mutex> lock(posted_.mutex);
        posted_.hwnd = nullptr;
        posted_.work.clear();
    }
    model_.reset();  // before the controls it draws into
    if (hwnd_ != nullptr) {
        DestroyWindow(hwnd_);
    }
    for (HICON icon : {icon_, smallIcon_}) {
        if (icon != nullptr) {
            DestroyIcon(icon);
        }
    }
}

bool CCollectorWnd::Create(int show) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    DialogTemplate main(kWindowTitle, kDialogWidth, kDialogHeight,
                        WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX |
                            WS_THICKFRAME | DS_CENTER);
    main.AddAll(kMainControls);
    // The run's list, placed on the list tab's first page by Layout.
    main.Add(
        IDC_RESULT_LIST, WC_LISTVIEWW, "",
        LVS_REPORT | LVS_OWNERDATA | LVS_SINGLESEL | LVS_SHOWSELALWAYS | WS_BORDER | WS_TABSTOP, 0,
        0, 10, 10);
    hwnd_ = CreateDialogIndirectParamW(instance, main.Get(), nullptr, DialogProc,
                                       reinterpret_cast<LPARAM>(this));
    if (hwnd_ == nullptr) {
        return false;
    }
    CreateControls();
    {
        std::lock_guard<std::mutex> lock(posted_.mutex);
        posted_.hwnd = hwnd_;
    }
    model_ = std::make_unique<WindowModel>(storePath_, UserSettings::DefaultPath(), *this, clock_);
    model_->SetStoreNotice(storeNotice_);
    Nested([this] {
        if (printState_) {
            Render(model_->State());  // the first line, before any input
        }
        model_->Open();
    });
    SetTimer(hwnd_, kTickTimer, 100, nullptr);
    // F2 from any window. MOD_NOREPEAT: holding the key toggles once.
    hotKey_ = RegisterHotKey(hwnd_, kHotKeyId, MOD_NOREPEAT, VK_F2) != FALSE;
    if (printState_) {
        std::cout << "hotkey F2=" << (hotKey_ ? "on" : "off") << std::endl;
    }
    ShowWindow(hwnd_, show);
    return true;
}

void CCollectorWnd::CreateControls() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    icon_ =
        static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                      GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    smallIcon_ = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), 0));
    SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));

    // The pages: child dialogs in the tabs' display areas, so Tab moves into them.
    DialogTemplate condition("", 10, 10, WS_CHILD | DS_CONTROL);
    condition.AddAll(kConditionControls);
    condition_ = CreateDialogIndirectParamW(instance, condition.Get(), hwnd_, PageProc,
                                            reinterpret_cast<LPARAM>(this));
    DialogTemplate data("", 10, 10, WS_CHILD | DS_CONTROL);
    for (size_t i = 0; i < std::size(kDataPaneControls); ++i) {
        const ControlSpec& c = kDataPaneControls[i];
        if (c.kind == ControlKind::List) {
            data.Add(c.id, WC_LISTVIEWW, "",
                     LVS_REPORT | LVS_OWNERDATA | LVS_SINGLESEL | LVS_SHOWSELALWAYS | WS_BORDER |
                         WS_TABSTOP,
                     c.x, c.y, c.cx, c.cy);
        } else {
            ControlSpec named = c;
            named.id = DialogTemplate::IdAt(kDataPaneControls, i);
            data.Add(named);
        }
    }
    dataPane_ = CreateDialogIndirectParamW(instance, data.Get(), hwnd_, PageProc,
                                           reinterpret_cast<LPARAM>(this));

    HWND tab = GetDlgItem(hwnd_, IDC_TAB);
    std::wstring title = Wide(kConditionTabTitle);
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = title.data();
    SendMessageW(tab, TCM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    HWND listTab = GetDlgItem(hwnd_, IDC_LIST_TAB);
    int index = 0;
    for (const char* text : {kRunListTitle, kDataPaneTitle}) {
        title = Wide(text);
        item.pszText = title.data();
        SendMessageW(listTab, TCM_INSERTITEMW, index++, reinterpret_cast<LPARAM>(&item));
    }
    // The pages on a themed tab take its face.
    for (HWND page : {condition_, dataPane_}) {
        EnableThemeDialogTexture(page, ETDT_ENABLETAB);
    }
    AddTooltips();
    SetColumns(Item(IDC_RESULT_LIST), kResultColumns, std::size(kResultColumns));
    SetColumns(Item(IDC_DATA_LIST), kDataColumns, std::size(kDataColumns));
    // The edits take no more than a setting can hold.
    for (int id : {IDC_EVERY_N, IDC_PAUSE_SECONDS, IDC_PARALLEL, IDC_TIMEOUT, IDC_START_PAGE}) {
        SendMessageW(Item(id), EM_SETLIMITTEXT, 9, 0);
    }
    SetTabOrder();
    ShowListPage(0);
    ShowWindow(condition_, SW_SHOW);
    Layout();
}

void CCollectorWnd::SetColumns(HWND list, const ResultColumn* columns, size_t count) {
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                 LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_DOUBLEBUFFER);
    // A cell's tip: the whole text of a cut cell, the reason of a grey row. The tip is told of
    // a new cell (ListProc) after it has seen the move itself.
    TOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = hwnd_;
    tool.uId = reinterpret_cast<UINT_PTR>(list);
    tool.lpszText = LPSTR_TEXTCALLBACKW;
    SendMessageW(cellTip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    SetWindowSubclass(list, ListProc, 0, reinterpret_cast<DWORD_PTR>(this));
    // The columns' widths are pixels at 96 dots per inch.
    const int dpi = WindowDpi(hwnd_);
    dpi_ = dpi;
    for (size_t i = 0; i < count; ++i) {
        std::wstring header = Wide(columns[i].header);
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        column.fmt = LVCFMT_LEFT;
        column.cx = MulDiv(columns[i].width, dpi, 96);
        column.pszText = header.data();
        SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
}

LRESULT CALLBACK CCollectorWnd::ListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR, DWORD_PTR data) {
    if (message == WM_MOUSEMOVE) {
        reinterpret_cast<CCollectorWnd*>(data)->PointAt(list, lParam);
    } else if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(list, ListProc, 0);
    }
    return DefSubclassProc(list, message, wParam, lParam);
}

void CCollectorWnd::PointAt(HWND list, LPARAM at) {
    LVHITTESTINFO hit{};
    hit.pt = {GET_X_LPARAM(at), GET_Y_LPARAM(at)};
    SendMessageW(list, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    const std::pair<HWND, std::pair<int, int>> cell{list, {hit.iItem, hit.iSubItem}};
    if (cell != tipCell_) {
        tipCell_ = cell;
        SendMessageW(cellTip_, TTM_POP, 0, 0);  // the tip shows anew for the new cell
    }
}

std::wstring CCollectorWnd::CellTip(HWND list) const {
    // The cell under the pointer now: the rows may have changed since it got there.
    LVHITTESTINFO hit{};
    GetCursorPos(&hit.pt);
    ScreenToClient(list, &hit.pt);
    SendMessageW(list, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    if (!model_ || hit.iItem < 0 || hit.iSubItem < 0) {
        return {};
    }
    const WindowState& state = model_->State();
    const bool run = list == Item(IDC_RESULT_LIST);
    const auto& rows = run ? state.rows : state.dataRows;
    const auto row = static_cast<size_t>(hit.iItem);
    const auto column = static_cast<size_t>(hit.iSubItem);
    if (row >= rows.size() ||
        column >= (run ? std::size(kResultColumns) : std::size(kDataColumns))) {
        return {};
    }
    if (rows[row].waiting) {
        return Wide(kWaitingRowTip);
    }
    const std::wstring whole = Wide(DataCell(rows[row], column));
    // Cut when wider than its column less the list's margins.
    HDC dc = GetDC(list);
    HGDIOBJ font =
        SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(list, WM_GETFONT, 0, 0)));
    SIZE size{};
    GetTextExtentPoint32W(dc, whole.c_str(), static_cast<int>(whole.size()), &size);
    SelectObject(dc, font);
    ReleaseDC(list, dc);
    const int room =
        static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, column, 0)) - MulDiv(12, dpi_, 96);
    return size.cx > room ? whole : std::wstring();
}

void CCollectorWnd::ScaleColumns(int dpi) {
    if (dpi <= 0 || dpi == dpi_) {
        return;
    }
    for (HWND list : {Item(IDC_RESULT_LIST), Item(IDC_DATA_LIST)}) {
        HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
        const int columns = static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
        for (int i = 0; i < columns; ++i) {
            const int width = static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, i, 0));
            SendMessageW(list, LVM_SETCOLUMNWIDTH, i, MulDiv(width, dpi, dpi_));
        }
    }
    dpi_ = dpi;
}

void CCollectorWnd::AddTooltips() {
    cellTip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                               WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
    SendMessageW(cellTip_, TTM_SETMAXTIPWIDTH, 0, 600);
    for (auto [page, tip] : {std::pair{hwnd_, &tooltip_}, std::pair{dataPane_, &dataTooltip_}}) {
        *tip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, page,
                               nullptr, GetModuleHandleW(nullptr), nullptr);
        SendMessageW(*tip, TTM_SETMAXTIPWIDTH, 0, 400);
    }
    auto add = [](HWND tip, HWND owner, HWND control, const char* text) {
        std::wstring wide = Wide(text);
        TOOLINFOW info{};
        info.cbSize = sizeof(info);
        info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        info.hwnd = owner;
        info.uId = reinterpret_cast<UINT_PTR>(control);
        info.lpszText = wide.data();
        SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
    };
    for (const ControlSpec& c : kMainControls) {
        if (c.tooltip != nullptr) {
            add(tooltip_, hwnd_, Item(c.id), c.tooltip);
        }
    }
    for (const ControlSpec& c : kDataPaneControls) {
        if (c.tooltip != nullptr) {
            add(dataTooltip_, dataPane_, Item(c.id), c.tooltip);
        }
    }
    // Why 开始采集 is greyed: a greyed button gets no mouse messages, so the tip belongs to the
    // window over the button's rectangle (placed by Layout).
    TOOLINFOW info{};
    info.cbSize = sizeof(info);
    info.uFlags = TTF_SUBCLASS;
    info.hwnd = hwnd_;
    info.uId = IDC_START;
    info.lpszText = const_cast<wchar_t*>(L"");
    SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
}

void CCollectorWnd::SetTabOrder() {
    // The order of the windows is the order of Tab. A control on a page stands for its page.
    HWND previous = HWND_TOP;
    for (int id : kTabOrder) {
        HWND h = Item(id);
        if (GetParent(h) == condition_) {
            h = condition_;
        }
        if (h == previous) {
            continue;
        }
        SetWindowPos(h, previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        previous = h;
    }
    SetWindowPos(dataPane_, Item(IDC_RESULT_LIST), 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    // The tabs lie under their pages.
    for (int id : {IDC_TAB, IDC_LIST_TAB}) {
        SetWindowPos(Item(id), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
}

HWND CCollectorWnd::Item(int id) const {
    if (HWND h = GetDlgItem(hwnd_, id)) {
        return h;
    }
    if (HWND h = condition_ != nullptr ? GetDlgItem(condition_, id) : nullptr) {
        return h;
    }
    return dataPane_ != nullptr ? GetDlgItem(dataPane_, id) : nullptr;
}

std::wstring CCollectorWnd::ItemText(int id) const {
    HWND h = Item(id);
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(h)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(h, text.data(), static_cast<int>(text.size()))));
    return text;
}

void CCollectorWnd::SetItemText(int id, const std::string& utf8) {
    const std::wstring text = Wide(utf8);
    if (ItemText(id) != text) {
        SetWindowTextW(Item(id), text.c_str());
    }
}

RECT CCollectorWnd::DialogRect(HWND dialog, int x, int y, int cx, int cy) const {
    RECT r{x, y, x + cx, y + cy};
    MapDialogRect(dialog, &r);
    return r;
}

void CCollectorWnd::Layout() {
    if (hwnd_ == nullptr || dataPane_ == nullptr) {
        return;
    }
    // The template is the smallest window: right-hand controls follow the right edge, the
    // bottom row the bottom edge, and the list area takes the rest.
    RECT client;
    GetClientRect(hwnd_, &client);
    const RECT smallest = DialogRect(hwnd_, 0, 0, kDialogWidth, kDialogHeight);
    const int dx = std::max(0L, client.right - smallest.right);
    const int dy = std::max(0L, client.bottom - smallest.bottom);
    for (size_t i = 0; i < std::size(kMainControls); ++i) {
        const ControlSpec& c = kMainControls[i];
        RECT r = DialogRect(hwnd_, c.x, c.y, c.cx, c.cy);
        if (c.id == IDC_TAB) {
            r.right += dx;
        } else if (c.id == IDC_LIST_TAB) {
            r.right += dx;
            r.bottom += dy;
        } else if (c.right || c.bottom) {
            OffsetRect(&r, c.right ? dx : 0, c.bottom ? dy : 0);
        } else {
            continue;
        }
        MoveWindow(GetDlgItem(hwnd_, DialogTemplate::IdAt(kMainControls, i)), r.left, r.top,
                   r.right - r.left, r.bottom - r.top, TRUE);
        if (c.id == IDC_START) {
            TOOLINFOW info{};
            info.cbSize = sizeof(info);
            info.hwnd = hwnd_;
            info.uId = IDC_START;
            info.rect = r;
            SendMessageW(tooltip_, TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&info));
        }
    }
    // The pages fill their tabs' display areas.
    auto pageOf = [this](int tabId) {
        HWND tab = GetDlgItem(hwnd_, tabId);
        RECT r;
        GetWindowRect(tab, &r);
        MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&r), 2);
        SendMessageW(tab, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&r));
        return r;
    };
    const RECT search = pageOf(IDC_TAB);
    MoveWindow(condition_, search.left, search.top, search.right - search.left,
               search.bottom - search.top, TRUE);
    const RECT list = pageOf(IDC_LIST_TAB);
    for (HWND page : {Item(IDC_RESULT_LIST), dataPane_}) {
        MoveWindow(page, list.left, list.top, list.right - list.left, list.bottom - list.top, TRUE);
    }
    // The collected data's page: its buttons keep to the right, its list fills the rest.
    const int width = list.right - list.left;
    const int height = list.bottom - list.top;
    const ControlSpec& dataList = kDataPaneControls[std::size(kDataPaneControls) - 1];
    const RECT base = DialogRect(dataPane_, 0, 0, dataList.cx, 0);
    const int pageDx = std::max(0L, width - base.right);
    for (size_t i = 0; i < std::size(kDataPaneControls); ++i) {
        const ControlSpec& c = kDataPaneControls[i];
        RECT r = DialogRect(dataPane_, c.x, c.y, c.cx, c.cy);
        if (c.kind == ControlKind::List) {
            r.right = width;
            r.bottom = height;
        } else if (c.id == IDC_DATA_COUNTS) {
            r.right += pageDx;
        } else if (c.right) {
            OffsetRect(&r, pageDx, 0);
        } else {
            continue;
        }
        MoveWindow(GetDlgItem(dataPane_, DialogTemplate::IdAt(kDataPaneControls, i)), r.left, r.top,
                   r.right - r.left, r.bottom - r.top, TRUE);
    }
}

void CCollectorWnd::ShowListPage(int page) {
    SendMessageW(Item(IDC_LIST_TAB), TCM_SETCURSEL, page, 0);
    ShowWindow(Item(IDC_RESULT_LIST), page == 0 ? SW_SHOW : SW_HIDE);
    ShowWindow(dataPane_, page == 1 ? SW_SHOW : SW_HIDE);
}

int CCollectorWnd::Run() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        // Enter never presses a button (the dialog manager would press the focused one).
        if ((msg.message == WM_KEYDOWN || msg.message == WM_CHAR) && msg.wParam == VK_RETURN &&
            hwnd_ != nullptr && (msg.hwnd == hwnd_ || IsChild(hwnd_, msg.hwnd))) {
            continue;
        }
        if (hwnd_ != nullptr && IsDialogMessageW(hwnd_, &msg)) {
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

INT_PTR CALLBACK CCollectorWnd::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        auto* self = reinterpret_cast<CCollectorWnd*>(lParam);
        self->hwnd_ = hwnd;
        return FALSE;  // the model puts the focus
    }
    auto* self = reinterpret_cast<CCollectorWnd*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (self == nullptr) {
        return FALSE;
    }
    INT_PTR result = FALSE;
    self->Nested([&] { result = self->Handle(message, wParam, lParam); });
    return result;
}

INT_PTR CALLBACK CCollectorWnd::PageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        return FALSE;
    }
    auto* self = reinterpret_cast<CCollectorWnd*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (self == nullptr) {
        return FALSE;
    }
    // A page's controls speak to the window.
    switch (message) {
        case WM_COMMAND:
            self->Nested([&] { self->OnCommand(LOWORD(wParam), HIWORD(wParam)); });
            return TRUE;
        case WM_NOTIFY:
            self->Nested([&] {
                SetWindowLongPtrW(hwnd, DWLP_MSGRESULT,
                                  self->OnNotify(*reinterpret_cast<const NMHDR*>(lParam)));
            });
            return TRUE;
        default:
            return FALSE;
    }
}

void CCollectorWnd::Nested(const std::function<void()>& handle) {
    // While a message is being handled the model may be busy in a nested loop (a box, a wait
    // for its workers): a close that arrives then is done once the outermost one is handled.
    struct Depth {
        int& depth;
        explicit Depth(int& d) : depth(++d) {}
        ~Depth() { --depth; }
    };
    {
        const Depth depth(inModel_);
        handle();
    }
    if (inModel_ == 0 && closePending_ && hwnd_ != nullptr) {
        closePending_ = false;
        PostMessageW(hwnd_, WM_CLOSE, 0, 0);
    }
}

INT_PTR CCollectorWnd::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        case WM_NOTIFY:
            SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT,
                              OnNotify(*reinterpret_cast<const NMHDR*>(lParam)));
            return TRUE;
        case WM_TIMER:
            if (wParam == kTickTimer && model_) {
                PostPending();
                model_->Tick();
            } else if (wParam == kFilterTimer && model_) {
                KillTimer(hwnd_, kFilterTimer);
                model_->FilterData();
            }
            return TRUE;
        case WM_HOTKEY:
            if (wParam == kHotKeyId && model_) {
                model_->HotKey();
            }
            return TRUE;
        case kRunPosted:
            RunPosted();
            return TRUE;
        case WM_SIZE:
        case kRelayout:
            Layout();
            return TRUE;
        case WM_DPICHANGED:
            // The dialog manager scales the window, its controls and their font (left to it:
            // FALSE); the lists' columns and the layout follow.
            ScaleColumns(LOWORD(wParam));
            PostMessageW(hwnd_, kRelayout, 0, 0);
            return FALSE;
        case WM_QUERYENDSESSION:
            // Logging off: as closing the window, which the user may refuse during a run.
            SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, !model_ || (inModel_ == 1 && Shutdown()));
            return TRUE;
        case WM_ENDSESSION:
            if (!model_) {  // closed by the query: nothing is left to do in this window
                DestroyWindow(hwnd_);
            }
            return TRUE;
        case WM_GETMINMAXINFO: {
            if (dataPane_ == nullptr) {
                return FALSE;
            }
            RECT r = DialogRect(hwnd_, 0, 0, kDialogWidth, kDialogHeight);
            AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongW(hwnd_, GWL_STYLE)), FALSE,
                               static_cast<DWORD>(GetWindowLongW(hwnd_, GWL_EXSTYLE)));
            auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
            info->ptMinTrackSize = {r.right - r.left, r.bottom - r.top};
            return TRUE;
        }
        case WM_CLOSE:
            Close();
            return TRUE;
        case WM_DESTROY:
            hwnd_ = nullptr;
            PostQuitMessage(0);
            return TRUE;
        default:
            return FALSE;
    }
}

void CCollectorWnd::OnCommand(int id, int code) {
    if (!model_) {
        return;
    }
    WindowModel& model = *model_;
    if (code == BN_CLICKED) {
        if (model.Press(id)) {
            return;
        }
        if (id == IDC_SKIP_KNOWN) {
            model.SetSkipKnown(SendMessageW(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED);
        }
        // Enter (IDOK) and Esc (IDCANCEL) do nothing: only the close box closes the window.
        return;
    }
    if (code != EN_CHANGE || rendering_) {
        return;
    }
    const std::string text = Narrow(ItemText(id));
    switch (id) {
        case IDC_EVERY_N:
        case IDC_PAUSE_SECONDS:
        case IDC_PARALLEL:
        case IDC_TIMEOUT:
        case IDC_PROXY:
        case IDC_START_PAGE:
            model.SetText(id, text);
            break;
        case IDC_INDUSTRY:
        case IDC_REGION:
            model.SetText(id, text);
            model.ConditionEdited();
            break;
        case IDC_DATA_FILTER:
            // Filtered a moment after typing stops: each keystroke would be a query.
            model.SetText(id, text);
            SetTimer(hwnd_, kFilterTimer, 250, nullptr);
            break;
        default:
            break;
    }
}

LRESULT CCollectorWnd::OnNotify(const NMHDR& header) {
    if (!model_) {
        return 0;
    }
    const WindowState& state = model_->State();
    // By the window it comes from: a tooltip's notes carry a window handle as their id.
    const std::vector<ResultRow>* rows = header.hwndFrom == Item(IDC_RESULT_LIST) ? &state.rows
                                         : header.hwndFrom == Item(IDC_DATA_LIST) ? &state.dataRows
                                                                                  : nullptr;
    switch (header.code) {
        case TCN_SELCHANGE:
            if (header.hwndFrom == Item(IDC_LIST_TAB)) {
                const int page =
                    static_cast<int>(SendMessageW(header.hwndFrom, TCM_GETCURSEL, 0, 0));
                ShowListPage(page);
                if (page == 1) {
                    model_->ShowData();
                }
            }
            return 0;
        case LVN_GETDISPINFOW: {
            auto& info = const_cast<NMLVDISPINFOW&>(reinterpret_cast<const NMLVDISPINFOW&>(header));
            const auto row = static_cast<size_t>(info.item.iItem);
            const auto column = static_cast<size_t>(info.item.iSubItem);
            if (rows == nullptr || (info.item.mask & LVIF_TEXT) == 0 || info.item.cchTextMax <= 0) {
                return 0;
            }
            // A list may ask for a row the model has just dropped, before it is drawn anew.
            cell_ = row < rows->size() ? Wide(DataCell((*rows)[row], column)) : std::wstring();
            lstrcpynW(info.item.pszText, cell_.c_str(), info.item.cchTextMax);
            return 0;
        }
        case TTN_GETDISPINFOW:
            // The cell under the pointer, when its text is cut or its row is a name only.
            if (header.hwndFrom == cellTip_) {
                cellTipText_ = CellTip(reinterpret_cast<HWND>(header.idFrom));
                reinterpret_cast<NMTTDISPINFOW&>(const_cast<NMHDR&>(header)).lpszText =
                    cellTipText_.data();
            }
            return 0;
        case NM_CUSTOMDRAW:
            if (rows != nullptr) {
                return DrawRow(
                    const_cast<NMLVCUSTOMDRAW&>(reinterpret_cast<const NMLVCUSTOMDRAW&>(header)));
            }
            return CDRF_DODEFAULT;
        default:
            return 0;
    }
}

LRESULT CCollectorWnd::DrawRow(NMLVCUSTOMDRAW& draw) {
    if (draw.nmcd.dwDrawStage == CDDS_PREPAINT) {
        return CDRF_NOTIFYITEMDRAW;
    }
    if (draw.nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
        // A company whose contact page is kept as a failure is grey: only its name is known.
        const WindowState& state = model_->State();
        const auto& rows =
            draw.nmcd.hdr.hwndFrom == Item(IDC_RESULT_LIST) ? state.rows : state.dataRows;
        const auto row = static_cast<size_t>(draw.nmcd.dwItemSpec);
        if (row < rows.size() && rows[row].waiting) {
            draw.clrText = GetSysColor(COLOR_GRAYTEXT);
        }
    }
    return CDRF_DODEFAULT;
}

void CCollectorWnd::Render(const WindowState& state) {
    rendering_ = true;
    if (std::wstring title = Wide(state.title); title != title_) {
        title_ = std::move(title);
        SetWindowTextW(hwnd_, title_.c_str());
    }
    for (size_t i = 0; i < std::size(kMainControls); ++i) {
        const ControlSpec& c = kMainControls[i];
        if (c.id == 0) {
            continue;
        }
        const bool ownText = c.text[0] == '\0' && c.kind != ControlKind::Tab;
        if (c.kind == ControlKind::Digits || c.kind == ControlKind::Edit || ownText) {
            SetItemText(c.id, TextOf(state, c.id));
        }
        Enable(Item(c.id), EnabledIn(state, c.id));
    }
    for (int id : {IDC_INDUSTRY, IDC_REGION}) {
        SetItemText(id, TextOf(state, id));
        Enable(Item(id), EnabledIn(state, id));
    }
    SendMessageW(Item(IDC_SKIP_KNOWN), BM_SETCHECK, state.skipKnown ? BST_CHECKED : BST_UNCHECKED,
                 0);
    // A greyed 开始采集 says why.
    if (std::wstring tip = Wide(state.startTip); tip != startTip_) {
        startTip_ = std::move(tip);
        TOOLINFOW info{};
        info.cbSize = sizeof(info);
        info.hwnd = hwnd_;
        info.uId = IDC_START;
        info.lpszText = startTip_.data();
        SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&info));
    }
    // The lists ask for their texts as they draw them: only the number of rows is set here.
    auto rows = [](HWND list, std::uint64_t epoch, std::uint64_t& seen, size_t count) {
        const auto shown = static_cast<size_t>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
        if (epoch != seen || count != shown) {
            const bool anew = epoch != seen;
            seen = epoch;
            SendMessageW(list, LVM_SETITEMCOUNT, count,
                         anew ? 0 : LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
            if (anew) {
                // Another list: no row stays selected by its number.
                LVITEMW none{};
                none.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
                SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1),
                             reinterpret_cast<LPARAM>(&none));
                InvalidateRect(list, nullptr, TRUE);
            }
        }
    };
    rows(Item(IDC_RESULT_LIST), state.rowsEpoch, rowsEpoch_, state.rows.size());
    rows(Item(IDC_DATA_LIST), state.dataRowsEpoch, dataEpoch_, state.dataRows.size());
    SetItemText(IDC_DATA_FILTER, state.dataFilter);
    SetItemText(IDC_DATA_COUNTS, state.dataCounts);
    Enable(Item(IDC_DATA_MORE), state.dataMoreEnabled);
    rendering_ = false;

    if (state.focusSerial != focusSerial_) {
        focusSerial_ = state.focusSerial;
        if (HWND h = Item(state.focus)) {
            SendMessageW(GetParent(h), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(h), TRUE);
        }
    }
    if (state.visible != visible_) {
        visible_ = state.visible;
        ShowWindow(hwnd_, visible_ ? SW_SHOW : SW_HIDE);
        if (visible_) {
            SetForegroundWindow(hwnd_);
        }
    }
    if (printState_) {
        if (std::string line = StateLine(state); line != lastStateLine_) {
            std::cout << line << std::endl;
            lastStateLine_ = std::move(line);
        }
    }
}

void CCollectorWnd::Enable(HWND control, bool on) {
    // A control greyed while it has the focus hands it on, as a click on 开始采集 would leave
    // the keyboard nowhere.
    if (!on && GetFocus() == control) {
        SendMessageW(GetParent(control), WM_NEXTDLGCTL, 0, FALSE);
    }
    EnableWindow(control, on);
}

PromptAnswer CCollectorWnd::Ask(const Question& question) {
    if (printState_) {
        std::cout << QuestionLine(question) << std::endl;
    }
    return AskMessage(hwnd_, question);
}

std::optional<SaveAnswer> CCollectorWnd::AskSave(const SaveRequest& request) {
    return ChooseSaveFile(hwnd_, request);
}

std::optional<std::string> CCollectorWnd::AskOpen(const OpenRequest& request) {
    return ChooseOpenFile(hwnd_, request);
}

std::optional<std::vector<std::int64_t>> CCollectorWnd::AskFailures(
    const std::vector<FailureRow>& rows) {
    return ChooseFailures(hwnd_, rows);
}

std::optional<ExportChoice> CCollectorWnd::AskExportChoice(const ExportChoice& offer) {
    return ChooseExport(hwnd_, offer);
}

void CCollectorWnd::ShowAbout(const std::string& storeName) {
    ShowAboutBox(hwnd_, storeName);
}

void CCollectorWnd::PostToUi(std::function<void()> work) {
    std::lock_guard<std::mutex> lock(posted_.mutex);
    if (posted_.hwnd == nullptr) {
        return;  // the window is gone
    }
    posted_.work.push_back(std::move(work));
    // One message in flight at a time, however much is queued: the queue of messages stays
    // small during a long task that does not pump.
    if (!posted_.messagePending) {
        posted_.messagePending = PostMessageW(posted_.hwnd, kRunPosted, 0, 0) != FALSE;
    }
}

void CCollectorWnd::PostPending() {
    // Work waits with no message to run it (a post that failed on a full queue): post again.
    std::lock_guard<std::mutex> lock(posted_.mutex);
    if (!posted_.work.empty() && !posted_.messagePending && posted_.hwnd != nullptr) {
        posted_.messagePending = PostMessageW(posted_.hwnd, kRunPosted, 0, 0) != FALSE;
    }
}

void CCollectorWnd::RunPosted() {
    // One piece per message, the message posted again while more wait: a piece may open a
    // box or wait for its workers, whose loop then runs the next ones, in order.
    std::function<void()> work;
    {
        std::lock_guard<std::mutex> lock(posted_.mutex);
        posted_.messagePending = false;
        if (posted_.work.empty()) {
            return;
        }
        work = std::move(posted_.work.front());
        posted_.work.pop_front();
        if (!posted_.work.empty() && posted_.hwnd != nullptr) {
            posted_.messagePending = PostMessageW(posted_.hwnd, kRunPosted, 0, 0) != FALSE;
        }
    }
    work();
}

void CCollectorWnd::Pump(std::chrono::milliseconds time, bool input) {
    const UINT filter =
        input ? PM_REMOVE : PM_REMOVE | PM_QS_POSTMESSAGE | PM_QS_PAINT | PM_QS_SENDMESSAGE;
    const DWORD wake = input ? QS_ALLINPUT : QS_POSTMESSAGE | QS_PAINT | QS_SENDMESSAGE | QS_TIMER;
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(time.count());
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, filter)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));  // for the loop that ends
                return;
            }
            if (input && ((storeWait_ && storeWait_->TakesMessage(msg)) ||
                          (progress_ && progress_->TakesMessage(msg)))) {
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= end) {
            return;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE,
                                  static_cast<DWORD>(std::min<ULONGLONG>(end - now, 10)), wake);
    }
}

void CCollectorWnd::ProcessEvents(std::chrono::milliseconds time) {
    Pump(time, false);
}

bool CCollectorWnd::StoreWait(std::chrono::milliseconds waited) {
    if (waited.count() == 0) {
        storeWait_.reset();
        return true;
    }
    if (!storeWait_) {
        storeWait_ = std::make_unique<CWaitBox>(hwnd_, kStoreWaitTitle, kStoreWaitText,
                                                kStoreWaitButton, false);
        storeWait_->Show();
    }
    Pump(std::chrono::milliseconds(50), true);
    return !storeWait_->Cancelled();
}

bool CCollectorWnd::Progress(const std::string& text, int percent) {
    if (percent < 0) {
        progress_.reset();
        return true;
    }
    if (!progress_) {
        progress_ = std::make_unique<CWaitBox>(hwnd_, kWindowTitle, text, kProgressCancel, true);
    }
    progress_->SetText(text);
    progress_->SetPercent(percent);
    // A small file is read before the box would show.
    if (progress_->Age() >= std::chrono::milliseconds(500)) {
        progress_->Show();
    }
    Pump(std::chrono::milliseconds(0), true);  // the box is modal: only its 取消 takes input
    return !progress_->Cancelled();
}

void CCollectorWnd::Close() {
    if (shuttingDown_) {
        return;  // asked already: the answer decides
    }
    if (inModel_ > 1) {
        closePending_ = true;  // the model is busy under this message: see Nested
        return;
    }
    // A model closed by a logoff query leaves a window to go.
    if (!model_ || Shutdown()) {
        DestroyWindow(hwnd_);
    }
}

bool CCollectorWnd::Shutdown() {
    if (!model_) {
        return false;
    }
    shuttingDown_ = true;
    const bool closed = model_->Close();
    shuttingDown_ = false;
    if (!closed) {
        closePending_ = false;  // the user keeps the window: a close put off meanwhile goes too
        return false;
    }
    KillTimer(hwnd_, kTickTimer);
    KillTimer(hwnd_, kFilterTimer);
    if (hotKey_) {
        UnregisterHotKey(hwnd_, kHotKeyId);
        hotKey_ = false;
    }
    {
        std::lock_guard<std::mutex> lock(posted_.mutex);
        posted_.hwnd = nullptr;
        posted_.work.clear();
    }
    model_.reset();
    return true;
}
