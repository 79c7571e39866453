#pragma once
// A box shown while the window waits for something long: a text, a progress bar if there is a
// percentage to show, and one button that gives up. The window is greyed while it is open.

#include <windows.h>

#include <chrono>
#include <string>

class CWaitBox {
  public:
    CWaitBox(HWND owner, const std::string& title, const std::string& text,
             const std::string& button, bool bar);
    ~CWaitBox();
    CWaitBox(const CWaitBox&) = delete;
    CWaitBox& operator=(const CWaitBox&) = delete;

    void Show();
    void SetText(const std::string& text);
    void SetPercent(int percent);
    bool Cancelled() const { return cancelled_; }
    std::chrono::steady_clock::duration Age() const {
        return std::chrono::steady_clock::now() - created_;
    }
    // Handles `msg` when it is keyboard input for the box.
    bool TakesMessage(MSG& msg) { return hwnd_ != nullptr && IsDialogMessageW(hwnd_, &msg); }

  private:
    static INT_PTR CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    HWND owner_;
    HWND hwnd_ = nullptr;
    bool ownerWasEnabled_ = false;
    bool cancelled_ = false;
    std::wstring text_;
    std::chrono::steady_clock::time_point created_ = std::chrono::steady_clock::now();
};
