// Run control of the window: Pre-collect, Start, Stop, retry, the pacing tick and the
// reactions to the workers' events.

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <system_error>

#include "app/model/WindowModel.h"
#include "crawl/Answer.h"
#include "crawl/SearchAddress.h"
#include "store/Store.h"
#include "text/GbkCodec.h"
#include "text/Printable.h"

using namespace crawl;
using namespace store;

bool WindowModel::TakeCondition() {
    if (state_.industry.empty() && state_.region.empty()) {
        Focus(IDC_INDUSTRY);
        Prompt("请至少指定一项采集条件！", "采集条件", PromptIcon::Warning);
        return false;
    }
    condition_ = text::Utf8ToGbk(state_.industry) + "^" + text::Utf8ToGbk(state_.region);
    return true;
}

std::optional<int> WindowModel::ReadSetting(int id, const SettingBounds& bounds) {
    if (auto value = ReadBounded(TextOf(state_, id), bounds)) {
        return value;
    }
    Prompt(OutOfBoundsMessage(bounds), "开始采集", PromptIcon::Warning);
    Focus(id);
    Show();
    return std::nullopt;
}

bool WindowModel::ReadRunSettings() {
    // In the settings table's order: the first value out of its bounds is the one told.
    CollectRequest read = run_;
    for (const SettingSpec& setting : kSettings) {
        if (setting.field == nullptr) {
            continue;
        }
        bool valid = true;
        ForEachSettingControl([&](const ControlSpec& c) {
            if (valid && std::string_view(c.setting) == setting.key) {
                const auto n = ReadSetting(c.id, setting.bounds);
                valid = n.has_value();
                if (n) {
                    setting.field(read) = *n;
                }
            }
        });
        if (!valid) {
            return false;
        }
    }
    run_ = read;
    return true;
}

void WindowModel::ConditionEdited() {
    if (running_) {
        conditionEdited_ = true;  // taken into account when the run ends
        return;
    }
    // During a pre-collect, its answer will be for the search before the edit.
    conditionEdited_ = session_->PreCollecting();
    searchEdited_ = true;
    if (pagesTotal_ == 0) {
        ShowCounts();
        Show();
        return;
    }
    // The totals and Start belonged to the search that was pre-collected, not to this one.
    state_.startEnabled = false;
    recordsTotal_ = pagesTotal_ = recordsDone_ = recordsBefore_ = pagesDone_ = 0;
    ShowProgress();
    ShowCounts();
    Show();
}

void WindowModel::Precollect() {
    if (running_ || modalDepth_ > 0 || !TakeCondition() || !ApplyProxy()) {
        return;
    }
    state_.precollectEnabled = false;
    conditionEdited_ = false;
    searchEdited_ = false;
    answered_ = false;
    SetStatus("操作进行中，请稍后...");
    try {
        session_->StartPreCollect(condition_);
    } catch (const std::system_error&) {
        Prompt(kCannotStartThread, "", PromptIcon::None);
        state_.precollectEnabled = true;  // nothing is under way: it can be tried again
        SetStatus("操作停止！");
    }
    ShowCounts();
    Show();
}

WindowModel::RunStart WindowModel::StartCollectRun(bool retry) {
    IRecordStore* store = Store();
    if (store == nullptr) {
        return RunStart::Failed;  // the user was told why
    }
    CollectRequest request = run_;
    request.condition = condition_;
    request.startPage = startPage_;
    request.lastPage = pagesTotal_;
    request.searchPages = pagesTotal_;
    request.options.skipKnown = CheckedIn(state_, IDC_SKIP_KNOWN);
    request.failureIds = retryIds_;
    request.how = store::kByWindow;
    try {
        if (retry) {
            return session_->StartRetry(request, *store) ? RunStart::Started
                                                         : RunStart::NothingToRetry;
        }
        session_->StartCollect(request, *store);
        return RunStart::Started;
    } catch (const std::system_error&) {
        Prompt(kCannotStartThread, "", PromptIcon::None);
    } catch (const store::StoreError& e) {
        TellStoreError(e);
    }
    return RunStart::Failed;
}

