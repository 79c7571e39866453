#pragma once
// The main window's decisions, apart from any toolkit: the settings and their checks, what is
// enabled, every text, the questions to ask and their order, the rows of the results list and
// the calls on the run session. A view passes the user's input to the operations below, calls
// Tick() every 100 ms, and draws the state it is handed (IWindowView::Render). Everything here
// runs on the window's thread; workers' events reach it through IWindowView::PostToUi.
//
// While a question or the store's wait box is open, the workers' events are held and handled,
// in order, as soon as it closes, and the watchdog waits: the records that would re-arm it are
// among the held events.

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/model/DataPaneReader.h"
#include "app/model/IWindowView.h"
#include "app/model/WindowState.h"
#include "crawl/Clock.h"
#include "crawl/CollectSession.h"
#include "crawl/RunSettings.h"
#include "crawl/UserSettings.h"
#include "platform/Schedule.h"
#include "store/CsvImport.h"
#include "store/ExportRecords.h"
#include "text/Printable.h"

namespace store {
class IRecordStore;
struct MemberRecord;
}  // namespace store

class WindowModel {
  public:
    // `storePath`: the record store (data.db beside the executable in normal use).
    // `settingsPath`: the user's settings file (UserSettings::DefaultPath() in normal use).
    // `launch` starts workers (real ones when empty).
    WindowModel(std::string storePath, std::string settingsPath, IWindowView& view,
                const crawl::Clock& clock, crawl::RunController::Launcher launch = {});
    ~WindowModel();
    WindowModel(const WindowModel&) = delete;
    WindowModel& operator=(const WindowModel&) = delete;

    // Fills the window: the settings' first values and the search of the last pre-collect with
    // the page it reached. Called once the view can show a message.
    void Open();
    const WindowState& State() const { return state_; }

    // The user's input.
    // The text of an edit changed (typed, pasted or set); nothing is decided yet.
    void SetText(int id, std::string text);
    // The user typed into edit `id`: its text changes and the edit's reaction follows (a search
    // edited, the data filter's pause).
    void Edit(int id, std::string text);
    // The user typed in the search: a search changed after its pre-collect is another search,
    // which needs a pre-collect of its own before it can be collected.
    void ConditionEdited();
    // Check box `id` was ticked or cleared; a check that shows a setting keeps it.
    void SetCheck(int id, bool on);
    // Page `page` of tab `id` was chosen (the collected data is read when its page opens).
    void SelectTab(int id, int page);
    void Precollect();
    void Start();
    void Stop();
    // Fetches the failures kept in the store again (the retry question's "yes"): those named,
    // or all of them.
    void Retry(std::vector<std::int64_t> failureIds = {});
    // 重试失败页面: the list of kept failures, from which all or some are retried.
    void ShowFailures();
    // 清空数据…: every record goes, after the user confirmed it.
    void Clear();
    // 导入…: the records of a CSV file are added.
    void Import();
    void Preview();
    // The collected data: shown (the pane opened), filtered anew (its filter changed), a page
    // more, and exported as the filter shows it.
    void ShowData();
    void FilterData();
    void MoreData();
    void ExportData();
    void ExportText();
    void ExportExcel();
    void About();
    // 保存搜索…: the search in the window kept by a name; 定时采集…: schedules added or removed.
    void SaveSearch();
    void Schedules();
    // The system's scheduler the window uses (tests put their own in).
    void SetScheduler(platform::Scheduler scheduler) { scheduler_ = std::move(scheduler); }
    // The scheduled runs on this machine since the window was last open on this store (told on
    // the status line; 该次运行新增 exports what they brought).
    const std::vector<store::RunRecord>& ScheduledRuns() const { return scheduledRuns_; }
    // A button of the window (IDC_*) was pressed: its operation above; false when `id` names
    // no button of the model.
    bool Press(int id);
    void HotKey();  // the hot key: hide or show
    // 更改…: the hot key's choice; the new key is held at once (the view registers it).
    void ChooseHotKey();
    // Another program holds the hot key `key` that the view was to register.
    void HotKeyTaken(const std::string& key);
    // The window is asked to close: false when the user keeps it. After true, the workers have
    // finished the record in hand and nothing more starts.
    bool Close();
    void Tick();
    void OnEvent(const crawl::CrawlEvent& event);

