#include "cli/CliCommands.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>

#include "cli/CliOptions.h"
#include "cli/CliShared.h"
#include "crawl/Answer.h"
#include "crawl/CollectSession.h"
#include "crawl/CurlFetcher.h"
#include "crawl/CurlTransfer.h"
#include "crawl/EventQueue.h"
#include "crawl/RunSettings.h"
#include "platform/Console.h"
#include "platform/FileSystem.h"
#include "platform/ProgramFolders.h"
#include "platform/Schedule.h"
#include "platform/StopSignal.h"
#include "platform/SystemError.h"
#include "store/CsvImport.h"
#include "store/ExportRecords.h"
#include "store/FileLines.h"
#include "store/Store.h"
#include "store/StoreClock.h"
#include "text/GbkCodec.h"
#include "text/Number.h"
#include "text/Printable.h"

using namespace crawl;
using namespace store;

bool StopSignalled() {
    return platform::StopSignalled().load();
}

// Messages may carry texts of the directory (a reason with a page's title): their control
// characters are escaped, never sent to the terminal.
int Fail(const std::string& message, int code) {
    std::cerr << text::Printable(message) << std::endl;
    return code;
}

// A store failure, or the store call given up for Ctrl+C (which is a stop, not a failure).
int StoreFailed(const StoreError& e) {
    if (dynamic_cast<const StoreInterrupted*>(&e) != nullptr || StopSignalled()) {
        std::cerr << "操作停止！" << std::endl;
        return kExitStopped;
    }
    return Fail(e.what());
}

std::string StorePathOf(const CliOptions& o) {
    if (!o.storePath.empty()) {
        return o.storePath;
    }
    const platform::StoreLocation location = DefaultStoreLocation();
    // A store beside the program that is not the one in use is named, once a run.
    static bool told = false;
    if (const std::string notice = platform::UnusedStoreNotice(location);
        !notice.empty() && !told) {
        std::cerr << text::Printable(notice) << std::endl;
        told = true;
    }
    return location.path;
}

namespace {

constexpr auto kPoll = std::chrono::milliseconds(100);

// Progress on stderr: a line per event, or one redrawn line with a bar on a terminal.
class Progress {
  public:
    // With more than one lane asked for, the line also shows the lanes in use.
    Progress(int lastPage, int lanes)
        : last_(lastPage), showLanes_(lanes > 1), tty_(platform::StderrIsTerminal()) {}
    void Update(int page, int records, int lanes) {
        const std::string tail = showLanes_ ? ", lanes " + std::to_string(lanes) : std::string();
        if (tty_) {
            const int width = 30;
            const int filled =
                last_ > 0 ? static_cast<int>(std::min<long long>(
                                width, std::max(0LL, static_cast<long long>(page) * width / last_)))
                          : 0;
            // Cleared to the end of the line: the lanes may shrink to fewer digits.
            std::fprintf(stderr, "\r[%s%s] page %d / %d, records %d%s%s",
                         std::string(filled, '#').c_str(), std::string(width - filled, '-').c_str(),
                         page, last_, records, tail.c_str(), showLanes_ ? "\x1b[K" : "");
        } else {
            std::fprintf(stderr, "page %d / %d, records %d%s\n", page, last_, records,
                         tail.c_str());
        }
        std::fflush(stderr);
    }
    void Done() {
        if (tty_) {
            std::fputc('\n', stderr);
        }
    }

