#include "app/model/WindowModel.h"

#include <cstdio>
#include <mutex>
#include <utility>

#include <ctime>

#include "crawl/CurlTransfer.h"
#include "platform/FileIdentity.h"
#include "platform/LocalTime.h"
#include "platform/ProgramFolders.h"
#include "platform/Secret.h"
#include "store/Store.h"
#include "store/StoreClock.h"
#include "text/GbkCodec.h"
#include "text/Printable.h"

using namespace crawl;
using namespace store;

// Carries the workers' events to the window's thread. A worker that outlives the model posts
// into nothing instead of into a destroyed object.
class WindowModel::EventSink : public IEventSink, public std::enable_shared_from_this<EventSink> {
  public:
    EventSink(WindowModel& model, IWindowView& view) : model_(&model), view_(&view) {}

    void Post(CrawlEvent event) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (view_ != nullptr) {
            view_->PostToUi([self = shared_from_this(), event = std::move(event)] {
                if (WindowModel* model = self->Model()) {
                    model->OnEvent(event);
                }
            });
        }
    }
    // Runs `work` on the window's thread after what is queued, while the model lives.
    void Later(void (WindowModel::*work)()) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (view_ != nullptr) {
            view_->PostToUi([self = shared_from_this(), work] {
                if (WindowModel* model = self->Model()) {
                    (model->*work)();
                }
            });
        }
    }
    // Runs `work` on the window's thread after what is queued, while the model lives.
    void Later(std::function<void(WindowModel&)> work) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (view_ != nullptr) {
            view_->PostToUi([self = shared_from_this(), work = std::move(work)] {
                if (WindowModel* model = self->Model()) {
                    work(*model);
                }
            });
        }
    }
    WindowModel* Model() {
        std::lock_guard<std::mutex> lock(mutex_);
        return model_;
    }
    void Detach() {
        std::lock_guard<std::mutex> lock(mutex_);
        model_ = nullptr;
        view_ = nullptr;
    }

  private:
    std::mutex mutex_;
    WindowModel* model_;
    IWindowView* view_;
};

WindowModel::WindowModel(std::string storePath, std::string settingsPath, IWindowView& view,
                         const Clock& clock, RunController::Launcher launch)
    : storePath_(std::move(storePath)),
      settings_(std::move(settingsPath)),
      view_(view),
      clock_(clock) {
    sink_ = std::make_shared<EventSink>(*this, view_);
    session_ = std::make_unique<CollectSession>(clock, sink_, std::move(launch));
    state_.title = kWindowTitle;
    state_.description = "Tarvola（中国站）会员信息";
    LoadSettings();
    LoadProxy();
    state_.startPage = "1";
    state_.industry = "化工";
    state_.region = "广州";
    state_.status = "等待";
    ShowProgress();
}

WindowModel::~WindowModel() {
    sink_->Detach();
    session_->Shutdown(std::chrono::milliseconds(0));
}

void WindowModel::Open() {
    startPage_ = 1;
    if (IRecordStore* store = Store()) {
        try {
            // The search of the last pre-collect comes back, with the page it reached.
            const auto industry = store->LoadSetting(Setting("lastindustry").key);
            const auto region = store->LoadSetting(Setting("lastregion").key);
            if (industry && region) {
                state_.industry = *industry;
                state_.region = *region;
                startPage_ = DefaultStartPage(
                    *store, text::Utf8ToGbk(*industry) + "^" + text::Utf8ToGbk(*region), 0);
            }
        } catch (const store::StoreError& e) {
            Prompt(std::string("无法读取上次采集的页码：") + e.what(), "数据库错误",
                   PromptIcon::Critical);
        }
    }
    state_.startPage = std::to_string(startPage_);
    // Skipping known companies is on unless the user turned it off before (in the settings
    // file; earlier versions kept the choice in the store).
    if (!settings_.Get(Setting("skipknown").key) && store_) {
        try {
            if (const auto skip = store_->LoadSetting("skipknown")) {
                state_.checks[IDC_SKIP_KNOWN] = *skip != "0";
            }
        } catch (const store::StoreError&) {
        }
    }
    RefreshCounts();
    ShowCounts();
    // The pane's reader starts watching the store: the counts, the runs and the kept failures
    // follow whoever writes it.
    if (store_) {
        LoadData(false, true);
    }
    Focus(IDC_PRECOLLECT);
    if (!storeNotice_.empty()) {
        state_.status = storeNotice_;
    }
    TellScheduledRuns();
    if (proxyPasswordLost_) {
        state_.status = kProxyPasswordLost;
        Focus(IDC_PROXY);
    }
    Show();
}