    crawl::CollectSession& Session() { return *session_; }
    crawl::RunController& Controller() { return session_->Controller(); }
    bool Running() const { return running_; }
    // The store a window uses: `named` (--store) when given, else the default one; and what
    // its status line says of it first (the store named, or another store beside the program
    // that is not in use; empty: nothing).
    struct StoreChoice {
        std::string path;
        std::string notice;
    };
    static StoreChoice ChooseStore(const std::string& named);
    // What tells one store from another on this machine, whatever its spelling: a file by its
    // identity (or, not yet made, its folder's and its name), a PostgreSQL store by its URI
    // without a password. Sixteen hex digits, the same in every copy of the program: one
    // window per store and user finds the other by it.
    static std::string StoreKey(const std::string& location);
    // The program was started again for this store: the window comes to the front, shown if
    // the hot key hid it.
    void ShowAgain();
    // Said on the status line when the window opens.
    void SetStoreNotice(std::string notice) { storeNotice_ = std::move(notice); }
    // The collected-data pane waits for an answer of its reader, or its filter's index is being
    // built.
    bool DataBusy() const { return dataAwaited_ || indexPending_; }
    int StartPage() const { return startPage_; }
    std::string StoreName() const;

    static constexpr const char* kSaveSearchCaption = "保存搜索";
    static constexpr const char* kScheduleCaption = "定时采集";
    // How many of the newest runs are looked at for what the schedules did.
    static constexpr int kRunsTold = 500;
    static constexpr const char* kProxyPasswordLost =
        "代理密码无法在这台电脑上读取，请在“代理”中重新填写密码";
    // The collected data's rows a page holds.
    static constexpr int kDataPage = 100;
    // The most rows a re-read after a change of the store keeps shown.
    static constexpr size_t kDataShownMost = 10000;
    // How often a change of the store is read again while this window walks.
    static constexpr std::chrono::seconds kRereadDuringRun{5};
    // The run's list holds at most this many rows; beyond them its first line says where the
    // earlier ones are. A row announced again is looked for among the newest
    // kRecentRowsChanged.
    static constexpr size_t kRunListMost = 100000;
    static constexpr std::int64_t kEarlierRowsMark = -1;
    static constexpr const char* kEarlierRows = "更早的记录见 已采集数据";
    // The data filter is read this long after typing stops: each keystroke would be a query.
    static constexpr std::chrono::milliseconds kFilterPause{250};
    // How long a start waits for the workers of an earlier run to finish the record in hand.
    static constexpr std::chrono::milliseconds kEarlierWorkerWait{5000};

  private:
    class EventSink;
    enum class RunStart { Started, NothingToRetry, Failed };

    void Show();
    PromptAnswer Prompt(const std::string& text, const std::string& caption, PromptIcon icon,
                        bool yesNo = false, PromptAnswer defaultAnswer = PromptAnswer::Ok);
    void BeginModal() { ++modalDepth_; }
    void EndModal();
    void Drain();
    void Focus(int id);
    // The status line may show a reason from the directory: its control characters are left out.
    void SetStatus(const std::string& line) {
        state_.status = text::Printable(line, text::Controls::Drop);
    }
    void ShowProgress();
    // The progress line, the failures button and what Start needs, from the counts in hand.
    void ShowCounts();
    // Reads what the store holds again: its kept failures, and during a run the rows of the
    // run's search.
    void RefreshCounts();
    // A run begins: its counts start over; `search` selects its rows (none for a retry).
    void BeginRunCounts(std::optional<store::RowSelection> search);
    void SaveSettings();
    // Puts the proxy setting to use; false (after telling the user) when it is no proxy.
    bool ApplyProxy();
    std::string StartTip() const;
    // The store, opened on first use; null (after telling the user) when it cannot be opened.
    store::IRecordStore* Store();
    bool OnStoreWaiting(std::chrono::milliseconds waited);
    void TellStoreError(const std::exception& e);

    bool TakeCondition();
    std::optional<int> ReadSetting(int id, const crawl::SettingBounds& bounds);
    // The user's settings into the controls that show them (valid ones; else their first).
    void LoadSettings();
    // Every number a run takes, from the controls; nothing (after telling the user and putting
    // the focus there) when one is out of its bounds.
    bool ReadRunSettings();
    void FilterTyped();
    RunStart StartCollectRun(bool retry);
    void WaitForEarlierWorkers();
    store::RowSelection SearchSelection() const;
    int KeptFailuresOfSearch();
    void ShowRunEnded(std::string status);
    void ShowUpdate(const crawl::SessionUpdate& u);
    void ShowRunEnd(const crawl::RunEnd& end);
    void ShowResumePage(const crawl::RunEnd& end);
    void RememberSearch(std::int64_t pages);
    // Puts the search's start page in 起始页面 and gives the second line of the found message:
    // where its last walk got to and what Start will do.
    std::string ProposeStartPage();

