#include "app/CCollectorDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>

#include <QHeaderView>
#include <QResizeEvent>
#include "app/CAboutDlg.h"
#include "app/CConditionPage.h"
#include "app/CollectorIcon.h"
#include "app/DialogUnits.h"
#include "app/GlobalHotKey.h"
#include "app/ModalScope.h"
#include "app/NotificationBridge.h"
#include "app/UserPrompts.h"
#include "crawl/CollectSession.h"
#include "store/Store.h"
#include "text/GbkCodec.h"

CCollectorDlg::CCollectorDlg(std::string storePath, IUserPrompts& prompts, const Clock& clock,
                             RunController::Launcher launch, QWidget* parent)
    : QDialog(parent), m_strStorePath(std::move(storePath)), m_prompts(prompts) {
    m_pBridge = std::make_shared<NotificationBridge>(
        this, [this](const CrawlEvent& e) { OnNotification(e); });
    m_pSession = std::make_unique<CollectSession>(clock, m_pBridge, std::move(launch));
    BuildControls();
    OnInitDialog();
    qApp->installEventFilter(this);
    connect(&m_tickTimer, &QTimer::timeout, this, &CCollectorDlg::OnTimer);
    m_tickTimer.start(100);
}

CCollectorDlg::~CCollectorDlg() {
    qApp->removeEventFilter(this);
    m_pBridge->Detach();
    m_pSession->Shutdown(std::chrono::milliseconds(0));
}

