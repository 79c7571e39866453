#pragma once
// A report list whose rows the window model holds (LVS_OWNERDATA): it asks for each cell as it
// draws it, greys a row that is only a company's name (its contact page kept as a failure), and
// shows a tip with the whole text of a cut cell, or why a row is grey. The rows are those the
// model binds to the list's id (RowsOf).

#include <windows.h>

#include <commctrl.h>

#include <cstdint>
#include <string>
#include <utility>

#include "app/model/WindowState.h"

class COwnerDataList {
  public:
    // `list`: the control, with id `id`; `cellTip`: the tooltip its cells' tips go to, which
    // `owner` (the window) receives the notifications of.
    COwnerDataList(HWND list, int id, HWND owner, HWND cellTip);
    HWND Handle() const { return list_; }

    // The number of rows is `state`'s now; rows of a new epoch are drawn anew.
    void Render(const WindowState& state);
    // A notification from this list (LVN_GETDISPINFO, NM_CUSTOMDRAW); false for one of
    // another window.
    bool Notify(const NMHDR& header, const WindowState& state, LRESULT& result);
    // What the tip of the cell under the pointer says: empty when nothing is cut.
    std::wstring CellTip(const WindowState& state) const;
    // The columns' widths follow the monitor's dots per inch.
    void ScaleColumns(int dpi);

  private:
    // Widens the columns whose texts need it, looking at rows from `from` on.
    void FitColumns(const std::vector<ResultRow>& rows, size_t from);
    static LRESULT CALLBACK ListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam,
                                     UINT_PTR, DWORD_PTR data);
    // The pointer moved to client point `at`: a new cell's tip shows anew.
    void PointAt(LPARAM at);

    HWND list_;
    int id_;
    HWND cellTip_;
    int dpi_ = 96;
    std::uint64_t epoch_ = 0;
    bool drawn_ = false;
    std::uint64_t revision_ = 0;
    std::pair<int, int> tipCell_{-1, -1};  // the row and column pointed at
    std::wstring cell_;                    // the text the list asked for last
};
