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
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QThread>
#include <QVBoxLayout>
#include <algorithm>
#include <iostream>

#include "app/model/Dialogs.h"
#include "app/qt/CAboutDlg.h"
#include "app/qt/CollectorIcon.h"
#include "app/qt/DialogUnits.h"
#include "app/qt/GlobalHotKey.h"
#include "app/qt/UserPrompts.h"
#include "crawl/UserSettings.h"

using namespace crawl;
using namespace store;

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
    // The hot key is taken as the model's first state is drawn.
    m_pHotKey = GlobalHotKey::Create();
    connect(m_pHotKey.get(), &GlobalHotKey::activated, this, [this] { m_pModel->HotKey(); });
    m_pModel->Open();
    qApp->installEventFilter(this);

    connect(&m_tickTimer, &QTimer::timeout, this, [this] { m_pModel->Tick(); });
    m_tickTimer.start(100);
}

CCollectorDlg::~CCollectorDlg() {
    qApp->removeEventFilter(this);
    m_pModel.reset();  // before the controls it draws into
}

QWidget* CCollectorDlg::CreateControl(const ControlSpec& c, QWidget* parent) {
    const QString text = QString::fromUtf8(c.text);
    QWidget* w = nullptr;
    switch (c.kind) {
        case ControlKind::Group:
            w = new QGroupBox(text, parent);
            break;
        case ControlKind::Label:
            w = new QLabel(text, parent);
            static_cast<QLabel*>(w)->setTextFormat(Qt::PlainText);
            break;
        case ControlKind::Digits:
        case ControlKind::Edit: {
            auto* e = new QLineEdit(parent);
            if (c.kind == ControlKind::Digits) {
                e->setAlignment(Qt::AlignCenter);
                e->setMaxLength(kDigitsLimit);
                e->setValidator(new QRegularExpressionValidator(
                    QRegularExpression(QStringLiteral("[0-9]*")), e));
            }
            w = e;
            break;
        }
        case ControlKind::Check:
            w = new QCheckBox(text, parent);
            break;
        case ControlKind::Button: {
            auto* b = new QPushButton(text, parent);
            b->setAutoDefault(false);  // Enter never presses a button
            b->setDefault(false);
            w = b;
            break;
        }
        case ControlKind::Tab: {
            auto* tab = new QTabWidget(parent);
            tab->tabBar()->setFocusPolicy(Qt::NoFocus);
            tab->setFocusPolicy(Qt::NoFocus);
            w = tab;
            break;
        }
        case ControlKind::List:
            w = NewList(ColumnsOf(c.id));
            w->setParent(parent);
            break;
        default:  // not in the main window
            return nullptr;
    }
    if (c.tooltip != nullptr) {
        w->setToolTip(QString::fromUtf8(c.tooltip));
    }
    if (c.id != 0) {
        w->setObjectName(QStringLiteral("ctl%1").arg(c.id));
        m_controls[c.id] = w;
    }
    return w;
}

void CCollectorDlg::BuildControls() {
    setWindowIcon(CollectorIcon());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFont(DialogFont());
    const DialogUnits du(font());
    // The template's layout is the smallest size; controls that grow take any extra room.
    setMinimumSize(du.X(kDialogWidth), du.Y(kDialogHeight));
    resize(minimumSize());

    for (const ControlSpec& c : kMainControls) {
        if (QWidget* w = CreateControl(c, this)) {
            w->setGeometry(du.Rect(c.x, c.y, c.cx, c.cy));
            if (c.right || c.bottom || c.grow != 0) {
                m_anchors.push_back({w, w->geometry(), &c});
            }
        }
    }
    for (const TabPage& p : kTabPages) {
        auto* tab = qobject_cast<QTabWidget*>(GetDlgItem(p.tab));
        auto* page = new QWidget(tab);
        BuildPage(p.controls, page);
        tab->addTab(page, QString::fromUtf8(p.title));
    }
    for (size_t i = 1; i < std::size(kTabOrder); ++i) {
        setTabOrder(GetDlgItem(kTabOrder[i - 1]), GetDlgItem(kTabOrder[i]));
    }
}

