#include "app/win/CCollectorWnd.h"

#include <commctrl.h>
#include <uxtheme.h>

#include <algorithm>
#include <iostream>
#include <iterator>

#include "app/model/Dialogs.h"
#include "app/win/DialogTemplate.h"
#include "app/win/UserPrompts.h"
#include "app/win/WaitBox.h"
#include "app/win/WindowDpi.h"
#include "crawl/UserSettings.h"
#include "platform/windows/Wide.h"

using namespace crawl;
using namespace store;

using platform::win::Narrow;
using platform::win::Wide;

namespace {

constexpr UINT_PTR kTickTimer = 1;
constexpr UINT kRelayout = WM_APP + 2;  // lays out again after Windows scaled the window

// The smallest size of a page's controls, in dialog units: what holds them all.
SIZE SmallestOf(const ControlTable& controls) {
    SIZE size{0, 0};
    for (const ControlSpec& c : controls) {
        size.cx = std::max<LONG>(size.cx, c.x + c.cx);
        size.cy = std::max<LONG>(size.cy, c.y + c.cy);
    }
    return size;
}

// The id a control of `controls` has in its dialog: its own, or one for a fixed label.
int IdIn(const ControlTable& controls, const ControlSpec& c) {
    return c.id != 0 ? c.id
                     : DialogTemplate::kUnnamedBase + static_cast<int>(&c - controls.begin());
}

}  // namespace

CCollectorWnd::CCollectorWnd(std::string storePath, const Clock& clock, bool printState,
                             std::string storeNotice)
    : storePath_(std::move(storePath)),
      storeNotice_(std::move(storeNotice)),
      clock_(clock),
      printState_(printState) {}

CCollectorWnd::~CCollectorWnd() {
    posted_.Attach(nullptr, 0);
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
    DialogTemplate main(kWindowTitle, kDialogWidth, kDialogHeight,
                        WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX |
                            WS_THICKFRAME | DS_CENTER);
    main.AddAll(TableOf(kMainControls));
    handler_ = [this](HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) -> INT_PTR {
        if (message == WM_INITDIALOG) {
            hwnd_ = hwnd;
            return FALSE;  // the model puts the focus
        }
        INT_PTR result = FALSE;
        Nested([&] { result = Handle(message, wParam, lParam); });
        return result;
    };
    pageHandler_ = [this](HWND page, UINT message, WPARAM wParam, LPARAM lParam) -> INT_PTR {
        return HandlePage(page, message, wParam, lParam);
    };
    hwnd_ = CreateHandledDialog(nullptr, main, &handler_);
    if (hwnd_ == nullptr) {
        return false;
    }
    CreateControls();
    posted_.Attach(hwnd_, kRunPosted);
    model_ = std::make_unique<WindowModel>(storePath_, UserSettings::DefaultPath(), *this, clock_);
    model_->SetStoreNotice(storeNotice_);
    Nested([this] {
        if (printState_) {
            Render(model_->State());  // the first line, before any input
        }
        model_->Open();
    });
    SetTimer(hwnd_, kTickTimer, 100, nullptr);
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

    // The pages: child dialogs in the tabs' display areas, so Tab moves into them. A list's
    // rows are the model's (owner data).
    std::map<int, int> pagesOf;  // pages made per tab
    for (const TabPage& p : kTabPages) {
        DialogTemplate page("", 10, 10, WS_CHILD | DS_CONTROL);
        for (const ControlSpec& c : p.controls) {
            if (c.kind == ControlKind::List) {
                page.Add(c.id, WC_LISTVIEWW, "",
                         LVS_REPORT | LVS_OWNERDATA | LVS_SINGLESEL | LVS_SHOWSELALWAYS |
                             WS_BORDER | WS_TABSTOP,
                         c.x, c.y, c.cx, c.cy);
            } else {
                ControlSpec named = c;
                named.id = IdIn(p.controls, c);
                page.Add(named);
            }
        }
        HWND hwnd = CreateHandledDialog(hwnd_, page, &pageHandler_);
        HWND tab = GetDlgItem(hwnd_, p.tab);
        std::wstring title = Wide(p.title);
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = title.data();
        const int index = pagesOf[p.tab]++;
        SendMessageW(tab, TCM_INSERTITEMW, index, reinterpret_cast<LPARAM>(&item));
        EnableThemeDialogTexture(hwnd, ETDT_ENABLETAB);  // a page on a themed tab takes its face
        pages_.push_back({&p, hwnd, index});
    }
    AddTooltips();
    for (const ControlTable& table : kControlTables) {
        for (const ControlSpec& c : table) {
            if (c.kind == ControlKind::List) {
                lists_.push_back(
                    std::make_unique<COwnerDataList>(Item(c.id), c.id, hwnd_, cellTip_));
            } else if (c.kind == ControlKind::Digits) {
                SendMessageW(Item(c.id), EM_SETLIMITTEXT, kDigitsLimit, 0);
            }
        }
    }
    SetTabOrder();
    for (const ControlSpec& c : kMainControls) {
        if (c.kind == ControlKind::Tab) {
            ShowPage(Item(c.id), 0);
        }
    }
    Layout();
}