  private:
    int last_;
    bool showLanes_;
    bool tty_;
};

// The typed condition (UTF-8 on the terminal) as the core keeps it: GBK industry "^" region.
std::string ConditionOf(const CliOptions& o) {
    return text::Utf8ToGbk(o.industry) + "^" + text::Utf8ToGbk(o.region);
}

struct PreCollectResult {
    bool ok = false;
    std::int64_t pages = 0;
    std::int64_t matches = 0;
    std::string reason;  // why it failed
    int status = 0;      // the status the site answered with, 0 when none came
};

PreCollectResult PreCollect(const CliOptions& o) {
    SteadyClock clock;
    auto queue = std::make_shared<EventQueue>();
    CollectSession session(clock, queue);
    PreCollectResult result;
    RetryPolicy retry;
    // Tests shorten the waits between tries, as of a collect.
    if (const std::int64_t ms = text::EnvNumber("COLLECTOR_RETRY_DELAY_MS", 0, 60000, -1);
        ms >= 0) {
        retry.delays = {std::chrono::milliseconds(ms), std::chrono::milliseconds(ms)};
    }
    try {
        session.StartPreCollect(ConditionOf(o), retry);
    } catch (const std::system_error&) {
        result.reason = kCannotStartThread;
        return result;
    }
    while (!StopSignalled()) {
        auto event = queue->Take(kPoll);
        if (!event) {
            continue;
        }
        SessionUpdate u = session.Handle(*event);
        if (u.kind == SessionUpdate::Kind::PreCollected) {
            result = {true, u.pages, u.matches, {}};
            break;
        }
        if (u.kind == SessionUpdate::Kind::PreCollectFailed) {
            result.reason = u.reason;
            result.status = u.status;
            break;
        }
    }
    session.Shutdown(std::chrono::seconds(5));
    return result;
}

// The exit code when a pre-collect gave no totals (stopped, or the directory out of reach);
// none when it did.
std::optional<int> PreCollectFailed(const PreCollectResult& r) {
    if (StopSignalled()) {
        return kExitStopped;
    }
    if (!r.ok && r.reason == kProxyAuthMessage) {
        return Fail(r.reason + "：请在 --proxy 中写上用户名和密码（http://用户:密码@主机:端口）。");
    }
    if (!r.ok && r.status >= 400 && r.status < 500) {
        // The site answered: no network failure, the page asked for is not there.
        return Fail(r.reason + "，没有给出搜索结果：请稍后再试，或检查搜索条件。");
    }
    if (!r.ok) {
        return Fail("网络连接失败！" + (r.reason.empty() ? std::string() : "（" + r.reason + "）"));
    }
    return std::nullopt;
}

int RunPreCollect(const CliOptions& o) {
    PreCollectResult r = PreCollect(o);
    if (auto failed = PreCollectFailed(r)) {
        return *failed;
    }
    std::cout << "pages: " << r.pages << "\nmatches: " << r.matches << std::endl;
    // A shared store learns the search's pages now, for every collector that joins it.
    if (IsPostgresLocation(StorePathOf(o)) && r.matches > 0) {
        try {
            auto store = OpenStore(StorePathOf(o), &platform::StopSignalled());
            RegisterSharedSearch(*store, text::Utf8ToGbk(o.industry), text::Utf8ToGbk(o.region),
                                 r.pages, r.matches);
        } catch (const StoreError& e) {
            return StoreFailed(e);
        }
    }
    return kExitOk;
}

// One line on stderr for a page that is kept as a failure.
void NameFailure(const KeptFailure& f) {
    std::string line;
    if (f.kind == KeptFailure::Kind::ResultPage) {
        line = "未能获取：第 " + std::to_string(f.page) + " 页 " + f.address;
    } else {
        line = "未能获取：" + text::GbkToUtf8(f.title) + " 的联系页 " + f.address;
    }
    line += "（" + f.reason + "，共尝试 " + std::to_string(f.tries) + " 次）";
    std::cerr << text::Printable(line) << std::endl;
}

// The message and exit code of a run that ended as `end` says.
int ReportRunEnd(const RunEnd& end) {
    for (const KeptFailure& f : end.failures) {
        NameFailure(f);
    }
    switch (end.how) {
        case RunEnd::How::Finished:
            if (end.failures.empty()) {
                std::cerr << "操作成功完成！" << std::endl;
                return kExitOk;
            }
            std::cerr << "操作完成，有 " << end.failures.size()
                      << " 个页面未能获取，已保存，可用 collect --retry-failed 重试。" << std::endl;
            return kExitIncomplete;
        case RunEnd::How::Stopped:
            std::cerr << "操作停止！" << std::endl;
            return kExitStopped;
        case RunEnd::How::NetFailed:
            return Fail("网络连接失败！（" + end.reason + "）下次采集从当前页继续。");
        case RunEnd::How::Challenged:
            return Fail(WithDetail(kRefusalReason, end.reason) + "下次采集从当前页继续。");
        case RunEnd::How::ProxyAuth:
            return Fail(std::string(kProxyAuthMessage) +
                        "：请在 --proxy 中写上用户名和密码（http://用户:密码@主机:端口）。"
                        "下次采集从当前页继续。");
        case RunEnd::How::StoreFailed:
            return Fail("数据库错误，采集已停止：" + end.reason);
        case RunEnd::How::Crashed:
            return Fail("采集线程异常结束：" + end.reason);
    }
    return kExitFailure;
}

CollectRequest RequestOf(const CliOptions& o, const char* how) {
    CollectRequest request = o.run;
    request.how = how;
    request.condition = ConditionOf(o);
    request.options.skipKnown = o.skipKnown;
    // How long a page of a shared store stays claimed without a sign of life (tests shorten).
    request.options.lease = std::chrono::seconds(
        text::EnvNumber("COLLECTOR_LEASE_SECONDS", 1, 86400, CrawlOptions{}.lease.count()));
    request.options.delay = std::chrono::milliseconds(o.delayMs);
    // Tests shorten the waits between tries, so that a schedule of faults runs in seconds.
    if (const std::int64_t ms = text::EnvNumber("COLLECTOR_RETRY_DELAY_MS", 0, 60000, -1);
        ms >= 0) {
        request.options.retry.delays = {std::chrono::milliseconds(ms),
                                        std::chrono::milliseconds(ms)};
    }
    return request;
}

// Runs the session started on `request` to its end, with the progress on stderr.
SearchRun RunSession(const CliOptions& o, CollectSession& session, EventQueue& queue,
                     const CollectRequest& request) {
    // A retry counts the kept pages it fetches again.
    auto page = [&] { return o.retryFailed ? session.Retried() : session.Page(); };
    Progress progress(o.retryFailed ? session.RetryTotal() : request.lastPage,
                      request.options.lanes);
    std::optional<RunEnd> end;
    while (!end) {
        if (StopSignalled()) {
            session.Stop();
            end = RunEnd{RunEnd::How::Stopped, {}, {}};
            break;
        }
        if (auto event = queue.Take(kPoll)) {
            SessionUpdate u = session.Handle(*event);
            switch (u.kind) {
                case SessionUpdate::Kind::PageStarted:
                case SessionUpdate::Kind::RecordSaved:
                case SessionUpdate::Kind::LanesChanged:
                case SessionUpdate::Kind::FetchFailed:
                    progress.Update(page(), session.Records(), session.Lanes());
                    break;
                case SessionUpdate::Kind::RunEnded:
                    end = u.end;
                    break;
                default:
                    break;
            }
        }
        try {
            session.Tick();
        } catch (const std::system_error&) {
            session.Stop();
            end = RunEnd{RunEnd::How::Crashed, kCannotStartThread, {}};
        }
    }
    // Every worker finishes the record in hand; what it stores meanwhile is still counted.
    session.Shutdown(std::chrono::seconds(60));
    while (auto event = queue.Take(std::chrono::milliseconds(0))) {
        session.Handle(*event);
    }
    progress.Update(page(), session.Records(), session.Lanes());
    progress.Done();
    end->failures = session.Failures();  // with what the last workers reported on their way out
    SearchRun result;
    result.run = session.EndedRun();
    result.pages = o.retryFailed ? 0 : std::max(0, session.Page() - request.startPage + 1);
    result.exit = ReportRunEnd(*end);
    result.end = std::move(end);
    return result;
}

}  // namespace

