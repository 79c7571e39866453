#include "app/model/WindowState.h"

#include <string_view>

#include "app/model/Prompts.h"

std::string TextOf(const WindowState& state, int id) {
    switch (id) {
        case IDC_DESCRIPTION:
            return state.description;
        case IDC_EVERY_N:
            return state.everyN;
        case IDC_PAUSE_SECONDS:
            return state.pauseSeconds;
        case IDC_PARALLEL:
            return state.parallel;
        case IDC_TIMEOUT:
            return state.timeout;
        case IDC_PROXY:
            return state.proxy;
        case IDC_PROGRESS:
            return state.progress;
        case IDC_RETRY_FAILED:
            return state.retryText;
        case IDC_DATA_FILTER:
            return state.dataFilter;
        case IDC_DATA_COUNTS:
            return state.dataCounts;
        case IDC_START_PAGE:
            return state.startPage;
        case IDC_INDUSTRY:
            return state.industry;
        case IDC_REGION:
            return state.region;
        case IDC_RECORDS:
            return state.records;
        case IDC_PAGES:
            return state.pages;
        case IDC_STATUS:
            return state.status;
        default:
            return {};
    }
}

bool EnabledIn(const WindowState& state, int id) {
    switch (id) {
        case IDC_PRECOLLECT:
            return state.precollectEnabled;
        case IDC_START:
            return state.startEnabled;
        case IDC_STOP:
            return state.stopEnabled;
        case IDC_RETRY_FAILED:
            return state.retryEnabled;
        case IDC_CLEAR:
            return state.clearEnabled;
        case IDC_IMPORT:
            return state.importEnabled;
        case IDC_DATA_MORE:
            return state.dataMoreEnabled;
        default:
            return true;
    }
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
    return "state records=" + Compact(state.records, true) +
           " pages=" + Compact(state.pages, true) +
           " precollect=" + OnOff(state.precollectEnabled) + " start=" + OnOff(state.startEnabled) +
           " stop=" + OnOff(state.stopEnabled) + " startpage=" + Compact(state.startPage, true) +
           " rows=" + std::to_string(state.rows.size()) + " visible=" + OnOff(state.visible) +
           " failures=" + std::to_string(state.failures) +
           " status=" + Compact(state.status, false);
}

std::string QuestionLine(const Question& question) {
    return "ask caption=" + Compact(question.caption, false) +
           " text=" + Compact(question.text, false);
}