HWND CCollectorWnd::TooltipOf(HWND parent) {
    HWND& tip = tooltips_[parent];
    if (tip == nullptr) {
        tip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, parent,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
        SendMessageW(tip, TTM_SETMAXTIPWIDTH, 0, 400);
    }
    return tip;
}

void CCollectorWnd::AddTooltips() {
    cellTip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                               WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
    SendMessageW(cellTip_, TTM_SETMAXTIPWIDTH, 0, 600);
    for (const ControlTable& table : kControlTables) {
        for (const ControlSpec& c : table) {
            HWND control = Item(c.id);
            if (c.id == 0 || control == nullptr) {
                continue;
            }
            HWND parent = GetParent(control);
            TOOLINFOW info{};
            info.cbSize = sizeof(info);
            info.hwnd = parent;
            if (HasModelTip(c.id)) {
                // A greyed control gets no mouse messages: the tip the model gives (why it is
                // greyed) belongs to its parent over its rectangle (placed by Layout).
                info.uFlags = TTF_SUBCLASS;
                info.uId = static_cast<UINT_PTR>(c.id);
                info.lpszText = const_cast<wchar_t*>(L"");
            } else if (c.tooltip != nullptr) {
                info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
                info.uId = reinterpret_cast<UINT_PTR>(control);
            } else {
                continue;
            }
            std::wstring text = c.tooltip != nullptr ? Wide(c.tooltip) : std::wstring();
            if (c.tooltip != nullptr && !HasModelTip(c.id)) {
                info.lpszText = text.data();
            }
            SendMessageW(TooltipOf(parent), TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
        }
    }
}

void CCollectorWnd::SetTabOrder() {
    // The order of the windows is the order of Tab. A control on a page stands for its page,
    // and the pages of a tab follow each other.
    HWND previous = HWND_TOP;
    auto place = [&previous](HWND h) {
        SetWindowPos(h, previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        previous = h;
    };
    std::vector<HWND> placed;
    for (int id : kTabOrder) {
        HWND h = Item(id);
        if (h == nullptr) {
            continue;
        }
        if (GetParent(h) != hwnd_) {
            h = GetParent(h);
        }
        if (std::find(placed.begin(), placed.end(), h) != placed.end()) {
            continue;
        }
        place(h);
        placed.push_back(h);
        for (const Page& page : pages_) {
            if (page.hwnd == h) {
                for (const Page& sibling : pages_) {
                    if (sibling.tab->tab == page.tab->tab && sibling.hwnd != h &&
                        std::find(placed.begin(), placed.end(), sibling.hwnd) == placed.end()) {
                        place(sibling.hwnd);
                        placed.push_back(sibling.hwnd);
                    }
                }
            }
        }
    }
    // The tabs lie under their pages.
    for (const ControlSpec& c : kMainControls) {
        if (c.kind == ControlKind::Tab) {
            SetWindowPos(Item(c.id), HWND_BOTTOM, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        }
    }
}

HWND CCollectorWnd::Item(int id) const {
    if (id == 0) {
        return nullptr;
    }
    if (HWND h = GetDlgItem(hwnd_, id)) {
        return h;
    }
    for (const Page& page : pages_) {
        if (HWND h = GetDlgItem(page.hwnd, id)) {
            return h;
        }
    }
    return nullptr;
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

void CCollectorWnd::Place(HWND parent, const ControlTable& controls, int dx, int dy) {
    // Right-hand controls follow the right edge, the bottom row the bottom edge (never past
    // their smallest place), and growing ones take the room.
    for (const ControlSpec& c : controls) {
        if (!c.right && !c.bottom && c.grow == 0) {
            continue;
        }
        RECT r = DialogRect(parent, c.x, c.y, c.cx, c.cy);
        OffsetRect(&r, c.right ? std::max(0, dx) : 0, c.bottom ? std::max(0, dy) : 0);
        r.right += (c.grow & kGrowWidth) != 0 ? dx : 0;
        r.bottom += (c.grow & kGrowHeight) != 0 ? dy : 0;
        MoveWindow(GetDlgItem(parent, IdIn(controls, c)), r.left, r.top, r.right - r.left,
                   r.bottom - r.top, TRUE);
        if (HasModelTip(c.id)) {
            TOOLINFOW info{};
            info.cbSize = sizeof(info);
            info.hwnd = parent;
            info.uId = static_cast<UINT_PTR>(c.id);
            info.rect = r;
            SendMessageW(TooltipOf(parent), TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&info));
        }
    }
}

void CCollectorWnd::Layout() {
    if (hwnd_ == nullptr || pages_.empty()) {
        return;
    }
    // The template is the smallest window.
    RECT client;
    GetClientRect(hwnd_, &client);
    const RECT smallest = DialogRect(hwnd_, 0, 0, kDialogWidth, kDialogHeight);
    Place(hwnd_, TableOf(kMainControls), std::max(0L, client.right - smallest.right),
          std::max(0L, client.bottom - smallest.bottom));
    // The pages fill their tabs' display areas; their controls grow with them.
    for (const Page& page : pages_) {
        HWND tab = GetDlgItem(hwnd_, page.tab->tab);
        RECT r;
        GetWindowRect(tab, &r);
        MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&r), 2);
        SendMessageW(tab, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&r));
        MoveWindow(page.hwnd, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
        const SIZE least = SmallestOf(page.tab->controls);
        const RECT base = DialogRect(page.hwnd, 0, 0, least.cx, least.cy);
        Place(page.hwnd, page.tab->controls, (r.right - r.left) - base.right,
              (r.bottom - r.top) - base.bottom);
    }
}

void CCollectorWnd::ShowPage(HWND tab, int index) {
    SendMessageW(tab, TCM_SETCURSEL, index, 0);
    for (const Page& page : pages_) {
        if (GetDlgItem(hwnd_, page.tab->tab) == tab) {
            ShowWindow(page.hwnd, page.index == index ? SW_SHOW : SW_HIDE);
        }
    }
}

int CCollectorWnd::Run() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        // Enter presses the button that has the focus (开始采集 after a pre-collect); in an
        // edit or a list it does nothing (the dialog manager would press a default button).
        if ((msg.message == WM_KEYDOWN || msg.message == WM_CHAR) && msg.wParam == VK_RETURN &&
            hwnd_ != nullptr && (msg.hwnd == hwnd_ || IsChild(hwnd_, msg.hwnd))) {
            const int id = GetDlgCtrlID(msg.hwnd);
            const ControlSpec* c = ControlSpecOf(id);
            // Not a held key's repeats: they would stop the walk that Enter just started.
            const bool repeat = (msg.lParam & (1L << 30)) != 0;
            if (msg.message == WM_KEYDOWN && !repeat && c != nullptr &&
                c->kind == ControlKind::Button && IsWindowEnabled(msg.hwnd) && model_) {
                Nested([&] { model_->Press(id); });
            }
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

INT_PTR CCollectorWnd::HandlePage(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            Nested(
                [&] { OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam)); });
            return TRUE;
        case WM_NOTIFY:
            Nested([&] {
                SetWindowLongPtrW(page, DWLP_MSGRESULT,
                                  OnNotify(*reinterpret_cast<const NMHDR*>(lParam)));
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
            OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
            return TRUE;
        case WM_NOTIFY:
            SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT,
                              OnNotify(*reinterpret_cast<const NMHDR*>(lParam)));
            return TRUE;
        case WM_TIMER:
            if (wParam == kTickTimer && model_) {
                posted_.Repost();
                model_->Tick();
            }
            return TRUE;
        case WM_HOTKEY:
            if (wParam == kHotKeyId && model_) {
                model_->HotKey();
            }
            return TRUE;
        case kRunPosted:
            posted_.RunNext();
            return TRUE;
        case kShowAgain:
            if (model_) {
                model_->ShowAgain();
            }
            return TRUE;
        case WM_SIZE:
        case kRelayout:
            Layout();
            return TRUE;
        case WM_DPICHANGED:
            // The dialog manager scales the window, its controls and their font (left to it:
            // FALSE); the lists' columns and the layout follow.
            for (const auto& list : lists_) {
                list->ScaleColumns(LOWORD(wParam));
            }
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
            if (pages_.empty()) {
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

void CCollectorWnd::OnCommand(int id, int code, HWND control) {
    const ControlSpec* c = ControlSpecOf(id);
    if (!model_ || c == nullptr || control == nullptr) {
        // Enter (IDOK) and Esc (IDCANCEL) do nothing: only the close box closes the window.
        return;
    }
    if (code == BN_CLICKED && c->kind == ControlKind::Button) {
        model_->Press(id);
    } else if (code == BN_CLICKED && c->kind == ControlKind::Check) {
        model_->SetCheck(id, SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED);
    } else if (code == EN_CHANGE && !rendering_) {
        model_->Edit(id, Narrow(ItemText(id)));
    }
}

LRESULT CCollectorWnd::OnNotify(const NMHDR& header) {
    if (!model_) {
        return 0;
    }
    const WindowState& state = model_->State();
    if (header.code == TCN_SELCHANGE) {
        const int page = static_cast<int>(SendMessageW(header.hwndFrom, TCM_GETCURSEL, 0, 0));
        ShowPage(header.hwndFrom, page);
        model_->SelectTab(GetDlgCtrlID(header.hwndFrom), page);
        return 0;
    }
    if (header.code == TTN_GETDISPINFOW && header.hwndFrom == cellTip_) {
        // The cell under the pointer, when its text is cut or its row is a name only.
        for (const auto& list : lists_) {
            if (reinterpret_cast<HWND>(header.idFrom) == list->Handle()) {
                cellTipText_ = list->CellTip(state);
            }
        }
        reinterpret_cast<NMTTDISPINFOW&>(const_cast<NMHDR&>(header)).lpszText = cellTipText_.data();
        return 0;
    }
    LRESULT result = header.code == NM_CUSTOMDRAW ? CDRF_DODEFAULT : 0;
    for (const auto& list : lists_) {
        if (list->Notify(header, state, result)) {
            break;
        }
    }
    return result;
}

void CCollectorWnd::RenderControl(const ControlSpec& c, const WindowState& state) {
    HWND control = Item(c.id);
    if (control == nullptr) {
        return;
    }
    const bool ownText = c.text[0] == '\0';
    switch (c.kind) {
        case ControlKind::Digits:
        case ControlKind::Edit:
            SetItemText(c.id, TextOf(state, c.id));
            break;
        case ControlKind::Label:
        case ControlKind::Button:
            if (ownText) {
                SetItemText(c.id, TextOf(state, c.id));
            }
            break;
        case ControlKind::Check:
            SendMessageW(control, BM_SETCHECK, CheckedIn(state, c.id) ? BST_CHECKED : BST_UNCHECKED,
                         0);
            break;
        case ControlKind::List:
            for (const auto& list : lists_) {
                if (list->Handle() == control) {
                    list->Render(state);
                }
            }
            break;
        default:
            break;
    }
    if (HasModelTip(c.id)) {
        if (std::wstring tip = Wide(TipOf(state, c.id)); tip != modelTips_[c.id]) {
            modelTips_[c.id] = std::move(tip);
            TOOLINFOW info{};
            info.cbSize = sizeof(info);
            info.hwnd = GetParent(control);
            info.uId = static_cast<UINT_PTR>(c.id);
            info.lpszText = modelTips_[c.id].data();
            SendMessageW(TooltipOf(GetParent(control)), TTM_UPDATETIPTEXTW, 0,
                         reinterpret_cast<LPARAM>(&info));
        }
    }
    Enable(control, EnabledIn(state, c.id));
}

void CCollectorWnd::Render(const WindowState& state) {
    rendering_ = true;
    if (std::wstring title = Wide(state.title); title != title_) {
        title_ = std::move(title);
        SetWindowTextW(hwnd_, title_.c_str());
    }
    for (const ControlTable& table : kControlTables) {
        for (const ControlSpec& c : table) {
            if (c.id != 0) {
                RenderControl(c, state);
            }
        }
    }
    rendering_ = false;

    if (state.focusSerial != focusSerial_) {
        focusSerial_ = state.focusSerial;
        if (HWND h = Item(state.focus)) {
            SendMessageW(GetParent(h), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(h), TRUE);
            // Drawn as keyboard focus (Windows hides it until a key is used): Enter presses it.
            SendMessageW(hwnd_, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
        }
    }
    if (state.visible != visible_) {
        visible_ = state.visible;
        ShowWindow(hwnd_, visible_ ? SW_SHOW : SW_HIDE);
        if (visible_) {
            SetForegroundWindow(hwnd_);
        }
    }
    if (state.raiseSerial != raiseSerial_) {
        // Started again for this store: to the front, restored if minimised. (The other start
        // allowed this process to take the foreground.)
        raiseSerial_ = state.raiseSerial;
        ShowWindow(hwnd_, IsIconic(hwnd_) ? SW_RESTORE : SW_SHOW);
        SetForegroundWindow(hwnd_);
        if (printState_) {
            std::cout << "raised" << std::endl;
        }
    }
    if (state.hotKey != hotKeyName_) {
        HoldHotKey(state.hotKey);
    }
    if (printState_) {
        if (std::string line = StateLine(state); line != lastStateLine_) {
            std::cout << line << std::endl;
            lastStateLine_ = std::move(line);
        }
    }
}

void CCollectorWnd::MarkAs(std::wstring name) {
    mark_ = std::move(name);
    SetPropW(hwnd_, mark_.c_str(), reinterpret_cast<HANDLE>(1));
}

void CCollectorWnd::HoldHotKey(const std::string& name) {
    // The key from any window; the one held before goes. MOD_NOREPEAT: holding the key
    // toggles once.
    hotKeyName_ = name;
    if (hotKey_) {
        UnregisterHotKey(hwnd_, kHotKeyId);
        hotKey_ = false;
    }
    bool taken = false;
    if (const std::optional<HotKeySpec> key = ParseHotKey(name); key && !key->Off()) {
        const UINT mods = MOD_NOREPEAT | (key->ctrl ? MOD_CONTROL : 0) | (key->alt ? MOD_ALT : 0) |
                          (key->shift ? MOD_SHIFT : 0);
        hotKey_ = RegisterHotKey(hwnd_, kHotKeyId, mods,
                                 static_cast<UINT>(VK_F1 + key->function - 1)) != FALSE;
        taken = !hotKey_;
    }
    if (printState_) {
        std::cout << "hotkey " << name << "="
                  << (hotKey_ ? "on"
                      : taken ? "taken"
                              : "off")
                  << std::endl;
    }
    if (taken) {
        PostToUi([this, name] {
            if (model_) {
                model_->HotKeyTaken(name);
            }
        });
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

std::optional<HotKeySpec> CCollectorWnd::AskHotKey(const HotKeySpec& current) {
    return ChooseHotKey(hwnd_, current);
}

std::optional<std::string> CCollectorWnd::AskSearchName(const std::string& proposed) {
    return ::AskSearchName(hwnd_, proposed);
}

std::optional<ScheduleChoice> CCollectorWnd::AskSchedule(const ScheduleOffer& offer) {
    return ChooseSchedule(hwnd_, offer);
}

void CCollectorWnd::ShowAbout(const std::string& storeName) {
    ShowAboutBox(hwnd_, storeName);
}

void CCollectorWnd::PostToUi(std::function<void()> work) {
    posted_.Post(std::move(work));
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
    if (!mark_.empty()) {
        RemovePropW(hwnd_, mark_.c_str());  // a later start opens a window of its own
    }
    if (hotKey_) {
        UnregisterHotKey(hwnd_, kHotKeyId);
        hotKey_ = false;
    }
    posted_.Attach(nullptr, 0);
    model_.reset();
    return true;
}
