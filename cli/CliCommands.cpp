#include "cli/CliCommands.h"

#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>

#include "cli/CliOptions.h"
#include "crawl/CurlFetcher.h"
#include "crawl/NotificationQueue.h"
#include "crawl/RunController.h"
#include "store/ExportRecords.h"
#include "store/ModuleDirectory.h"
#include "store/RecordStore.h"
#include "text/GbkCodec.h"

namespace {

volatile std::sig_atomic_t g_stopSignal = 0;

void OnStopSignal(int) {
    g_stopSignal = 1;
}

void InstallStopHandlers() {
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

constexpr auto kPoll = std::chrono::milliseconds(100);

int Fail(const std::string& message, int code = kExitFailure) {
    std::cerr << message << std::endl;
    return code;
}

// Progress on stderr: a line per event, or one redrawn line with a bar on a terminal.
class Progress {
  public:
    explicit Progress(int lastPage) : last_(lastPage), tty_(isatty(STDERR_FILENO) == 1) {}
    void Update(int page, int records) {
        if (tty_) {
            const int width = 30;
            int filled = last_ > 0 ? std::min(width, page * width / last_) : 0;
            std::fprintf(stderr, "\r[%s%s] page %d / %d, records %d",
                         std::string(filled, '#').c_str(), std::string(width - filled, '-').c_str(),
                         page, last_, records);
        } else {
            std::fprintf(stderr, "page %d / %d, records %d\n", page, last_, records);
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
    bool tty_;
};

// A job for the typed condition (UTF-8 on the terminal, GBK in the core) reporting to `queue`.
CrawlJob JobOf(const CliOptions& o, int mode, std::shared_ptr<NotificationQueue> queue) {
    CrawlJob job;
    job.pNotify = std::move(queue);
    job.nMode = mode;
    job.strCondition = text::Utf8ToGbk(o.industry) + "^" + text::Utf8ToGbk(o.region);
    return job;
}

std::string StorePathOf(const CliOptions& o) {
    return o.storePath.empty() ? DefaultStorePath() : o.storePath;
}

struct PreCollectResult {
    bool ok = false;
    std::int64_t pages = 0;
    std::int64_t matches = 0;
};

PreCollectResult PreCollect(const CliOptions& o) {
    SteadyClock clock;
    RunController rc(clock);
    auto queue = std::make_shared<NotificationQueue>();
    rc.StartWorker(JobOf(o, CRAWL_MODE_PRECOLLECT, queue));
    PreCollectResult result;
    for (;;) {
        if (g_stopSignal) {
            rc.Shutdown(std::chrono::seconds(1));
            return result;
        }
        auto n = queue->Take(kPoll);
        if (!n) {
            continue;
        }
        if (n->message == WM_CRAWL_PRECOLLECTED) {
            result = {true, n->wParam, n->lParam};
        }
        if (n->message == WM_CRAWL_PRECOLLECTED || n->message == WM_CRAWL_NET_FAILED) {
            rc.Shutdown(std::chrono::seconds(5));
            return result;
        }
    }
}

// The exit code when a pre-collect gave no totals (stopped, or no session); none when it did.
std::optional<int> PreCollectFailed(const PreCollectResult& r) {
    if (g_stopSignal) {
        return kExitStopped;
    }
    if (!r.ok) {
        return Fail("网络连接失败！");
    }
    return std::nullopt;
}

int RunPreCollect(const CliOptions& o) {
    PreCollectResult r = PreCollect(o);
    if (auto failed = PreCollectFailed(r)) {
        return *failed;
    }
    std::cout << "pages: " << r.pages << "\nmatches: " << r.matches << std::endl;
    return kExitOk;
}

int RunCollect(const CliOptions& o) {
    std::unique_ptr<RecordStore> store;
    try {
        store = std::make_unique<RecordStore>(StorePathOf(o));
    } catch (const StoreError& e) {
        return Fail(e.what());
    }

    int lastPage = 0;
    if (o.lastPage) {
        lastPage = *o.lastPage;
    } else {
        PreCollectResult r = PreCollect(o);
        if (auto failed = PreCollectFailed(r)) {
            return *failed;
        }
        std::cerr << "pages: " << r.pages << ", matches: " << r.matches << std::endl;
        if (r.matches == 0) {
            std::cerr << "没有找到符合条件的记录，无需采集。" << std::endl;
            return kExitOk;
        }
        lastPage = static_cast<int>(r.pages);
    }
    int startPage = 1;
    try {
        startPage = o.startPage ? *o.startPage : std::max(1, store->LoadLastPageIndex());
    } catch (const StoreError& e) {
        return Fail(e.what());
    }
    if (startPage > lastPage) {
        return Fail("起始采集页码不能大于总页面个数!（起始 " + std::to_string(startPage) + "，共 " +
                        std::to_string(lastPage) + " 页）",
                    kExitUsage);
    }

    SteadyClock clock;
    RunController rc(clock);
    auto queue = std::make_shared<NotificationQueue>();
    CrawlJob job = JobOf(o, CRAWL_MODE_COLLECT, queue);
    job.nStartPage = startPage;
    job.nLastPage = lastPage;
    job.strStorePath = store->Path();
    rc.BeginRun({o.every, o.waitSeconds, o.timeoutSeconds});
    try {
        rc.StartWorker(job);
    } catch (const std::system_error&) {
        return Fail(kCannotStartThread);
    }

    Progress progress(lastPage);
    int records = 0;
    int page = startPage;
    int exitCode = -1;
    std::string message;
    while (exitCode < 0) {
        if (g_stopSignal && rc.Running()) {
            rc.Stop();
            exitCode = kExitStopped;
            break;
        }
        if (auto n = queue->Take(kPoll)) {
            switch (n->message) {
                case WM_CRAWL_PAGE_STARTED:
                    page = static_cast<int>(n->lParam);
                    rc.OnPageStarted(page);
                    try {
                        store->SaveLastPageIndex(page);
                    } catch (const StoreError& e) {
                        message = e.what();
                        exitCode = kExitFailure;
                    }
                    progress.Update(page, records);
                    break;
                case WM_CRAWL_RECORD_SAVED:
                    ++records;
                    rc.OnRecordSaved(static_cast<int>(n->lParam));
                    progress.Update(page, records);
                    break;
                case WM_CRAWL_FINISHED:
                    rc.OnRunEnded();
                    exitCode = kExitOk;
                    break;
                case WM_CRAWL_STORE_FAILED:
                    rc.OnRunEnded();
                    message = "数据库错误，采集已停止：" + n->error;
                    exitCode = kExitFailure;
                    break;
                case WM_CRAWL_NET_FAILED:
                    rc.OnRunEnded();
                    message = "网络连接失败！";
                    exitCode = kExitFailure;
                    break;
                default:
                    break;
            }
        }
        try {
            rc.Tick();
        } catch (const std::system_error&) {
            message = kCannotStartThread;
            exitCode = kExitFailure;
        }
    }
    // Every worker finishes the record in hand; what it stores meanwhile is still counted.
    rc.Shutdown(std::chrono::seconds(60));
    while (auto n = queue->Take(std::chrono::milliseconds(0))) {
        if (n->message == WM_CRAWL_RECORD_SAVED) {
            ++records;
        }
    }
    progress.Update(page, records);
    progress.Done();
    if (!message.empty()) {
        std::cerr << message << std::endl;
    } else if (exitCode == kExitStopped) {
        std::cerr << "操作停止！" << std::endl;
    } else {
        std::cerr << "操作成功完成！" << std::endl;
    }
    return exitCode;
}

int RunExport(const CliOptions& o) {
    try {
        RecordStore store(StorePathOf(o));
        if (!store.HasMemberRecords()) {
            return Fail("没有任何可以导出的数据！");
        }
        auto n =
            ExportRecords(store, o.file, o.format == "csv" ? EXPORT_FORMAT_CSV : EXPORT_FORMAT_TEXT,
                          o.encoding == "utf-8" ? ExportEncoding::Utf8Bom : ExportEncoding::Gbk);
        std::cout << "exported: " << n << std::endl;
        return kExitOk;
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
}

int RunClear(const CliOptions& o) {
    try {
        RecordStore store(StorePathOf(o));
        store.ClearMemberRecords();
        return kExitOk;
    } catch (const StoreError& e) {
        return Fail(e.what());
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
    if ((o.command == C::PreCollect || o.command == C::Collect) && o.industry.empty() &&
        o.region.empty()) {
        return Fail("请至少指定一项采集条件！", kExitUsage);
    }
    CurlGlobalInit();
    InstallStopHandlers();
    switch (o.command) {
        case C::PreCollect:
            return RunPreCollect(o);
        case C::Collect:
            return RunCollect(o);
        case C::Export:
            return RunExport(o);
        case C::Clear:
            return RunClear(o);
        case C::None:
            break;
    }
    return kExitUsage;
}