WindowModel::StoreChoice WindowModel::ChooseStore(const std::string& named) {
    if (!named.empty()) {
        return {named, "使用的数据库：" + RedactPassword(named)};
    }
    const platform::StoreLocation location = DefaultStoreLocation();
    return {location.path, platform::UnusedStoreNotice(location)};
}

std::string WindowModel::StoreKey(const std::string& location) {
    std::string identity;
    if (IsPostgresLocation(location)) {
        identity = "pg:" + RedactPassword(location);
    } else {
        identity = "file:" + platform::FileKey(location);
    }
    // FNV-1a: the same digits in every build, unlike std::hash.
    std::uint64_t hash = 1469598103934665603ULL;
    for (unsigned char c : identity) {
        hash = (hash ^ c) * 1099511628211ULL;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return hex;
}

void WindowModel::ShowAgain() {
    state_.visible = true;
    ++state_.raiseSerial;
    Show();
}

std::string WindowModel::StoreName() const {
    return RedactPassword(storePath_);
}

void WindowModel::Show() {
    view_.Render(state_);
}

void WindowModel::Focus(int id) {
    state_.focus = id;
    ++state_.focusSerial;
}

void WindowModel::ShowProgress() {
    // (记录) only grows: a retry after a run adds what it stores to the run's.
    state_.records =
        std::to_string(recordsBefore_ + recordsDone_) + " / " + std::to_string(recordsTotal_);
    state_.pages = std::to_string(pagesDone_) + " / " + std::to_string(pagesTotal_);
}

PromptAnswer WindowModel::Prompt(const std::string& text, const std::string& caption,
                                 PromptIcon icon, bool yesNo, PromptAnswer defaultAnswer) {
    Show();
    BeginModal();
    // A message may carry a text of the directory (a reason with a page's title). A box with
    // no caption of its own carries the window's, so that it says whose it is.
    const PromptAnswer answer = view_.Ask({text::Printable(text, text::Controls::Drop),
                                           caption.empty() ? std::string(kWindowTitle) : caption,
                                           icon, yesNo, defaultAnswer});
    EndModal();
    return answer;
}

void WindowModel::EndModal() {
    if (--modalDepth_ == 0 && (!pending_.empty() || !held_.empty())) {
        sink_->Later(&WindowModel::Drain);
    }
}

void WindowModel::TellStoreError(const std::exception& e) {
    Prompt(e.what(), "数据库错误", PromptIcon::Critical);
}

IRecordStore* WindowModel::Store() {
    if (store_ && !store_->Usable()) {
        session_->ForgetStore();  // the run in progress writes no more through it
        store_.reset();           // its connection was given up: a new one is tried
    }
    if (!store_) {
        try {
            store_ = OpenStore(storePath_);
            store_->SetWaitHook(
                [this](std::chrono::milliseconds waited) { return OnStoreWaiting(waited); });
        } catch (const std::exception& e) {  // StoreError, or a setting that is not valid
            TellStoreError(e);
            return nullptr;
        }
    }
    return store_.get();
}

bool WindowModel::OnStoreWaiting(std::chrono::milliseconds waited) {
    if (waited.count() == 0) {  // the server answered (or the call was given up)
        if (storeWaiting_) {
            storeWaiting_ = false;
            view_.StoreWait(waited);
            EndModal();
        }
        return true;
    }
    if (!storeWaiting_) {
        // Held like a message box: no event is handled, no watchdog fires meanwhile.
        storeWaiting_ = true;
        BeginModal();
        SetStatus("数据库无响应");
        Show();
    }
    return view_.StoreWait(waited);
}

void WindowModel::SetText(int id, std::string text) {
    if (std::string* field = TextFieldOf(state_, id)) {
        *field = std::move(text);
    }
}

void WindowModel::Edit(int id, std::string text) {
    if (const std::string* field = TextFieldOf(state_, id); field == nullptr || *field == text) {
        return;  // no change: the view only echoed what it was given
    }
    SetText(id, std::move(text));
    static const std::pair<int, void (WindowModel::*)()> kReactions[] = {
        {IDC_INDUSTRY, &WindowModel::ConditionEdited},
        {IDC_REGION, &WindowModel::ConditionEdited},
        {IDC_DATA_FILTER, &WindowModel::FilterTyped},
    };
    for (const auto& [edit, reaction] : kReactions) {
        if (edit == id) {
            (this->*reaction)();
        }
    }
}

void WindowModel::FilterTyped() {
    filterDue_ = clock_.Now() + kFilterPause;
}

void WindowModel::SetCheck(int id, bool on) {
    state_.checks[id] = on;
    const ControlSpec* control = ControlSpecOf(id);
    if (control != nullptr && control->setting != nullptr &&
        Setting(control->setting).home == SettingHome::User) {
        settings_.Set(control->setting, on ? "1" : "0");
    }
}

void WindowModel::SelectTab(int id, int page) {
    if (id == IDC_LIST_TAB && page >= 1) {
        ShowData();  // the collected data, or the record of runs
    }
}

void WindowModel::LoadSettings() {
    // The user's own values come back when they are still valid ones.
    ForEachSettingControl([this](const ControlSpec& c) {
        const SettingSpec& setting = Setting(c.setting);
        if (setting.home != SettingHome::User) {
            return;
        }
        std::string value = setting.first;
        if (const auto kept = settings_.Get(setting.key)) {
            value = ValidSetting(setting, *kept).value_or(value);
        }
        if (setting.kind == SettingKind::Check) {
            state_.checks[c.id] = value != "0";
        } else {
            SetText(c.id, value);
        }
    });
    // A name that is no key (written by hand) leaves F2.
    const HotKeySpec key =
        ParseHotKey(settings_.Get(Setting("hotkey").key).value_or("F2")).value_or(HotKeySpec{});
    ShowHotKey(key);
}

void WindowModel::SaveSettings() {
    // Only values a run would take: a half-typed one does not replace the last good one.
    ForEachSettingControl([this](const ControlSpec& c) {
        const SettingSpec& setting = Setting(c.setting);
        if (setting.home == SettingHome::User && setting.kind == SettingKind::Number) {
            if (const auto value = ValidSetting(setting, TextOf(state_, c.id))) {
                settings_.Set(setting.key, *value);
            }
        }
    });
    if (state_.proxy.empty() || IsProxyAddress(state_.proxy)) {
        SaveProxy();
    }
}

void WindowModel::LoadProxy() {
    // A password that cannot be read here (the file came from another machine or user) is
    // asked for again.
    const StoredProxy proxy = LoadStoredProxy(settings_);
    if (!proxy.passwordLost && !proxy.address.empty()) {
        state_.proxy = proxy.address;
    }
    proxyPasswordLost_ = proxy.passwordLost;
}

void WindowModel::SaveProxy() {
    const auto [address, secret] = ProxyToStore(state_.proxy);
    settings_.Set(Setting("proxy").key, address);
    settings_.Set(Setting("proxysecret").key, secret);
}

bool WindowModel::ApplyProxy() {
    if (!state_.proxy.empty() && !IsProxyAddress(state_.proxy)) {
        Focus(IDC_PROXY);
        Prompt(
            "代理地址应为 http://主机:端口 或 socks5://主机:端口（空：使用环境变量 http_proxy "
            "或系统的代理设置）：" +
                state_.proxy,
            "代理", PromptIcon::Warning);
        return false;
    }
    crawl::SetProxy(state_.proxy);
    return true;
}

bool WindowModel::Press(int id) {
    static const std::pair<int, void (WindowModel::*)()> kButtons[] = {
        {IDC_ABOUT, &WindowModel::About},
        {IDC_PRECOLLECT, &WindowModel::Precollect},
        {IDC_START, &WindowModel::Start},
        {IDC_STOP, &WindowModel::Stop},
        {IDC_PREVIEW, &WindowModel::Preview},
        {IDC_EXPORT_TEXT, &WindowModel::ExportText},
        {IDC_EXPORT_CSV, &WindowModel::ExportExcel},
        {IDC_RETRY_FAILED, &WindowModel::ShowFailures},
        {IDC_CLEAR, &WindowModel::Clear},
        {IDC_IMPORT, &WindowModel::Import},
        {IDC_DATA_MORE, &WindowModel::MoreData},
        {IDC_DATA_EXPORT, &WindowModel::ExportData},
        {IDC_HOTKEY, &WindowModel::ChooseHotKey},
        {IDC_SAVE_SEARCH, &WindowModel::SaveSearch},
        {IDC_SCHEDULES, &WindowModel::Schedules},
    };
    for (const auto& [button, operation] : kButtons) {
        if (button == id) {
            (this->*operation)();
            return true;
        }
    }
    return false;
}

void WindowModel::About() {
    if (modalDepth_ > 0) {
        return;
    }
    BeginModal();
    view_.ShowAbout(StoreName());
    EndModal();
}

void WindowModel::HotKey() {
    state_.visible = !state_.visible;
    Show();
}

void WindowModel::ShowHotKey(const HotKeySpec& key) {
    state_.hotKey = HotKeyName(key);
    state_.hotKeyLabel =
        key.Off() ? std::string("热键已关闭") : "按下" + state_.hotKey + "， 隐藏/显示界面";
}

void WindowModel::ChooseHotKey() {
    if (modalDepth_ > 0) {
        return;
    }
    const HotKeySpec current = ParseHotKey(state_.hotKey).value_or(HotKeySpec{});
    BeginModal();
    const std::optional<HotKeySpec> chosen = view_.AskHotKey(current);
    EndModal();
    if (!chosen || *chosen == current) {
        return;
    }
    settings_.Set(Setting("hotkey").key, HotKeyName(*chosen));
    ShowHotKey(*chosen);
    SetStatus(chosen->Off() ? std::string("热键已关闭。") : "热键改为 " + state_.hotKey + "。");
    Show();  // the view lets the old key go and takes the new one
}

void WindowModel::HotKeyTaken(const std::string& key) {
    if (key != state_.hotKey) {
        return;  // changed since
    }
    // Another program holds it: said, not silently lost.
    state_.hotKeyLabel = "热键 " + key + " 不可用";
    SetStatus(key + " 已被其他程序占用，请换一个");
    Show();
}

bool WindowModel::Close() {
    if (running_ && Prompt("采集正在进行，确定要退出吗？", "退出", PromptIcon::Question, true,
                           PromptAnswer::No) != PromptAnswer::Yes) {
        return false;
    }
    SaveSettings();
    // A running worker finishes the record in hand; the process never ends inside a write.
    closing_ = true;
    running_ = false;
    session_->Shutdown(std::chrono::seconds(5));
    return true;
}

// The results list: the whole run in progress (or the last one), from its own events; the
// newest records of the store on request (预览采集结果).

void WindowModel::AppendRow(const MemberRecord& record, std::int64_t id, std::string tip) {
    ResultRow row;
    row.id = id;
    const auto fields = record.Fields();
    for (size_t i = 0; i < row.fields.size(); ++i) {
        row[i] = text::GbkToUtf8(*fields[i]);
    }
    row.waiting = record.waiting || !row.HasContactField();
    if (row.waiting) {
        row.tip = tip.empty() && !record.waiting ? GreyRowTip({}, 0) : std::move(tip);
    }
    // A row listed lately (a name-only row filled, or kept and announced twice) is shown again
    // in its place: the view draws the list anew. One listed long ago is listed again.
    const size_t recent = std::min<size_t>(state_.rows.size(), kRecentRowsChanged);
    for (size_t i = state_.rows.size() - recent; id != 0 && i < state_.rows.size(); ++i) {
        if (state_.rows[i].id == id) {
            row.revision = ++state_.rowsRevision;
            state_.rows[i] = std::move(row);
            return;
        }
    }
    state_.rows.push_back(std::move(row));
    if (state_.rows.size() > kRunListMost + 1) {
        // The oldest tenth goes at once (the view draws the list anew), and the first line
        // says where they are.
        const bool marked = state_.rows.front().id == kEarlierRowsMark;
        state_.rows.erase(state_.rows.begin() + (marked ? 1 : 0),
                          state_.rows.begin() + (marked ? 1 : 0) + kRunListMost / 10);
        if (!marked) {
            ResultRow mark;
            mark.id = kEarlierRowsMark;
            mark[0] = kEarlierRows;
            mark.waiting = true;
            mark.tip = kEarlierRows;
            state_.rows.insert(state_.rows.begin(), std::move(mark));
        }
        ++state_.rowsEpoch;
    }
}

void WindowModel::ClearResultList() {
    state_.rows.clear();
    ++state_.rowsEpoch;
}

void WindowModel::FillResultList() {
    ClearResultList();
    IRecordStore* store = Store();
    if (store == nullptr) {
        return;
    }
    try {
        store->NewestMemberRecords([&](const MemberRecord& r) { AppendRow(r, 0); });
        SetStatus("预览：数据库中最新的 " + std::to_string(state_.rows.size()) +
                  " 条记录（全部记录见 已采集数据）");
    } catch (const store::StoreError& e) {
        TellStoreError(e);
    }
}

void WindowModel::AddResult(const SessionUpdate& u) {
    // The event carries what was stored and names its row, so every saved record is listed
    // exactly once, and nothing is read from the store on the window's thread.
    AppendRow(u.record, u.rowId, u.record.waiting ? std::string() : GreyRowTip({}, u.httpStatus));
}

void WindowModel::MarkWaiting(const KeptFailure& failure) {
    const size_t recent = std::min<size_t>(state_.rows.size(), kRecentRowsChanged);
    for (size_t i = state_.rows.size() - recent; i < state_.rows.size(); ++i) {
        if (state_.rows[i].id == failure.rowId) {
            state_.rows[i].waiting = true;
            state_.rows[i].tip = GreyRowTip(failure.reason, 0);
            state_.rows[i].revision = ++state_.rowsRevision;
            return;
        }
    }
    MemberRecord kept;
    kept.title = failure.title;
    kept.waiting = true;
    AppendRow(kept, failure.rowId, GreyRowTip(failure.reason, 0));
}

void WindowModel::Preview() {
    if (modalDepth_ > 0) {
        return;
    }
    FillResultList();
    Show();
}

void WindowModel::ShowData() {
    if (modalDepth_ > 0) {
        return;
    }
    LoadData(false, true);
    Show();
}

void WindowModel::FilterData() {
    if (modalDepth_ > 0) {
        return;
    }
    filterDue_.reset();
    // The counts of the store stay as the pane's opening read them: a filter is one query.
    LoadData(false, dataCountsBase_.empty());
    Show();
}

void WindowModel::MoreData() {
    // A page more of rows that a new first page is about to replace is not asked for.
    if (modalDepth_ > 0 || state_.dataRows.empty() || (dataAwaited_ && !dataMore_)) {
        return;
    }
    LoadData(true);
    Show();
}

void WindowModel::OnStoreChanged(bool now) {
    // Someone wrote the store: the counts, the runs and the rows in view are read again (as
    // many rows as are shown), whatever question is open. During a walk of this window, which
    // changes it all the time, at most every kRereadDuringRun.
    if (!now && running_ && lastReread_ && clock_.Now() - *lastReread_ < kRereadDuringRun) {
        rereadDue_ = true;
        return;
    }
    rereadDue_ = false;
    lastReread_ = clock_.Now();
    LoadData(false, true, true);
}

void WindowModel::LoadData(bool more, bool counts, bool keepShown) {
    // Read on the pane's own thread; the answer comes back through OnDataAnswer.
    if (!dataReader_) {
        std::shared_ptr<EventSink> sink = sink_;
        dataReader_ = std::make_unique<DataPaneReader>(
            [path = storePath_](const std::atomic<bool>* interrupt) {
                return OpenStore(path, interrupt);
            },
            [sink](DataPaneReader::Answer answer) {
                sink->Later([answer = std::move(answer)](WindowModel& model) mutable {
                    model.OnDataAnswer(std::move(answer));
                });
            },
            [sink](int percent) {
                sink->Later([percent](WindowModel& model) { model.OnIndexing(percent); });
            },
            [sink] { sink->Later([](WindowModel& model) { model.OnStoreChanged(false); }); });
    }
    // The counts a replaced request asked for are asked for again.
    counts = counts || (dataAwaited_ && dataCountsAsked_);
    DataPaneReader::Request request;
    request.serial = ++dataSerial_;
    if (counts) {
        // What the store holds: in all, of the search of the last pre-collect, new today.
        request.counts.emplace_back();
        if (!condition_.empty()) {
            request.counts.push_back(SearchSelection());
        }
        RowSelection today;
        today.since = store::StoreDate();
        request.counts.push_back(today);
    }
    request.query.text = state_.dataFilter;
    request.query.beforeId = more && !state_.dataRows.empty() ? state_.dataRows.back().id : 0;
    request.query.limit = kDataPage;
    if (keepShown && !more) {
        request.query.limit = static_cast<int>(
            std::min<size_t>(kDataShownMost, std::max<size_t>(kDataPage, state_.dataRows.size())));
    }
    request.runs = counts;
    dataMore_ = more;
    dataCountsAsked_ = counts;
    dataAwaited_ = true;
    dataReader_->Ask(std::move(request));
}

void WindowModel::OnDataAnswer(DataPaneReader::Answer answer) {
    if (answer.serial != dataSerial_) {
        return;  // replaced by a later request
    }
    dataAwaited_ = false;
    indexPending_ = indexPending_ || answer.indexing;
    if (!answer.error.empty()) {
        TellStoreError(store::StoreError(answer.error));
        Show();
        return;
    }
    if (dataCountsAsked_ && !answer.counts.empty()) {
        size_t next = 0;
        std::string counts = "库中共 " + std::to_string(answer.counts[next++]) + " 条";
        if (answer.counts.size() == 3) {
            // The progress line's count of the run's search, as of this read.
            if (runSearch_ && runStarted_) {
                searchStored_ = answer.counts[next];
                recordsAtCount_ = recordsDone_;
            }
            const RowSelection search = SearchSelection();
            counts += "，本搜索（" + SearchCell(*search.industry, *search.region) + "）" +
                      std::to_string(answer.counts[next++]) + " 条";
        }
        counts += "，今天新增 " + std::to_string(answer.counts[next]) + " 条";
        dataCountsBase_ = counts;
    }
    if (answer.keptFailures >= 0) {
        keptFailures_ = answer.keptFailures;
        ShowCounts();
        ShowRuns(answer.runs);
    }
    if (!dataMore_) {
        state_.dataRows.clear();
        ++state_.dataRowsEpoch;
    }
    for (const StoredRow& r : answer.rows) {
        ResultRow row;
        row.fields = r.fields;
        row.id = r.id;
        row.waiting = r.waiting || !row.HasContactField();
        if (row.waiting) {
            row.tip = GreyRowTip(r.reason, 0);
        }
        row.collected = r.collected;
        row.search = SearchCell(r.industry, r.region);
        state_.dataRows.push_back(std::move(row));
    }
    state_.dataMoreEnabled = static_cast<int>(answer.rows.size()) == kDataPage;
    dataFound_ = state_.dataFilter.empty() ? std::string()
                                           : "；筛选到 " + std::to_string(state_.dataRows.size()) +
                                                 (state_.dataMoreEnabled ? " 条以上" : " 条");
    ShowDataCounts();
    Show();
}

void WindowModel::ShowRuns(const std::vector<RunRecord>& runs) {
    state_.runRows.clear();
    ++state_.runRowsEpoch;
    for (const RunRecord& r : runs) {
        ResultRow row;
        row[0] = r.industry.empty() && r.region.empty() ? std::string("重试失败页面")
                                                        : SearchCell(r.industry, r.region);
        row[1] = r.started;
        row[2] = r.ended;
        row[3] = r.how;
        row[4] = std::to_string(r.stored);
        row[5] = std::to_string(r.newRows);
        row[6] = std::to_string(r.kept);
        row[7] = r.outcome;
        row[8] = r.ended.empty() ? "" : r.finished ? "是" : "否";
        if (r.outcome == kRunBroken) {
            row.waiting = true;  // grey: it ended without saying how
            row.tip = "采集没有正常结束（程序被关闭、崩溃或电脑关机），下次采集从中断处继续";
        }
        state_.runRows.push_back(std::move(row));
    }
}

void WindowModel::OnIndexing(int percent) {
    indexing_ = percent;
    indexPending_ = percent >= 0;
    ShowDataCounts();
    Show();
}

void WindowModel::ShowDataCounts() {
    state_.dataCounts = dataCountsBase_ + dataFound_;
    if (indexing_ >= 0) {
        state_.dataCounts += "；正在建立索引 " + std::to_string(indexing_) + "%";
    }
}

void WindowModel::ExportData() {
    if (modalDepth_ > 0) {
        return;
    }
    if (CheckExportable()) {
        ExportRecords(EXPORT_FORMAT_CSV, &state_.dataFilter);
    }
    Show();
}
