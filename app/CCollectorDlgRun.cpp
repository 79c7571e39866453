// Run control of the main window: Pre-collect, Start, Stop, the pacing timer and the
// reactions to the worker's notifications.

#include <QLineEdit>
#include <system_error>

#include "app/CCollectorDlg.h"
#include "app/CConditionPage.h"
#include "app/ModalScope.h"
#include "app/NotificationBridge.h"
#include "store/RecordStore.h"
#include "text/Number.h"

void CCollectorDlg::SetStatusText(const QString& text) {
    SetItemText(IDC_STATUS, text);
}

bool CCollectorDlg::TakeCondition() {
    std::string condition;
    if (m_nKind == CRAWL_KIND_MEMBER) {
        ModalScope modal(*this);
        condition = m_pageCondition->GetConditionText();
    }
    if (condition.empty()) {
        return false;
    }
    m_strCondition = condition;
    return true;
}

int CCollectorDlg::ReadNumberSetting(int id, int defaultValue) const {
    const QString text = ItemText(id);
    return text.isEmpty() ? defaultValue : text::LeadingInt(text.toStdString());
}

void CCollectorDlg::StartCrawlWorker() {
    CrawlJob job;
    job.pNotify = m_pBridge;
    job.nKind = m_nKind;
    job.nMode = m_nMode;
    job.nStartPage = m_nStartPage;
    job.nLastPage = m_nPagesTotal;
    job.strCondition = m_strCondition;
    job.strStorePath = m_strStorePath;
    try {
        m_pRunCtl->StartWorker(std::move(job));
    } catch (const std::system_error&) {
        Prompt(QString::fromLatin1(kCannotStartThread), QString(), QMessageBox::NoIcon);
    }
}

void CCollectorDlg::OnButtonPrecollect() {
    if (!TakeCondition()) {
        return;
    }
    EnableItem(IDC_PRECOLLECT, false);
    m_nMode = CRAWL_MODE_PRECOLLECT;
    SetStatusText(QStringLiteral("操作进行中，请稍后..."));
    StartCrawlWorker();
}

void CCollectorDlg::OnButtonStart() {
    m_nStartPage = std::max(1, text::LeadingInt(ItemText(IDC_START_PAGE).toStdString()));
    if (m_nStartPage > m_nPagesTotal) {
        Prompt(QStringLiteral("起始采集页码不能大于总页面个数!"), QStringLiteral("开始采集"),
               QMessageBox::Warning);
        return;
    }
    EnableItem(IDC_PRECOLLECT, false);
    EnableItem(IDC_START, false);
    FillResultList();
    if (ResultListHasRows()) {
        auto answer = Prompt(QStringLiteral("存在已经采集的数据。是否在采集前清空原有数据？"),
                             QStringLiteral("确认"), QMessageBox::Question,
                             QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer == QMessageBox::Yes) {
            if (RecordStore* store = Store()) {
                try {
                    store->ClearMemberRecords();
                } catch (const StoreError& e) {
                    Prompt(QString::fromUtf8(e.what()), QStringLiteral("数据库错误"),
                           QMessageBox::Critical);
                }
            }
            FillResultList();
        }
    }
    m_nMode = CRAWL_MODE_COLLECT;
    m_nRecordsCollected = 0;
    m_nPagesPerPause = ReadNumberSetting(IDC_EVERY_N, 30);
    m_nPauseSeconds = ReadNumberSetting(IDC_PAUSE_SECONDS, 10);
    m_nTimeoutSeconds = ReadNumberSetting(IDC_TIMEOUT, 15);
    SetStatusText(QStringLiteral("采集进行中，请稍后..."));
    m_pRunCtl->BeginRun({m_nPagesPerPause, m_nPauseSeconds, m_nTimeoutSeconds});
    m_nRestartsSeen = m_pRunCtl->Restarts();
    StartCrawlWorker();
    m_bRunning = true;
    EnableItem(IDC_STOP, true);
}

void CCollectorDlg::ShowRunEnded(const QString& status) {
    m_bRunning = false;
    EnableItem(IDC_PRECOLLECT, true);
    EnableItem(IDC_START, true);
    EnableItem(IDC_STOP, false);
    SetStatusText(status);
}

void CCollectorDlg::OnButtonStop() {
    m_pRunCtl->Stop();
    ShowRunEnded(QStringLiteral("操作停止！"));
}

