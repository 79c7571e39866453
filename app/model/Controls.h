#pragma once
// The main window's controls: their ids, the template both views lay them out from (positions
// in dialog units, the smallest window), their fixed texts, the setting each one shows, the tab
// order and the lists' columns. A view builds, draws and reads its controls from these tables
// by their kind, and the window model binds each id to what it shows (WindowState.h), so the
// two windows cannot drift apart and a new control is a row here, not code in a view.

#include <cstddef>
#include <iterator>

// Control ids of the main window.
enum : int {
    IDC_DESCRIPTION = 1000,
    IDC_TAB = 1001,
    IDC_RESULT_LIST = 1002,
    IDC_RECORDS = 1003,
    IDC_PRECOLLECT = 1004,
    IDC_START = 1005,
    IDC_EXPORT_CSV = 1006,
    IDC_ABOUT = 1008,
    IDC_STATUS = 1009,
    IDC_TIMEOUT = 1010,
    IDC_EXPORT_TEXT = 1011,
    IDC_PAUSE_SECONDS = 1013,
    IDC_EVERY_N = 1014,
    IDC_STOP = 1015,
    IDC_START_PAGE = 1017,
    IDC_PAGES = 1018,
    IDC_PREVIEW = 1019,
    IDC_SKIP_KNOWN = 1021,
    IDC_PARALLEL = 1022,
    IDC_PROXY = 1023,
    IDC_PROGRESS = 1024,
    IDC_RETRY_FAILED = 1025,
    IDC_CLEAR = 1026,
    IDC_IMPORT = 1027,
    // The list area: a tab of the run's list, one of the collected data, one of the runs.
    IDC_LIST_TAB = 1030,
    IDC_DATA_FILTER = 1031,
    IDC_DATA_COUNTS = 1032,
    IDC_DATA_MORE = 1033,
    IDC_DATA_EXPORT = 1034,
    IDC_DATA_LIST = 1035,
    IDC_RUNS_LIST = 1036,
    // The hot key that hides and shows the window: what it is, and the button that changes it.
    IDC_HOTKEY_LABEL = 1040,
    IDC_HOTKEY = 1041,
    // Beside the search: keep it by name, and refresh saved searches on a schedule.
    IDC_SAVE_SEARCH = 1042,
    IDC_SCHEDULES = 1043,
    // On the condition page inside the tab.
    IDC_INDUSTRY = 1101,
    IDC_REGION = 1102,
};

enum class ControlKind { Group, Label, Digits, Edit, Check, Button, Tab, List, Radio, Date, Icon };

// How a control takes room the window gains beyond its smallest size.
enum : int { kGrowWidth = 1, kGrowHeight = 2 };

struct ControlSpec {
    int id;  // 0: a fixed label or frame nobody talks to
    ControlKind kind;
    const char* text;     // UTF-8; empty for a label or button whose text the model decides
    int x, y, cx, cy;     // dialog units
    bool right, bottom;   // follows the right or bottom edge when the window grows
    const char* tooltip;  // UTF-8, or null (the model may give it one: TipOf)
    const char* setting = nullptr;  // the setting it shows and takes (RunSettings.h), if any
    int grow = 0;                   // kGrowWidth, kGrowHeight: it widens or heightens
};

// The most digits a Digits control takes: more than any setting can hold is no number.
inline constexpr int kDigitsLimit = 9;

struct ResultColumn {
    const char* header;  // UTF-8
    int width;           // pixels
};

// The smallest window, in dialog units; the results list takes any room beyond it. It fits a
// 1366x768 screen with its taskbar.
inline constexpr int kDialogWidth = 575;
inline constexpr int kDialogHeight = 362;

inline constexpr const char* kWindowTitle = "Tarvola采集器 版本：2.0406";
inline constexpr const char* kConditionTabTitle = " 会员信息（中国站） ";