void WindowModel::Start() {
    if (running_ || modalDepth_ > 0 || !state_.startEnabled) {
        return;
    }
    const auto typed = ParseWholeNumber(state_.startPage);
    if (typed && *typed > pagesTotal_) {
        Prompt(kStartPastTotal, "开始采集", PromptIcon::Warning);
        return;
    }
    const auto startPage = ReadSetting(IDC_START_PAGE, StartPageBounds(pagesTotal_));
    if (!startPage) {
        return;
    }
    if (!ReadRunSettings() || !ApplyProxy()) {
        return;
    }
    startPage_ = *startPage;
    SaveSettings();
    state_.precollectEnabled = false;
    state_.startEnabled = false;
    Show();
    WaitForEarlierWorkers();
    if (closing_) {
        return;  // the window was closed while it waited
    }
    // A worker of an earlier run that is still out stores nothing more: the run that starts
    // now reads its page again, so no company is stored twice.
    session_->DiscardEarlierWork();
    restartsSeen_ = session_->Restarts();
    retryIds_.clear();
    Store();  // counted before the first record can land
    recordsBefore_ = 0;
    ClearResultList();  // the list is this run's, whole (a retry after it adds to it)
    BeginRunCounts(SearchSelection());
    if (StartCollectRun(false) != RunStart::Started) {
        ShowRunEnded("操作停止！");
        return;
    }
    SetStatus("采集进行中，请稍后...");
    running_ = true;
    state_.stopEnabled = true;
    Focus(IDC_STOP);  // the greyed 开始采集 hands the focus to the button the run needs
    ShowCounts();
    Show();
}

void WindowModel::Retry(std::vector<std::int64_t> failureIds) {
    if (running_ || modalDepth_ > 0 || !ApplyProxy()) {
        return;
    }
    // A retry runs with the settings of the run before it, or those on screen when valid.
    ForEachSettingControl([this](const ControlSpec& c) {
        const SettingSpec& setting = Setting(c.setting);
        if (setting.field == nullptr) {
            return;
        }
        if (const auto n = ReadBounded(TextOf(state_, c.id), setting.bounds)) {
            setting.field(run_) = *n;
        }
    });
    state_.precollectEnabled = false;
    state_.startEnabled = false;
    Show();
    WaitForEarlierWorkers();
    if (closing_) {
        return;
    }
    session_->DiscardEarlierWork();
    restartsSeen_ = session_->Restarts();
    retryIds_ = std::move(failureIds);
    Store();
    recordsBefore_ += recordsDone_;
    BeginRunCounts(std::nullopt);
    switch (StartCollectRun(true)) {
        case RunStart::Started:
            break;
        case RunStart::NothingToRetry:
            ShowRunEnded("没有需要重试的页面。");
            return;
        case RunStart::Failed:
            ShowRunEnded("操作停止！");
            return;
    }
    SetStatus("正在重试未能获取的页面，请稍后...");
    running_ = true;
    state_.stopEnabled = true;
    Focus(IDC_STOP);
    ShowCounts();
    Show();
}

