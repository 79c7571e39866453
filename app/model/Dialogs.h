#pragma once
// The window's smaller dialogs: the list of kept failures, the export choice, the About box
// and the boxes of long waits. Their texts are shared by both views; their templates (in dialog
// units) are what a view without layouts places them by.

#include "app/model/Controls.h"

inline constexpr const char* kWaitingRowTip =
    "联系页未能获取，只有名称：点击 重试失败页面 重新获取";

// The store's server does not answer.
inline constexpr const char* kStoreWaitTitle = "数据库无响应";
inline constexpr const char* kStoreWaitText = "数据库无响应，正在等待服务器应答……";
inline constexpr const char* kStoreWaitButton = "放弃";
inline constexpr const char* kProgressCancel = "取消";

// The list of kept failures.
enum : int {
    IDC_FAILURES_LIST = 1201,
    IDC_RETRY_SELECTED = 1202,
    IDC_RETRY_ALL = 1203,
    IDC_FAILURES_CLOSE = 1204,
};
inline constexpr const char* kFailuresTitle = "未能获取的页面";
inline constexpr int kFailuresWidth = 420;
inline constexpr int kFailuresHeight = 200;
// clang-format off
inline constexpr ControlSpec kFailuresControls[] = {
    {0, ControlKind::Label, "这些页面重试后仍未能获取。公司行只有名称，重试成功后补全。",
     7, 7, 406, 8, false, false, nullptr},
    {IDC_FAILURES_LIST, ControlKind::List, "", 7, 19, 406, 155, false, false, nullptr},
    {IDC_RETRY_SELECTED, ControlKind::Button, "重试所选", 251, 179, 50, 14, true, true, nullptr},
    {IDC_RETRY_ALL, ControlKind::Button, "全部重试", 307, 179, 50, 14, true, true, nullptr},
    {IDC_FAILURES_CLOSE, ControlKind::Button, "关闭", 363, 179, 50, 14, true, true, nullptr},
};
// clang-format on
// The reason comes before the address, which is long and last, so it is never pushed out of view.
inline constexpr ResultColumn kFailureColumns[] = {
    {"页面或公司", 160}, {"原因", 160}, {"次数", 40}, {"时间", 150}, {"地址", 240}};