void CCollectorDlg::OnTimer() {
    // While a message box is open the watchdog waits: the records that would re-arm it are
    // held until the box closes.
    try {
        m_pRunCtl->Tick(m_nModalDepth == 0);
    } catch (const std::system_error&) {
        Prompt(QString::fromLatin1(kCannotStartThread), QString(), QMessageBox::NoIcon);
    }
    if (m_pRunCtl->Restarts() != m_nRestartsSeen) {
        m_nRestartsSeen = m_pRunCtl->Restarts();
        m_nStartPage = m_nPagesDone;  // the fresh worker began at the page in progress
    }
}

void CCollectorDlg::OnNotification(const CrawlNotification& n) {
    m_pending.push_back(n);
    if (m_nModalDepth == 0) {
        DrainNotifications();
    }
}

void CCollectorDlg::EndRunWithStoreError(const QString& reason) {
    m_pRunCtl->OnRunEnded();
    ShowRunEnded(QStringLiteral("操作停止！"));
    Prompt(QStringLiteral("数据库错误，采集已停止：%1").arg(reason), QStringLiteral("数据库错误"),
           QMessageBox::Critical);
}

void CCollectorDlg::DrainNotifications() {
    while (!m_pending.empty() && m_nModalDepth == 0) {
        const CrawlNotification n = m_pending.front();
        m_pending.pop_front();
        switch (n.message) {
            case WM_CRAWL_NET_FAILED:
                SetStatusText(QStringLiteral("网络连接失败！"));
                // Pre-collect can be tried again; a collect run that could not begin is over.
                EnableItem(IDC_PRECOLLECT, true);
                if (m_bRunning && n.worker == m_pRunCtl->CurrentWorkerId()) {
                    m_pRunCtl->OnRunEnded();
                    ShowRunEnded(QStringLiteral("网络连接失败！"));
                }
                break;
            case WM_CRAWL_PRECOLLECTED:
                m_nPagesTotal = static_cast<int>(n.wParam);
                m_nRecordsTotal = static_cast<int>(std::min<std::int64_t>(n.lParam, INT32_MAX));
                SetItemText(IDC_RECORDS, QStringLiteral("0 / %1").arg(m_nRecordsTotal));
                if (m_nRecordsTotal > 0) {
                    SetItemText(IDC_PAGES, QStringLiteral("0 / %1").arg(m_nPagesTotal));
                    Prompt(QStringLiteral("找到 %1 条符合条件的记录！").arg(m_nRecordsTotal),
                           QString(), QMessageBox::Information);
                    EnableItem(IDC_START, true);
                }
                EnableItem(IDC_PRECOLLECT, true);
                SetStatusText(QStringLiteral("操作成功完成！"));
                break;
            case WM_CRAWL_FINISHED:
                m_pRunCtl->OnRunEnded();
                ShowRunEnded(QStringLiteral("操作成功完成！"));
                break;
            case WM_CRAWL_PAGE_STARTED:
                m_nPagesDone = static_cast<int>(n.lParam);
                m_pRunCtl->OnPageStarted(m_nPagesDone);
                if (m_pStore) {
                    try {
                        m_pStore->SaveLastPageIndex(m_nPagesDone);
                    } catch (const StoreError& e) {
                        if (m_bRunning) {
                            m_pRunCtl->Stop();
                            EndRunWithStoreError(QString::fromUtf8(e.what()));
                        }
                    }
                }
                SetItemText(IDC_PAGES,
                            QStringLiteral("%1 / %2").arg(m_nPagesDone).arg(m_nPagesTotal));
                ClearResultList();
                break;
            case WM_CRAWL_RECORD_SAVED: {
                AddNewestResult(n.rowId);
                const int count = static_cast<int>(n.lParam);
                m_nRecordsCollected = std::max(m_nRecordsCollected, count);
                SetItemText(
                    IDC_RECORDS,
                    QStringLiteral("%1 / %2").arg(m_nRecordsCollected).arg(m_nRecordsTotal));
                if (m_bRunning) {
                    m_pRunCtl->OnRecordSaved(count);
                }
                break;
            }
            case WM_CRAWL_STORE_FAILED:
                if (m_bRunning) {
                    EndRunWithStoreError(QString::fromUtf8(n.error.c_str()));
                }
                break;
            default:
                break;
        }
    }
}
