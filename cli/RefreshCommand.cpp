// refresh: the saved searches collected one after another, as collect does each, with a line
// per search at the end and, when asked, a workbook of each search's new companies.

#include <algorithm>
#include <chrono>
#include <iostream>
#include <thread>

#include "cli/CliOptions.h"
#include "cli/CliShared.h"
#include "crawl/CurlTransfer.h"
#include "crawl/UserSettings.h"
#include "platform/FileLock.h"
#include "platform/FileSystem.h"
#include "platform/ProgramFolders.h"
#include "platform/StopSignal.h"
#include "store/ExportRecords.h"
#include "store/RecordStore.h"
#include "store/SavedSearch.h"
#include "store/StoreClock.h"
#include "text/Printable.h"

using namespace crawl;
using namespace store;

namespace {

// What became of one search.
struct Refreshed {
    SavedSearch search;
    enum class State { Done, Failures, Broken, Busy, Stopped } state = State::Done;
    std::int64_t newRows = 0;
    int pages = 0;
    std::int64_t kept = 0;
    std::chrono::seconds time{0};
    std::string outcome;
    bool walkFinished = false;
    std::string exported;  // the workbook of its new companies
};

constexpr const char* kBusyOutcome = "数据库正被另一个采集使用，已跳过";
// The byte of the crawl lock file that refreshes take turns by (runs hold the bytes of their
// ids, which start at 1).
constexpr unsigned long long kRefreshTurn = 0;

// Waits `span` unless Ctrl+C comes first (false then).
bool Sleep(std::chrono::milliseconds span) {
    const auto until = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() < until) {
        if (StopSignalled()) {
            return false;
        }
        std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(
            std::chrono::milliseconds(200), std::chrono::duration_cast<std::chrono::milliseconds>(
                                                until - std::chrono::steady_clock::now())));
    }
    return !StopSignalled();
}

// A file store crawled by another collector is waited for (at most `wait`); false when it is
// still at work then. Refreshes take their turns by `turn`, held until the search is done, so
// two that start together do not both find the store free. A shared store takes collectors
// side by side.
bool WaitUntilFree(IRecordStore& store, std::chrono::seconds wait, platform::FileLock* turn) {
    const auto until = std::chrono::steady_clock::now() + wait;
    bool told = false;
    auto busy = [&] {
        if (turn != nullptr && !turn->Held() &&
            !turn->TryAcquire(platform::FileLock::Mode::Exclusive)) {
            return true;
        }
        return store.CrawlsAtWork() > 0;
    };
    while (busy()) {
        if (std::chrono::steady_clock::now() >= until || StopSignalled()) {
            return false;
        }
        if (!told) {
            std::cerr << "数据库正被另一个采集使用，等待它结束……" << std::endl;
            told = true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        Sleep(std::max(std::chrono::milliseconds(0),
                       std::min<std::chrono::milliseconds>(std::chrono::seconds(2), left)));
    }
    return true;
}

// "新公司-<行业>-<地区>-<日期>.xlsx" in `folder`, without the characters Windows forbids in a
// name, and never a file that is there already (" (2)", " (3)" … added).
std::string NewCompaniesFile(const std::string& folder, const SavedSearch& s,
                             const std::string& date) {
    std::string stem;
    for (char c : "新公司-" + s.industry + "-" + s.region + "-" + date) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u >= 0x20 && std::string_view("<>:\"/\\|?*").find(c) == std::string_view::npos) {
            stem += c;
        }
    }
    // Names stay within what every file system takes (255 bytes), cut between characters.
    const size_t kStemMost = 200;
    if (stem.size() > kStemMost) {
        size_t cut = kStemMost;
        while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        stem.resize(cut);
    }
    std::string base = folder;
    if (!base.empty() && base.back() != '/' && base.back() != '\\') {
        base += platform::kPathSeparator;
    }
    std::string path = base + stem + ".xlsx";
    for (int n = 2; platform::KindOf(path) != platform::FileKind::Missing; ++n) {
        path = base + stem + " (" + std::to_string(n) + ").xlsx";
    }
    return path;
}

