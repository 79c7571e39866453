#include "app/win/PostedWork.h"

#include <utility>

void CPostedWork::Attach(HWND hwnd, UINT message) {
    std::lock_guard<std::mutex> lock(mutex_);
    hwnd_ = hwnd;
    message_ = message;
    if (hwnd_ == nullptr) {
        work_.clear();
    }
}

bool CPostedWork::PostLocked() {
    return PostMessageW(hwnd_, message_, 0, 0) != FALSE;
}

void CPostedWork::Post(std::function<void()> work) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (hwnd_ == nullptr) {
        return;  // the window is gone
    }
    work_.push_back(std::move(work));
    if (!messagePending_) {
        messagePending_ = PostLocked();
    }
}

void CPostedWork::Repost() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!work_.empty() && !messagePending_ && hwnd_ != nullptr) {
        messagePending_ = PostLocked();
    }
}

void CPostedWork::RunNext() {
    std::function<void()> work;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        messagePending_ = false;
        if (work_.empty()) {
            return;
        }
        work = std::move(work_.front());
        work_.pop_front();
        if (!work_.empty() && hwnd_ != nullptr) {
            messagePending_ = PostLocked();
        }
    }
    work();
}