void WindowModel::ShowFailures() {
    if (running_ || modalDepth_ > 0) {
        return;
    }
    IRecordStore* store = Store();
    if (store == nullptr) {
        return;
    }
    std::vector<FailureRow> rows;
    try {
        for (const KeptFailure& f : store->KeptFailures()) {
            FailureRow row;
            row.id = f.id;
            // Names, addresses and reasons come from the directory: no control character
            // of theirs reaches the list.
            row.what = f.kind == KeptFailure::Kind::ResultPage
                           ? "第 " + std::to_string(f.page) + " 页"
                           : text::Printable(text::GbkToUtf8(f.title), text::Controls::Drop);
            row.address = text::Printable(text::GbkToUtf8(f.address), text::Controls::Drop);
            row.reason = text::Printable(f.reason, text::Controls::Drop);
            row.tries = f.tries;
            row.time = f.time;
            rows.push_back(std::move(row));
        }
    } catch (const store::StoreError& e) {
        TellStoreError(e);
        return;
    }
    keptFailures_ = static_cast<std::int64_t>(rows.size());
    ShowCounts();
    if (rows.empty()) {
        SetStatus("没有需要重试的页面。");
        Show();
        return;
    }
    Show();
    BeginModal();
    std::optional<std::vector<std::int64_t>> chosen = view_.AskFailures(rows);
    EndModal();
    if (chosen) {
        Retry(std::move(*chosen));
    }
}

void WindowModel::Clear() {
    if (running_ || modalDepth_ > 0) {
        return;
    }
    IRecordStore* store = Store();
    if (store == nullptr) {
        return;
    }
    try {
        const std::int64_t rows = store->CountSelectedRows({});
        const std::int64_t failures = store->CountKeptFailures();
        if (rows == 0 && failures == 0) {
            SetStatus("没有任何可以清空的数据！");
            Prompt("没有任何可以清空的数据！", "清空数据", PromptIcon::Information);
            return;
        }
        // On a shared store the question names the collectors at work, and No is the default.
        const std::string busy = OthersAtWork(*store);
        std::string question = busy + "确定要清空全部 " + std::to_string(rows) + " 条记录";
        if (failures > 0) {
            question += "和 " + std::to_string(failures) + " 个未能获取的页面";
        }
        question += "吗？清空后不能恢复。";
        if (Prompt(question, "清空数据", busy.empty() ? PromptIcon::Question : PromptIcon::Warning,
                   true, PromptAnswer::No) != PromptAnswer::Yes) {
            SetStatus("没有清空。");
            Show();
            return;
        }
        // A pre-collect under way is given up with the earlier workers: it can be asked again.
        const bool precollecting = session_->PreCollecting();
        WaitForEarlierWorkers();
        // Nothing an earlier worker still has in hand may land after the clear.
        session_->DiscardEarlierWork();
        if (precollecting) {
            state_.precollectEnabled = true;
        }
        store->ClearMemberRecords();
        ClearResultList();
        OnStoreChanged();
        SetStatus("已清空 " + std::to_string(rows) + " 条记录。");
    } catch (const store::StoreError& e) {
        SetStatus("没有清空。");
        TellStoreError(e);
    }
    RefreshCounts();
    ShowCounts();
    Show();
}

void WindowModel::WaitForEarlierWorkers() {
    if (session_->LiveWorkers() == 0) {
        return;
    }
    // A stopped worker finishes its record in hand; a pending pre-collect is no longer wanted.
    // The window keeps painting and handling worker events meanwhile, but takes no input.
    session_->Stop();
    const std::string status = state_.status;
    SetStatus("正在等待上一次采集结束...");
    Show();
    const auto until = std::chrono::steady_clock::now() + kEarlierWorkerWait;
    while (session_->LiveWorkers() > 0 && std::chrono::steady_clock::now() < until) {
        view_.ProcessEvents(std::chrono::milliseconds(50));
    }
    view_.ProcessEvents(std::chrono::milliseconds(0));
    SetStatus(status);
    Show();
}

void WindowModel::ShowRunEnded(std::string status) {
    OnStoreChanged();  // the run's record, and what it stored
    if (state_.stopEnabled) {
        Focus(IDC_PRECOLLECT);  // not 开始采集: a stray Enter starts no walk
    }
    running_ = false;
    paused_ = false;
    state_.precollectEnabled = true;
    state_.startEnabled = pagesTotal_ > 0 && !searchEdited_;
    state_.stopEnabled = false;
    SetStatus(std::move(status));
    RefreshCounts();
    ShowCounts();
    Show();
    if (conditionEdited_) {
        ConditionEdited();  // the search was edited during the run
    }
}