// The new complete rows of a search whose walk just finished, as 自上次采集以来 counts them.
void ExportNew(IRecordStore& store, const std::string& folder, Refreshed& r) {
    ExportOptions options;
    options.cancel = &platform::StopSignalled();
    options.selection.industry = r.search.industry;
    options.selection.region = r.search.region;
    options.selection.sinceLastRun = true;
    options.selection.completeOnly = true;
    if (store.CountSelectedRows(options.selection) == 0) {
        return;
    }
    if (!platform::MakeFolders(folder)) {
        std::cerr << "无法创建文件夹“" << text::Printable(folder) << "”" << std::endl;
        r.state = Refreshed::State::Broken;
        return;
    }
    const std::string path = NewCompaniesFile(folder, r.search, StoreDate());
    try {
        const std::int64_t n = ExportRecords(store, path, EXPORT_FORMAT_XLSX, options);
        r.exported = path;
        std::cout << "exported: " << n << " " << text::Printable(path) << std::endl;
    } catch (const ExportCancelled&) {
        r.state = Refreshed::State::Stopped;
    } catch (const std::exception& e) {
        std::cerr << text::Printable(e.what()) << std::endl;
        r.state = Refreshed::State::Broken;
    }
}

bool Broken(const SearchRun& run) {
    if (!run.end) {
        return run.exit == kExitFailure;
    }
    return run.end->how != RunEnd::How::Finished && run.end->how != RunEnd::How::Stopped;
}

// Whether trying again later may help: the network or the site, not the store or the proxy's
// password.
bool WorthRetrying(const Refreshed& r, const SearchRun& run) {
    if (r.state != Refreshed::State::Broken) {
        return false;
    }
    if (!run.end) {
        return run.preCollectFailed;
    }
    return run.end->how == RunEnd::How::NetFailed || run.end->how == RunEnd::How::Challenged;
}

Refreshed RefreshOne(const CliOptions& base, IRecordStore& store, const SavedSearch& search,
                     const char* how, bool proxyLost, SearchRun& run) {
    Refreshed r;
    r.search = search;
    std::cerr << "—— " << text::Printable(search.name) << " ——" << std::endl;
    const auto started = std::chrono::steady_clock::now();
    run = SearchRun();
    if (proxyLost) {
        // Never round the proxy the user set: straight to the directory is not what was asked.
        std::cerr << kProxyPasswordLost << std::endl;
        run.exit = kExitFailure;
        run.reason = kProxyPasswordLost;
        r.state = Refreshed::State::Broken;
        r.outcome = kProxyPasswordLost;
        return r;
    }
    std::unique_ptr<platform::FileLock> turn;
    if (!IsPostgresLocation(store.Path())) {
        turn = std::make_unique<platform::FileLock>(CrawlLockPath(store.Path()), kRefreshTurn);
    }
    if (!WaitUntilFree(store, base.waitBusy, turn.get())) {
        r.state = StopSignalled() ? Refreshed::State::Stopped : Refreshed::State::Busy;
        r.outcome = StopSignalled() ? "已停止" : kBusyOutcome;
        std::cerr << r.outcome << std::endl;
        return r;
    }
    CliOptions o = base;
    o.industry = search.industry;
    o.region = search.region;
    try {
        run = CollectSearch(o, store, how);
    } catch (const StoreError& e) {
        if (StoreFailed(e) == kExitStopped) {
            r.state = Refreshed::State::Stopped;
            r.outcome = "已停止";
            return r;
        }
        run.exit = kExitFailure;
        run.reason = e.what();
    }
    r.time = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() -
                                                              started);
    r.newRows = run.run.newRows;
    r.kept = run.run.kept;
    r.pages = run.pages;
    r.walkFinished = run.end && run.end->how == RunEnd::How::Finished && run.run.finished;
    r.outcome = !run.run.outcome.empty() ? run.run.outcome
                : run.nothingToDo        ? "没有符合条件的公司"
                                         : run.reason;
    if (run.exit == kExitStopped) {
        r.state = Refreshed::State::Stopped;
    } else if (Broken(run)) {
        r.state = Refreshed::State::Broken;
    } else if (run.exit == kExitIncomplete) {
        r.state = Refreshed::State::Failures;
    }
    return r;
}

std::string Duration(std::chrono::seconds s) {
    const long long n = s.count();
    char buf[32];
    std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", n / 3600, n / 60 % 60, n % 60);
    return buf;
}

}  // namespace

