#pragma once
// The main window: settings, condition page, progress, results list, run control and export.
// Its run-control, results-list and export operations live in CCollectorDlgRun.cpp,
// CCollectorDlgList.cpp and CCollectorDlgExport.cpp.

#include <QDialog>
#include <QMessageBox>
#include <QTimer>
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "crawl/Clock.h"
#include "crawl/CollectSession.h"
#include "crawl/CrawlJob.h"
#include "store/ExportRecords.h"

class CConditionPage;
class GlobalHotKey;
class IUserPrompts;
class NotificationBridge;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTableWidget;
class QTableWidgetItem;
class QFontMetrics;
class IRecordStore;
struct MemberRecord;

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
};

class ModalScope;
class QProgressDialog;

class CCollectorDlg : public QDialog {
    Q_OBJECT
  public:
    // `storePath`: the record store (data.db beside the executable in normal use).
    // `prompts`: the message boxes and file dialogs (tests pass their own).
    CCollectorDlg(std::string storePath, IUserPrompts& prompts, const Clock& clock,
                  RunController::Launcher launch = {}, QWidget* parent = nullptr);
    ~CCollectorDlg() override;

    QWidget* GetDlgItem(int id) const;
    QString ItemText(int id) const;
    CConditionPage* ConditionPage() const { return m_pageCondition; }
    QTableWidget* ResultList() const { return m_list; }
    RunController& Controller() { return m_pSession->Controller(); }
    CollectSession& Session() { return *m_pSession; }

    // Run control.
    void OnButtonPrecollect();
    void OnButtonStart();
    void OnButtonStop();
    void OnTimer();
    void OnNotification(const CrawlEvent& event);
    // Fetches the failures kept in the store again (the retry question's "yes").
    void StartRetryRun();

    // Results list.
    void SetUpResultColumns();
    void FillResultList();
    void AddNewestResult(std::int64_t rowId);
    void ClearResultList();
    bool ResultListHasRows() const;
    void OnButtonPreview();

    // Export.
    void OnButtonExportText();
    void OnButtonExportCsv();
    bool CheckExportable();
    void ExportRecords(ExportFormat format);

    void OnButtonAbout();
    void OnHotKey();  // F2: hide or show
    void OnConditionEdited();

    // Settings kept in the store beside the start page.
    static constexpr const char* kLastIndustry = "lastindustry";
    static constexpr const char* kLastRegion = "lastregion";
    static constexpr const char* kLastExportFolder = "lastexportfolder";
    static constexpr const char* kSkipKnown = "skipknown";

    // Window fields.
    int m_nTabIndex = 0;
    int m_nRecordsDone = 0;
    int m_nRecordsTotal = 0;
    int m_nPagesDone = 0;
    int m_nPagesTotal = 0;
    int m_nStartPage = 1;
    int m_nRecordsCollected = 0;
    int m_nPagesPerPause = 30;
    int m_nPauseSeconds = 10;
    int m_nTimeoutSeconds = 15;
    int m_nLanes = 1;  // fetches in flight at once
    int m_nKind = CRAWL_KIND_MEMBER;
    int m_nMode = 0;
    std::string m_strCondition;  // GBK
    bool m_bRunning = false;
    bool m_bVisible = true;
    bool m_bHotKeyRegistered = false;
    bool m_bConditionEdited = false;  // the search was edited while a run was going
    bool m_bClosing = false;          // the window is closing: start nothing more

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void reject() override;

  private:
    // The store's wait hook: shows 数据库无响应 with 放弃 while the window waits on it.
    bool OnStoreWaiting(std::chrono::milliseconds waited);
    void BuildControls();
    void OnInitDialog();
    void UpdateProgressLabels();
    void RefreshKindView();
    void SetStatusText(const QString& text);
    bool TakeCondition();
    // The number in an edit, when it is one within [low, high]; otherwise the user is told
    // the allowed range and nothing is given.
    std::optional<int> ReadBoundedNumber(int id, const QString& name, int low, int high);
    void UpdateCutTips(int column);
    void SetCutTip(QTableWidgetItem* item, const QFontMetrics& metrics);
    static constexpr int kCellMargin = 4;
    // Keeps the search of the pre-collect that just answered, for the next start.
    void RememberSearch();
    // Puts the pre-collected search's own start page into 起始页面; gives the page that search
    // reached before (0: none).
    int ProposeStartPage();
    enum class RunStart { Started, NothingToRetry, Failed };
    RunStart StartCollectRun(bool retry);
    // Waits (a few seconds at most) for the workers of an earlier run to finish the record in
    // hand, so the run about to start is the only one.
    void WaitForEarlierWorkers();
    static constexpr int kEarlierWorkerWaitMs = 5000;
    void EnableItem(int id, bool enable);
    void SetItemText(int id, const QString& text);
    void InsertResultRow(int row, const MemberRecord& record);
    void DrainNotifications();
    void ShowUpdate(const SessionUpdate& u);
    void ShowRunEnd(const RunEnd& end);
    // Buttons and status of a run that is over: Pre-collect and Start on, Stop off.
    void ShowRunEnded(const QString& status);
    QMessageBox::StandardButton Prompt(const QString& text, const QString& caption,
                                       QMessageBox::Icon icon,
                                       QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                       QMessageBox::StandardButton defaultButton = QMessageBox::Ok);
    // The store, opened on first use; null (after telling the user) when it cannot be opened.
    IRecordStore* Store();

    std::string m_strStorePath;
    IUserPrompts& m_prompts;
    std::unique_ptr<IRecordStore> m_pStore;
    // Shown while a call on the store waits for a server that does not answer.
    std::unique_ptr<ModalScope> m_storeWaitScope;
    std::unique_ptr<QProgressDialog> m_storeWait;
    std::unique_ptr<CollectSession> m_pSession;
    std::shared_ptr<NotificationBridge> m_pBridge;
    std::unique_ptr<GlobalHotKey> m_pHotKey;
    std::deque<CrawlEvent> m_pending;
    int m_nModalDepth = 0;
    int m_nRestartsSeen = 0;
    QTimer m_tickTimer;

    std::map<int, QWidget*> m_controls;
    struct Anchor {
        QWidget* widget;
        QRect geometry;  // at the smallest size
        bool right;
        bool bottom;
    };
    std::vector<Anchor> m_anchors;
    QRect m_listGeometry;
    QRect m_tabGeometry;
    CConditionPage* m_pageCondition = nullptr;
    QTableWidget* m_list = nullptr;
    QTabWidget* m_tab = nullptr;

    friend class ModalScope;
};
