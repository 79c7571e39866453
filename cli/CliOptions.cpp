#include "cli/CliOptions.h"

#include "crawl/CurlTransfer.h"

#include "crawl/CrawlJob.h"
#include "platform/ProgramFolders.h"
#include "store/SavedSearch.h"
#include "store/Store.h"
#include "text/Split.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

using namespace crawl;
using namespace store;

namespace {

bool ParseNumber(const std::string& s, int minimum, int& out) {
    if (s.empty()) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(s.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < minimum || v > INT_MAX) {
        return false;
    }
    out = static_cast<int>(v);
    return true;
}

// The ranges of the settings a collect takes, as the window has them.
std::string SettingRanges() {
    std::string line = "  范围与窗口相同（超出时退出码 2）：";
    const char* separator = "";
    for (const SettingSpec& s : kSettings) {
        if (s.option != nullptr) {
            line += separator + std::string(s.option) + " " + std::to_string(s.bounds.low) +
                    " 到 " + std::to_string(s.bounds.high);
            separator = "，";
        }
    }
    return line + "。\n";
}

// "YYYY-MM-DD" with a month 01 to 12 and a day 01 to 31.
bool IsDate(const std::string& text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') {
        return false;
    }
    for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
    }
    const int month = (text[5] - '0') * 10 + (text[6] - '0');
    const int day = (text[8] - '0') * 10 + (text[9] - '0');
    return month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

// "30,60" (minutes), "5s,10s" (seconds) or "none".
std::optional<std::vector<std::chrono::seconds>> ParseDelays(const std::string& list) {
    std::vector<std::chrono::seconds> delays;
    if (list == "none") {
        return delays;
    }
    for (std::string item : text::SplitList(list, ',')) {
        const bool seconds = !item.empty() && item.back() == 's';
        if (seconds) {
            item.pop_back();
        }
        int n = 0;
        if (!ParseNumber(item, 0, n) || n > 24 * 60 * (seconds ? 60 : 1)) {
            return std::nullopt;
        }
        delays.push_back(seconds ? std::chrono::seconds(n) : std::chrono::minutes(n));
    }
    return delays;
}

}  // namespace

namespace {

// The rule of the default store, with this machine's two places.
std::string StoreRule() {
    return "数据库：--store 指定；默认为程序目录中已有、且当前用户可写的 data.db（" +
           ModuleDirectory() + "data.db），否则为用户数据目录中的 data.db（" +
           platform::DataFolder() + "data.db）。\n";
}

}  // namespace