// clang-format off
inline constexpr ControlSpec kMainControls[] = {
    {0, ControlKind::Group, "运行参数", 7, 7, 141, 134, false, false, nullptr},
    {0, ControlKind::Label, "每采集", 31, 24, 30, 8, false, false, nullptr},
    {IDC_EVERY_N, ControlKind::Digits, "", 63, 21, 36, 14, false, false,
     "每保存这么多条记录暂停一次（0：不暂停）", "every"},
    {0, ControlKind::Label, "条记录", 103, 24, 40, 8, false, false, nullptr},
    {0, ControlKind::Label, "等待", 31, 41, 30, 8, false, false, nullptr},
    {IDC_PAUSE_SECONDS, ControlKind::Digits, "", 63, 38, 36, 14, false, false, nullptr, "wait"},
    {0, ControlKind::Label, "秒", 103, 41, 33, 8, false, false, nullptr},
    {0, ControlKind::Label, "并发：", 31, 58, 30, 8, false, false, nullptr},
    {IDC_PARALLEL, ControlKind::Digits, "", 63, 55, 36, 14, false, false,
     "同时获取的页面数（1 到 32）；记录仍按列表顺序保存", "parallel"},
    {0, ControlKind::Label, "个", 103, 58, 29, 8, false, false, nullptr},
    {0, ControlKind::Label, "超时：", 31, 75, 30, 8, false, false, nullptr},
    {IDC_TIMEOUT, ControlKind::Digits, "", 63, 72, 36, 14, false, false,
     "这么多秒没有新记录时从当前页重新开始（0：不检查）", "timeout"},
    {0, ControlKind::Label, "秒", 103, 75, 29, 8, false, false, nullptr},
    {0, ControlKind::Label, "代理：", 31, 92, 30, 8, false, false, nullptr},
    {IDC_PROXY, ControlKind::Edit, "", 63, 89, 80, 14, false, false,
     "http://主机:端口 或 socks5://主机:端口；空：使用环境变量 http_proxy 或系统的代理设置",
     "proxy"},
    {IDC_SKIP_KNOWN, ControlKind::Check, "跳过已采集公司", 31, 108, 100, 10, false, false,
     "不再采集数据库中已有的公司（按联系页地址，或名称和地区）", "skipknown"},
    {IDC_HOTKEY_LABEL, ControlKind::Label, "", 13, 124, 96, 8, false, false, nullptr},
    {IDC_HOTKEY, ControlKind::Button, "更改…", 111, 121, 32, 14, false, false,
     "换一个热键（F1 到 F12，可加 Ctrl、Alt、Shift），或关闭热键"},
    {0, ControlKind::Label, "描述：", 155, 10, 31, 8, false, false, nullptr},
    {IDC_DESCRIPTION, ControlKind::Label, "", 200, 10, 265, 8, false, false, nullptr},
    {IDC_ABOUT, ControlKind::Button, "关于(&A)", 518, 7, 50, 14, true, false, nullptr},
    {IDC_TAB, ControlKind::Tab, "", 155, 26, 413, 100, false, false, nullptr, nullptr, kGrowWidth},
    {IDC_PRECOLLECT, ControlKind::Button, "预采集(&P)", 155, 127, 50, 14, false, false, nullptr},
    {IDC_RETRY_FAILED, ControlKind::Button, "", 210, 127, 80, 14, false, false,
     "查看未能获取的页面，全部或选中的重新获取"},
    {IDC_CLEAR, ControlKind::Button, "清空数据…", 294, 127, 50, 14, false, false,
     "删除数据库中的全部记录"},
    {0, ControlKind::Label, "起始页面：", 384, 131, 42, 8, true, false, nullptr},
    {IDC_START_PAGE, ControlKind::Digits, "", 426, 127, 36, 14, true, false, nullptr},
    {IDC_START, ControlKind::Button, "开始采集", 465, 127, 50, 14, true, false, nullptr},
    {IDC_STOP, ControlKind::Button, "停止采集", 518, 127, 50, 14, true, false, nullptr},
    {0, ControlKind::Label, "采集进度：", 7, 149, 42, 8, false, false, nullptr},
    {0, ControlKind::Label, "（记录）", 53, 149, 33, 8, false, false, nullptr},
    {IDC_RECORDS, ControlKind::Label, "", 88, 149, 53, 8, false, false, nullptr},
    {0, ControlKind::Label, "（页码）", 142, 149, 35, 8, false, false, nullptr},
    {IDC_PAGES, ControlKind::Label, "", 178, 149, 50, 8, false, false, nullptr},
    {IDC_PROGRESS, ControlKind::Label, "", 232, 149, 336, 8, false, false, nullptr},
    {IDC_LIST_TAB, ControlKind::Tab, "", 7, 159, 561, 180, false, false, nullptr, nullptr,
     kGrowWidth | kGrowHeight},
    {IDC_STATUS, ControlKind::Label, "", 7, 347, 276, 8, false, true, nullptr},
    {IDC_IMPORT, ControlKind::Button, "导入…", 290, 341, 50, 14, true, true,
     "从 CSV 文件导入记录"},
    {IDC_PREVIEW, ControlKind::Button, "预览采集结果", 353, 341, 66, 14, true, true, nullptr},
    {IDC_EXPORT_TEXT, ControlKind::Button, "导出到文本", 433, 341, 66, 14, true, true, nullptr},
    {IDC_EXPORT_CSV, ControlKind::Button, "导出到Excel", 503, 341, 66, 14, true, true, nullptr},
};

