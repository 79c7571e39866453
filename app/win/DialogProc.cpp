#include "app/win/DialogProc.h"

namespace {

INT_PTR CALLBACK HandledProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    }
    auto* handler = reinterpret_cast<DialogHandler*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    return handler != nullptr && *handler ? (*handler)(hwnd, message, wParam, lParam) : FALSE;
}

}  // namespace

HWND CreateHandledDialog(HWND owner, const DialogTemplate& dialog, DialogHandler* handler) {
    return CreateDialogIndirectParamW(GetModuleHandleW(nullptr), dialog.Get(), owner, HandledProc,
                                      reinterpret_cast<LPARAM>(handler));
}

INT_PTR RunModal(HWND owner, const DialogTemplate& dialog, DialogHandler handler) {
    return DialogBoxIndirectParamW(GetModuleHandleW(nullptr), dialog.Get(), owner, HandledProc,
                                   reinterpret_cast<LPARAM>(&handler));
}
