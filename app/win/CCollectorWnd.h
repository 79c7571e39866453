#pragma once
// The main window on Windows: a native dialog that is a view of the window model. It is built
// from the model's control tables, one loop per kind of control to make, draw and read them;
// it passes the user's input on, draws the state it is handed and shows the model's questions
// as message boxes and Windows' own file dialogs. F2 is a hot key registered for this window
// and arrives in its own message loop.

#include <windows.h>

#include <commctrl.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/model/IWindowView.h"
#include "app/model/WindowModel.h"
#include "app/win/DialogProc.h"
#include "app/win/OwnerDataList.h"
#include "app/win/PostedWork.h"
#include "crawl/Clock.h"

class CWaitBox;

class CCollectorWnd : public IWindowView {
  public:
    CCollectorWnd(std::string storePath, const crawl::Clock& clock, bool printState,
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
    std::optional<HotKeySpec> AskHotKey(const HotKeySpec& current) override;
    std::optional<std::string> AskSearchName(const std::string& proposed) override;
    std::optional<ScheduleChoice> AskSchedule(const ScheduleOffer& offer) override;
    std::optional<std::string> AskOpen(const OpenRequest& request) override;
    bool Progress(const std::string& text, int percent) override;
    void ShowAbout(const std::string& storeName) override;

    // The messages this window posts itself.
    static constexpr UINT kRunPosted = WM_APP + 1;
    // Another start of the program for the same store asks this window to come to the front.
    static constexpr UINT kShowAgain = WM_APP + 3;
    // Marks the window with the property `name`, by which another start finds it (taken off
    // as it closes).
    void MarkAs(std::wstring name);
    static constexpr int kHotKeyId = 1;

  private:
    // A tab's page: a child dialog in the tab's display area, so Tab moves into it.
    struct Page {
        const TabPage* tab;
        HWND hwnd;
        int index;  // in its tab
    };

    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
    // A page's messages: its controls speak to the window.
    INT_PTR HandlePage(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
    void Nested(const std::function<void()>& handle);
    void OnCommand(int id, int code, HWND control);
    LRESULT OnNotify(const NMHDR& header);
    void Close();
    // The model closes (false when the user keeps the window) and lets go of the window.
    bool Shutdown();
    void Enable(HWND control, bool on);
    // Draws control `c` as `state` has it, by its kind.
    void RenderControl(const ControlSpec& c, const WindowState& state);

    void CreateControls();
    void AddTooltips();
    void SetTabOrder();
    // Shows page `index` of tab `tab` and hides its others.
    void ShowPage(HWND tab, int index);
    void Layout();
    // Lays out `controls` in `parent`, grown by `dx`, `dy` past their smallest size.
    void Place(HWND parent, const ControlTable& controls, int dx, int dy);
    RECT DialogRect(HWND dialog, int x, int y, int cx, int cy) const;
    HWND Item(int id) const;
    std::wstring ItemText(int id) const;
    void SetItemText(int id, const std::string& utf8);
    // The tooltip of the controls of `parent` (the window or a page), made on first use.
    HWND TooltipOf(HWND parent);
    // Pumps messages (all of them, or only those that are no user input) for about `time`.
    void Pump(std::chrono::milliseconds time, bool input);

    std::string storePath_;
    std::string storeNotice_;  // what the status line says of the store at first
    const crawl::Clock& clock_;
    bool printState_;
    std::string lastStateLine_;
    std::unique_ptr<WindowModel> model_;
    CPostedWork posted_;
    DialogHandler handler_;      // the window's messages
    DialogHandler pageHandler_;  // its pages'
    HWND hwnd_ = nullptr;
    std::vector<Page> pages_;
    std::map<HWND, HWND> tooltips_;  // of the window and each page
    std::vector<std::unique_ptr<COwnerDataList>> lists_;
    HWND cellTip_ = nullptr;  // the lists' cells
    std::wstring cellTipText_;
    std::map<int, std::wstring> modelTips_;  // the tips the model gives, as shown
    HICON icon_ = nullptr;
    HICON smallIcon_ = nullptr;
    bool rendering_ = false;  // texts set by Render are no user input
    int inModel_ = 0;         // messages being handled, nested loops included
    bool closePending_ = false;
    bool shuttingDown_ = false;  // the model is asked to close
    std::wstring title_;
    bool visible_ = true;
    bool hotKey_ = false;
    std::uint64_t raiseSerial_ = 0;
    std::wstring mark_;
    std::string hotKeyName_;  // the key the state named when it was last registered
    void HoldHotKey(const std::string& name);
    std::uint64_t focusSerial_ = 0;
    std::unique_ptr<CWaitBox> storeWait_;
    std::unique_ptr<CWaitBox> progress_;
};
