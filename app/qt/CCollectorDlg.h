#pragma once
// The main window on Qt: a view of the window model. It lays the controls out from the
// model's template, passes the user's input on, draws the state the model hands it and shows
// the model's questions as message boxes and file dialogs. It decides nothing of its own.

#include <QDialog>
#include <QTimer>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/model/IWindowView.h"
#include "app/model/WindowModel.h"
#include "crawl/Clock.h"

class GlobalHotKey;
class IUserPrompts;
class QFontMetrics;
class QProgressDialog;
class QTabWidget;
class QTableWidget;
class QTableWidgetItem;

class CCollectorDlg : public QDialog, public IWindowView {
    Q_OBJECT
  public:
    // `storePath`: the record store (WindowModel::ChooseStore in normal use).
    // `prompts`: the message boxes and file dialogs (tests pass their own).
    // `storeNotice`: what the status line says of the store when the window opens.
    CCollectorDlg(std::string storePath, IUserPrompts& prompts, const crawl::Clock& clock,
                  crawl::RunController::Launcher launch = {}, QWidget* parent = nullptr,
                  std::string storeNotice = {});
    ~CCollectorDlg() override;

    QWidget* GetDlgItem(int id) const;
    QString ItemText(int id) const;
    WindowModel& Model() { return *m_pModel; }
    crawl::RunController& Controller() { return m_pModel->Controller(); }

    // The test switch: every change of the model's state is printed on standard output as a
    // line (StateLine), every question as an "ask" line.
    // Also says which hot key is held ("hotkey F2=on|taken|off"), now and whenever it changes.
    void PrintStateLines(bool on);

    // IWindowView.
    void Render(const WindowState& state) override;
    PromptAnswer Ask(const Question& question) override;
    std::optional<SaveAnswer> AskSave(const SaveRequest& request) override;
    void PostToUi(std::function<void()> work) override;
    void ProcessEvents(std::chrono::milliseconds time) override;
    bool StoreWait(std::chrono::milliseconds waited) override;
    std::optional<std::vector<std::int64_t>> AskFailures(
        const std::vector<FailureRow>& rows) override;
    std::optional<ExportChoice> AskExportChoice(const ExportChoice& offer) override;
    std::optional<HotKeySpec> AskHotKey(const HotKeySpec& current) override;
    std::optional<std::string> AskSearchName(const std::string& proposed) override;
    std::optional<ScheduleChoice> AskSchedule(const ScheduleOffer& offer) override;
    std::optional<std::string> AskOpen(const OpenRequest& request) override;
    bool Progress(const std::string& text, int percent) override;
    void ShowAbout(const std::string& storeName) override;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void reject() override;

  private:
    void BuildControls();
    // Makes the control of row `c` on `parent`, by its kind; null for a kind this view has none of.
    QWidget* CreateControl(const ControlSpec& c, QWidget* parent);
    // Fills a tab's page: a page with a list has its other controls in a row above the list,
    // which takes the rest; a page without one places its controls as the template says.
    void BuildPage(const ControlTable& controls, QWidget* page);
    void ConnectControls();
    // Draws control `c` as `state` has it, by its kind.
    void RenderControl(const ControlSpec& c, const WindowState& state);
    void RenderList(QTableWidget* list, int id, const WindowState& state);
    QTableWidget* NewList(const ColumnTable& columns);
    void InsertRow(QTableWidget* list, const ResultRow& row, std::size_t columns);
    void FillRow(QTableWidget* list, int row, const ResultRow& fields, std::size_t columns);
    void UpdateCutTips(QTableWidget* list, int column);
    void SetCutTip(QTableWidgetItem* item, const QFontMetrics& metrics);
    static constexpr int kCellMargin = 4;

    IUserPrompts& m_prompts;
    std::unique_ptr<WindowModel> m_pModel;
    std::unique_ptr<GlobalHotKey> m_pHotKey;
    std::string m_hotKeyHeld;  // the key registered last (as the state names it)
    std::string m_hotKeyLine;  // and what became of it
    std::uint64_t m_raiseSerial = 0;
    // Shown while a call on the store waits for a server that does not answer.
    std::unique_ptr<QProgressDialog> m_storeWait;
    std::unique_ptr<QProgressDialog> m_progress;  // a long task's
    QTimer m_tickTimer;
    bool m_bVisible = true;
    bool m_bPrintState = false;
    std::string m_lastStateLine;
    std::map<int, std::uint64_t> m_epochs;     // of each list's rows as drawn
    std::map<int, std::uint64_t> m_revisions;  // the rows' revision each list has drawn
    std::uint64_t m_focusSerial = 0;

    std::map<int, QWidget*> m_controls;
    struct Anchor {
        QWidget* widget;
        QRect geometry;  // at the smallest size
        const ControlSpec* control;
    };
    std::vector<Anchor> m_anchors;
};