// The two pages of the list area. The run's list fills its page; the collected data's page has
// a filter row above its list (positions relative to the page).
inline constexpr const char* kRunListTitle = "本次采集";
inline constexpr const char* kDataPaneTitle = "已采集数据";
inline constexpr const char* kRunsTitle = "运行记录";
// clang-format off
inline constexpr ControlSpec kDataPaneControls[] = {
    {0, ControlKind::Label, "筛选：", 4, 5, 24, 8, false, false, nullptr},
    {IDC_DATA_FILTER, ControlKind::Edit, "", 30, 2, 120, 14, false, false,
     "公司、联系人、电话、手机、传真或地址中含有的文字（两个字以上最快）"},
    {IDC_DATA_COUNTS, ControlKind::Label, "", 156, 5, 250, 8, false, false, nullptr, nullptr,
     kGrowWidth},
    {IDC_DATA_MORE, ControlKind::Button, "更多", 410, 2, 40, 14, true, false,
     "再显示 100 条较早的记录"},
    {IDC_DATA_EXPORT, ControlKind::Button, "导出筛选结果…", 454, 2, 96, 14, true, false,
     "把筛选到的全部记录导出到文件"},
    {IDC_DATA_LIST, ControlKind::List, "", 0, 19, 553, 143, false, false, nullptr, nullptr,
     kGrowWidth | kGrowHeight},
};
// The run's page: its list alone.
inline constexpr ControlSpec kRunListControls[] = {
    {IDC_RESULT_LIST, ControlKind::List, "", 0, 0, 553, 162, false, false, nullptr, nullptr,
     kGrowWidth | kGrowHeight},
};
// The record of runs, newest first.
inline constexpr ControlSpec kRunsControls[] = {
    {IDC_RUNS_LIST, ControlKind::List, "", 0, 0, 553, 162, false, false, nullptr, nullptr,
     kGrowWidth | kGrowHeight},
};
// clang-format on

// The collected data's columns: the nine, then where each row came from.
inline constexpr ResultColumn kDataColumns[] = {{"公司名称", 200}, {"联系人", 80},   {"性别", 50},
                                                {"职务", 80},      {"手机", 100},    {"电话", 110},
                                                {"传真", 110},     {"地址", 160},    {"邮编", 60},
                                                {"采集时间", 130}, {"搜索条件", 100}};

// The record of runs' columns (a row's nine cells).
inline constexpr ResultColumn kRunColumns[] = {{"搜索条件", 110}, {"开始", 130}, {"结束", 130},
                                               {"方式", 50},      {"存入", 50},  {"新增", 50},
                                               {"失败", 50},      {"结果", 120}, {"采集完", 55}};

