#include "app/win/WaitBox.h"

#include <commctrl.h>

#include "app/win/DialogTemplate.h"
#include "platform/windows/Wide.h"

namespace {

enum : int { IDC_WAIT_TEXT = 100, IDC_WAIT_BAR = 101 };

}  // namespace

CWaitBox::CWaitBox(HWND owner, const std::string& title, const std::string& text,
                   const std::string& button, bool bar)
    : owner_(owner) {
    DialogTemplate box(title, 220, bar ? 62 : 48,
                       WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_CENTER);
    box.Add(IDC_WAIT_TEXT, L"STATIC", text, SS_LEFT | SS_NOPREFIX | SS_PATHELLIPSIS, 7, 7, 206, 16);
    if (bar) {
        box.Add(IDC_WAIT_BAR, PROGRESS_CLASSW, "", 0, 7, 26, 206, 10);
    }
    box.Add(IDCANCEL, L"BUTTON", button, BS_PUSHBUTTON | WS_TABSTOP, 163, bar ? 41 : 27, 50, 14);
    hwnd_ = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), box.Get(), owner, Proc,
                                       reinterpret_cast<LPARAM>(this));
    // Modal to the window: its input goes to this box alone.
    ownerWasEnabled_ = IsWindowEnabled(owner) != FALSE;
    EnableWindow(owner, FALSE);
    if (hwnd_ != nullptr) {
        SendDlgItemMessageW(hwnd_, IDC_WAIT_BAR, PBM_SETRANGE32, 0, 100);
    }
}

CWaitBox::~CWaitBox() {
    // The window takes input again before the box goes, or Windows would activate another
    // program's window.
    if (ownerWasEnabled_) {
        EnableWindow(owner_, TRUE);
    }
    if (hwnd_ != nullptr) {
        DestroyWindow(hwnd_);
    }
}

void CWaitBox::Show() {
    if (hwnd_ != nullptr && !IsWindowVisible(hwnd_)) {
        ShowWindow(hwnd_, SW_SHOW);
    }
}

void CWaitBox::SetText(const std::string& text) {
    std::wstring wide = platform::win::Wide(text);
    if (hwnd_ != nullptr && wide != text_) {
        text_ = std::move(wide);
        SetDlgItemTextW(hwnd_, IDC_WAIT_TEXT, text_.c_str());
    }
}

void CWaitBox::SetPercent(int percent) {
    if (hwnd_ != nullptr) {
        SendDlgItemMessageW(hwnd_, IDC_WAIT_BAR, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
    }
}

INT_PTR CALLBACK CWaitBox::Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        return TRUE;
    }
    auto* self = reinterpret_cast<CWaitBox*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    // The button, Esc and the close box all give up.
    if (self != nullptr &&
        ((message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) || message == WM_CLOSE)) {
        self->cancelled_ = true;
        return TRUE;
    }
    return FALSE;
}