// What an export writes: two groups of radio buttons (the search; the period, in the order of
// ExportChoice::Period) and two checks. A radio group ends at the first control that is not
// one, so the date (beside 自这一天起采集的) comes after its group.
enum : int {
    IDC_SEARCH_ALL = 1301,
    IDC_SCOPE_SEARCH = 1302,
    IDC_PERIOD_ALL = 1303,
    IDC_PERIOD_TODAY = 1304,
    IDC_PERIOD_SINCE = 1305,
    IDC_PERIOD_LAST_RUN = 1306,
    IDC_PERIOD_IMPORTED = 1307,
    IDC_PERIOD_OF_RUN = 1308,
    IDC_SINCE_DATE = 1309,
    IDC_COMPLETE_ONLY = 1310,
    IDC_ALL_COLUMNS = 1311,
    IDC_EXPORT_NEXT = 1312,
    IDC_EXPORT_CANCEL = 1313,
};
inline constexpr int kExportPeriods = IDC_PERIOD_OF_RUN - IDC_PERIOD_ALL + 1;
inline constexpr const char* kExportTitle = "导出";
inline constexpr const char* kSearchScopeNone = "本次搜索（尚未预采集）";
inline constexpr const char* kSearchScopeOf = "本次搜索：";  // followed by the search
inline constexpr int kExportWidth = 260;
inline constexpr int kExportHeight = 202;
// clang-format off
inline constexpr ControlSpec kExportControls[] = {
    {0, ControlKind::Label, "导出哪些记录：", 7, 7, 246, 8, false, false, nullptr},
    {0, ControlKind::Label, "搜索：", 7, 20, 40, 8, false, false, nullptr},
    {IDC_SEARCH_ALL, ControlKind::Radio, "全部搜索", 14, 31, 200, 10, false, false, nullptr},
    {IDC_SCOPE_SEARCH, ControlKind::Radio, "", 14, 43, 239, 10, false, false, nullptr},
    {0, ControlKind::Label, "时间：", 7, 58, 40, 8, false, false, nullptr},
    {IDC_PERIOD_ALL, ControlKind::Radio, "全部时间", 14, 69, 200, 10, false, false, nullptr},
    {IDC_PERIOD_TODAY, ControlKind::Radio, "今天新采集的", 14, 81, 200, 10, false, false, nullptr},
    {IDC_PERIOD_SINCE, ControlKind::Radio, "自这一天起采集的：", 14, 94, 90, 10, false, false,
     nullptr},
    {IDC_PERIOD_LAST_RUN, ControlKind::Radio, "自上次采集以来（上次采集完成后新采集的）", 14, 107,
     239, 10, false, false, nullptr},
    {IDC_PERIOD_IMPORTED, ControlKind::Radio, "导入的记录", 14, 119, 200, 10, false, false,
     nullptr},
    {IDC_PERIOD_OF_RUN, ControlKind::Radio, "该次运行新增", 14, 131, 200, 10, false, false,
     nullptr},
    {IDC_SINCE_DATE, ControlKind::Date, "", 106, 92, 70, 14, false, false, nullptr},
    {IDC_COMPLETE_ONLY, ControlKind::Check, "只导出完整的记录（不含联系页未能获取、只有名称的公司）",
     7, 146, 246, 10, false, false, nullptr},
    {IDC_ALL_COLUMNS, ControlKind::Check, "在九列之后加上 采集时间 和 搜索条件 两列",
     7, 160, 246, 10, false, false, nullptr},
    {IDC_EXPORT_NEXT, ControlKind::Button, "下一步…", 147, 181, 50, 14, false, false, nullptr},
    {IDC_EXPORT_CANCEL, ControlKind::Button, "取消", 203, 181, 50, 14, false, false, nullptr},
};
// clang-format on

// The hot key's choice: one group of radio buttons (关闭, F1 to F12, in that order of ids), then
// the modifiers held with it.
enum : int {
    IDC_HOTKEY_NONE = 1501,
    IDC_HOTKEY_F1 = 1502,  // to IDC_HOTKEY_F1 + 11: F12
    IDC_HOTKEY_CTRL = 1520,
    IDC_HOTKEY_ALT = 1521,
    IDC_HOTKEY_SHIFT = 1522,
    IDC_HOTKEY_OK = 1523,
    IDC_HOTKEY_CANCEL = 1524,
};
inline constexpr const char* kHotKeyTitle = "热键";
inline constexpr int kHotKeyWidth = 214;
inline constexpr int kHotKeyHeight = 96;
// clang-format off
inline constexpr ControlSpec kHotKeyControls[] = {
    {0, ControlKind::Label, "隐藏/显示界面的热键：", 7, 7, 200, 8, false, false, nullptr},
    {IDC_HOTKEY_NONE, ControlKind::Radio, "关闭", 14, 19, 40, 10, false, false, nullptr},
    {IDC_HOTKEY_F1 + 0, ControlKind::Radio, "F1", 14, 32, 30, 10, false, false, nullptr},
    {IDC_HOTKEY_F1 + 1, ControlKind::Radio, "F2", 46, 32, 30, 10, false, false, nullptr},
    {IDC_HOTKEY_F1 + 2, ControlKind::Radio, "F3", 78, 32, 30, 10, false, false, nullptr},
    {IDC_HOTKEY_F1 + 3, ControlKind::Radio, "F4", 110, 32, 30, 10, false, false, nullptr},
    {IDC_HOTKEY_F1 + 4, ControlKind::Radio, "F5", 142, 32, 30, 10, false, false, nullptr},
    {IDC_HOTKEY_F1 + 5, ControlKind::Radio, "F6", 174, 32, 30, 10, false, false, nullptr},
    {IDC_HOTKEY_F1 + 6, ControlKind::Radio, "F7", 14, 44, 30, 10, false, false, nullptr},
    {IDC_HOTKEY_F1 + 7, ControlKind::Radio, "F8", 46, 44, 30, 10, false, false, nullptr},
    {IDC_HOTKEY_F1 + 8, ControlKind::Radio, "F9", 78, 44, 30, 10, false, false, nullptr},
    {IDC_HOTKEY_F1 + 9, ControlKind::Radio, "F10", 110, 44, 30, 10, false, false, nullptr},
    {IDC_HOTKEY_F1 + 10, ControlKind::Radio, "F11", 142, 44, 30, 10, false, false, nullptr},
    {IDC_HOTKEY_F1 + 11, ControlKind::Radio, "F12", 174, 44, 30, 10, false, false, nullptr},
    {0, ControlKind::Label, "同时按住：", 7, 60, 40, 8, false, false, nullptr},
    {IDC_HOTKEY_CTRL, ControlKind::Check, "Ctrl", 50, 59, 36, 10, false, false, nullptr},
    {IDC_HOTKEY_ALT, ControlKind::Check, "Alt", 90, 59, 36, 10, false, false, nullptr},
    {IDC_HOTKEY_SHIFT, ControlKind::Check, "Shift", 130, 59, 40, 10, false, false, nullptr},
    {IDC_HOTKEY_OK, ControlKind::Button, "确定", 102, 76, 50, 14, false, false, nullptr},
    {IDC_HOTKEY_CANCEL, ControlKind::Button, "取消", 157, 76, 50, 14, false, false, nullptr},
};
// clang-format on

