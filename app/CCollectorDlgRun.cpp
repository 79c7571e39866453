// Run control of the main window: Pre-collect, Start, Stop, the pacing timer and the
// reactions to the worker's notifications.

#include <QCheckBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QThread>
#include <system_error>

#include "app/CCollectorDlg.h"
#include "app/CConditionPage.h"
#include "app/ModalScope.h"
#include "app/NotificationBridge.h"
#include "crawl/SearchAddress.h"
#include "store/SharedPages.h"
#include "store/Store.h"
#include "text/GbkCodec.h"

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

std::optional<int> CCollectorDlg::ReadBoundedNumber(int id, const QString& name, int low,
                                                    int high) {
    bool ok = false;
    const qlonglong value = ItemText(id).toLongLong(&ok);
    if (ok && value >= low && value <= high) {
        return static_cast<int>(value);
    }
    Prompt(QStringLiteral("%1应为 %2 到 %3 之间的整数！").arg(name).arg(low).arg(high),
           QStringLiteral("开始采集"), QMessageBox::Warning);
    if (QWidget* edit = GetDlgItem(id)) {
        edit->setFocus();
    }
    return std::nullopt;
}

void CCollectorDlg::OnConditionEdited() {
    if (m_bRunning) {
        m_bConditionEdited = true;  // taken into account when the run ends
        return;
    }
    // During a pre-collect, its answer will be for the search before the edit.
    m_bConditionEdited = m_pSession->PreCollecting();
    if (m_nPagesTotal == 0) {
        return;
    }
    // The totals and Start belonged to the search that was pre-collected, not to this one.
    EnableItem(IDC_START, false);
    m_nRecordsTotal = m_nPagesTotal = m_nRecordsDone = m_nPagesDone = 0;
    UpdateProgressLabels();
}

void CCollectorDlg::OnButtonPrecollect() {
    if (m_bRunning || !TakeCondition()) {
        return;
    }
    EnableItem(IDC_PRECOLLECT, false);
    m_bConditionEdited = false;
    m_nMode = CRAWL_MODE_PRECOLLECT;
    SetStatusText(QStringLiteral("操作进行中，请稍后..."));
    try {
        m_pSession->StartPreCollect(m_strCondition);
    } catch (const std::system_error&) {
        Prompt(QString::fromLatin1(kCannotStartThread), QString(), QMessageBox::NoIcon);
    }
}

CCollectorDlg::RunStart CCollectorDlg::StartCollectRun(bool retry) {
    IRecordStore* store = Store();
    if (store == nullptr) {
        return RunStart::Failed;  // the user was told why
    }
    CollectRequest request;
    request.condition = m_strCondition;
    request.startPage = m_nStartPage;
    request.lastPage = m_nPagesTotal;
    request.pacing = {m_nPagesPerPause, m_nPauseSeconds, m_nTimeoutSeconds};
    request.lanes = m_nLanes;
    if (auto* skip = qobject_cast<QCheckBox*>(GetDlgItem(IDC_SKIP_KNOWN))) {
        request.skipKnown = skip->isChecked();
    }
    try {
        if (retry) {
            return m_pSession->StartRetry(request, *store) ? RunStart::Started
                                                           : RunStart::NothingToRetry;
        }
        m_pSession->StartCollect(request, *store);
        return RunStart::Started;
    } catch (const std::system_error&) {
        Prompt(QString::fromLatin1(kCannotStartThread), QString(), QMessageBox::NoIcon);
    } catch (const StoreError& e) {
        Prompt(QString::fromUtf8(e.what()), QStringLiteral("数据库错误"), QMessageBox::Critical);
    }
    return RunStart::Failed;
}