std::string CliUsage(CliOptions::Command command) {
    using C = CliOptions::Command;
    const std::string head = "用法：collector-cli [--store PATH] ";
    switch (command) {
        case C::PreCollect:
            return head +
                   "precollect [--industry TEXT] [--region TEXT] [--proxy URL]\n"
                   "  按行业和地区预采集，输出结果页数（pages）和符合条件的公司数（matches）。\n"
                   "  --proxy：经这个代理（http:// 或 socks5://）访问网站，代替环境变量 "
                   "http_proxy。\n";
        case C::Collect:
            return head +
                   "collect [--industry TEXT] [--region TEXT] [--start P] [--last L]\n"
                   "                         [--every N] [--wait S] [--timeout T] "
                   "[--retry-failed]\n"
                   "                         [--no-skip-known] [--parallel K] [--delay MS] "
                   "[--proxy URL]\n"
                   "  从第 P 页采集到第 L 页（默认：预采集得到的总页数）。P 默认：这次搜索上次\n"
                   "  已采集完（采集到最后一页）或从未采集过时为第 1 页，新公司排在前面；上次\n"
                   "  中途停止时为停止的那一页。列表中的每一项只保存一次，中断后再采集不会重复\n"
                   "  保存。\n"
                   "  每采集 N 条记录暂停 S 秒（默认 30 条、10 秒）；T 秒（默认 50）无新记录时\n"
                   "  从当前页重新开始。Ctrl+C 停止采集：正在处理的记录保存后退出（退出码 "
                   "130）。\n"
                   "  重试后仍未能获取的页面保存在数据库中；--retry-failed 重新获取这些页面。\n"
                   "  默认跳过数据库中已有的公司（按联系页地址，或名称和地区）；--no-skip-known\n"
                   "  按目录原样保存每一项（同一公司出现在两页时保存两行）。\n"
                   "  网站返回的不是所请求的页面（验证页等）时按失败重试；连续 5 次则停止：\n"
                   "  网站要求验证或访问过于频繁（退出码 1）。\n"
                   "  --parallel K：同时获取 K 个页面（1 到 32，默认 1），记录仍按列表顺序保存；\n"
                   "  网站回答 429、503 或验证页时并发数减半。--delay "
                   "MS：对同一主机的两次请求至少\n"
                   "  间隔 MS 毫秒（默认 0）。--proxy URL：经这个代理（http:// 或 socks5://）访问\n"
                   "  网站，代替环境变量 http_proxy。\n" +
                   SettingRanges() +
                   "  退出码：0 全部保存；3 已采集到最后一页，但有页面未能获取；1 数据库、文件或\n"
                   "  网络错误；2 参数错误；130 已停止。\n";
        case C::Export:
            return head +
                   "export --format text|csv|xlsx [--encoding gbk|utf-8] [--unique]\n"
                   "                        [--complete-only] [--industry TEXT] [--region TEXT]\n"
                   "                        [--since YYYY-MM-DD] [--new-today] [--since-last-run]\n"
                   "                        [--imported] [--columns nine|all] FILE\n"
                   "  把记录导出到 FILE（- 为标准输出）：text 和 csv 默认 GBK 编码，utf-8\n"
                   "  带字节顺序标记；xlsx 为 Excel 工作簿，每个单元格都是文本。\n"
                   "  --unique：每家公司只导出一次（最新的记录）。\n"
                   "  --complete-only：不导出没有任何联系方式的记录（只有公司名称：联系页未能\n"
                   "  获取，或没有给出联系方式）。\n"
                   "  --industry / --region：只导出这个行业、地区的搜索采集到的记录（省略的一项\n"
                   "  "
                   "不限）；--since：只导出这一天及以后采集到联系方式的记录；--new-today：只导出\n"
                   "  "
                   "今天采集到联系方式的记录（导入的记录不算新采集的）；--since-last-run：只导出\n"
                   "  各搜索自上次采集完成以来新采集的记录；--imported：只导出导入的记录。\n"
                   "  --columns all：在九列之后加上 采集时间 和 搜索条件（默认 nine）。\n";
        case C::Clear:
            return head +
                   "clear [--force]\n  删除全部已采集的记录和各搜索的采集进度。共享的 PostgreSQL "
                   "数据库上有其他\n  采集器正在工作时拒绝清空，--force 仍然清空。\n";
        case C::Import:
            return head +
                   "import [--encoding gbk|utf-8] [--no-skip-known] FILE|-\n"
                   "  把 CSV 文件（导出的格式，或 mdb-export 导出的旧数据）中的记录追加到数据库：\n"
                   "  GBK 或 UTF-8；首行可以是列名（title ... zip 或 公司名称 ... "
                   "邮编，顺序不限）。\n"
                   "  不指定 --encoding 时按字节顺序标记或文件内容判断；无法判断时拒绝导入。\n"
                   "  默认跳过数据库中已有名称的公司；--no-skip-known 导入每一行。\n"
                   "  有错误的行会列出（前 20 行），整个文件都不导入。\n";
        case C::Search:
            return head + "search add [--industry TEXT] [--region TEXT] [--name NAME]\n" + head +
                   "search list\n" + head +
                   "search remove NAME\n"
                   "  保存的搜索（名称和条件）存放在数据库中，共享的 PostgreSQL 数据库上整个团队\n"
                   "  都能看到。名称默认为 行业-地区。list "
                   "每行一个：名称、行业、地区（制表符分隔）。\n";
        case C::Refresh:
            return head +
                   "refresh [NAME...] [--export-new DIR] [--wait-busy MIN] [--retry-broken LIST]\n"
                   "                         [--by-schedule] [collect 的 --every --wait --timeout\n"
                   "                         --parallel --delay --proxy --no-skip-known]\n"
                   "  依次采集保存的搜索（不指定名称时为全部）：上次已采集完的从第 1 页开始，\n"
                   "  未完成的从停止的那一页继续。采集设置取自窗口的设置（settings.ini），\n"
                   "  "
                   "命令行中给出的选项优先。最后每个搜索输出一行：新增、页数、失败、用时、结果。\n"
                   "  --export-new DIR：本次采集完成的搜索，把新增的完整记录写入\n"
                   "  DIR/新公司-<行业>-<地区>-<日期>.xlsx（没有新增时不写；不覆盖已有的文件）。\n"
                   "  --wait-busy MIN：数据库文件正被另一个采集使用时最多等待 MIN 分钟（默认 "
                   "30），\n"
                   "  然后跳过这个搜索。--retry-broken LIST：中断的搜索（网络、网站拒绝访问）在\n"
                   "  这些分钟之后再试（默认 30,60；数字后加 s 为秒；none 为不重试）。\n"
                   "  --by-schedule：记为定时采集（定时任务使用）。\n"
                   "  退出码：130 已停止；1 有搜索中断；4 有搜索因数据库忙被跳过；3 有页面未能\n"
                   "  获取；0 全部完成；2 参数错误或没有这个搜索。\n";
        case C::Schedule:
            return head +
                   "schedule add (--daily HH:MM | --weekly MON,THU HH:MM) [--export-new DIR] "
                   "[NAME...]\n"
                   "用法：collector-cli schedule list\n"
                   "用法：collector-cli schedule remove ID\n"
                   "  由系统定时执行 refresh（Windows：任务计划程序；Linux：systemd 用户定时器，\n"
                   "  没有时输出要用 crontab -e 添加的一行）。--store 记为绝对路径，或不含密码的\n"
                   "  数据库地址。list 每行一个：编号、时间、所执行的 refresh 参数。\n";
        case C::None:
            break;
    }
    return head +
           "<命令> [选项]\n"
           "命令：\n"
           "  precollect  预采集：查询结果页数和符合条件的公司数\n"
           "  collect     采集公司联系方式并保存到数据库\n"
           "  export      导出记录到文本、CSV 文件或 Excel 工作簿：全部，或按搜索、日期、\n"
           "              只导出完整的记录等选出的部分\n"
           "  clear       删除全部记录\n"
           "  import      从 CSV 文件导入记录\n"
           "  search      保存、列出、删除搜索\n"
           "  refresh     采集保存的搜索，可导出新增的公司\n"
           "  schedule    由系统定时执行 refresh\n"
           "每个命令都可用 --help 查看说明。\n" +
           StoreRule();
}

