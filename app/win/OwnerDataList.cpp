#include "app/win/OwnerDataList.h"

#include <windowsx.h>

#include <algorithm>

#include "app/model/Dialogs.h"
#include "app/win/WindowDpi.h"
#include "platform/windows/Wide.h"

using platform::win::Wide;

COwnerDataList::COwnerDataList(HWND list, int id, HWND owner, HWND cellTip)
    : list_(list), id_(id), cellTip_(cellTip) {
    SendMessageW(list_, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                 LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_DOUBLEBUFFER);
    // The tip is told of a new cell (ListProc) after it has seen the move itself.
    TOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = owner;
    tool.uId = reinterpret_cast<UINT_PTR>(list_);
    tool.lpszText = LPSTR_TEXTCALLBACKW;
    SendMessageW(cellTip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    SetWindowSubclass(list_, ListProc, 0, reinterpret_cast<DWORD_PTR>(this));
    // The columns' widths are pixels at 96 dots per inch.
    dpi_ = WindowDpi(owner);
    const ColumnTable columns = ColumnsOf(id_);
    for (size_t i = 0; i < columns.count; ++i) {
        std::wstring header = Wide(columns.columns[i].header);
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        column.fmt = LVCFMT_LEFT;
        column.cx = MulDiv(columns.columns[i].width, dpi_, 96);
        column.pszText = header.data();
        SendMessageW(list_, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
}

LRESULT CALLBACK COwnerDataList::ListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam,
                                          UINT_PTR, DWORD_PTR data) {
    if (message == WM_MOUSEMOVE) {
        reinterpret_cast<COwnerDataList*>(data)->PointAt(lParam);
    } else if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(list, ListProc, 0);
    }
    return DefSubclassProc(list, message, wParam, lParam);
}

void COwnerDataList::PointAt(LPARAM at) {
    LVHITTESTINFO hit{};
    hit.pt = {GET_X_LPARAM(at), GET_Y_LPARAM(at)};
    SendMessageW(list_, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    const std::pair<int, int> cell{hit.iItem, hit.iSubItem};
    if (cell != tipCell_) {
        tipCell_ = cell;
        SendMessageW(cellTip_, TTM_POP, 0, 0);  // the tip shows anew for the new cell
    }
}

void COwnerDataList::Render(const WindowState& state) {
    const std::vector<ResultRow>* rows = RowsOf(state, id_);
    if (rows == nullptr) {
        return;
    }
    // The list asks for its texts as it draws them: only the number of rows is set here.
    const std::uint64_t epoch = RowsEpochOf(state, id_);
    const auto shown = static_cast<size_t>(SendMessageW(list_, LVM_GETITEMCOUNT, 0, 0));
    if (drawn_ && epoch == epoch_ && rows->size() == shown) {
        if (const std::uint64_t revision = RowsRevisionOf(state, id_); revision != revision_) {
            revision_ = revision;  // rows changed in place: drawn again as the list asks
            InvalidateRect(list_, nullptr, FALSE);
        }
        return;
    }
    revision_ = RowsRevisionOf(state, id_);
    const bool anew = !drawn_ || epoch != epoch_;
    // The run's list follows its end, unless the user scrolled up to read.
    const auto top = static_cast<size_t>(SendMessageW(list_, LVM_GETTOPINDEX, 0, 0));
    const auto page = static_cast<size_t>(SendMessageW(list_, LVM_GETCOUNTPERPAGE, 0, 0));
    const bool atEnd = top + page >= shown;
    drawn_ = true;
    epoch_ = epoch;
    SendMessageW(list_, LVM_SETITEMCOUNT, rows->size(),
                 anew ? 0 : LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
    const size_t from = anew ? 0 : shown;
    if (from < static_cast<size_t>(kSizedRows) && rows->size() > from) {
        FitColumns(*rows, from);
    }
    if (atEnd && id_ == IDC_RESULT_LIST && !rows->empty()) {
        SendMessageW(list_, LVM_ENSUREVISIBLE, rows->size() - 1, FALSE);
    }
    if (anew) {
        // Another list: no row stays selected by its number.
        LVITEMW none{};
        none.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageW(list_, LVM_SETITEMSTATE, static_cast<WPARAM>(-1),
                     reinterpret_cast<LPARAM>(&none));
        InvalidateRect(list_, nullptr, TRUE);
    }
}

void COwnerDataList::FitColumns(const std::vector<ResultRow>& rows, size_t from) {
    // Columns as wide as their texts need (never narrower than the user made them), from the
    // first rows that come in.
    HDC dc = GetDC(list_);
    HGDIOBJ font =
        SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(list_, WM_GETFONT, 0, 0)));
    const size_t to = std::min(rows.size(), static_cast<size_t>(kSizedRows));
    const int widest = MulDiv(kWidestColumn, dpi_, 96);
    const int margin = MulDiv(14, dpi_, 96);
    for (size_t c = 0; c < ColumnsOf(id_).count; ++c) {
        int need = 0;
        for (size_t r = from; r < to; ++r) {
            const std::wstring text = Wide(CellOf(rows[r], c));
            SIZE size{};
            GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
            need = std::max(need, static_cast<int>(size.cx) + margin);
        }
        const int now = static_cast<int>(SendMessageW(list_, LVM_GETCOLUMNWIDTH, c, 0));
        if (need > now) {
            SendMessageW(list_, LVM_SETCOLUMNWIDTH, c, MAKELPARAM(std::min(need, widest), 0));
        }
    }
    SelectObject(dc, font);
    ReleaseDC(list_, dc);
}

bool COwnerDataList::Notify(const NMHDR& header, const WindowState& state, LRESULT& result) {
    if (header.hwndFrom != list_) {
        return false;
    }
    const std::vector<ResultRow>& rows = *RowsOf(state, id_);
    result = 0;
    if (header.code == LVN_GETDISPINFOW) {
        auto& info = const_cast<NMLVDISPINFOW&>(reinterpret_cast<const NMLVDISPINFOW&>(header));
        const auto row = static_cast<size_t>(info.item.iItem);
        const auto column = static_cast<size_t>(info.item.iSubItem);
        if ((info.item.mask & LVIF_TEXT) != 0 && info.item.cchTextMax > 0) {
            // A list may ask for a row the model has just dropped, before it is drawn anew.
            cell_ = row < rows.size() ? Wide(CellOf(rows[row], column)) : std::wstring();
            lstrcpynW(info.item.pszText, cell_.c_str(), info.item.cchTextMax);
        }
    } else if (header.code == NM_CUSTOMDRAW) {
        auto& draw = const_cast<NMLVCUSTOMDRAW&>(reinterpret_cast<const NMLVCUSTOMDRAW&>(header));
        if (draw.nmcd.dwDrawStage == CDDS_PREPAINT) {
            result = CDRF_NOTIFYITEMDRAW;
        } else {
            // A company whose contact page is kept as a failure is grey: only its name is known.
            const auto row = static_cast<size_t>(draw.nmcd.dwItemSpec);
            if (draw.nmcd.dwDrawStage == CDDS_ITEMPREPAINT && row < rows.size() &&
                rows[row].waiting) {
                draw.clrText = GetSysColor(COLOR_GRAYTEXT);
            }
            result = CDRF_DODEFAULT;
        }
    }
    return true;
}

std::wstring COwnerDataList::CellTip(const WindowState& state) const {
    // The cell under the pointer now: the rows may have changed since it got there.
    LVHITTESTINFO hit{};
    GetCursorPos(&hit.pt);
    ScreenToClient(list_, &hit.pt);
    SendMessageW(list_, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    const std::vector<ResultRow>& rows = *RowsOf(state, id_);
    const auto row = static_cast<size_t>(hit.iItem);
    const auto column = static_cast<size_t>(hit.iSubItem);
    if (hit.iItem < 0 || hit.iSubItem < 0 || row >= rows.size() || column >= ColumnsOf(id_).count) {
        return {};
    }
    if (rows[row].waiting) {
        return Wide(TipOfRow(rows[row]));
    }
    const std::wstring whole = Wide(CellOf(rows[row], column));
    // Cut when wider than its column less the list's margins.
    HDC dc = GetDC(list_);
    HGDIOBJ font =
        SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(list_, WM_GETFONT, 0, 0)));
    SIZE size{};
    GetTextExtentPoint32W(dc, whole.c_str(), static_cast<int>(whole.size()), &size);
    SelectObject(dc, font);
    ReleaseDC(list_, dc);
    const int room =
        static_cast<int>(SendMessageW(list_, LVM_GETCOLUMNWIDTH, column, 0)) - MulDiv(12, dpi_, 96);
    return size.cx > room ? whole : std::wstring();
}

void COwnerDataList::ScaleColumns(int dpi) {
    if (dpi <= 0 || dpi == dpi_) {
        return;
    }
    HWND header = reinterpret_cast<HWND>(SendMessageW(list_, LVM_GETHEADER, 0, 0));
    const int columns = static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < columns; ++i) {
        const int width = static_cast<int>(SendMessageW(list_, LVM_GETCOLUMNWIDTH, i, 0));
        SendMessageW(list_, LVM_SETCOLUMNWIDTH, i, MulDiv(width, dpi, dpi_));
    }
    dpi_ = dpi;
}