void CCollectorDlg::OnButtonStart() {
    bool ok = false;
    const qlonglong start = ItemText(IDC_START_PAGE).toLongLong(&ok);
    if (ok && start > m_nPagesTotal) {
        Prompt(QStringLiteral("起始采集页码不能大于总页面个数!"), QStringLiteral("开始采集"),
               QMessageBox::Warning);
        return;
    }
    const auto startPage = ReadBoundedNumber(IDC_START_PAGE, QStringLiteral("起始页面"), 1,
                                             std::max(1, m_nPagesTotal));
    if (!startPage) {
        return;
    }
    const auto every = ReadBoundedNumber(IDC_EVERY_N, QStringLiteral("每采集的个数"), 0, 100000);
    if (!every) {
        return;
    }
    const auto wait = ReadBoundedNumber(IDC_PAUSE_SECONDS, QStringLiteral("等待秒数"), 0, 86400);
    if (!wait) {
        return;
    }
    const auto timeout = ReadBoundedNumber(IDC_TIMEOUT, QStringLiteral("超时秒数"), 0, 86400);
    if (!timeout) {
        return;
    }
    const auto lanes = ReadBoundedNumber(IDC_PARALLEL, QStringLiteral("并发数"), 1, kMaxLanes);
    if (!lanes) {
        return;
    }
    m_nStartPage = *startPage;
    EnableItem(IDC_PRECOLLECT, false);
    EnableItem(IDC_START, false);
    WaitForEarlierWorkers();
    if (m_bClosing) {
        return;  // the window was closed while it waited
    }
    FillResultList();
    if (ResultListHasRows()) {
        auto answer = Prompt(QStringLiteral("存在已经采集的数据。是否在采集前清空原有数据？"),
                             QStringLiteral("确认"), QMessageBox::Question,
                             QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer == QMessageBox::Yes) {
            if (IRecordStore* store = Store()) {
                try {
                    // The team's work on a shared store is not wiped from under it.
                    if (const std::string busy = OthersAtWork(*store); !busy.empty()) {
                        Prompt(QString::fromStdString(busy) + QStringLiteral("没有清空。"),
                               QStringLiteral("确认"), QMessageBox::Warning);
                        ShowRunEnded(QStringLiteral("操作停止！"));
                        return;
                    }
                    // Nothing an earlier worker still has in hand may land after the clear.
                    m_pSession->DiscardEarlierWork();
                    store->ClearMemberRecords();
                } catch (const StoreError& e) {
                    // Not cleared: a run now would add to what the user asked to remove.
                    Prompt(QString::fromUtf8(e.what()), QStringLiteral("数据库错误"),
                           QMessageBox::Critical);
                    ShowRunEnded(QStringLiteral("操作停止！"));
                    return;
                }
            }
            FillResultList();
        }
    }
    // A worker of an earlier run that is still out stores nothing more: the run that starts
    // now reads its page again, so no company is stored twice.
    m_pSession->DiscardEarlierWork();
    m_nMode = CRAWL_MODE_COLLECT;
    m_nRecordsCollected = 0;
    m_nPagesPerPause = *every;
    m_nPauseSeconds = *wait;
    m_nTimeoutSeconds = *timeout;
    m_nLanes = *lanes;
    m_nRestartsSeen = m_pSession->Restarts();
    if (StartCollectRun(false) != RunStart::Started) {
        ShowRunEnded(QStringLiteral("操作停止！"));
        return;
    }
    SetStatusText(QStringLiteral("采集进行中，请稍后..."));
    m_bRunning = true;
    EnableItem(IDC_STOP, true);
}

void CCollectorDlg::StartRetryRun() {
    EnableItem(IDC_PRECOLLECT, false);
    EnableItem(IDC_START, false);
    WaitForEarlierWorkers();
    if (m_bClosing) {
        return;
    }
    m_pSession->DiscardEarlierWork();
    m_nMode = CRAWL_MODE_RETRY;
    m_nRecordsCollected = 0;
    m_nRestartsSeen = m_pSession->Restarts();
    switch (StartCollectRun(true)) {
        case RunStart::Started:
            break;
        case RunStart::NothingToRetry:
            ShowRunEnded(QStringLiteral("没有需要重试的页面。"));
            return;
        case RunStart::Failed:
            ShowRunEnded(QStringLiteral("操作停止！"));
            return;
    }
    SetStatusText(QStringLiteral("正在重试未能获取的页面，请稍后..."));
    m_bRunning = true;
    EnableItem(IDC_STOP, true);
}

void CCollectorDlg::WaitForEarlierWorkers() {
    if (m_pSession->LiveWorkers() == 0) {
        return;
    }
    // A stopped worker finishes its record in hand; a pending pre-collect is no longer wanted.
    // The window keeps painting and handling worker events meanwhile, but takes no input.
    m_pSession->Stop();
    const QString status = ItemText(IDC_STATUS);
    SetStatusText(QStringLiteral("正在等待上一次采集结束..."));
    QElapsedTimer waited;
    waited.start();
    while (m_pSession->LiveWorkers() > 0 && waited.elapsed() < kEarlierWorkerWaitMs) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 50);
        QThread::msleep(10);
    }
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    SetStatusText(status);
}