void CCollectorDlg::BuildControls() {
    setWindowTitle(QStringLiteral("Tarvola采集器 版本：2.0406"));
    setWindowIcon(CollectorIcon());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFont(DialogFont());
    const DialogUnits du(font());
    // The template's layout is the smallest size; the results list takes any extra room.
    setMinimumSize(du.X(575), du.Y(398));
    resize(minimumSize());

    auto place = [&](QWidget* w, int id, int x, int y, int cx, int cy) {
        w->setGeometry(du.Rect(x, y, cx, cy));
        if (id != 0) {
            w->setObjectName(QStringLiteral("ctl%1").arg(id));
            m_controls[id] = w;
        }
        return w;
    };
    auto label = [&](int id, const char* text, int x, int y, int cx, int cy) {
        return static_cast<QLabel*>(
            place(new QLabel(QString::fromUtf8(text), this), id, x, y, cx, cy));
    };
    auto digits = [&](int id, int x, int y, int cx, int cy) {
        auto* e = new QLineEdit(this);
        e->setAlignment(Qt::AlignCenter);
        e->setValidator(
            new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), e));
        return static_cast<QLineEdit*>(place(e, id, x, y, cx, cy));
    };
    auto button = [&](int id, const char* text, int x, int y, int cx, int cy) {
        auto* b = new QPushButton(QString::fromUtf8(text), this);
        b->setAutoDefault(false);  // Enter never presses a button
        b->setDefault(false);
        return static_cast<QPushButton*>(place(b, id, x, y, cx, cy));
    };

    place(new QGroupBox(QStringLiteral("运行参数"), this), 0, 7, 7, 141, 134);
    label(0, "每采集", 30, 37, 26, 8);
    digits(IDC_EVERY_N, 65, 34, 21, 14);
    label(0, "个页面", 93, 37, 39, 8);
    label(0, "等待", 48, 55, 21, 8);
    digits(IDC_PAUSE_SECONDS, 76, 51, 21, 14);
    label(0, "秒", 104, 53, 33, 8);
    label(0, "并发：", 31, 69, 30, 8);
    digits(IDC_PARALLEL, 65, 67, 21, 14)
        ->setToolTip(QStringLiteral("同时获取的页面数（1 到 32）；记录仍按列表顺序保存"));
    label(0, "个", 93, 69, 29, 8);
    label(0, "超时：", 31, 87, 30, 8);
    digits(IDC_TIMEOUT, 65, 85, 21, 14);
    label(0, "秒", 93, 87, 29, 8);
    auto* skipKnown = new QCheckBox(QStringLiteral("跳过已采集公司"), this);
    skipKnown->setToolTip(
        QStringLiteral("不再采集数据库中已有的公司（按联系页地址，或名称和地区）"));
    place(skipKnown, IDC_SKIP_KNOWN, 31, 103, 100, 10);
    label(0, "按下F2， 隐藏/显示界面", 31, 121, 120, 8);
    label(0, "描述：", 155, 10, 31, 8);
    label(IDC_DESCRIPTION, "", 200, 10, 265, 8);
    auto* about = button(IDC_ABOUT, "关于(&A)", 518, 7, 50, 14);

    m_tab = new QTabWidget(this);
    place(m_tab, IDC_TAB, 155, 26, 413, 100);
    m_tab->tabBar()->setFocusPolicy(Qt::NoFocus);
    m_tab->setFocusPolicy(Qt::NoFocus);
    m_pageCondition = new CConditionPage(m_prompts, m_tab);

    auto* precollect = button(IDC_PRECOLLECT, "预采集(&P)", 155, 127, 50, 14);
    QLabel* startPageLabel = label(0, "起始页面：", 390, 131, 42, 8);
    digits(IDC_START_PAGE, 432, 127, 22, 14);
    auto* start = button(IDC_START, "开始采集", 465, 127, 50, 14);
    auto* stop = button(IDC_STOP, "停止采集", 518, 127, 50, 14);
    label(0, "采集进度：", 7, 149, 42, 8);
    label(0, "（记录）", 53, 149, 33, 8);
    label(IDC_RECORDS, "", 88, 149, 53, 8);
    label(0, "（页码）", 162, 149, 35, 8);
    label(IDC_PAGES, "", 204, 149, 53, 8);

    m_list = new QTableWidget(this);
    place(m_list, IDC_RESULT_LIST, 7, 159, 561, 216);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setShowGrid(true);
    m_list->setWordWrap(false);
    m_list->verticalHeader()->setVisible(false);
    m_list->verticalHeader()->setDefaultSectionSize(QFontMetrics(font()).height() + 4);
    m_list->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_list->horizontalHeader()->setHighlightSections(false);

    label(IDC_STATUS, "等待", 7, 383, 272, 8);
    auto* preview = button(IDC_PREVIEW, "预览采集结果", 353, 377, 66, 14);
    auto* exportText = button(IDC_EXPORT_TEXT, "导出到文本", 433, 377, 66, 14);
    auto* exportCsv = button(IDC_EXPORT_CSV, "导出到Excel", 503, 377, 66, 14);

    // What moves when the window grows: right-hand controls go right, the bottom row goes down.
    for (int id : {IDC_ABOUT, IDC_START, IDC_STOP, IDC_START_PAGE}) {
        m_anchors.push_back({GetDlgItem(id), GetDlgItem(id)->geometry(), true, false});
    }
    m_anchors.push_back({startPageLabel, startPageLabel->geometry(), true, false});
    m_anchors.push_back({GetDlgItem(IDC_STATUS), GetDlgItem(IDC_STATUS)->geometry(), false, true});
    for (int id : {IDC_PREVIEW, IDC_EXPORT_TEXT, IDC_EXPORT_CSV}) {
        m_anchors.push_back({GetDlgItem(id), GetDlgItem(id)->geometry(), true, true});
    }
    m_listGeometry = m_list->geometry();
    m_tabGeometry = m_tab->geometry();
    connect(m_list->horizontalHeader(), &QHeaderView::sectionResized, this,
            [this](int column, int, int) { UpdateCutTips(column); });

    connect(about, &QPushButton::clicked, this, &CCollectorDlg::OnButtonAbout);
    connect(precollect, &QPushButton::clicked, this, &CCollectorDlg::OnButtonPrecollect);
    connect(start, &QPushButton::clicked, this, &CCollectorDlg::OnButtonStart);
    connect(stop, &QPushButton::clicked, this, &CCollectorDlg::OnButtonStop);
    connect(preview, &QPushButton::clicked, this, &CCollectorDlg::OnButtonPreview);
    connect(exportText, &QPushButton::clicked, this, &CCollectorDlg::OnButtonExportText);
    connect(exportCsv, &QPushButton::clicked, this, &CCollectorDlg::OnButtonExportCsv);

    // Tab order of the controls that take the focus; the condition edits follow.
    const int order[] = {IDC_PRECOLLECT, IDC_PAUSE_SECONDS, IDC_EVERY_N,     IDC_PARALLEL,
                         IDC_TIMEOUT,    IDC_START,         IDC_STOP,        IDC_EXPORT_TEXT,
                         IDC_EXPORT_CSV, IDC_ABOUT,         IDC_RESULT_LIST, IDC_START_PAGE,
                         IDC_PREVIEW};
    for (size_t i = 1; i < std::size(order); ++i) {
        setTabOrder(GetDlgItem(order[i - 1]), GetDlgItem(order[i]));
    }
    setTabOrder(GetDlgItem(IDC_PREVIEW), m_pageCondition->Industry());
    setTabOrder(m_pageCondition->Industry(), m_pageCondition->Region());
}

