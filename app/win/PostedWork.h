#pragma once
// Work other threads hand to the window's thread: kept in order and run one piece per message
// posted to the window, so a piece that opens a box or waits lets the next ones run in its
// loop. One message is in flight at a time however much is queued, so the message queue stays
// small during a long task that does not pump.

#include <windows.h>

#include <deque>
#include <functional>
#include <mutex>

class CPostedWork {
  public:
    // Work goes to `hwnd` as `message`; null: the window is gone and work is dropped.
    void Attach(HWND hwnd, UINT message);
    // Any thread: queues `work` (dropped when no window is attached).
    void Post(std::function<void()> work);
    // The window's thread, on `message`: runs the next piece.
    void RunNext();
    // The window's thread, now and then: a post that failed on a full queue is made again.
    void Repost();

  private:
    bool PostLocked();

    std::mutex mutex_;
    HWND hwnd_ = nullptr;
    UINT message_ = 0;
    std::deque<std::function<void()>> work_;
    bool messagePending_ = false;  // a message is on its way
};