void WindowModel::Stop() {
    session_->Stop();
    ShowResumePage({});
    ShowRunEnded("操作停止！");
}

void WindowModel::Tick() {
    if (closing_) {
        return;
    }
    if (filterDue_ && clock_.Now() >= *filterDue_ && modalDepth_ == 0) {
        FilterData();
    }
    // Events are handled while a question is open (see Drain): the watchdog goes on too, but
    // not while a statement waits for the store's server (its connection is in use).
    if (storeWaiting_) {
        return;
    }
    if (rereadDue_ && lastReread_ && clock_.Now() - *lastReread_ >= kRereadDuringRun) {
        OnStoreChanged();
    }
    try {
        session_->Tick();
    } catch (const std::system_error&) {
        Prompt(kCannotStartThread, "", PromptIcon::None);
    }
    if (session_->Restarts() != restartsSeen_) {
        restartsSeen_ = session_->Restarts();
        // The fresh worker began at the page in progress; a shared store keeps the range.
        if (store_ && store_->SharedPages() == nullptr) {
            startPage_ = pagesDone_;
        }
    }
    if (!running_ || modalDepth_ > 0) {
        return;
    }
    const std::string status = state_.status;
    const std::string progress = state_.progress;
    // A pause counts down in the status line, so it never looks like a hang.
    if (const auto end = Controller().PauseEnd()) {
        const auto left = std::chrono::ceil<std::chrono::seconds>(*end - clock_.Now()).count();
        SetStatus("暂停中，" + std::to_string(std::max<long long>(0, left)) + " 秒后继续");
        paused_ = true;
    } else if (paused_) {
        paused_ = false;
        SetStatus("采集进行中，请稍后...");
    }
    ShowCounts();
    if (state_.status != status || state_.progress != progress) {
        Show();
    }
}

void WindowModel::OnEvent(const CrawlEvent& event) {
    pending_.push_back(event);
    Drain();
}

namespace {

// Whether showing the update asks the user something (the end of a run, a pre-collect's
// answer): while another question is open it waits for that one to close.
bool Asks(const SessionUpdate& u) {
    using K = SessionUpdate::Kind;
    return u.kind == K::RunEnded || u.kind == K::PreCollected || u.kind == K::PreCollectFailed;
}

}  // namespace

void WindowModel::Drain() {
    // Events are handled as they come, a question open or not, so the counters and the list
    // keep moving (a message box runs the window's queue); only what would ask the user
    // something waits, in order, until no question is open.
    bool any = false;
    // While a statement waits for the store's server, its connection is in use: nothing that
    // may write through it (a page's progress, a run's end) is handled until the wait is over.
    while (!pending_.empty() && !storeWaiting_) {
        const CrawlEvent event = std::move(pending_.front());
        pending_.pop_front();
        SessionUpdate u = session_->Handle(event);
        if (modalDepth_ > 0 && (Asks(u) || !held_.empty())) {
            held_.push_back(std::move(u));
        } else {
            ShowUpdate(u);
        }
        any = true;
    }
    while (modalDepth_ == 0 && !held_.empty()) {
        const SessionUpdate u = std::move(held_.front());
        held_.pop_front();
        ShowUpdate(u);
        any = true;
    }
    if (any) {
        ShowCounts();
        Show();
    }
}