// 保存搜索…: the name of the search.
enum : int { IDC_SEARCH_NAME = 1601, IDC_SEARCH_NAME_OK = 1602, IDC_SEARCH_NAME_CANCEL = 1603 };
inline constexpr const char* kSearchNameTitle = "保存搜索";
inline constexpr int kSearchNameWidth = 220;
inline constexpr int kSearchNameHeight = 62;
// clang-format off
inline constexpr ControlSpec kSearchNameControls[] = {
    {0, ControlKind::Label, "保存为（名称）：", 7, 7, 206, 8, false, false, nullptr},
    {IDC_SEARCH_NAME, ControlKind::Edit, "", 7, 19, 206, 14, false, false, nullptr},
    {IDC_SEARCH_NAME_OK, ControlKind::Button, "确定", 108, 41, 50, 14, false, false, nullptr},
    {IDC_SEARCH_NAME_CANCEL, ControlKind::Button, "取消", 163, 41, 50, 14, false, false, nullptr},
};
// clang-format on

// 定时采集…: which saved searches, when, and where their new companies go; below, the
// schedules there are. The days of a week are seven checks in the order of their ids.
enum : int {
    IDC_SCHED_SEARCHES = 1701,
    IDC_SCHED_DAILY = 1702,
    IDC_SCHED_WEEKLY = 1703,
    IDC_SCHED_DAY1 = 1704,  // to IDC_SCHED_DAY1 + 6: Sunday
    IDC_SCHED_TIME = 1711,
    IDC_SCHED_EXPORT = 1712,
    IDC_SCHED_FOLDER = 1713,
    IDC_SCHED_ADD = 1714,
    IDC_SCHED_LIST = 1715,
    IDC_SCHED_REMOVE = 1716,
    IDC_SCHED_CLOSE = 1717,
};
inline constexpr const char* kScheduleTitle = "定时采集";
inline constexpr int kScheduleWidth = 330;
inline constexpr int kScheduleHeight = 250;
// clang-format off
inline constexpr ControlSpec kScheduleControls[] = {
    {0, ControlKind::Label, "保存的搜索（不选为全部）：", 7, 7, 150, 8, false, false, nullptr},
    {IDC_SCHED_SEARCHES, ControlKind::List, "", 7, 18, 140, 88, false, false, nullptr},
    {IDC_SCHED_DAILY, ControlKind::Radio, "每天", 155, 18, 60, 10, false, false, nullptr},
    {IDC_SCHED_WEEKLY, ControlKind::Radio, "每周：", 155, 31, 60, 10, false, false, nullptr},
    {IDC_SCHED_DAY1 + 0, ControlKind::Check, "一", 165, 44, 22, 10, false, false, nullptr},
    {IDC_SCHED_DAY1 + 1, ControlKind::Check, "二", 188, 44, 22, 10, false, false, nullptr},
    {IDC_SCHED_DAY1 + 2, ControlKind::Check, "三", 211, 44, 22, 10, false, false, nullptr},
    {IDC_SCHED_DAY1 + 3, ControlKind::Check, "四", 234, 44, 22, 10, false, false, nullptr},
    {IDC_SCHED_DAY1 + 4, ControlKind::Check, "五", 257, 44, 22, 10, false, false, nullptr},
    {IDC_SCHED_DAY1 + 5, ControlKind::Check, "六", 280, 44, 22, 10, false, false, nullptr},
    {IDC_SCHED_DAY1 + 6, ControlKind::Check, "日", 303, 44, 22, 10, false, false, nullptr},
    {0, ControlKind::Label, "时间：", 155, 60, 30, 8, false, false, nullptr},
    {IDC_SCHED_TIME, ControlKind::Edit, "", 187, 57, 40, 14, false, false,
     "HH:MM，如 08:00；错过的（关机、睡眠）在开机后补上"},
    {IDC_SCHED_EXPORT, ControlKind::Check, "把新公司导出到文件夹：", 155, 76, 168, 10, false, false,
     nullptr},
    {IDC_SCHED_FOLDER, ControlKind::Edit, "", 165, 89, 158, 14, false, false,
     "每个采集完成的搜索，新增的完整记录写入 新公司-行业-地区-日期.xlsx"},
    {IDC_SCHED_ADD, ControlKind::Button, "添加定时采集", 263, 110, 60, 14, false, false, nullptr},
    {0, ControlKind::Label, "已有的定时采集：", 7, 118, 150, 8, false, false, nullptr},
    {IDC_SCHED_LIST, ControlKind::List, "", 7, 129, 316, 92, false, false, nullptr},
    {IDC_SCHED_REMOVE, ControlKind::Button, "删除所选", 217, 229, 50, 14, false, false, nullptr},
    {IDC_SCHED_CLOSE, ControlKind::Button, "关闭", 273, 229, 50, 14, false, false, nullptr},
};
// clang-format on
inline constexpr ResultColumn kScheduleColumns[] = {{"编号", 40}, {"时间", 110}, {"执行", 400}};

