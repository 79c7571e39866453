#pragma once
// One dialog procedure for every dialog of the window: the main window, its pages and the modal
// boxes. A dialog is made with a handler as its creation parameter; the procedure keeps the
// handler with the dialog and hands it every message, WM_INITDIALOG included.

#include <windows.h>

#include <functional>

#include "app/win/DialogTemplate.h"

// Returns what a dialog procedure returns (DWLP_MSGRESULT is the handler's to set).
using DialogHandler = std::function<INT_PTR(HWND, UINT, WPARAM, LPARAM)>;

// A modeless dialog of `dialog` handled by `handler`, which must outlive it; null on failure.
HWND CreateHandledDialog(HWND owner, const DialogTemplate& dialog, DialogHandler* handler);
// A modal dialog of `dialog` handled by `handler`; returns what EndDialog got.
INT_PTR RunModal(HWND owner, const DialogTemplate& dialog, DialogHandler handler);