void WindowModel::ShowUpdate(const SessionUpdate& u) {
    using K = SessionUpdate::Kind;
    switch (u.kind) {
        case K::PreCollectFailed:
            conditionEdited_ = false;
            state_.precollectEnabled = true;
            if (u.reason == kProxyAuthMessage) {
                SetStatus(u.reason);
                Prompt(u.reason + "\n请在“代理”中写上用户名和密码（http://用户:密码@主机:端口）。",
                       "预采集", PromptIcon::Warning);
            } else if (u.status >= 400 && u.status < 500) {
                // The site answered: no network failure, the page asked for is not there.
                SetStatus(u.reason);
                Prompt(u.reason + "，没有给出搜索结果。\n请稍后再试，或检查搜索条件。", "预采集",
                       PromptIcon::Warning);
            } else {
                SetStatus("网络连接失败！");
                Prompt("网络连接失败！\n" + u.reason, "预采集", PromptIcon::Warning);
            }
            break;
        case K::PreCollected: {
            pagesTotal_ = static_cast<int>(std::min<std::int64_t>(u.pages, INT32_MAX));
            recordsTotal_ = static_cast<int>(std::min<std::int64_t>(u.matches, INT32_MAX));
            recordsDone_ = recordsBefore_ = pagesDone_ = 0;
            if (recordsTotal_ == 0) {
                pagesTotal_ = 0;  // nothing to collect: Start stays off
            }
            ShowProgress();
            // Where the search's last walk got to is read before a shared store's round of it
            // is joined or opened.
            const std::string walk = ProposeStartPage();
            RememberSearch(u.pages);
            state_.precollectEnabled = true;
            SetStatus("操作成功完成！");
            // An answer for the search as it was before an edit offers no Start.
            state_.startEnabled = recordsTotal_ > 0 && !conditionEdited_;
            answered_ = true;
            if (state_.startEnabled) {
                Focus(IDC_START);
            }
            if (recordsTotal_ > 0) {
                std::string found = "找到 " + std::to_string(recordsTotal_) + " 条符合条件的记录！";
                if (!walk.empty()) {
                    found += "\n" + walk;
                }
                Prompt(found, "", PromptIcon::Information);
            } else {
                Prompt("没有找到符合条件的记录！", "", PromptIcon::Information);
            }
            if (conditionEdited_) {
                ConditionEdited();  // takes back the totals, as for any later edit
            }
            break;
        }
        case K::PageStarted:
            pagesDone_ = u.page;
            ShowProgress();
            if (!running_) {
                ShowResumePage({});  // a stopped run completed a page on its way out
            }
            break;
        case K::RecordSaved:
            AddResult(u);
            if (u.counted) {
                recordsDone_ = session_->Records();
                ShowProgress();
            }
            break;
        case K::RunEnded:
            ShowRunEnd(u.end);
            break;
        case K::LanesChanged:
            // Fewer lanes while the site says it is overloaded; all of them again later.
            SetStatus(u.lanes < run_.options.lanes
                          ? "采集进行中（网站繁忙，并发 " + std::to_string(u.lanes) + " / " +
                                std::to_string(run_.options.lanes) + "），请稍后..."
                          : std::string("采集进行中，请稍后..."));
            break;
        case K::FetchFailed:
            // The company keeps its place in the list, marked, until a retry fills it.
            if (u.failure.kind == KeptFailure::Kind::ContactPage && u.failure.rowId != 0) {
                MarkWaiting(u.failure);
            }
            ++keptFailures_;
            break;
        case K::None:
            break;
    }
}

void WindowModel::RememberSearch(std::int64_t pages) {
    IRecordStore* store = Store();
    if (store == nullptr) {
        return;
    }
    try {
        std::string industry;
        std::string region;
        SplitCondition(condition_, industry, region);  // as it was pre-collected
        store->SaveSetting(Setting("lastindustry").key, text::GbkToUtf8(industry));
        store->SaveSetting(Setting("lastregion").key, text::GbkToUtf8(region));
        RegisterSharedSearch(*store, industry, region, pages, recordsTotal_);
    } catch (const store::StoreError&) {
        // Only a convenience for the next start; the run itself reports store failures.
    }
}

