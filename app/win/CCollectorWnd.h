#pragma once
// The main window on Windows: a native dialog that is a view of the window model. It is built
// from the model's control table, passes the user's input on, draws the state it is handed and
// shows the model's questions as message boxes and Windows' own file dialogs. F2 is a hot key
// registered for this window and arrives in its own message loop.

#include <windows.h>

#include <commctrl.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "app/model/IWindowView.h"
#include "app/model/WindowModel.h"
#include "crawl/Clock.h"

class CWaitBox;

class CCollectorWnd : public IWindowView {
  public:
    CCollectorWnd(std::string storePath, const Clock& clock, bool printState,
                  std::string storeNotice = {});
    ~CCollectorWnd() override;
    CCollectorWnd(const CCollectorWnd&) = delete;
    CCollectorWnd& operator=(const CCollectorWnd&) = delete;

    // Creates and shows the window; false when Windows could not make it.
    bool Create(int show);
    // The message loop, until the window is closed; returns the program's exit code.
    int Run();

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
    std::optional<std::string> AskOpen(const OpenRequest& request) override;
    bool Progress(const std::string& text, int percent) override;
    void ShowAbout(const std::string& storeName) override;

    // The messages this window posts itself.
    static constexpr UINT kRunPosted = WM_APP + 1;
    static constexpr int kHotKeyId = 1;

  private:
    // Work other threads hand to the window.
    struct Posted {
        std::mutex mutex;
        HWND hwnd = nullptr;  // null once the window is gone: work is dropped
        std::deque<std::function<void()>> work;
        bool messagePending = false;  // a kRunPosted is on its way
    };

    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static INT_PTR CALLBACK PageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK ListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam,
                                     UINT_PTR, DWORD_PTR data);
    // The pointer moved over `list` (client point `at`): a new cell's tip shows anew.
    void PointAt(HWND list, LPARAM at);
    // What the tip of the cell under the pointer says: empty when nothing is cut.
    std::wstring CellTip(HWND list) const;
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void Nested(const std::function<void()>& handle);
    void OnCommand(int id, int code);
    LRESULT OnNotify(const NMHDR& header);
    LRESULT DrawRow(NMLVCUSTOMDRAW& draw);
    void RunPosted();
    void PostPending();
    void Close();
    // The model closes (false when the user keeps the window) and lets go of the window.
    bool Shutdown();
    void Enable(HWND control, bool on);
    void ScaleColumns(int dpi);

    void CreateControls();
    void SetColumns(HWND list, const struct ResultColumn* columns, size_t count);
    void AddTooltips();
    void SetTabOrder();
    void ShowListPage(int page);
    void Layout();
    RECT DialogRect(HWND dialog, int x, int y, int cx, int cy) const;
    HWND Item(int id) const;
    std::wstring ItemText(int id) const;
    void SetItemText(int id, const std::string& utf8);
    // Pumps messages (all of them, or only those that are no user input) for about `time`.
    void Pump(std::chrono::milliseconds time, bool input);

    std::string storePath_;
    std::string storeNotice_;  // what the status line says of the store at first
    const Clock& clock_;
    bool printState_;
    std::string lastStateLine_;
    std::unique_ptr<WindowModel> model_;
    Posted posted_;
    HWND hwnd_ = nullptr;
    HWND condition_ = nullptr;  // the condition page in the search tab
    HWND dataPane_ = nullptr;   // the collected data's page in the list tab
    HWND tooltip_ = nullptr;
    HWND dataTooltip_ = nullptr;
    HWND cellTip_ = nullptr;  // the lists' cells
    std::wstring cellTipText_;
    std::pair<HWND, std::pair<int, int>> tipCell_{};  // the list, row and column pointed at
    HICON icon_ = nullptr;
    HICON smallIcon_ = nullptr;
    bool rendering_ = false;  // texts set by Render are no user input
    int inModel_ = 0;         // messages being handled, nested loops included
    bool closePending_ = false;
    bool shuttingDown_ = false;  // the model is asked to close
    int dpi_ = 96;               // of the lists' column widths
    std::wstring title_;
    bool visible_ = true;
    bool hotKey_ = false;
    std::uint64_t rowsEpoch_ = 0;
    std::uint64_t dataEpoch_ = 0;
    std::uint64_t focusSerial_ = 0;
    std::wstring startTip_;
    std::wstring cell_;  // the text a list asked for last
    std::unique_ptr<CWaitBox> storeWait_;
    std::unique_ptr<CWaitBox> progress_;
};
