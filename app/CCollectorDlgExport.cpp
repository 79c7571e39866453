// Export of every stored record to a text or CSV file.

#include <QFileInfo>

#include "app/CCollectorDlg.h"
#include "app/ModalScope.h"
#include "app/UserPrompts.h"
#include "store/ExportRecords.h"
#include "store/Store.h"

bool CCollectorDlg::CheckExportable() {
    IRecordStore* store = Store();
    if (store == nullptr) {
        return false;
    }
    try {
        if (store->HasMemberRecords()) {
            return true;
        }
    } catch (const StoreError& e) {
        Prompt(QString::fromUtf8(e.what()), QStringLiteral("数据库错误"), QMessageBox::Critical);
        return false;
    }
    Prompt(QStringLiteral("没有任何可以导出的数据！"), QStringLiteral("提示"),
           QMessageBox::Warning);
    return false;
}

void CCollectorDlg::ExportRecords(ExportFormat format) {
    // 导出到Excel offers a workbook first and CSV second; the chosen name's suffix decides.
    const bool excel = format != EXPORT_FORMAT_TEXT;
    // The dialog opens in the folder of the last export, when there was one.
    QString folder;
    if (IRecordStore* store = Store()) {
        try {
            if (auto last = store->LoadSetting(kLastExportFolder)) {
                folder = QString::fromStdString(*last);
            }
        } catch (const StoreError&) {
        }
    }
    const QString name = QStringLiteral("Tarvola版本采集结果导出") + (excel ? ".xlsx" : ".txt");
    std::optional<QString> path;
    QString chosen;
    {
        ModalScope modal(*this);
        // Each type twice: every record, or each company once (its newest row).
        path = m_prompts.SaveFileName(
            this, folder.isEmpty() || !QFileInfo(folder).isDir() ? name : folder + "/" + name,
            excel
                ? QStringLiteral("Excel 工作簿 (*.xlsx);;CSV文件 (*.csv);;"
                                 "Excel 工作簿，每家公司一行 (*.xlsx);;"
                                 "CSV文件，每家公司一行 (*.csv);;所有文件 (*)")
                : QStringLiteral("文本文件 (*.txt);;文本文件，每家公司一行 (*.txt);;所有文件 (*)"),
            excel ? QStringLiteral("xlsx") : QStringLiteral("txt"), &chosen);
    }
    const bool unique = chosen.contains(QStringLiteral("每家公司一行"));
    IRecordStore* store = path ? Store() : nullptr;
    if (store == nullptr) {
        return;
    }
    try {
        if (excel) {
            format = path->endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive)
                         ? EXPORT_FORMAT_CSV
                         : EXPORT_FORMAT_XLSX;
        }
        std::int64_t rows = 0;
        try {
            rows = ::ExportRecords(*store, path->toStdString(), format, ExportEncoding::Gbk,
                                   nullptr, unique);
        } catch (const ExportNotEncodable& e) {
            // Nothing was written: offered in UTF-8 instead, never with "?" in the names.
            if (Prompt(QString::fromUtf8(e.what()) + QStringLiteral("\n\n现在改用 UTF-8 编码导出吗？"),
                       QStringLiteral("导出"), QMessageBox::Question,
                       QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) != QMessageBox::Yes) {
                SetStatusText(QStringLiteral("没有导出。"));
                return;
            }
            rows = ::ExportRecords(*store, path->toStdString(), format, ExportEncoding::Utf8Bom,
                                   nullptr, unique);
        }
        SetStatusText(QStringLiteral("已导出 %1 条记录到 %2").arg(rows).arg(*path));
        try {
            store->SaveSetting(kLastExportFolder, QFileInfo(*path).absolutePath().toStdString());
        } catch (const StoreError&) {
        }
    } catch (const std::exception& e) {
        SetStatusText(QStringLiteral("导出失败"));
        Prompt(QString::fromUtf8(e.what()), QStringLiteral("导出失败"), QMessageBox::Critical);
    }
}

void CCollectorDlg::OnButtonExportText() {
    if (CheckExportable()) {
        ExportRecords(EXPORT_FORMAT_TEXT);
    }
}

void CCollectorDlg::OnButtonExportCsv() {
    if (CheckExportable()) {
        ExportRecords(EXPORT_FORMAT_CSV);
    }
}