int RunRefresh(const CliOptions& given) {
    std::unique_ptr<IRecordStore> store;
    std::vector<SavedSearch> searches;
    try {
        store = OpenStore(StorePathOf(given), &platform::StopSignalled());
        if (given.names.empty()) {
            searches = SavedSearches(*store);
        }
        for (const std::string& name : given.names) {
            if (auto found = FindSavedSearch(*store, name)) {
                searches.push_back(*found);
            } else {
                return Fail(
                    "没有名为“" + name + "”的搜索（collector-cli search list 列出保存的搜索）",
                    kExitUsage);
            }
        }
    } catch (const StoreError& e) {
        return StoreFailed(e);
    }
    if (searches.empty()) {
        return Fail("没有保存的搜索：请先用 collector-cli search add 保存。", kExitUsage);
    }
    // A search named twice, or saved under two names, is collected once.
    for (size_t i = 0; i < searches.size(); ++i) {
        for (size_t j = 0; j < i; ++j) {
            if (searches[j].industry == searches[i].industry &&
                searches[j].region == searches[i].region) {
                std::cerr << "“" << text::Printable(searches[i].name) << "”与“"
                          << text::Printable(searches[j].name) << "”是同一个搜索，只采集一次。"
                          << std::endl;
                searches.erase(searches.begin() + static_cast<std::ptrdiff_t>(i--));
                break;
            }
        }
    }

    // The user's own settings, with what the command line gives over them.
    const UserSettings settings(UserSettings::DefaultPath());
    CliOptions base = given;
    base.run = DefaultRequest();
    base.run.options.skipKnown = true;  // as the window's check box is at first
    ApplyUserSettings(settings, base.run);
    CollectRequest fromLine = given.run;
    for (const std::string& key : given.settingsGiven) {
        const SettingSpec& s = Setting(key);
        s.field(base.run) = s.field(fromLine);
    }
    base.skipKnown = given.skipKnownGiven ? given.skipKnown : base.run.options.skipKnown;
    bool proxyLost = false;
    if (given.proxy.empty()) {
        const StoredProxy proxy = LoadStoredProxy(settings);
        proxyLost = proxy.passwordLost;
        if (!proxy.address.empty() && !proxyLost) {
            SetProxy(proxy.address);
        }
    }
    const char* how = given.bySchedule ? kByScheduler : kByCommandLine;

    std::vector<Refreshed> done;
    std::vector<SearchRun> runs(searches.size());
    bool stopped = false;
    // A search whose walk finished writes its new companies at once: a refresh cut short later
    // (a shutdown, the scheduler's time limit) loses none of them.
    auto exportNew = [&](Refreshed& r) {
        if (!given.exportNew.empty() && r.walkFinished && !StopSignalled()) {
            ExportNew(*store, given.exportNew, r);
        }
    };
    try {
        for (size_t i = 0; i < searches.size() && !stopped; ++i) {
            done.push_back(RefreshOne(base, *store, searches[i], how, proxyLost, runs[i]));
            exportNew(done.back());
            stopped = done.back().state == Refreshed::State::Stopped;
        }
        // A search broken off by the network or the site is tried again later, in turn.
        for (const std::chrono::seconds delay : given.retryBroken) {
            std::vector<size_t> again;
            for (size_t i = 0; i < done.size(); ++i) {
                if (WorthRetrying(done[i], runs[i])) {
                    again.push_back(i);
                }
            }
            if (again.empty() || stopped) {
                break;
            }
            std::cerr << again.size() << " 个搜索中断，" << delay.count() / 60 << " 分钟"
                      << (delay.count() % 60 != 0 ? std::to_string(delay.count() % 60) + " 秒" : "")
                      << "后再试。" << std::endl;
            if (!Sleep(delay)) {
                stopped = true;
                break;
            }
            for (size_t i : again) {
                const Refreshed earlier = done[i];
                done[i] = RefreshOne(base, *store, searches[i], how, proxyLost, runs[i]);
                exportNew(done[i]);
                // What the broken tries brought counts too; failures they kept may still be.
                done[i].newRows += earlier.newRows;
                done[i].pages += earlier.pages;
                done[i].time += earlier.time;
                done[i].kept = std::max(done[i].kept, earlier.kept);
                if (done[i].state == Refreshed::State::Done && done[i].kept > 0) {
                    done[i].state = Refreshed::State::Failures;
                }
                if (done[i].state == Refreshed::State::Stopped) {
                    stopped = true;
                    break;
                }
            }
        }
    } catch (const StoreError& e) {
        return StoreFailed(e);
    }

    for (const Refreshed& r : done) {
        std::cout << text::Printable(r.search.name) << "\t新增 " << r.newRows << "\t页数 "
                  << r.pages << "\t失败 " << r.kept << "\t用时 " << Duration(r.time) << "\t"
                  << text::Printable(r.outcome) << std::endl;
    }
    auto any = [&](Refreshed::State state) {
        return std::any_of(done.begin(), done.end(),
                           [&](const Refreshed& r) { return r.state == state; });
    };
    if (stopped || StopSignalled() || any(Refreshed::State::Stopped)) {
        return kExitStopped;
    }
    if (any(Refreshed::State::Broken)) {
        return kExitFailure;
    }
    if (any(Refreshed::State::Busy)) {
        return kExitBusy;
    }
    if (any(Refreshed::State::Failures)) {
        return kExitIncomplete;
    }
    return kExitOk;
}