// On the condition page, relative to the page.
inline constexpr ControlSpec kConditionControls[] = {
    {0, ControlKind::Label, "行业：", 20, 11, 25, 8, false, false, nullptr},
    {IDC_INDUSTRY, ControlKind::Edit, "", 48, 9, 106, 14, false, false, nullptr},
    {0, ControlKind::Label, "地区：", 20, 29, 25, 8, false, false, nullptr},
    {IDC_REGION, ControlKind::Edit, "", 48, 27, 106, 14, false, false, nullptr},
    {IDC_SAVE_SEARCH, ControlKind::Button, "保存搜索…", 162, 9, 56, 14, false, false,
     "按名称保存这个搜索，以后可以定时采集"},
    {IDC_SCHEDULES, ControlKind::Button, "定时采集…", 162, 27, 56, 14, false, false,
     "由系统按时采集保存的搜索（窗口不必打开），可把新公司导出到文件夹"},
};
// clang-format on

// The order in which Tab moves between the controls that take the focus.
inline constexpr int kTabOrder[] = {
    IDC_PRECOLLECT,  IDC_PAUSE_SECONDS, IDC_EVERY_N,     IDC_PARALLEL,   IDC_TIMEOUT,
    IDC_START,       IDC_STOP,          IDC_EXPORT_TEXT, IDC_EXPORT_CSV, IDC_ABOUT,
    IDC_RESULT_LIST, IDC_START_PAGE,    IDC_PREVIEW,     IDC_INDUSTRY,   IDC_REGION};

// The run's columns: widths for their usual texts; a list widens a column whose texts need
// more (up to kWidestColumn) as its first kSizedRows rows come in.
inline constexpr ResultColumn kResultColumns[] = {{"公司名称", 200}, {"联系人", 80}, {"性别", 40},
                                                  {"职务", 80},      {"手机", 100},  {"电话", 100},
                                                  {"传真", 100},     {"地址", 190},  {"邮编", 60}};
inline constexpr int kWidestColumn = 400;  // pixels at 96 dots per inch
inline constexpr int kSizedRows = 200;
inline constexpr std::size_t kResultColumnCount = std::size(kResultColumns);

// A table of controls, and the pages of a tab: which table fills which of its pages.
struct ControlTable {
    const ControlSpec* controls;
    std::size_t count;
    constexpr const ControlSpec* begin() const { return controls; }
    constexpr const ControlSpec* end() const { return controls + count; }
};
template <std::size_t N>
constexpr ControlTable TableOf(const ControlSpec (&controls)[N]) {
    return {controls, N};
}
struct TabPage {
    int tab;            // the Tab control it belongs to
    const char* title;  // UTF-8
    ControlTable controls;
};
inline constexpr TabPage kTabPages[] = {
    {IDC_TAB, kConditionTabTitle, TableOf(kConditionControls)},
    {IDC_LIST_TAB, kRunListTitle, TableOf(kRunListControls)},
    {IDC_LIST_TAB, kDataPaneTitle, TableOf(kDataPaneControls)},
    {IDC_LIST_TAB, kRunsTitle, TableOf(kRunsControls)},
};

// Every control of the window: the main table, then each page's.
inline constexpr ControlTable kControlTables[] = {
    TableOf(kMainControls), TableOf(kConditionControls), TableOf(kRunListControls),
    TableOf(kDataPaneControls), TableOf(kRunsControls)};
// The row of control `id`, or null.
constexpr const ControlSpec* ControlSpecOf(int id) {
    for (const ControlTable& table : kControlTables) {
        for (const ControlSpec& c : table) {
            if (c.id == id && id != 0) {
                return &c;
            }
        }
    }
    return nullptr;
}

// Calls `f(control)` for every control that shows a setting.
template <typename F>
void ForEachSettingControl(F&& f) {
    for (const ControlTable& table : kControlTables) {
        for (const ControlSpec& c : table) {
            if (c.setting != nullptr) {
                f(c);
            }
        }
    }
}

// The columns of list `id`.
struct ColumnTable {
    const ResultColumn* columns;
    std::size_t count;
};
constexpr ColumnTable ColumnsOf(int id) {
    return id == IDC_DATA_LIST   ? ColumnTable{kDataColumns, std::size(kDataColumns)}
           : id == IDC_RUNS_LIST ? ColumnTable{kRunColumns, std::size(kRunColumns)}
                                 : ColumnTable{kResultColumns, std::size(kResultColumns)};
}
