#pragma once
// The main window's controls: their ids, the template both views lay them out from (positions
// in dialog units, the smallest window), their fixed texts, the tab order and the results
// list's columns. A view builds its controls from these tables and nothing else, so the two
// windows cannot drift apart.

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
    // On the condition page inside the tab.
    IDC_INDUSTRY = 1101,
    IDC_REGION = 1102,
};

enum class ControlKind { Group, Label, Digits, Edit, Check, Button, Tab, List };

struct ControlSpec {
    int id;  // 0: a fixed label or frame nobody talks to
    ControlKind kind;
    const char* text;     // UTF-8
    int x, y, cx, cy;     // dialog units
    bool right, bottom;   // follows the right or bottom edge when the window grows
    const char* tooltip;  // UTF-8, or null
};

// The smallest window, in dialog units; the results list takes any room beyond it.
inline constexpr int kDialogWidth = 575;
inline constexpr int kDialogHeight = 398;

inline constexpr const char* kWindowTitle = "Tarvola采集器 版本：2.0406";
inline constexpr const char* kConditionTabTitle = " 会员信息（中国站） ";

// clang-format off
inline constexpr ControlSpec kMainControls[] = {
    {0, ControlKind::Group, "运行参数", 7, 7, 141, 134, false, false, nullptr},
    {0, ControlKind::Label, "每采集", 30, 37, 26, 8, false, false, nullptr},
    {IDC_EVERY_N, ControlKind::Digits, "", 65, 34, 21, 14, false, false, nullptr},
    {0, ControlKind::Label, "个页面", 93, 37, 39, 8, false, false, nullptr},
    {0, ControlKind::Label, "等待", 48, 55, 21, 8, false, false, nullptr},
    {IDC_PAUSE_SECONDS, ControlKind::Digits, "", 76, 51, 21, 14, false, false, nullptr},
    {0, ControlKind::Label, "秒", 104, 53, 33, 8, false, false, nullptr},
    {0, ControlKind::Label, "并发：", 31, 69, 30, 8, false, false, nullptr},
    {IDC_PARALLEL, ControlKind::Digits, "", 65, 67, 21, 14, false, false,
     "同时获取的页面数（1 到 32）；记录仍按列表顺序保存"},
    {0, ControlKind::Label, "个", 93, 69, 29, 8, false, false, nullptr},
    {0, ControlKind::Label, "超时：", 31, 87, 30, 8, false, false, nullptr},
    {IDC_TIMEOUT, ControlKind::Digits, "", 65, 85, 21, 14, false, false, nullptr},
    {0, ControlKind::Label, "秒", 93, 87, 29, 8, false, false, nullptr},
    {IDC_SKIP_KNOWN, ControlKind::Check, "跳过已采集公司", 31, 103, 100, 10, false, false,
     "不再采集数据库中已有的公司（按联系页地址，或名称和地区）"},
    {0, ControlKind::Label, "按下F2， 隐藏/显示界面", 31, 121, 120, 8, false, false, nullptr},
    {0, ControlKind::Label, "描述：", 155, 10, 31, 8, false, false, nullptr},
    {IDC_DESCRIPTION, ControlKind::Label, "", 200, 10, 265, 8, false, false, nullptr},
    {IDC_ABOUT, ControlKind::Button, "关于(&A)", 518, 7, 50, 14, true, false, nullptr},
    {IDC_TAB, ControlKind::Tab, "", 155, 26, 413, 100, false, false, nullptr},
    {IDC_PRECOLLECT, ControlKind::Button, "预采集(&P)", 155, 127, 50, 14, false, false, nullptr},
    {0, ControlKind::Label, "起始页面：", 390, 131, 42, 8, true, false, nullptr},
    {IDC_START_PAGE, ControlKind::Digits, "", 432, 127, 22, 14, true, false, nullptr},
    {IDC_START, ControlKind::Button, "开始采集", 465, 127, 50, 14, true, false, nullptr},
    {IDC_STOP, ControlKind::Button, "停止采集", 518, 127, 50, 14, true, false, nullptr},
    {0, ControlKind::Label, "采集进度：", 7, 149, 42, 8, false, false, nullptr},
    {0, ControlKind::Label, "（记录）", 53, 149, 33, 8, false, false, nullptr},
    {IDC_RECORDS, ControlKind::Label, "", 88, 149, 53, 8, false, false, nullptr},
    {0, ControlKind::Label, "（页码）", 162, 149, 35, 8, false, false, nullptr},
    {IDC_PAGES, ControlKind::Label, "", 204, 149, 53, 8, false, false, nullptr},
    {IDC_RESULT_LIST, ControlKind::List, "", 7, 159, 561, 216, false, false, nullptr},
    {IDC_STATUS, ControlKind::Label, "", 7, 383, 272, 8, false, true, nullptr},
    {IDC_PREVIEW, ControlKind::Button, "预览采集结果", 353, 377, 66, 14, true, true, nullptr},
    {IDC_EXPORT_TEXT, ControlKind::Button, "导出到文本", 433, 377, 66, 14, true, true, nullptr},
    {IDC_EXPORT_CSV, ControlKind::Button, "导出到Excel", 503, 377, 66, 14, true, true, nullptr},
};

// On the condition page, relative to the page.
inline constexpr ControlSpec kConditionControls[] = {
    {0, ControlKind::Label, "行业：", 20, 11, 25, 8, false, false, nullptr},
    {IDC_INDUSTRY, ControlKind::Edit, "", 48, 9, 106, 14, false, false, nullptr},
    {0, ControlKind::Label, "地区：", 20, 29, 25, 8, false, false, nullptr},
    {IDC_REGION, ControlKind::Edit, "", 48, 27, 106, 14, false, false, nullptr},
};
// clang-format on

// The order in which Tab moves between the controls that take the focus.
inline constexpr int kTabOrder[] = {
    IDC_PRECOLLECT,  IDC_PAUSE_SECONDS, IDC_EVERY_N,     IDC_PARALLEL,   IDC_TIMEOUT,
    IDC_START,       IDC_STOP,          IDC_EXPORT_TEXT, IDC_EXPORT_CSV, IDC_ABOUT,
    IDC_RESULT_LIST, IDC_START_PAGE,    IDC_PREVIEW,     IDC_INDUSTRY,   IDC_REGION};

struct ResultColumn {
    const char* header;  // UTF-8
    int width;           // pixels
};
inline constexpr ResultColumn kResultColumns[] = {
    {"公司名称", 200}, {"联系人", 100}, {"性别", 100}, {"职务", 100}, {"手机", 100},
    {"电话", 100},     {"传真", 100},   {"地址", 100}, {"邮编", 100}};
inline constexpr std::size_t kResultColumnCount = std::size(kResultColumns);
