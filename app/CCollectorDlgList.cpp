// The results list: the newest records on request, then the records of the page in progress.

#include <QHeaderView>
#include <QTableWidget>

#include "app/CCollectorDlg.h"
#include "store/Store.h"
#include "text/GbkCodec.h"

namespace {

struct Column {
    const char* header;
    int width;
};
constexpr Column kColumns[] = {{"公司名称", 200}, {"联系人", 100}, {"性别", 100},
                               {"职务", 100},     {"手机", 100},   {"电话", 100},
                               {"传真", 100},     {"地址", 100},   {"邮编", 100}};

QString FromGbk(const std::string& gbk) {
    return QString::fromStdString(text::GbkToUtf8(gbk));
}

}  // namespace

void CCollectorDlg::SetUpResultColumns() {
    if (m_bRunning) {
        return;
    }
    m_list->setRowCount(0);
    m_list->setColumnCount(0);
    if (m_nKind != CRAWL_KIND_MEMBER) {
        return;
    }
    m_list->setColumnCount(static_cast<int>(std::size(kColumns)));
    for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i) {
        m_list->setHorizontalHeaderItem(
            i, new QTableWidgetItem(QString::fromUtf8(kColumns[i].header)));
        m_list->setColumnWidth(i, kColumns[i].width);
    }
}

void CCollectorDlg::InsertResultRow(int row, const MemberRecord& record) {
    m_list->insertRow(row);
    auto fields = record.Fields();
    const QFontMetrics metrics(m_list->font());
    for (int i = 0; i < MemberRecord::kFieldCount && i < m_list->columnCount(); ++i) {
        auto* item = new QTableWidgetItem(FromGbk(*fields[i]));
        m_list->setItem(row, i, item);
        SetCutTip(item, metrics);
    }
}

void CCollectorDlg::SetCutTip(QTableWidgetItem* item, const QFontMetrics& metrics) {
    // A text wider than its column shows whole as the cell's tooltip.
    const int room = m_list->columnWidth(item->column()) - 2 * kCellMargin;
    item->setToolTip(metrics.horizontalAdvance(item->text()) > room ? item->text() : QString());
}

void CCollectorDlg::UpdateCutTips(int column) {
    const QFontMetrics metrics(m_list->font());
    for (int row = 0; row < m_list->rowCount(); ++row) {
        if (QTableWidgetItem* item = m_list->item(row, column)) {
            SetCutTip(item, metrics);
        }
    }
}

void CCollectorDlg::FillResultList() {
    m_list->setRowCount(0);
    IRecordStore* store = Store();
    if (store == nullptr) {
        return;
    }
    int row = 0;
    try {
        store->NewestMemberRecords([&](const MemberRecord& r) { InsertResultRow(row++, r); });
    } catch (const StoreError& e) {
        Prompt(QString::fromUtf8(e.what()), QStringLiteral("数据库错误"), QMessageBox::Critical);
    }
}

void CCollectorDlg::AddNewestResult(std::int64_t rowId) {
    const int n = m_list->rowCount();
    IRecordStore* store = Store();
    if (store == nullptr) {
        return;
    }
    try {
        // The notification names its row, so every saved record is listed exactly once.
        if (auto record = store->MemberRecordById(rowId)) {
            InsertResultRow(n, *record);
        }
    } catch (const StoreError& e) {
        Prompt(QString::fromUtf8(e.what()), QStringLiteral("数据库错误"), QMessageBox::Critical);
    }
}

void CCollectorDlg::ClearResultList() {
    m_list->setRowCount(0);
}

bool CCollectorDlg::ResultListHasRows() const {
    return m_list->rowCount() > 0;
}

void CCollectorDlg::OnButtonPreview() {
    FillResultList();
}