void CCollectorDlg::OnInitDialog() {
    m_tab->addTab(m_pageCondition, QStringLiteral(" 会员信息（中国站） "));
    m_bRunning = false;
    m_nKind = CRAWL_KIND_MEMBER;
    m_nMode = 0;
    m_strCondition.clear();
    m_nTabIndex = 0;
    connect(m_tab, &QTabWidget::currentChanged, this, [this](int index) {
        m_nTabIndex = index;
        m_nKind = CRAWL_KIND_MEMBER;  // the one tab is the member section
        RefreshKindView();
    });
    RefreshKindView();

    m_nStartPage = 1;
    if (IRecordStore* store = Store()) {
        try {
            // The search of the last pre-collect comes back, with the page it reached.
            const auto industry = store->LoadSetting(kLastIndustry);
            const auto region = store->LoadSetting(kLastRegion);
            if (industry && region) {
                m_pageCondition->Industry()->setText(QString::fromStdString(*industry));
                m_pageCondition->Region()->setText(QString::fromStdString(*region));
                m_nStartPage = DefaultStartPage(
                    *store, text::Utf8ToGbk(*industry) + "^" + text::Utf8ToGbk(*region), 0);
            }
        } catch (const StoreError& e) {
            Prompt(QStringLiteral("无法读取上次采集的页码：%1").arg(QString::fromUtf8(e.what())),
                   QStringLiteral("数据库错误"), QMessageBox::Critical);
        }
    }
    m_nRecordsDone = m_nRecordsTotal = m_nPagesDone = m_nPagesTotal = 0;
    UpdateProgressLabels();
    SetItemText(IDC_START_PAGE, QString::number(m_nStartPage));
    SetItemText(IDC_PAUSE_SECONDS, QStringLiteral("10"));
    SetItemText(IDC_EVERY_N, QStringLiteral("30"));
    SetItemText(IDC_TIMEOUT, QStringLiteral("50"));
    SetItemText(IDC_PARALLEL, QStringLiteral("1"));
    EnableItem(IDC_START, false);
    EnableItem(IDC_STOP, false);
    // Skipping known companies is on unless the user turned it off before.
    auto* skipKnown = qobject_cast<QCheckBox*>(GetDlgItem(IDC_SKIP_KNOWN));
    bool skip = true;
    if (IRecordStore* store = m_pStore.get()) {
        try {
            skip = store->LoadSetting(kSkipKnown).value_or("1") != "0";
        } catch (const StoreError&) {
        }
    }
    skipKnown->setChecked(skip);
    connect(skipKnown, &QCheckBox::toggled, this, [this](bool on) {
        if (IRecordStore* store = m_pStore.get()) {
            try {
                store->SaveSetting(kSkipKnown, on ? "1" : "0");
            } catch (const StoreError&) {
            }
        }
    });
    // A search changed after its pre-collect is another search: it needs a pre-collect of its
    // own before it can be collected.
    for (QLineEdit* edit : {m_pageCondition->Industry(), m_pageCondition->Region()}) {
        connect(edit, &QLineEdit::textEdited, this, [this] { OnConditionEdited(); });
    }

    m_bVisible = true;
    m_pHotKey = GlobalHotKey::Create();
    connect(m_pHotKey.get(), &GlobalHotKey::activated, this, &CCollectorDlg::OnHotKey);
    m_bHotKeyRegistered = m_pHotKey->RegisterF2();
    GetDlgItem(IDC_PRECOLLECT)->setFocus();
}

QWidget* CCollectorDlg::GetDlgItem(int id) const {
    auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

QString CCollectorDlg::ItemText(int id) const {
    QWidget* w = GetDlgItem(id);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        return edit->text();
    }
    if (auto* label = qobject_cast<QLabel*>(w)) {
        return label->text();
    }
    if (auto* button = qobject_cast<QPushButton*>(w)) {
        return button->text();
    }
    return {};
}

void CCollectorDlg::SetItemText(int id, const QString& text) {
    QWidget* w = GetDlgItem(id);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        edit->setText(text);
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setTextFormat(Qt::PlainText);
        label->setText(text);
    }
}

void CCollectorDlg::EnableItem(int id, bool enable) {
    GetDlgItem(id)->setEnabled(enable);
}

void CCollectorDlg::UpdateProgressLabels() {
    SetItemText(IDC_RECORDS, QStringLiteral("%1 / %2").arg(m_nRecordsDone).arg(m_nRecordsTotal));
    SetItemText(IDC_PAGES, QStringLiteral("%1 / %2").arg(m_nPagesDone).arg(m_nPagesTotal));
}