// The About box; its store line is kAboutStore followed by the store's name.
// Under it, the rule that chose the store when none was named.
enum : int {
    IDC_ABOUT_STORE = 1401,
    IDC_ABOUT_ICON = 1402,
    IDC_ABOUT_OK = 1403,
    IDC_ABOUT_RULE = 1404
};
inline constexpr const char* kAboutTitle = "关于";
inline constexpr const char* kAboutStore = "数据库：";
inline constexpr int kAboutWidth = 235;
inline constexpr int kAboutHeight = 85;
// clang-format off
inline constexpr ControlSpec kAboutControls[] = {
    {IDC_ABOUT_ICON, ControlKind::Icon, "", 11, 17, 20, 20, false, false, nullptr},
    {0, ControlKind::Label, "Tarvola采集器 2.0406", 40, 10, 119, 8, false, false, nullptr},
    {IDC_ABOUT_STORE, ControlKind::Label, "", 40, 24, 188, 32, false, false, nullptr},
    {IDC_ABOUT_OK, ControlKind::Button, "确定", 178, 7, 50, 14, false, false, nullptr},
    {IDC_ABOUT_RULE, ControlKind::Label,
     "未指定 --store 时：程序目录中已有、且可写的 data.db，否则为用户数据目录中的 data.db。",
     40, 58, 188, 20, false, false, nullptr},
};
// clang-format on