std::string WindowModel::ProposeStartPage() {
    std::string said;
    startPage_ = 1;
    if (IRecordStore* store = Store()) {
        try {
            startPage_ = DefaultStartPage(*store, condition_, pagesTotal_);
            const std::optional<SearchWalk> walk = LoadSearchWalk(*store, condition_);
            if (walk && walk->finished) {
                said = "库中已有本搜索 " +
                       std::to_string(store->CountSelectedRows(SearchSelection())) +
                       " 条记录。上次已采集完 → 从第 1 页开始，" +
                       (CheckedIn(state_, IDC_SKIP_KNOWN) ? "跳过已有公司" : "重新采集全部公司");
            } else if (walk && walk->page > 0) {
                // A shared store hands out the pages left of the round, from its lowest.
                const int from = store->SharedPages() != nullptr ? walk->page : startPage_;
                said = "上次采集到第 " + std::to_string(walk->page) + " 页（未完成）→ 从第 " +
                       std::to_string(from) + " 页继续";
            }
        } catch (const store::StoreError&) {
            // The first page, then: entries already stored are not stored again.
        }
    }
    state_.startPage = std::to_string(startPage_);
    return said;
}

void WindowModel::ShowResumePage(const RunEnd& end) {
    // 起始页面 shows where the next collect starts: page 1 after a finished walk, else the page
    // a stop or a failure left (a shared store hands out its pages itself; a retry keeps none).
    if (end.walkFinished) {
        startPage_ = 1;
    } else if (IRecordStore* store = Store();
               session_->Page() > 0 && store != nullptr && store->SharedPages() == nullptr) {
        startPage_ = session_->Page();
    }
    state_.startPage = std::to_string(startPage_);
}

void WindowModel::ShowRunEnd(const RunEnd& end) {
    ShowResumePage(end);
    const std::string& reason = end.reason;
    const std::string failures = std::to_string(end.failures.size());
    const std::string resume =
        "\n下次开始采集时从第 " + std::to_string(session_->Page()) + " 页继续。";
    switch (end.how) {
        case RunEnd::How::Finished:
            if (end.failures.empty()) {
                // Failures of this search kept from earlier runs are still missing records.
                if (const int kept = KeptFailuresOfSearch(); kept > 0) {
                    ShowRunEnded("操作完成，有 " + std::to_string(kept) + " 个页面未能获取。");
                    return;
                }
                ShowRunEnded("操作成功完成！");
                return;
            }
            ShowRunEnded("操作完成，有 " + failures + " 个页面未能获取。");
            if (Prompt("有 " + failures + " 个页面未能获取，现在重试吗？", "确认",
                       PromptIcon::Question, true, PromptAnswer::Yes) == PromptAnswer::Yes) {
                Retry();
            }
            return;
        case RunEnd::How::Stopped:
            ShowRunEnded("操作停止！");
            return;
        case RunEnd::How::NetFailed:
            ShowRunEnded("网络连接失败！");
            Prompt("网络连接失败！\n" + reason + resume, "开始采集", PromptIcon::Warning);
            return;
        case RunEnd::How::Challenged:
            ShowRunEnded(std::string(kRefusalReason));
            Prompt(WithDetail(kRefusalReason, reason) + resume, "开始采集", PromptIcon::Warning);
            return;
        case RunEnd::How::ProxyAuth:
            ShowRunEnded(std::string(kProxyAuthMessage));
            Prompt(std::string(kProxyAuthMessage) +
                       "\n请在“代理”中写上用户名和密码（http://用户:密码@主机:端口）。" + resume,
                   "开始采集", PromptIcon::Warning);
            return;
        case RunEnd::How::StoreFailed:
            ShowRunEnded("操作停止！");
            Prompt("数据库错误，采集已停止：" + reason, "数据库错误", PromptIcon::Critical);
            return;
        case RunEnd::How::Crashed:
            ShowRunEnded("操作停止！");
            Prompt("采集意外中止：" + reason, "开始采集", PromptIcon::Critical);
            return;
    }
}