void CCollectorDlg::RefreshKindView() {
    m_pageCondition->show();
    SetUpResultColumns();
    SetItemText(IDC_DESCRIPTION, QStringLiteral("Tarvola（中国站）会员信息"));
}

bool CCollectorDlg::OnStoreWaiting(std::chrono::milliseconds waited) {
    if (waited.count() == 0) {  // the server answered (or the call was given up)
        m_storeWait.reset();
        m_storeWaitScope.reset();
        return true;
    }
    if (!m_storeWait) {
        // Held like a message box: no notification is handled, no watchdog fires meanwhile.
        m_storeWaitScope = std::make_unique<ModalScope>(*this);
        m_storeWait =
            std::make_unique<QProgressDialog>(QStringLiteral("数据库无响应，正在等待服务器应答……"),
                                              QStringLiteral("放弃"), 0, 0, this);
        m_storeWait->setWindowTitle(QStringLiteral("数据库无响应"));
        m_storeWait->setWindowModality(Qt::ApplicationModal);
        m_storeWait->setMinimumDuration(0);
        m_storeWait->show();
        SetStatusText(QStringLiteral("数据库无响应"));
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return !m_storeWait->wasCanceled();
}

IRecordStore* CCollectorDlg::Store() {
    if (m_pStore && !m_pStore->Usable()) {
        m_pStore.reset();  // its connection was given up: a new one is tried
    }
    if (!m_pStore) {
        try {
            m_pStore = OpenStore(m_strStorePath);
            m_pStore->SetWaitHook(
                [this](std::chrono::milliseconds waited) { return OnStoreWaiting(waited); });
        } catch (const std::exception& e) {  // StoreError, or a setting that is not valid
            Prompt(QString::fromUtf8(e.what()), QStringLiteral("数据库错误"),
                   QMessageBox::Critical);
            return nullptr;
        }
    }
    return m_pStore.get();
}

QMessageBox::StandardButton CCollectorDlg::Prompt(const QString& text, const QString& caption,
                                                  QMessageBox::Icon icon,
                                                  QMessageBox::StandardButtons buttons,
                                                  QMessageBox::StandardButton defaultButton) {
    ModalScope modal(*this);
    return m_prompts.Message(this, text, caption, icon, buttons, defaultButton);
}

void CCollectorDlg::OnButtonAbout() {
    ModalScope modal(*this);
    CAboutDlg about(this, QString::fromStdString(RedactPassword(m_strStorePath)));
    about.exec();
}

void CCollectorDlg::OnHotKey() {
    m_bVisible = !m_bVisible;
    if (m_bVisible) {
        show();
        raise();
        activateWindow();
    } else {
        hide();
    }
}

bool CCollectorDlg::eventFilter(QObject* watched, QEvent* event) {
    // Enter and Esc do nothing anywhere in the window, the condition page included.
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        auto* widget = qobject_cast<QWidget*>(watched);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter ||
             key->key() == Qt::Key_Escape) &&
            widget != nullptr && widget->window() == this) {
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CCollectorDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
        event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CCollectorDlg::reject() {
    // Esc and the like never close the window; only the close box does (closeEvent).
}

void CCollectorDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    const int dx = std::max(0, width() - minimumWidth());
    const int dy = std::max(0, height() - minimumHeight());
    for (const Anchor& a : m_anchors) {
        a.widget->move(a.geometry.x() + (a.right ? dx : 0), a.geometry.y() + (a.bottom ? dy : 0));
    }
    m_tab->resize(m_tabGeometry.width() + dx, m_tabGeometry.height());
    m_list->resize(m_listGeometry.width() + dx, m_listGeometry.height() + dy);
}

void CCollectorDlg::closeEvent(QCloseEvent* event) {
    if (m_bRunning && Prompt(QStringLiteral("采集正在进行，确定要退出吗？"), QStringLiteral("退出"),
                             QMessageBox::Question, QMessageBox::Yes | QMessageBox::No,
                             QMessageBox::No) != QMessageBox::Yes) {
        event->ignore();
        return;
    }
    // A running worker finishes the record in hand; the process never ends inside a write.
    m_bClosing = true;
    m_tickTimer.stop();
    m_bRunning = false;
    m_pSession->Shutdown(std::chrono::seconds(5));
    if (m_pHotKey) {
        m_pHotKey->Unregister();
    }
    event->accept();
    done(QDialog::Rejected);
}