void CCollectorDlg::BuildPage(const ControlTable& controls, QWidget* page) {
    const DialogUnits du(font());
    const bool hasList = std::any_of(controls.begin(), controls.end(), [](const ControlSpec& c) {
        return c.kind == ControlKind::List;
    });
    if (!hasList) {
        for (const ControlSpec& c : controls) {
            if (QWidget* w = CreateControl(c, page)) {
                w->setGeometry(du.Rect(c.x, c.y, c.cx, c.cy));
            }
        }
        return;
    }
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(2, 2, 2, 2);
    auto* row = new QHBoxLayout;
    for (const ControlSpec& c : controls) {
        QWidget* w = CreateControl(c, page);
        if (w == nullptr) {
            continue;
        }
        if (c.kind == ControlKind::List) {
            if (row->count() > 0) {
                layout->addLayout(row);
            }
            layout->addWidget(w, 1);
        } else {
            if (c.kind == ControlKind::Edit || c.kind == ControlKind::Digits) {
                w->setMinimumWidth(du.X(c.cx));
            }
            row->addWidget(w, (c.grow & kGrowWidth) != 0 ? 1 : 0);
        }
    }
    if (row->parent() == nullptr) {
        delete row;  // a page of a list alone has no row above it
        layout->setContentsMargins(0, 0, 0, 0);
    }
}

QTableWidget* CCollectorDlg::NewList(const ColumnTable& columns) {
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
    list->setColumnCount(static_cast<int>(columns.count));
    for (int i = 0; i < static_cast<int>(columns.count); ++i) {
        list->setHorizontalHeaderItem(
            i, new QTableWidgetItem(QString::fromUtf8(columns.columns[i].header)));
        list->setColumnWidth(i, columns.columns[i].width);
    }
    // A cell's tip shows a text cut by its column: it changes with the column's width.
    connect(list->horizontalHeader(), &QHeaderView::sectionResized, this,
            [this, list](int column, int, int) { UpdateCutTips(list, column); });
    return list;
}