void CCollectorDlg::ShowRunEnded(const QString& status) {
    m_bRunning = false;
    EnableItem(IDC_PRECOLLECT, true);
    EnableItem(IDC_START, true);
    EnableItem(IDC_STOP, false);
    SetStatusText(status);
    if (m_bConditionEdited) {
        OnConditionEdited();  // the search was edited during the run
    }
}

void CCollectorDlg::OnButtonStop() {
    m_pSession->Stop();
    ShowRunEnded(QStringLiteral("操作停止！"));
}

void CCollectorDlg::OnTimer() {
    // While a message box is open the watchdog waits: the records that would re-arm it are
    // held until the box closes.
    try {
        m_pSession->Tick(m_nModalDepth == 0);
    } catch (const std::system_error&) {
        Prompt(QString::fromLatin1(kCannotStartThread), QString(), QMessageBox::NoIcon);
    }
    if (m_pSession->Restarts() != m_nRestartsSeen) {
        m_nRestartsSeen = m_pSession->Restarts();
        // The fresh worker began at the page in progress; a shared store keeps the range.
        if (m_pStore && m_pStore->SharedPages() == nullptr) {
            m_nStartPage = m_nPagesDone;
        }
    }
}

void CCollectorDlg::OnNotification(const CrawlEvent& event) {
    m_pending.push_back(event);
    if (m_nModalDepth == 0) {
        DrainNotifications();
    }
}

void CCollectorDlg::DrainNotifications() {
    while (!m_pending.empty() && m_nModalDepth == 0) {
        const CrawlEvent event = std::move(m_pending.front());
        m_pending.pop_front();
        ShowUpdate(m_pSession->Handle(event));
    }
}

void CCollectorDlg::ShowUpdate(const SessionUpdate& u) {
    using K = SessionUpdate::Kind;
    switch (u.kind) {
        case K::PreCollectFailed:
            m_bConditionEdited = false;
            EnableItem(IDC_PRECOLLECT, true);
            SetStatusText(QStringLiteral("网络连接失败！"));
            Prompt(QStringLiteral("网络连接失败！\n%1").arg(QString::fromUtf8(u.reason.c_str())),
                   QStringLiteral("预采集"), QMessageBox::Warning);
            break;
        case K::PreCollected:
            m_nPagesTotal = static_cast<int>(std::min<std::int64_t>(u.pages, INT32_MAX));
            m_nRecordsTotal = static_cast<int>(std::min<std::int64_t>(u.matches, INT32_MAX));
            SetItemText(IDC_RECORDS, QStringLiteral("0 / %1").arg(m_nRecordsTotal));
            RememberSearch();
            EnableItem(IDC_PRECOLLECT, true);
            SetStatusText(QStringLiteral("操作成功完成！"));

            if (m_nRecordsTotal > 0) {
                SetItemText(IDC_PAGES, QStringLiteral("0 / %1").arg(m_nPagesTotal));
                // An answer for the search as it was before an edit offers no Start.
                EnableItem(IDC_START, !m_bConditionEdited);
                // The start page is this search's own: where it got to, or its first page.
                const int reached = ProposeStartPage();
                QString found = QStringLiteral("找到 %1 条符合条件的记录！").arg(m_nRecordsTotal);
                if (reached > 0) {
                    found += QStringLiteral("\n上次采集到第 %1 页").arg(reached);
                }
                Prompt(found, QString(), QMessageBox::Information);
            } else {
                m_nPagesTotal = 0;  // nothing to collect: Start stays off
                SetItemText(IDC_PAGES, QStringLiteral("0 / 0"));
                ProposeStartPage();
                Prompt(QStringLiteral("没有找到符合条件的记录！"), QString(),
                       QMessageBox::Information);
            }
            if (m_bConditionEdited) {
                OnConditionEdited();  // takes back the totals, as for any later edit
            }
            break;
        case K::PageStarted:
            m_nPagesDone = u.page;
            SetItemText(IDC_PAGES, QStringLiteral("%1 / %2").arg(m_nPagesDone).arg(m_nPagesTotal));
            if (m_bRunning) {
                ClearResultList();  // a page announced on the way out leaves the last one shown
            }
            break;
        case K::RecordSaved:
            AddNewestResult(u.rowId);
            if (u.counted) {
                m_nRecordsCollected = m_pSession->Records();
                SetItemText(
                    IDC_RECORDS,
                    QStringLiteral("%1 / %2").arg(m_nRecordsCollected).arg(m_nRecordsTotal));
            }
            break;
        case K::RunEnded:
            ShowRunEnd(u.end);
            break;
        case K::LanesChanged:
            // Fewer lanes while the site says it is overloaded; all of them again later.
            SetStatusText(u.lanes < m_nLanes
                              ? QStringLiteral("采集进行中（网站繁忙，并发 %1 / %2），请稍后...")
                                    .arg(u.lanes)
                                    .arg(m_nLanes)
                              : QStringLiteral("采集进行中，请稍后..."));
            break;
        case K::FetchFailed:
        case K::None:
            break;
    }
}

