#pragma once
// What the window model needs of a window: drawing its state, asking the user, and running
// work on the window's thread. The Qt window and the Win32 window implement it; tests have
// their own.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/model/HotKey.h"
#include "app/model/Prompts.h"
#include "app/model/WindowState.h"

class IWindowView {
  public:
    virtual ~IWindowView() = default;

    // Shows `state`: every control's text and enabled state, the results list, visibility,
    // and the focus when its serial is new.
    virtual void Render(const WindowState& state) = 0;
    // A message box owned by the window; returns the button pressed.
    virtual PromptAnswer Ask(const Question& question) = 0;
    // A save dialog; nothing when the user cancelled.
    virtual std::optional<SaveAnswer> AskSave(const SaveRequest& request) = 0;
    // Runs `work` on the window's thread soon, after what is queued before it. Called from any
    // thread. Work posted to a window that is gone is dropped.
    virtual void PostToUi(std::function<void()> work) = 0;
    // Handles what is queued for the window's thread and its painting, but no user input, for
    // about `time`.
    virtual void ProcessEvents(std::chrono::milliseconds time) = 0;
    // A call on the store has waited `waited` for its server: shows (or keeps showing) a box
    // saying so with 放弃, handles the window's events for a moment and gives false once the
    // user gave up. `waited` zero: the wait is over, the box goes.
    virtual bool StoreWait(std::chrono::milliseconds waited) = 0;
    // The list of kept failures: nothing when closed, the ids of those to retry (none: all).
    virtual std::optional<std::vector<std::int64_t>> AskFailures(
        const std::vector<FailureRow>& rows) = 0;
    // What to export, `offer` preset; nothing when cancelled.
    virtual std::optional<ExportChoice> AskExportChoice(const ExportChoice& offer) = 0;
    // A file to read; nothing when cancelled.
    virtual std::optional<std::string> AskOpen(const OpenRequest& request) = 0;
    // A long task's progress box: shown (or updated) with `text` and `percent` (0 to 100),
    // gone when `percent` is negative. Handles the window's painting for a moment and gives
    // false once the user cancelled.
    virtual bool Progress(const std::string& text, int percent) = 0;
    // The hot key's choice, `current` preset; nothing when cancelled.
    virtual std::optional<HotKeySpec> AskHotKey(const HotKeySpec& current) = 0;
    // 保存搜索…: the name to keep the search under, `proposed` offered; nothing when cancelled.
    virtual std::optional<std::string> AskSearchName(const std::string& proposed) = 0;
    // 定时采集…: a schedule to add or remove; nothing when closed.
    virtual std::optional<ScheduleChoice> AskSchedule(const ScheduleOffer& offer) = 0;
    // The About box, naming the store in use.
    virtual void ShowAbout(const std::string& storeName) = 0;
};