    void FillResultList();
    void AddResult(const crawl::SessionUpdate& u);
    void MarkWaiting(const store::KeptFailure& failure);
    void ClearResultList();
    // Lists `record` (row `id`; 0: from the newest rows, none listed twice).
    // `tip`: why the row is grey, when it is.
    void AppendRow(const store::MemberRecord& record, std::int64_t id, std::string tip = {});

    bool CheckExportable();
    // `filter`: the collected data's filter, whose rows are exported (no choice asked).
    void ExportRecords(store::ExportFormat format, const std::string* filter = nullptr);
    // Asks for the first page (`more` false: with the counts when `counts`) or a page more.
    // `keepShown`: as many rows as are shown now (the store changed under them).
    void LoadData(bool more, bool counts = false, bool keepShown = false);
    // `now`: at once (this window wrote it); else perhaps a little later.
    void OnStoreChanged(bool now = true);
    void ShowRuns(const std::vector<store::RunRecord>& runs);
    void ShowHotKey(const HotKeySpec& key);
    void OnDataAnswer(DataPaneReader::Answer answer);
    void OnIndexing(int percent);
    void ShowDataCounts();
    void LoadProxy();
    void SaveProxy();
    void AddSchedule(const ScheduleChoice& choice);
    void TellScheduledRuns();
    std::string ExportFileName(const ExportChoice& choice, const std::string* filter,
                               bool excel) const;
    void ImportFile(const std::string& path, store::ImportEncoding encoding);

    std::string storePath_;
    UserSettings settings_;
    IWindowView& view_;
    const crawl::Clock& clock_;
    std::shared_ptr<EventSink> sink_;
    std::unique_ptr<crawl::CollectSession> session_;
    std::unique_ptr<store::IRecordStore> store_;
    WindowState state_;

    int recordsDone_ = 0;    // stored by the run in progress or the last one
    int recordsBefore_ = 0;  // by the runs before it since the pre-collect (a retry follows)
    int recordsTotal_ = 0;
    int pagesDone_ = 0;
    int pagesTotal_ = 0;
    int startPage_ = 1;
    // The numbers of the last run as the settings table gives them (lanes, pauses, time-out).
    crawl::CollectRequest run_ = crawl::DefaultRequest();
    std::optional<crawl::Clock::TimePoint> filterDue_;  // when the typed filter is read
    std::string condition_;                             // GBK, of the last pre-collect or run
    bool running_ = false;
    bool conditionEdited_ = false;  // the search was edited while a run or pre-collect went on
    bool closing_ = false;          // the window is closing: start nothing more
    bool storeWaiting_ = false;
    int modalDepth_ = 0;
    int restartsSeen_ = 0;
    std::deque<crawl::CrawlEvent> pending_;
    std::optional<crawl::Clock::TimePoint> lastReread_;
    bool rereadDue_ = false;
    // Updates of handled events that wait for the open question to close (see Drain).
    std::deque<crawl::SessionUpdate> held_;
    // Counts of what the store holds, and of the run in progress.
    std::int64_t keptFailures_ = 0;
    std::optional<store::RowSelection> runSearch_;  // the run's search (none: a retry)
    std::int64_t searchStored_ = -1;  // rows of the run's search when last counted (-1: unknown)
    int recordsAtCount_ = 0;          // the run's records then
    bool shared_ = false;             // the run works on a shared store
    platform::Scheduler scheduler_ = platform::SystemScheduler();
    std::vector<store::RunRecord> scheduledRuns_;
    bool paused_ = false;
    bool answered_ = false;               // the pre-collect of the search on screen answered
    std::vector<std::int64_t> retryIds_;  // the kept failures a retry fetches (none: all)
    std::string dataCountsBase_;          // the collected data's counts of the store
    std::string dataFound_;               // and what the filter found
    std::unique_ptr<DataPaneReader> dataReader_;
    std::uint64_t dataSerial_ = 0;  // of the last request
    bool dataMore_ = false;         // it asked for a page more
    bool dataCountsAsked_ = false;  // it asked for the counts
    bool dataAwaited_ = false;      // its answer has not come yet
    std::string storeNotice_;
    bool proxyPasswordLost_ = false;  // the kept proxy password cannot be read here
    bool indexPending_ = false;       // the reader brings the filter's index up to date
    int indexing_ = -1;               // how far it got (-1: not yet, or done)
    std::optional<crawl::Clock::TimePoint> runStarted_;
    bool searchEdited_ = false;  // the search on screen is not the one pre-collected
};
