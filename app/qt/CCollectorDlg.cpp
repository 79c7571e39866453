#include "app/qt/CCollectorDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QResizeEvent>
#include <QSignalBlocker>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QThread>
#include <QVBoxLayout>
#include <iostream>

#include "app/model/Dialogs.h"
#include "app/model/UserSettings.h"
#include "app/qt/CAboutDlg.h"
#include "app/qt/CConditionPage.h"
#include "app/qt/CollectorIcon.h"
#include "app/qt/DialogUnits.h"
#include "app/qt/GlobalHotKey.h"
#include "app/qt/UserPrompts.h"

namespace {

QString Q(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

}  // namespace

CCollectorDlg::CCollectorDlg(std::string storePath, IUserPrompts& prompts, const Clock& clock,
                             RunController::Launcher launch, QWidget* parent,
                             std::string storeNotice)
    : QDialog(parent), m_prompts(prompts) {
    BuildControls();
    m_pModel = std::make_unique<WindowModel>(std::move(storePath), UserSettings::DefaultPath(),
                                             *this, clock, std::move(launch));
    m_pModel->SetStoreNotice(std::move(storeNotice));
    ConnectControls();
    m_pModel->Open();
    qApp->installEventFilter(this);

    m_pHotKey = GlobalHotKey::Create();
    connect(m_pHotKey.get(), &GlobalHotKey::activated, this, [this] { m_pModel->HotKey(); });
    m_pHotKey->RegisterF2();
    connect(&m_tickTimer, &QTimer::timeout, this, [this] { m_pModel->Tick(); });
    m_tickTimer.start(100);
}

CCollectorDlg::~CCollectorDlg() {
    qApp->removeEventFilter(this);
    m_pModel.reset();  // before the controls it draws into
}

void CCollectorDlg::BuildControls() {
    setWindowIcon(CollectorIcon());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFont(DialogFont());
    const DialogUnits du(font());
    // The template's layout is the smallest size; the results list takes any extra room.
    setMinimumSize(du.X(kDialogWidth), du.Y(kDialogHeight));
    resize(minimumSize());

    for (const ControlSpec& c : kMainControls) {
        const QString text = QString::fromUtf8(c.text);
        QWidget* w = nullptr;
        switch (c.kind) {
            case ControlKind::Group:
                w = new QGroupBox(text, this);
                break;
            case ControlKind::Label:
                w = new QLabel(text, this);
                static_cast<QLabel*>(w)->setTextFormat(Qt::PlainText);
                break;
            case ControlKind::Digits:
            case ControlKind::Edit: {
                auto* e = new QLineEdit(this);
                if (c.kind == ControlKind::Digits) {
                    e->setAlignment(Qt::AlignCenter);
                    e->setValidator(new QRegularExpressionValidator(
                        QRegularExpression(QStringLiteral("[0-9]*")), e));
                }
                w = e;
                break;
            }
            case ControlKind::Check:
                w = new QCheckBox(text, this);
                break;
            case ControlKind::Button: {
                auto* b = new QPushButton(text, this);
                b->setAutoDefault(false);  // Enter never presses a button
                b->setDefault(false);
                w = b;
                break;
            }
            case ControlKind::Tab: {
                auto* tab = new QTabWidget(this);
                tab->tabBar()->setFocusPolicy(Qt::NoFocus);
                tab->setFocusPolicy(Qt::NoFocus);
                (c.id == IDC_LIST_TAB ? m_listTab : m_tab) = tab;
                w = tab;
                break;
            }
            case ControlKind::List:
                m_list = new QTableWidget(this);
                w = m_list;
                break;
            default:  // not in the main window
                continue;
        }
        w->setGeometry(du.Rect(c.x, c.y, c.cx, c.cy));
        if (c.tooltip != nullptr) {
            w->setToolTip(QString::fromUtf8(c.tooltip));
        }
        if (c.id != 0) {
            w->setObjectName(QStringLiteral("ctl%1").arg(c.id));
            m_controls[c.id] = w;
        }
        // What moves when the window grows: right-hand controls go right, the bottom row down.
        if (c.right || c.bottom) {
            m_anchors.push_back({w, w->geometry(), c.right, c.bottom});
        }
    }
    m_pageCondition = new CConditionPage(m_tab);
    m_tab->addTab(m_pageCondition, QString::fromUtf8(kConditionTabTitle));
    // The list area: the run's list, and the collected data with its filter row.
    m_list = NewList(kResultColumns, std::size(kResultColumns));
    m_list->setObjectName(QStringLiteral("ctl%1").arg(IDC_RESULT_LIST));
    m_controls[IDC_RESULT_LIST] = m_list;
    m_listTab->addTab(m_list, QString::fromUtf8(kRunListTitle));
    auto* data = new QWidget(m_listTab);
    auto* dataLayout = new QVBoxLayout(data);
    dataLayout->setContentsMargins(2, 2, 2, 2);
    auto* filterRow = new QHBoxLayout;
    for (const ControlSpec& c : kDataPaneControls) {
        QWidget* w = nullptr;
        const QString text = QString::fromUtf8(c.text);
        switch (c.kind) {
            case ControlKind::Label:
                w = new QLabel(text, data);
                static_cast<QLabel*>(w)->setTextFormat(Qt::PlainText);
                break;
            case ControlKind::Edit:
                w = new QLineEdit(data);
                w->setMinimumWidth(du.X(c.cx));
                break;
            case ControlKind::Button: {
                auto* b = new QPushButton(text, data);
                b->setAutoDefault(false);
                w = b;
                break;
            }
            case ControlKind::List:
                m_dataList = NewList(kDataColumns, std::size(kDataColumns));
                w = m_dataList;
                break;
            default:
                continue;
        }
        if (c.tooltip != nullptr) {
            w->setToolTip(QString::fromUtf8(c.tooltip));
        }
        if (c.id != 0) {
            w->setObjectName(QStringLiteral("ctl%1").arg(c.id));
            m_controls[c.id] = w;
        }
        if (c.kind == ControlKind::List) {
            dataLayout->addLayout(filterRow);
            dataLayout->addWidget(w, 1);
        } else {
            filterRow->addWidget(w, c.id == IDC_DATA_COUNTS ? 1 : 0);
        }
    }
    m_listTab->addTab(data, QString::fromUtf8(kDataPaneTitle));
    m_controls[IDC_INDUSTRY] = m_pageCondition->Industry();
    m_controls[IDC_REGION] = m_pageCondition->Region();

    m_listGeometry = m_listTab->geometry();
    m_tabGeometry = m_tab->geometry();
    connect(m_list->horizontalHeader(), &QHeaderView::sectionResized, this,
            [this](int column, int, int) { UpdateCutTips(column); });

    for (size_t i = 1; i < std::size(kTabOrder); ++i) {
        setTabOrder(GetDlgItem(kTabOrder[i - 1]), GetDlgItem(kTabOrder[i]));
    }
}

QTableWidget* CCollectorDlg::NewList(const ResultColumn* columns, size_t count) {
    auto* list = new QTableWidget(this);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setShowGrid(true);
    list->setWordWrap(false);
    list->verticalHeader()->setVisible(false);
    list->verticalHeader()->setDefaultSectionSize(QFontMetrics(font()).height() + 4);
    list->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    list->horizontalHeader()->setHighlightSections(false);
    list->setColumnCount(static_cast<int>(count));
    for (int i = 0; i < static_cast<int>(count); ++i) {
        list->setHorizontalHeaderItem(i,
                                      new QTableWidgetItem(QString::fromUtf8(columns[i].header)));
        list->setColumnWidth(i, columns[i].width);
    }
    return list;
}

void CCollectorDlg::ConnectControls() {
    WindowModel* model = m_pModel.get();
    for (const ControlSpec& c : kMainControls) {
        if (c.kind == ControlKind::Button) {
            connect(static_cast<QPushButton*>(GetDlgItem(c.id)), &QPushButton::clicked, this,
                    [model, id = c.id] { model->Press(id); });
        }
    }
    for (int id : {IDC_DATA_MORE, IDC_DATA_EXPORT}) {
        connect(static_cast<QPushButton*>(GetDlgItem(id)), &QPushButton::clicked, this,
                [model, id] { model->Press(id); });
    }
    for (int id : {IDC_EVERY_N, IDC_PAUSE_SECONDS, IDC_PARALLEL, IDC_TIMEOUT, IDC_PROXY,
                   IDC_START_PAGE, IDC_INDUSTRY, IDC_REGION}) {
        auto* edit = static_cast<QLineEdit*>(GetDlgItem(id));
        connect(edit, &QLineEdit::textChanged, this,
                [model, id](const QString& text) { model->SetText(id, text.toStdString()); });
    }
    for (int id : {IDC_INDUSTRY, IDC_REGION}) {
        auto* edit = static_cast<QLineEdit*>(GetDlgItem(id));
        connect(edit, &QLineEdit::textEdited, this, [model, id](const QString& text) {
            model->SetText(id, text.toStdString());
            model->ConditionEdited();
        });
    }
    connect(static_cast<QCheckBox*>(GetDlgItem(IDC_SKIP_KNOWN)), &QCheckBox::toggled, this,
            [model](bool on) { model->SetSkipKnown(on); });
    // The collected data is read when its page is opened, and filtered a moment after typing
    // stops (each keystroke would be a query).
    connect(m_listTab, &QTabWidget::currentChanged, this, [model](int index) {
        if (index == 1) {
            model->ShowData();
        }
    });
    m_filterTimer.setSingleShot(true);
    m_filterTimer.setInterval(250);
    connect(&m_filterTimer, &QTimer::timeout, this, [model] { model->FilterData(); });
    connect(static_cast<QLineEdit*>(GetDlgItem(IDC_DATA_FILTER)), &QLineEdit::textEdited, this,
            [this, model](const QString& text) {
                model->SetText(IDC_DATA_FILTER, text.toStdString());
                m_filterTimer.start();
            });
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

void CCollectorDlg::Render(const WindowState& state) {
    setWindowTitle(Q(state.title));
    for (const ControlSpec& c : kMainControls) {
        QWidget* w = GetDlgItem(c.id);
        if (w == nullptr) {
            continue;
        }
        if (auto* edit = qobject_cast<QLineEdit*>(w)) {
            const QString text = Q(TextOf(state, c.id));
            if (edit->text() != text) {
                edit->setText(text);
            }
        } else if (auto* label = qobject_cast<QLabel*>(w); label && c.text[0] == '\0') {
            label->setText(Q(TextOf(state, c.id)));
        } else if (auto* button = qobject_cast<QPushButton*>(w); button && c.text[0] == '\0') {
            button->setText(Q(TextOf(state, c.id)));
        }
        w->setEnabled(EnabledIn(state, c.id));
    }
    // A greyed 开始采集 says why.
    GetDlgItem(IDC_START)->setToolTip(Q(state.startTip));
    for (int id : {IDC_INDUSTRY, IDC_REGION}) {
        auto* edit = static_cast<QLineEdit*>(GetDlgItem(id));
        if (const QString text = Q(TextOf(state, id)); edit->text() != text) {
            edit->setText(text);
        }
    }
    {
        auto* skipKnown = static_cast<QCheckBox*>(GetDlgItem(IDC_SKIP_KNOWN));
        const QSignalBlocker quiet(skipKnown);
        skipKnown->setChecked(state.skipKnown);
    }
    RenderRows(state);
    RenderData(state);
    if (state.focusSerial != m_focusSerial) {
        m_focusSerial = state.focusSerial;
        if (QWidget* w = GetDlgItem(state.focus)) {
            w->setFocus();
        }
    }
    if (state.visible != m_bVisible) {
        m_bVisible = state.visible;
        if (m_bVisible) {
            show();
            raise();
            activateWindow();
        } else {
            hide();
        }
    }
    if (m_bPrintState) {
        if (std::string line = StateLine(state); line != m_lastStateLine) {
            std::cout << line << std::endl;
            m_lastStateLine = std::move(line);
        }
    }
}

void CCollectorDlg::RenderRows(const WindowState& state) {
    if (state.rowsEpoch != m_rowsEpoch) {
        m_rowsEpoch = state.rowsEpoch;
        m_list->setRowCount(0);
    }
    for (size_t i = static_cast<size_t>(m_list->rowCount()); i < state.rows.size(); ++i) {
        InsertResultRow(state.rows[i]);
    }
}

void CCollectorDlg::RenderData(const WindowState& state) {
    auto* filter = static_cast<QLineEdit*>(GetDlgItem(IDC_DATA_FILTER));
    if (const QString text = Q(state.dataFilter); filter->text() != text) {
        filter->setText(text);
    }
    static_cast<QLabel*>(GetDlgItem(IDC_DATA_COUNTS))->setText(Q(state.dataCounts));
    GetDlgItem(IDC_DATA_MORE)->setEnabled(state.dataMoreEnabled);
    if (state.dataRowsEpoch != m_dataEpoch) {
        m_dataEpoch = state.dataRowsEpoch;
        m_dataList->setRowCount(0);
    }
    for (size_t i = static_cast<size_t>(m_dataList->rowCount()); i < state.dataRows.size(); ++i) {
        const ResultRow& r = state.dataRows[i];
        const int row = m_dataList->rowCount();
        m_dataList->insertRow(row);
        for (int c = 0; c < static_cast<int>(std::size(kDataColumns)); ++c) {
            const std::string& text =
                c < static_cast<int>(r.fields.size())
                    ? r.fields[static_cast<size_t>(c)]
                    : (c == static_cast<int>(r.fields.size()) ? r.collected : r.search);
            auto* item = new QTableWidgetItem(Q(text));
            item->setToolTip(r.waiting ? QString::fromUtf8(kWaitingRowTip) : Q(text));
            if (r.waiting) {
                item->setForeground(palette().brush(QPalette::Disabled, QPalette::Text));
            }
            m_dataList->setItem(row, c, item);
        }
    }
}

void CCollectorDlg::InsertResultRow(const ResultRow& fields) {
    const int row = m_list->rowCount();
    m_list->insertRow(row);
    const QFontMetrics metrics(m_list->font());
    for (int i = 0; i < static_cast<int>(fields.fields.size()); ++i) {
        auto* item = new QTableWidgetItem(Q(fields[i]));
        if (fields.waiting) {
            // A company whose contact page is kept as a failure: grey, and said so.
            item->setForeground(palette().brush(QPalette::Disabled, QPalette::Text));
            QFont italic = item->font();
            italic.setItalic(true);
            item->setFont(italic);
            item->setData(Qt::UserRole, true);
            item->setToolTip(QString::fromUtf8(kWaitingRowTip));
        }
        m_list->setItem(row, i, item);
        if (!fields.waiting) {
            SetCutTip(item, metrics);
        }
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

PromptAnswer CCollectorDlg::Ask(const Question& q) {
    if (m_bPrintState) {
        std::cout << QuestionLine(q) << std::endl;
    }
    static const QMessageBox::Icon icons[] = {QMessageBox::NoIcon, QMessageBox::Information,
                                              QMessageBox::Warning, QMessageBox::Critical,
                                              QMessageBox::Question};
    auto button = [](PromptAnswer a) {
        return a == PromptAnswer::Yes  ? QMessageBox::Yes
               : a == PromptAnswer::No ? QMessageBox::No
                                       : QMessageBox::Ok;
    };
    const QMessageBox::StandardButton pressed = m_prompts.Message(
        this, Q(q.text), Q(q.caption), icons[static_cast<int>(q.icon)],
        q.yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, button(q.defaultAnswer));
    return pressed == QMessageBox::Yes  ? PromptAnswer::Yes
           : pressed == QMessageBox::No ? PromptAnswer::No
                                        : PromptAnswer::Ok;
}

std::optional<SaveAnswer> CCollectorDlg::AskSave(const SaveRequest& request) {
    QStringList filters;
    for (const FileType& type : request.types) {
        filters << Q(type.name) + QStringLiteral(" (") + Q(type.pattern) + QStringLiteral(")");
    }
    QString chosen;
    const std::optional<QString> path =
        m_prompts.SaveFileName(this, Q(request.initialName), filters.join(QStringLiteral(";;")),
                               Q(request.defaultSuffix), &chosen);
    if (!path) {
        return std::nullopt;
    }
    const qsizetype type = filters.indexOf(chosen);
    return SaveAnswer{path->toStdString(), type < 0 ? 0 : static_cast<size_t>(type)};
}

void CCollectorDlg::PostToUi(std::function<void()> work) {
    // Queued to this window's thread; dropped if the window is gone by then.
    QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

void CCollectorDlg::ProcessEvents(std::chrono::milliseconds time) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents,
                                    static_cast<int>(time.count()));
    if (time.count() > 0) {
        QThread::msleep(10);
    }
}

bool CCollectorDlg::StoreWait(std::chrono::milliseconds waited) {
    if (waited.count() == 0) {
        m_storeWait.reset();
        return true;
    }
    if (!m_storeWait) {
        m_storeWait = std::make_unique<QProgressDialog>(
            QString::fromUtf8(kStoreWaitText), QString::fromUtf8(kStoreWaitButton), 0, 0, this);
        m_storeWait->setWindowTitle(QString::fromUtf8(kStoreWaitTitle));
        m_storeWait->setWindowModality(Qt::ApplicationModal);
        m_storeWait->setMinimumDuration(0);
        m_storeWait->show();
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return !m_storeWait->wasCanceled();
}

std::optional<std::vector<std::int64_t>> CCollectorDlg::AskFailures(
    const std::vector<FailureRow>& rows) {
    return m_prompts.Failures(this, rows);
}

std::optional<ExportChoice> CCollectorDlg::AskExportChoice(const ExportChoice& offer) {
    return m_prompts.ChooseExport(this, offer);
}

std::optional<std::string> CCollectorDlg::AskOpen(const OpenRequest& request) {
    QStringList filters;
    for (const FileType& type : request.types) {
        filters << Q(type.name) + QStringLiteral(" (") + Q(type.pattern) + QStringLiteral(")");
    }
    const std::optional<QString> path =
        m_prompts.OpenFileName(this, Q(request.title), filters.join(QStringLiteral(";;")));
    if (!path) {
        return std::nullopt;
    }
    return path->toStdString();
}

bool CCollectorDlg::Progress(const std::string& text, int percent) {
    if (percent < 0) {
        m_progress.reset();
        return true;
    }
    if (!m_progress) {
        m_progress = std::make_unique<QProgressDialog>(Q(text), QString::fromUtf8(kProgressCancel),
                                                       0, 100, this);
        m_progress->setWindowModality(Qt::ApplicationModal);
        m_progress->setMinimumDuration(500);  // a small file never shows it
        m_progress->setAutoClose(false);
        m_progress->setAutoReset(false);
    }
    m_progress->setLabelText(Q(text));
    m_progress->setValue(percent);
    QCoreApplication::processEvents();  // the box is modal: only its 取消 takes input
    return !m_progress->wasCanceled();
}

void CCollectorDlg::ShowAbout(const std::string& storeName) {
    CAboutDlg about(this, Q(storeName));
    about.exec();
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
    m_listTab->resize(m_listGeometry.width() + dx, m_listGeometry.height() + dy);
}

void CCollectorDlg::closeEvent(QCloseEvent* event) {
    if (!m_pModel->Close()) {
        event->ignore();
        return;
    }
    m_tickTimer.stop();
    if (m_pHotKey) {
        m_pHotKey->Unregister();
    }
    event->accept();
    done(QDialog::Rejected);
}