SearchRun CollectSearch(const CliOptions& o, IRecordStore& store, const char* how) {
    SearchRun result;
    CollectRequest request = RequestOf(o, how);
    if (o.lastPage) {
        request.lastPage = *o.lastPage;
    } else {
        PreCollectResult r = PreCollect(o);
        if (auto failed = PreCollectFailed(r)) {
            result.exit = *failed;
            result.preCollectFailed = *failed == kExitFailure;
            result.reason = r.reason.empty() ? std::string("网络连接失败！") : r.reason;
            return result;
        }
        std::cerr << "pages: " << r.pages << ", matches: " << r.matches << std::endl;
        if (r.matches == 0) {
            std::cerr << "没有找到符合条件的记录，无需采集。" << std::endl;
            result.nothingToDo = true;
            return result;
        }
        request.lastPage = static_cast<int>(r.pages);
        request.searchPages = request.lastPage;
    }
    request.startPage =
        o.startPage ? *o.startPage : DefaultStartPage(store, request.condition, request.lastPage);
    if (request.startPage > request.lastPage) {
        result.exit =
            Fail(std::string(kStartPastTotal) + "（起始 " + std::to_string(request.startPage) +
                     "，共 " + std::to_string(request.lastPage) + " 页）",
                 kExitUsage);
        result.reason = kStartPastTotal;
        return result;
    }
    SteadyClock clock;
    auto queue = std::make_shared<EventQueue>();
    CollectSession session(clock, queue);
    try {
        session.StartCollect(request, store);
    } catch (const std::system_error&) {
        result.exit = Fail(kCannotStartThread);
        result.reason = kCannotStartThread;
        return result;
    }
    return RunSession(o, session, *queue, request);
}