void CCollectorDlg::RememberSearch() {
    // Called with the totals of the pre-collect in m_nPagesTotal.
    IRecordStore* store = Store();
    if (store == nullptr) {
        return;
    }
    try {
        std::string industry;
        std::string region;
        SplitCondition(m_strCondition, industry, region);  // as it was pre-collected
        store->SaveSetting(kLastIndustry, text::GbkToUtf8(industry));
        store->SaveSetting(kLastRegion, text::GbkToUtf8(region));
        // A shared store learns the search's pages now, for every collector that joins it.
        if (ISharedPages* shared = store->SharedPages(); shared != nullptr && m_nRecordsTotal > 0) {
            shared->RegisterSearch(industry, region, m_nPagesTotal);
        }
    } catch (const StoreError&) {
        // Only a convenience for the next start; the run itself reports store failures.
    }
}

int CCollectorDlg::ProposeStartPage() {
    int reached = 0;
    m_nStartPage = 1;
    if (IRecordStore* store = Store()) {
        try {
            if (store->SharedPages() == nullptr) {
                reached = LoadSearchPage(*store, m_strCondition).value_or(0);
            }
            m_nStartPage = DefaultStartPage(*store, m_strCondition, m_nPagesTotal);
        } catch (const StoreError&) {
            // The first page, then: entries already stored are not stored again.
        }
    }
    SetItemText(IDC_START_PAGE, QString::number(m_nStartPage));
    return reached;
}

void CCollectorDlg::ShowRunEnd(const RunEnd& end) {
    const QString reason = QString::fromUtf8(end.reason.c_str());
    const int failures = static_cast<int>(end.failures.size());
    switch (end.how) {
        case RunEnd::How::Finished:
            if (failures == 0) {
                ShowRunEnded(QStringLiteral("操作成功完成！"));
                return;
            }
            ShowRunEnded(QStringLiteral("操作完成，有 %1 个页面未能获取。").arg(failures));
            if (Prompt(QStringLiteral("有 %1 个页面未能获取，现在重试吗？").arg(failures),
                       QStringLiteral("确认"), QMessageBox::Question,
                       QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) == QMessageBox::Yes) {
                StartRetryRun();
            }
            return;
        case RunEnd::How::Stopped:
            ShowRunEnded(QStringLiteral("操作停止！"));
            return;
        case RunEnd::How::NetFailed:
            ShowRunEnded(QStringLiteral("网络连接失败！"));
            Prompt(QStringLiteral("网络连接失败！\n%1\n下次开始采集时从第 %2 页继续。")
                       .arg(reason)
                       .arg(m_pSession->Page()),
                   QStringLiteral("开始采集"), QMessageBox::Warning);
            return;
        case RunEnd::How::Challenged:
            ShowRunEnded(QStringLiteral("网站要求验证或访问过于频繁"));
            Prompt(QStringLiteral("网站要求验证或访问过于频繁\n%1\n下次开始采集时从第 %2 页继续。")
                       .arg(reason)
                       .arg(m_pSession->Page()),
                   QStringLiteral("开始采集"), QMessageBox::Warning);
            return;
        case RunEnd::How::StoreFailed:
            ShowRunEnded(QStringLiteral("操作停止！"));
            Prompt(QStringLiteral("数据库错误，采集已停止：%1").arg(reason),
                   QStringLiteral("数据库错误"), QMessageBox::Critical);
            return;
        case RunEnd::How::Crashed:
            ShowRunEnded(QStringLiteral("操作停止！"));
            Prompt(QStringLiteral("采集意外中止：%1").arg(reason), QStringLiteral("开始采集"),
                   QMessageBox::Critical);
            return;
    }
}