void CCollectorDlg::ConnectControls() {
    WindowModel* model = m_pModel.get();
    for (const ControlTable& table : kControlTables) {
        for (const ControlSpec& c : table) {
            QWidget* w = GetDlgItem(c.id);
            const int id = c.id;
            if (w == nullptr) {
                continue;
            }
            switch (c.kind) {
                case ControlKind::Button:
                    connect(static_cast<QPushButton*>(w), &QPushButton::clicked, this,
                            [model, id] { model->Press(id); });
                    break;
                case ControlKind::Digits:
                case ControlKind::Edit:
                    // What Render sets is the model's own text: Edit tells it from typing.
                    connect(
                        static_cast<QLineEdit*>(w), &QLineEdit::textChanged, this,
                        [model, id](const QString& text) { model->Edit(id, text.toStdString()); });
                    break;
                case ControlKind::Check:
                    connect(static_cast<QCheckBox*>(w), &QCheckBox::clicked, this,
                            [model, id](bool on) { model->SetCheck(id, on); });
                    break;
                case ControlKind::Tab:
                    connect(static_cast<QTabWidget*>(w), &QTabWidget::currentChanged, this,
                            [model, id](int page) { model->SelectTab(id, page); });
                    break;
                default:
                    break;
            }
        }
    }
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
    for (const ControlTable& table : kControlTables) {
        for (const ControlSpec& c : table) {
            RenderControl(c, state);
        }
    }
    if (state.focusSerial != m_focusSerial) {
        m_focusSerial = state.focusSerial;
        if (QWidget* w = GetDlgItem(state.focus)) {
            w->setFocus(Qt::TabFocusReason);  // drawn as keyboard focus: Enter presses it
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
    if (state.raiseSerial != m_raiseSerial) {
        // Started again for this store: to the front, out of the taskbar if minimised.
        m_raiseSerial = state.raiseSerial;
        setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
        show();
        raise();
        activateWindow();
        if (m_bPrintState) {
            std::cout << "raised" << std::endl;
        }
    }
    if (m_pHotKey && state.hotKey != m_hotKeyHeld) {
        // The key changed (or is first drawn): the old one goes, the new one is taken.
        m_hotKeyHeld = state.hotKey;
        const std::optional<HotKeySpec> key = ParseHotKey(state.hotKey);
        const GlobalHotKey::Result held =
            key ? m_pHotKey->Register(*key) : GlobalHotKey::Result::Unsupported;
        m_hotKeyLine = "hotkey " + state.hotKey + "=" +
                       (held == GlobalHotKey::Result::Held    ? "on"
                        : held == GlobalHotKey::Result::Taken ? "taken"
                                                              : "off");
        if (m_bPrintState) {
            std::cout << m_hotKeyLine << std::endl;
        }
        if (held == GlobalHotKey::Result::Taken) {
            QTimer::singleShot(0, this,
                               [this, name = state.hotKey] { m_pModel->HotKeyTaken(name); });
        }
    }
    if (m_bPrintState) {
        if (std::string line = StateLine(state); line != m_lastStateLine) {
            std::cout << line << std::endl;
            m_lastStateLine = std::move(line);
        }
    }
}

void CCollectorDlg::RenderControl(const ControlSpec& c, const WindowState& state) {
    QWidget* w = GetDlgItem(c.id);
    if (w == nullptr) {
        return;
    }
    const bool ownText = c.text[0] == '\0';
    switch (c.kind) {
        case ControlKind::Digits:
        case ControlKind::Edit: {
            auto* edit = static_cast<QLineEdit*>(w);
            if (const QString text = Q(TextOf(state, c.id)); edit->text() != text) {
                edit->setText(text);
            }
            break;
        }
        case ControlKind::Label:
            if (ownText) {
                static_cast<QLabel*>(w)->setText(Q(TextOf(state, c.id)));
            }
            break;
        case ControlKind::Button:
            if (ownText) {
                static_cast<QPushButton*>(w)->setText(Q(TextOf(state, c.id)));
            }
            break;
        case ControlKind::Check: {
            auto* check = static_cast<QCheckBox*>(w);
            const QSignalBlocker quiet(check);
            check->setChecked(CheckedIn(state, c.id));
            break;
        }
        case ControlKind::List:
            RenderList(static_cast<QTableWidget*>(w), c.id, state);
            break;
        default:
            break;
    }
    if (HasModelTip(c.id)) {
        w->setToolTip(Q(TipOf(state, c.id)));  // a greyed 开始采集 says why
    }
    w->setEnabled(EnabledIn(state, c.id));
}

void CCollectorDlg::RenderList(QTableWidget* list, int id, const WindowState& state) {
    const std::vector<ResultRow>* rows = RowsOf(state, id);
    if (rows == nullptr) {
        return;
    }
    const std::uint64_t epoch = RowsEpochOf(state, id);
    const std::size_t columns = ColumnsOf(id).count;
    if (auto seen = m_epochs.find(id); seen == m_epochs.end() || seen->second != epoch) {
        m_epochs[id] = epoch;
        list->setRowCount(0);
    } else if (const std::uint64_t revision = RowsRevisionOf(state, id);
               revision != m_revisions[id]) {
        // Rows changed in place (a kept company filled or marked): only those are drawn again,
        // and they are among the newest.
        const int shown = std::min<int>(list->rowCount(), static_cast<int>(rows->size()));
        for (int r = std::max(0, shown - static_cast<int>(kRecentRowsChanged)); r < shown; ++r) {
            if ((*rows)[r].revision > m_revisions[id]) {
                FillRow(list, r, (*rows)[r], columns);
            }
        }
    }
    m_revisions[id] = RowsRevisionOf(state, id);
    // The run's list follows its end, unless the user scrolled up to read.
    const QScrollBar* bar = list->verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum();
    const int before = list->rowCount();
    for (size_t i = static_cast<size_t>(before); i < rows->size(); ++i) {
        InsertRow(list, (*rows)[i], columns);
    }
    if (list->rowCount() == before) {
        return;
    }
    if (before < kSizedRows) {
        // Columns as wide as their texts need (never narrower than the user made them).
        const QFontMetrics metrics(list->font());
        const int widest = kWidestColumn;  // the lists' widths are pixels
        for (int c = 0; c < static_cast<int>(columns); ++c) {
            int need = 0;
            for (int r = before; r < std::min(list->rowCount(), kSizedRows); ++r) {
                if (const QTableWidgetItem* item = list->item(r, c)) {
                    need = std::max(need, metrics.horizontalAdvance(item->text()) + 12);
                }
            }
            if (need > list->columnWidth(c)) {
                list->setColumnWidth(c, std::min(need, widest));
            }
        }
    }
    if (atEnd && id == IDC_RESULT_LIST) {
        list->scrollToBottom();
    }
}

void CCollectorDlg::InsertRow(QTableWidget* list, const ResultRow& fields, std::size_t columns) {
    const int row = list->rowCount();
    list->insertRow(row);
    FillRow(list, row, fields, columns);
}

void CCollectorDlg::FillRow(QTableWidget* list, int row, const ResultRow& fields,
                            std::size_t columns) {
    const QFontMetrics metrics(list->font());
    for (std::size_t i = 0; i < columns; ++i) {
        auto* item = new QTableWidgetItem(Q(CellOf(fields, i)));
        if (fields.waiting) {
            // A company whose contact page is kept as a failure: grey, and said so.
            item->setForeground(palette().brush(QPalette::Disabled, QPalette::Text));
            QFont italic = item->font();
            italic.setItalic(true);
            item->setFont(italic);
            item->setData(Qt::UserRole, true);
            item->setToolTip(Q(TipOfRow(fields)));
        }
        list->setItem(row, static_cast<int>(i), item);
        if (!fields.waiting) {
            SetCutTip(item, metrics);
        }
    }
}

void CCollectorDlg::SetCutTip(QTableWidgetItem* item, const QFontMetrics& metrics) {
    // A text wider than its column shows whole as the cell's tooltip.
    const int room = item->tableWidget()->columnWidth(item->column()) - 2 * kCellMargin;
    item->setToolTip(metrics.horizontalAdvance(item->text()) > room ? item->text() : QString());
}

void CCollectorDlg::UpdateCutTips(QTableWidget* list, int column) {
    const QFontMetrics metrics(list->font());
    for (int row = 0; row < list->rowCount(); ++row) {
        if (QTableWidgetItem* item = list->item(row, column);
            item && !item->data(Qt::UserRole).toBool()) {
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

void CCollectorDlg::PrintStateLines(bool on) {
    m_bPrintState = on;
    if (on && !m_hotKeyLine.empty()) {
        std::cout << m_hotKeyLine << std::endl;
    }
}

std::optional<HotKeySpec> CCollectorDlg::AskHotKey(const HotKeySpec& current) {
    return m_prompts.ChooseHotKey(this, current);
}

std::optional<std::string> CCollectorDlg::AskSearchName(const std::string& proposed) {
    return m_prompts.SearchName(this, proposed);
}

std::optional<ScheduleChoice> CCollectorDlg::AskSchedule(const ScheduleOffer& offer) {
    return m_prompts.ChooseSchedule(this, offer);
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
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if ((enter || key->key() == Qt::Key_Escape) && widget != nullptr &&
            widget->window() == this) {
            // Enter presses the button that has the focus (开始采集 after a pre-collect); in
            // an edit it does nothing, and Esc never closes the window.
            if (auto* button = qobject_cast<QPushButton*>(widget);
                enter && event->type() == QEvent::KeyPress && !key->isAutoRepeat() &&
                button != nullptr && button->isEnabled()) {
                button->click();
            }
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
    // Right-hand controls go right, the bottom row down, and growing ones take the room.
    const int dx = std::max(0, width() - minimumWidth());
    const int dy = std::max(0, height() - minimumHeight());
    for (const Anchor& a : m_anchors) {
        QRect r = a.geometry;
        r.translate(a.control->right ? dx : 0, a.control->bottom ? dy : 0);
        r.setWidth(r.width() + ((a.control->grow & kGrowWidth) != 0 ? dx : 0));
        r.setHeight(r.height() + ((a.control->grow & kGrowHeight) != 0 ? dy : 0));
        a.widget->setGeometry(r);
    }
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