std::optional<CliOptions> ParseCliOptions(const std::vector<std::string>& args,
                                          std::string& error) {
    using C = CliOptions::Command;
    CliOptions o;
    size_t i = 0;
    auto value = [&](const std::string& name, std::string& out) {
        if (i + 1 >= args.size()) {
            error = "选项 " + name + " 缺少参数";
            return false;
        }
        out = args[++i];
        return true;
    };
    auto number = [&](const std::string& name, int minimum, int& out) {
        std::string text;
        if (!value(name, text)) {
            return false;
        }
        if (!ParseNumber(text, minimum, out)) {
            error =
                "选项 " + name + " 需要一个不小于 " + std::to_string(minimum) + " 的整数：" + text;
            return false;
        }
        return true;
    };

    for (; i < args.size() && o.command == C::None; ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--store") {
            if (!value(a, o.storePath)) {
                return std::nullopt;
            }
        } else if (a == "precollect") {
            o.command = C::PreCollect;
        } else if (a == "collect") {
            o.command = C::Collect;
        } else if (a == "export") {
            o.command = C::Export;
        } else if (a == "clear") {
            o.command = C::Clear;
        } else if (a == "import") {
            o.command = C::Import;
        } else if (a == "search") {
            o.command = C::Search;
        } else if (a == "refresh") {
            o.command = C::Refresh;
        } else if (a == "schedule") {
            o.command = C::Schedule;
        } else {
            error = "未知的命令或选项：" + RedactPassword(a);
            return std::nullopt;
        }
    }
    if (o.command == C::None) {
        if (!o.help) {
            error = "缺少命令";
            return std::nullopt;
        }
        return o;
    }

    if ((o.command == C::Search || o.command == C::Schedule) && i < args.size() &&
        args[i] != "--help" && args[i] != "-h") {
        o.action = args[i++];
        if (o.action != "add" && o.action != "list" && o.action != "remove") {
            error = "未知的操作：" + RedactPassword(o.action) + "（add、list 或 remove）";
            return std::nullopt;
        }
    }
    const bool searchAdd = o.command == C::Search && o.action == "add";
    const bool scheduleAdd = o.command == C::Schedule && o.action == "add";
    const bool conditions = o.command == C::PreCollect || o.command == C::Collect || searchAdd;
    // The settings of a collect: refresh takes them over the user's own.
    const bool collects = o.command == C::Collect || o.command == C::Refresh;
    // The settings a collect takes, refused out of the window's bounds in the window's words.
    auto setting = [&](const std::string& name) -> std::optional<bool> {
        for (const SettingSpec& s : kSettings) {
            if (s.option == nullptr || name != s.option) {
                continue;
            }
            std::string text;
            if (!value(name, text)) {
                return false;
            }
            const auto n = ReadBounded(text, s.bounds);
            if (!n) {
                error = BoundsMessage("选项 " + name + " ", s.bounds) + "：" + text;
                return false;
            }
            s.field(o.run) = *n;
            o.settingsGiven.push_back(s.key);
            return true;
        }
        return std::nullopt;
    };

    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        int n = 0;
        if (collects) {
            if (const std::optional<bool> taken = setting(a)) {
                if (!*taken) {
                    return std::nullopt;
                }
                continue;
            }
        }
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if ((conditions || o.command == C::Export) && a == "--industry") {
            if (!value(a, o.industry))
                return std::nullopt;
            o.industryGiven = true;
        } else if ((conditions || o.command == C::Export) && a == "--region") {
            if (!value(a, o.region))
                return std::nullopt;
            o.regionGiven = true;
        } else if ((conditions || o.command == C::Refresh) && !searchAdd && a == "--proxy") {
            if (!value(a, o.proxy))
                return std::nullopt;
            if (!IsProxyAddress(o.proxy)) {
                error = "--proxy 需要 http://主机:端口 或 socks5://主机:端口：" + o.proxy;
                return std::nullopt;
            }
        } else if (o.command == C::Export && a == "--complete-only") {
            o.completeOnly = true;
        } else if (o.command == C::Export && a == "--new-today") {
            o.newToday = true;
        } else if (o.command == C::Export && a == "--since-last-run") {
            o.sinceLastRun = true;
        } else if (o.command == C::Export && a == "--imported") {
            o.imported = true;
        } else if (o.command == C::Export && a == "--since") {
            if (!value(a, o.since))
                return std::nullopt;
            if (!IsDate(o.since)) {
                error = "--since 需要 YYYY-MM-DD 格式的日期：" + o.since;
                return std::nullopt;
            }
        } else if (o.command == C::Export && a == "--columns") {
            std::string columns;
            if (!value(a, columns))
                return std::nullopt;
            if (columns != "nine" && columns != "all") {
                error = "--columns 只能是 nine 或 all：" + columns;
                return std::nullopt;
            }
            o.allColumns = columns == "all";
        } else if (o.command == C::Collect && a == "--start") {
            if (!number(a, 1, n))
                return std::nullopt;
            o.startPage = n;
        } else if (o.command == C::Collect && a == "--last") {
            if (!number(a, 1, n))
                return std::nullopt;
            o.lastPage = n;
        } else if (o.command == C::Collect && a == "--retry-failed") {
            o.retryFailed = true;
        } else if (collects && a == "--skip-known") {
            o.skipKnown = true;
            o.skipKnownGiven = true;
        } else if ((collects || o.command == C::Import) && a == "--no-skip-known") {
            o.skipKnown = false;
            o.skipKnownGiven = true;
        } else if (searchAdd && a == "--name") {
            if (!value(a, o.name))
                return std::nullopt;
            if (!store::IsSearchName(o.name)) {
                error = "--name 需要一行文字，不以 - 开头：" + o.name;
                return std::nullopt;
            }
        } else if ((o.command == C::Refresh || scheduleAdd) && a == "--export-new") {
            if (!value(a, o.exportNew))
                return std::nullopt;
        } else if (o.command == C::Refresh && a == "--wait-busy") {
            std::string wait;
            if (!value(a, wait))
                return std::nullopt;
            const auto span = ParseDelays(wait);
            if (!span || span->size() != 1) {
                error = "--wait-busy 需要分钟数（数字后加 s 为秒）：" + wait;
                return std::nullopt;
            }
            o.waitBusy = span->front();
        } else if (o.command == C::Refresh && a == "--retry-broken") {
            std::string list;
            if (!value(a, list))
                return std::nullopt;
            if (const auto delays = ParseDelays(list)) {
                o.retryBroken = *delays;
            } else {
                error =
                    "--retry-broken 需要以逗号分隔的分钟数（如 30,60；数字后加 s 为秒；"
                    "none 为不重试）：" +
                    list;
                return std::nullopt;
            }
        } else if (o.command == C::Refresh && a == "--by-schedule") {
            o.bySchedule = true;
        } else if (scheduleAdd && a == "--daily") {
            o.daily = true;
            if (!value(a, o.time))
                return std::nullopt;
        } else if (scheduleAdd && a == "--weekly") {
            o.daily = false;
            if (!value(a, o.weekdays) || !value(a, o.time))
                return std::nullopt;
        } else if (o.command == C::Schedule && o.action == "remove" && o.scheduleId == 0 &&
                   !a.empty() && a[0] != '-') {
            if (!ParseNumber(a, 1, o.scheduleId)) {
                error = "schedule remove 需要定时任务的编号：" + a;
                return std::nullopt;
            }
        } else if (o.command == C::Search && o.action == "remove" && o.name.empty() && !a.empty() &&
                   a[0] != '-') {
            o.name = a;
        } else if ((o.command == C::Refresh || scheduleAdd) && !a.empty() && a[0] != '-') {
            o.names.push_back(a);
        } else if (o.command == C::Clear && a == "--force") {
            o.force = true;
        } else if (o.command == C::Export && a == "--unique") {
            o.unique = true;
        } else if (o.command == C::Collect && a == "--delay") {
            if (!number(a, 0, o.delayMs))
                return std::nullopt;
        } else if (o.command == C::Export && a == "--format") {
            if (!value(a, o.format))
                return std::nullopt;
            if (o.format != "text" && o.format != "csv" && o.format != "xlsx") {
                error = "--format 只能是 text、csv 或 xlsx：" + o.format;
                return std::nullopt;
            }
        } else if ((o.command == C::Export || o.command == C::Import) && a == "--encoding") {
            o.encodingGiven = true;
            if (!value(a, o.encoding))
                return std::nullopt;
            if (o.encoding != "gbk" && o.encoding != "utf-8") {
                error = "--encoding 只能是 gbk 或 utf-8：" + o.encoding;
                return std::nullopt;
            }
        } else if ((o.command == C::Export || o.command == C::Import) && !a.empty() &&
                   (a[0] != '-' || a == "-") && o.file.empty()) {
            o.file = a;
        } else {
            error = "未知的选项或参数：" + RedactPassword(a);
            return std::nullopt;
        }
    }
    if (!o.help && (o.command == C::Search || o.command == C::Schedule) && o.action.empty()) {
        error = "缺少操作：add、list 或 remove";
        return std::nullopt;
    }
    if (!o.help && o.command == C::Search && o.action == "remove" && o.name.empty()) {
        error = "search remove 需要搜索的名称";
        return std::nullopt;
    }
    if (!o.help && o.command == C::Schedule && o.action == "remove" && o.scheduleId == 0) {
        error = "schedule remove 需要定时任务的编号";
        return std::nullopt;
    }
    if (!o.help && scheduleAdd && o.time.empty()) {
        error = "schedule add 需要 --daily HH:MM 或 --weekly MON,THU HH:MM";
        return std::nullopt;
    }
    if (!o.help && o.command == C::Import && o.file.empty()) {
        error = "import 需要输入文件名（- 为标准输入）";
        return std::nullopt;
    }
    if (o.imported && (o.newToday || !o.since.empty() || o.sinceLastRun)) {
        // Imported rows are never new ones: the two together would always export nothing.
        error =
            "--imported 不能与 --since、--new-today 或 --since-last-run "
            "同用：导入的记录不算新采集的";
        return std::nullopt;
    }
    if (!o.help && o.command == C::Export && (o.format.empty() || o.file.empty())) {
        error = o.format.empty() ? "export 需要 --format text|csv|xlsx" : "export 需要输出文件名";
        return std::nullopt;
    }
    return o;
}
