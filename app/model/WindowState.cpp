#include "app/model/WindowState.h"

#include "app/model/Dialogs.h"

#include <string_view>

#include "app/model/Prompts.h"

namespace {

// clang-format off
const ControlBinding kBindings[] = {
    {IDC_DESCRIPTION, &WindowState::description, nullptr, nullptr},
    {IDC_HOTKEY_LABEL, &WindowState::hotKeyLabel, nullptr, nullptr},
    {IDC_EVERY_N, &WindowState::everyN, nullptr, nullptr},
    {IDC_PAUSE_SECONDS, &WindowState::pauseSeconds, nullptr, nullptr},
    {IDC_PARALLEL, &WindowState::parallel, nullptr, nullptr},
    {IDC_TIMEOUT, &WindowState::timeout, nullptr, nullptr},
    {IDC_PROXY, &WindowState::proxy, nullptr, nullptr},
    {IDC_PROGRESS, &WindowState::progress, nullptr, nullptr},
    {IDC_RETRY_FAILED, &WindowState::retryText, &WindowState::retryEnabled, nullptr},
    {IDC_DATA_FILTER, &WindowState::dataFilter, nullptr, nullptr},
    {IDC_DATA_COUNTS, &WindowState::dataCounts, nullptr, nullptr},
    {IDC_DATA_MORE, nullptr, &WindowState::dataMoreEnabled, nullptr},
    {IDC_START_PAGE, &WindowState::startPage, nullptr, nullptr},
    {IDC_INDUSTRY, &WindowState::industry, nullptr, nullptr},
    {IDC_REGION, &WindowState::region, nullptr, nullptr},
    {IDC_RECORDS, &WindowState::records, nullptr, nullptr},
    {IDC_PAGES, &WindowState::pages, nullptr, nullptr},
    {IDC_STATUS, &WindowState::status, nullptr, nullptr},
    {IDC_PRECOLLECT, nullptr, &WindowState::precollectEnabled, nullptr},
    {IDC_START, nullptr, &WindowState::startEnabled, &WindowState::startTip},
    {IDC_STOP, nullptr, &WindowState::stopEnabled, nullptr},
    {IDC_CLEAR, nullptr, &WindowState::clearEnabled, nullptr},
    {IDC_IMPORT, nullptr, &WindowState::importEnabled, nullptr},
};
// clang-format on

}  // namespace

const ControlBinding* BindingOf(int id) {
    for (const ControlBinding& b : kBindings) {
        if (b.id == id) {
            return &b;
        }
    }
    return nullptr;
}

std::string TextOf(const WindowState& state, int id) {
    const ControlBinding* b = BindingOf(id);
    return b != nullptr && b->text != nullptr ? state.*(b->text) : std::string();
}

std::string* TextFieldOf(WindowState& state, int id) {
    const ControlBinding* b = BindingOf(id);
    return b != nullptr && b->text != nullptr ? &(state.*(b->text)) : nullptr;
}

bool EnabledIn(const WindowState& state, int id) {
    const ControlBinding* b = BindingOf(id);
    return b == nullptr || b->enabled == nullptr || state.*(b->enabled);
}

bool CheckedIn(const WindowState& state, int id) {
    const auto it = state.checks.find(id);
    return it != state.checks.end() && it->second;
}

std::string TipOf(const WindowState& state, int id) {
    const ControlBinding* b = BindingOf(id);
    return b != nullptr && b->tip != nullptr ? state.*(b->tip) : std::string();
}

bool HasModelTip(int id) {
    const ControlBinding* b = BindingOf(id);
    return b != nullptr && b->tip != nullptr;
}

const std::vector<ResultRow>* RowsOf(const WindowState& state, int id) {
    return id == IDC_RESULT_LIST ? &state.rows
           : id == IDC_DATA_LIST ? &state.dataRows
           : id == IDC_RUNS_LIST ? &state.runRows
                                 : nullptr;
}

std::uint64_t RowsEpochOf(const WindowState& state, int id) {
    return id == IDC_DATA_LIST   ? state.dataRowsEpoch
           : id == IDC_RUNS_LIST ? state.runRowsEpoch
                                 : state.rowsEpoch;
}

std::uint64_t RowsRevisionOf(const WindowState& state, int id) {
    return id == IDC_RESULT_LIST ? state.rowsRevision : 0;
}

std::string TipOfRow(const ResultRow& row) {
    return row.tip.empty() ? std::string(kWaitingRowTip) : row.tip;
}

std::string GreyRowTip(const std::string& keptReason, int status) {
    if (!keptReason.empty()) {
        return "联系页未能获取（" + keptReason + "），只有名称：点击 重试失败页面 重新获取";
    }
    if (status >= 400) {
        return "网站回答 HTTP " + std::to_string(status);
    }
    return status != 0 ? "联系页没有给出联系方式"
                       : "没有联系方式：联系页没有给出（例如网站回答 HTTP 404）";
}

const std::string& CellOf(const ResultRow& row, std::size_t column) {
    if (column < row.fields.size()) {
        return row.fields[column];
    }
    return column == row.fields.size() ? row.collected : row.search;
}

namespace {

// "7 / 9" as "7/9"; a line break or tab in a text would cut the line, so they become blanks.
std::string Compact(std::string_view text, bool dropBlanks) {
    std::string out;
    for (char c : text) {
        if (c == ' ' && dropBlanks) {
            continue;
        }
        out += c == '\n' || c == '\r' || c == '\t' ? ' ' : c;
    }
    return out;
}

const char* OnOff(bool on) {
    return on ? "on" : "off";
}

}  // namespace

std::string StateLine(const WindowState& state) {
    // The status comes last: it may hold blanks.
    return "state records=" + Compact(TextOf(state, IDC_RECORDS), true) +
           " pages=" + Compact(TextOf(state, IDC_PAGES), true) +
           " precollect=" + OnOff(EnabledIn(state, IDC_PRECOLLECT)) +
           " start=" + OnOff(EnabledIn(state, IDC_START)) +
           " stop=" + OnOff(EnabledIn(state, IDC_STOP)) +
           " startpage=" + Compact(TextOf(state, IDC_START_PAGE), true) +
           " rows=" + std::to_string(state.rows.size()) + " visible=" + OnOff(state.visible) +
           " failures=" + std::to_string(state.failures) +
           " status=" + Compact(TextOf(state, IDC_STATUS), false);
}

std::string QuestionLine(const Question& question) {
    return "ask caption=" + Compact(question.caption, false) +
           " text=" + Compact(question.text, false);
}
