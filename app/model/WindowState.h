#pragma once
// Everything a view shows of the main window, decided by the window model: what each control
// says, which ones are enabled, the rows of the results list. A view draws this and nothing
// of its own.

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "app/model/Controls.h"

// One record in the results list: its nine fields as UTF-8 in the columns' order, and whether
// it stands for a contact page kept as a failure (the name only, until a retry fills it).
struct ResultRow {
    std::array<std::string, kResultColumnCount> fields;
    bool waiting = false;   // grey: kept for a failed contact page, or without any contact field
    std::int64_t id = 0;    // the store's row, when known
    std::string collected;  // the collected data: when it was first stored
    std::string search;     // and for which search
    std::string tip;        // a grey row: why it is grey (empty: kWaitingRowTip)
    std::uint64_t revision = 0;  // the list's revision when it last changed in place

    // A company's name alone (its contact page failed, or answered without details) is not a
    // lead: such rows are grey and left out of the exports of complete rows.
    // (A sex or a job title alone reaches no one.)
    bool HasContactField() const {
        for (size_t i : {1, 4, 5, 6, 7, 8}) {
            if (!fields[i].empty()) {
                return true;
            }
        }
        return false;
    }
    std::string& operator[](size_t i) { return fields[i]; }
    const std::string& operator[](size_t i) const { return fields[i]; }
};

struct WindowState {
    std::string title;
    std::string description;
    // The settings' edits, as the user typed them or the model filled them in.
    std::string everyN;
    std::string pauseSeconds;
    std::string parallel;
    std::string timeout;
    std::string proxy;
    std::string startPage;
    std::string industry;
    std::string region;
    // The check boxes, by control id.
    std::map<int, bool> checks;
    // Progress and the status line.
    std::string records;
    std::string pages;
    std::string progress;
    std::string status;
    bool precollectEnabled = true;
    bool startEnabled = false;
    std::string startTip;  // why 开始采集 is greyed; empty while it is not
    bool stopEnabled = false;
    std::int64_t failures = 0;  // kept in the store
    std::string retryText;      // 重试失败页面 (N)
    bool retryEnabled = false;
    bool clearEnabled = true;
    bool importEnabled = true;
    // The results list. `rowsEpoch` changes whenever the list is emptied or filled anew; while
    // it stays the same, rows are only added at the end.
    std::vector<ResultRow> rows;
    std::uint64_t rowsEpoch = 0;
    // Grows whenever a row changes in place (its `revision` takes the new value): a view draws
    // again only the rows newer than the revision it has drawn, among the newest
    // kRecentRowsChanged.
    std::uint64_t rowsRevision = 0;
    // The collected data: the filter, a counts line, the rows shown (newest first, a page at a
    // time) and whether more are there.
    std::string dataFilter;
    std::string dataCounts;
    std::vector<ResultRow> dataRows;
    std::uint64_t dataRowsEpoch = 0;
    bool dataMoreEnabled = false;
    // The record of runs, newest first (each row's nine cells in kRunColumns' order).
    std::vector<ResultRow> runRows;
    std::uint64_t runRowsEpoch = 0;
    bool visible = true;
    // A request to bring the window to the front, new whenever it changes.
    std::uint64_t raiseSerial = 0;
    // The hot key the window holds (HotKeyName; kHotKeyOff: none), and what its label says.
    std::string hotKey = "F2";
    std::string hotKeyLabel;
    // A request to put the focus into control `focus`, new whenever `focusSerial` changes.
    int focus = 0;
    std::uint64_t focusSerial = 0;
};

// What the model binds control `id` to: the text it shows or takes, when it takes input, and
// the tip the model gives it. One table (WindowState.cpp) for rendering, input and the state
// line; a control that is in no row shows its fixed text and is always enabled.
struct ControlBinding {
    int id;
    std::string WindowState::*text;  // null: its fixed text
    bool WindowState::*enabled;      // null: always
    std::string WindowState::*tip;   // null: its fixed tip
};
// The binding of `id`, or null.
const ControlBinding* BindingOf(int id);

// The text a view shows in control `id` of `state` (an edit, a label or the status line);
// empty for a control without one.
std::string TextOf(const WindowState& state, int id);
// The field of `state` that control `id` shows and takes, or null.
std::string* TextFieldOf(WindowState& state, int id);
// Whether control `id` takes input now.
bool EnabledIn(const WindowState& state, int id);
// Whether check box `id` is ticked.
bool CheckedIn(const WindowState& state, int id);
// The tip the model gives control `id` now (empty: none, or its fixed one).
std::string TipOf(const WindowState& state, int id);
// Whether the model gives control `id` a tip of its own.
bool HasModelTip(int id);
// The rows list `id` shows (null: `id` is no list), and the epoch that changes when they are
// replaced rather than added to.
const std::vector<ResultRow>* RowsOf(const WindowState& state, int id);
std::uint64_t RowsEpochOf(const WindowState& state, int id);
std::uint64_t RowsRevisionOf(const WindowState& state, int id);
inline constexpr std::size_t kRecentRowsChanged = 1000;
// What the tip of a grey row says.
std::string TipOfRow(const ResultRow& row);
// Why a row without a contact field is grey: its kept failure's reason, or what its contact
// page answered (`status`, 0 when not known).
std::string GreyRowTip(const std::string& keptReason, int status);
// The text of a row's column: the nine fields, then when it was collected and for which search.
const std::string& CellOf(const ResultRow& row, std::size_t column);

// One line for the test switch of the views, for example
// "state records=7/9 pages=3/3 precollect=on start=on stop=off rows=5 status=操作成功完成！"
std::string StateLine(const WindowState& state);

struct Question;
// The line the test switch prints for a question: "ask caption=… text=…".
std::string QuestionLine(const Question& question);