namespace {

int RunCollect(const CliOptions& o) {
    std::unique_ptr<IRecordStore> store;
    try {
        store = OpenStore(StorePathOf(o), &platform::StopSignalled());
        if (!o.retryFailed) {
            return CollectSearch(o, *store, kByCommandLine).exit;
        }
        if (store->CountKeptFailures() == 0) {
            std::cerr << "没有需要重试的页面。" << std::endl;
            return kExitOk;
        }
    } catch (const StoreError& e) {
        return StoreFailed(e);
    }
    const CollectRequest request = RequestOf(o, kByCommandLine);
    SteadyClock clock;
    auto queue = std::make_shared<EventQueue>();
    CollectSession session(clock, queue);
    try {
        if (!session.StartRetry(request, *store)) {
            std::cerr << "没有需要重试的页面。" << std::endl;
            return kExitOk;
        }
    } catch (const std::system_error&) {
        return Fail(kCannotStartThread);
    } catch (const StoreError& e) {
        return StoreFailed(e);
    }
    return RunSession(o, session, *queue, request).exit;
}

int RunExport(const CliOptions& o) {
    try {
        auto opened = OpenStore(StorePathOf(o), &platform::StopSignalled());
        IRecordStore& store = *opened;
        if (!store.HasMemberRecords()) {
            return Fail("没有任何可以导出的数据！");
        }
        const ExportFormat format = o.format == "xlsx"  ? EXPORT_FORMAT_XLSX
                                    : o.format == "csv" ? EXPORT_FORMAT_CSV
                                                        : EXPORT_FORMAT_TEXT;
        ExportOptions options;
        options.encoding = o.encoding == "utf-8" ? ExportEncoding::Utf8Bom : ExportEncoding::Gbk;
        options.cancel = &platform::StopSignalled();
        options.allColumns = o.allColumns;
        RowSelection& selection = options.selection;
        selection.unique = o.unique;
        selection.completeOnly = o.completeOnly;
        if (o.industryGiven) {
            selection.industry = o.industry;
        }
        if (o.regionGiven) {
            selection.region = o.region;
        }
        selection.since = o.since;
        selection.importedOnly = o.imported;
        selection.sinceLastRun = o.sinceLastRun;
        if (o.newToday) {
            // Today from midnight, or the later of that and --since.
            selection.since = std::max(selection.since, StoreDate());
        }
        // A workbook named without an extension gets its own, so that Excel opens it.
        std::string path = o.file;
        const size_t name = path.find_last_of("/\\") + 1;
        if (format == EXPORT_FORMAT_XLSX && path != "-" &&
            path.find('.', name) == std::string::npos) {
            path += ".xlsx";
        }
        auto n = ExportRecords(store, path, format, options);
        // With the records on standard output, the count goes to standard error.
        (o.file == "-" ? std::cerr : std::cout) << "exported: " << n << std::endl;
        return kExitOk;
    } catch (const ExportCancelled&) {
        std::cerr << "操作停止！" << std::endl;
        return kExitStopped;
    } catch (const StoreError& e) {
        return StoreFailed(e);
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
}

// Thrown out of the import's line source when Ctrl+C came, or the file cannot be read:
// nothing is imported.
struct ImportStopped {};

int RunImport(const CliOptions& o) {
    // Standard input is kept in a temporary file first: the file is read more than once.
    FILE* in = nullptr;
    if (o.file == "-") {
        in = platform::AnonymousTempFile();
        if (in == nullptr) {
            return Fail("无法创建临时文件：" + platform::ErrorText(errno));
        }
        char buf[1 << 16];
        size_t n = 0;
        while ((n = std::fread(buf, 1, sizeof buf, stdin)) > 0 && !StopSignalled()) {
            if (std::fwrite(buf, 1, n, in) != n) {
                std::fclose(in);
                return Fail("无法写入临时文件：" + platform::ErrorText(errno));
            }
        }
        if (std::ferror(stdin) != 0) {
            std::fclose(in);
            return Fail("无法读取标准输入，没有导入任何记录。");
        }
    } else {
        in = std::fopen(o.file.c_str(), "rb");
        if (in == nullptr) {
            return Fail("无法打开导入文件“" + o.file + "”：" + platform::ErrorText(errno));
        }
    }
    std::unique_ptr<FILE, int (*)(FILE*)> file(in, std::fclose);
    FileLines reader(in, [](std::int64_t) {
        if (StopSignalled()) {
            throw ImportStopped{};  // a cut pipe may look like a whole file
        }
    });
    const ImportLines lines = reader.Lines();
    const ImportEncoding encoding = !o.encodingGiven      ? ImportEncoding::Detect
                                    : o.encoding == "gbk" ? ImportEncoding::Gbk
                                                          : ImportEncoding::Utf8;
    try {
        auto opened = OpenStore(StorePathOf(o), &platform::StopSignalled());
        const ImportReport report = ImportCsv(lines, *opened, encoding, o.skipKnown);
        if (!report.refusal.empty()) {
            return Fail(report.refusal + "。");
        }
        if (!report.errors.empty()) {
            for (const ImportLineError& e : report.errors) {
                std::cerr << "第 " << e.line << " 行：" << text::Printable(e.why) << std::endl;
            }
            if (report.moreErrors > 0) {
                std::cerr << "还有 " << report.moreErrors << " 行有错误。" << std::endl;
            }
            return Fail("文件中有错误的行，没有导入任何记录。");
        }
        std::cout << "imported: " << report.count.imported << std::endl;
        if (report.count.skipped > 0) {
            std::cerr << "跳过已有的公司 " << report.count.skipped
                      << " 家（--no-skip-known 导入每一行）。" << std::endl;
        }
        return kExitOk;
    } catch (const ImportStopped&) {
        std::cerr << "操作停止！" << std::endl;
        return kExitStopped;
    } catch (const ImportUnreadable&) {
        return Fail("无法读取导入文件“" + o.file + "”，没有导入任何记录。");
    } catch (const StoreError& e) {
        return StoreFailed(e);
    }
}

int RunClear(const CliOptions& o) {
    try {
        auto opened = OpenStore(StorePathOf(o), &platform::StopSignalled());
        IRecordStore& store = *opened;
        if (const std::string busy = OthersAtWork(store); !busy.empty() && !o.force) {
            return Fail(busy + "没有清空。确实要清空，请加 --force。");
        }
        if (!store.ClearMemberRecords(&platform::StopSignalled())) {
            std::cerr << "操作停止！" << std::endl;
            return kExitStopped;
        }
        return kExitOk;
    } catch (const StoreError& e) {
        return StoreFailed(e);
    }
}

}  // namespace

int RunCli(const std::vector<std::string>& args) {
    std::string error;
    auto options = ParseCliOptions(args, error);
    if (!options) {
        std::cerr << error << "\n\n" << CliUsage(CliOptions::Command::None);
        return kExitUsage;
    }
    const CliOptions& o = *options;
    if (o.help) {
        std::cout << CliUsage(o.command);
        return kExitOk;
    }
    using C = CliOptions::Command;
    if ((o.command == C::PreCollect || (o.command == C::Collect && !o.retryFailed) ||
         (o.command == C::Search && o.action == "add")) &&
        o.industry.empty() && o.region.empty()) {
        return Fail("请至少指定一项采集条件！", kExitUsage);
    }
    // Where every program reads the others' command lines, a password there is refused.
    if (const std::string refusal = PasswordOnCommandLine(o.storePath, o.proxy);
        !platform::CanHideOwnArguments() && !refusal.empty()) {
        return Fail(refusal, kExitUsage);
    }
    if (IsPostgresLocation(o.storePath) && !PasswordSpans(o.storePath).empty()) {
        std::cerr << "警告：数据库地址中写有密码，本机的其他用户可以看到它。请改用 PGPASSWORD、"
                     "~/.pgpass（或 PGPASSFILE）或 service=，地址中不写密码。"
                  << std::endl;
    }
    CurlGlobalInit();
    SetProxy(o.proxy);  // empty: http_proxy of the environment
    platform::InstallStopHandlers();
    try {
        switch (o.command) {
            case C::PreCollect:
                return RunPreCollect(o);
            case C::Collect:
                return RunCollect(o);
            case C::Export:
                return RunExport(o);
            case C::Clear:
                return RunClear(o);
            case C::Import:
                return RunImport(o);
            case C::Search:
                return RunSearch(o);
            case C::Refresh:
                return RunRefresh(o);
            case C::Schedule:
                return RunSchedule(o);
            case C::None:
                break;
        }
    } catch (const std::invalid_argument& e) {
        return Fail(e.what());  // a setting read from the environment is not what it must be
    }
    return kExitUsage;
}

std::optional<int> RunWithoutWindow(const std::vector<std::string>& args) {
    if (args.empty()) {
        return std::nullopt;
    }
    std::string error;
    if (args[0] == "--prepare-tasks") {
        return platform::PrepareScheduleFolder(error) ? kExitOk : Fail(error);
    }
    if (args[0] == "--remove-tasks") {
        const int removed = platform::RemoveEveryScheduledTask(error);
        std::cout << "removed: " << removed << std::endl;
        return error.empty() ? kExitOk : Fail(error);
    }
    if (args[0] != "--refresh") {
        return std::nullopt;
    }
    std::vector<std::string> cli;
    std::vector<std::string> rest;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--store" && i + 1 < args.size()) {
            cli = {"--store", args[++i]};
        } else {
            rest.push_back(args[i]);
        }
    }
    cli.push_back("refresh");
    cli.push_back("--by-schedule");
    cli.insert(cli.end(), rest.begin(), rest.end());
    return RunCli(cli);
}
