#include "app/qt/UserPrompts.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <iterator>
#include <utility>

#include "app/model/Dialogs.h"

namespace {

// The text of control `id` in a dialog's template.
template <size_t N>
QString Text(const ControlSpec (&controls)[N], int id) {
    for (const ControlSpec& c : controls) {
        if (c.id == id) {
            return QString::fromUtf8(c.text);
        }
    }
    return {};
}

// The row of control `id` in a dialog's template.
template <size_t N>
const ControlSpec& ControlSpecIn(const ControlSpec (&controls)[N], int id) {
    for (const ControlSpec& c : controls) {
        if (c.id == id) {
            return c;
        }
    }
    return controls[0];
}

// Icons and type names from the name alone. The default provider reads a file's first bytes
// to learn its type, and opening and closing the store that way in this process would drop
// the locks SQLite holds on it (POSIX locks belong to the process, not to the descriptor), so
// another program could checkpoint and remove the -wal and -shm files under the collector:
// "disk I/O error".
class NameOnlyIconProvider : public QFileIconProvider {
  public:
    QIcon icon(const QFileInfo& info) const override {
        return QFileIconProvider::icon(info.isDir() ? Folder : File);
    }
    QString type(const QFileInfo& info) const override {
        if (info.isDir()) {
            return QStringLiteral("文件夹");
        }
        return info.suffix().isEmpty() ? QStringLiteral("文件")
                                       : info.suffix().toUpper() + QStringLiteral(" 文件");
    }
};

}  // namespace

QMessageBox::StandardButton QtUserPrompts::Message(QWidget* owner, const QString& text,
                                                   const QString& caption, QMessageBox::Icon icon,
                                                   QMessageBox::StandardButtons buttons,
                                                   QMessageBox::StandardButton defaultButton) {
    QMessageBox box(icon, caption, text, buttons, owner);
    box.setTextFormat(Qt::PlainText);  // collected texts are never markup
    box.setDefaultButton(defaultButton);
    const std::pair<QMessageBox::StandardButton, const char*> labels[] = {
        {QMessageBox::Ok, "确定"}, {QMessageBox::Yes, "是(&Y)"}, {QMessageBox::No, "否(&N)"}};
    for (const auto& [which, label] : labels) {
        if (QAbstractButton* b = box.button(which)) {
            b->setText(QString::fromUtf8(label));
        }
    }
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

std::optional<QString> QtUserPrompts::SaveFileName(QWidget* owner, const QString& initialName,
                                                   const QString& filter,
                                                   const QString& defaultSuffix,
                                                   QString* chosenFilter) {
    QFileDialog dialog(owner);
    // Qt's own dialog, with a provider that never opens the files it lists (see above).
    static NameOnlyIconProvider names;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setIconProvider(&names);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(filter);
    dialog.setDefaultSuffix(defaultSuffix);
    // A name with a folder opens in that folder; a bare name in the home folder.
    const QFileInfo initial(initialName);
    dialog.setDirectory(initialName.contains('/') ? initial.absolutePath() : QDir::homePath());
    dialog.selectFile(initial.fileName());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    if (chosenFilter != nullptr) {
        *chosenFilter = dialog.selectedNameFilter();
    }
    return dialog.selectedFiles().first();
}

std::optional<QString> QtUserPrompts::OpenFileName(QWidget* owner, const QString& title,
                                                   const QString& filter) {
    QFileDialog dialog(owner, title);
    static NameOnlyIconProvider names;  // see above: no file is opened to list it
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setIconProvider(&names);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(filter);
    dialog.setDirectory(QDir::homePath());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().first();
}

std::optional<std::vector<std::int64_t>> QtUserPrompts::Failures(
    QWidget* owner, const std::vector<FailureRow>& rows) {
    QDialog dialog(owner);
    dialog.setWindowTitle(QString::fromUtf8(kFailuresTitle));
    dialog.resize(760, 360);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QString::fromUtf8(kFailuresControls[0].text), &dialog));
    auto* table = new QTableWidget(static_cast<int>(rows.size()), 5, &dialog);
    for (int c = 0; c < 5; ++c) {
        table->setHorizontalHeaderItem(
            c, new QTableWidgetItem(QString::fromUtf8(kFailureColumns[c].header)));
    }
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table->verticalHeader()->setVisible(false);
    table->horizontalHeader()->setStretchLastSection(true);
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        const std::array<std::string, 5> cells = rows[static_cast<size_t>(r)].Cells();
        for (int c = 0; c < 5; ++c) {
            const QString cell = QString::fromStdString(cells[static_cast<size_t>(c)]);
            auto* item = new QTableWidgetItem(cell);
            item->setToolTip(cell);
            table->setItem(r, c, item);
        }
    }
    table->resizeColumnsToContents();
    layout->addWidget(table);
    auto* buttons = new QDialogButtonBox(&dialog);
    QPushButton* selected = buttons->addButton(Text(kFailuresControls, IDC_RETRY_SELECTED),
                                               QDialogButtonBox::ActionRole);
    QPushButton* all =
        buttons->addButton(Text(kFailuresControls, IDC_RETRY_ALL), QDialogButtonBox::AcceptRole);
    buttons->addButton(Text(kFailuresControls, IDC_FAILURES_CLOSE), QDialogButtonBox::RejectRole);
    selected->setEnabled(false);
    layout->addWidget(buttons);
    std::optional<std::vector<std::int64_t>> answer;
    QObject::connect(table->selectionModel(), &QItemSelectionModel::selectionChanged, &dialog,
                     [&] { selected->setEnabled(table->selectionModel()->hasSelection()); });
    QObject::connect(selected, &QPushButton::clicked, &dialog, [&] {
        std::vector<std::int64_t> ids;
        for (const QModelIndex& index : table->selectionModel()->selectedRows()) {
            ids.push_back(rows[static_cast<size_t>(index.row())].id);
        }
        answer = ids;
        dialog.accept();
    });
    QObject::connect(all, &QPushButton::clicked, &dialog, [&] {
        answer = std::vector<std::int64_t>{};
        dialog.accept();
    });
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    dialog.exec();
    return answer;
}

std::optional<ExportChoice> QtUserPrompts::ChooseExport(QWidget* owner, const ExportChoice& offer) {
    QDialog dialog(owner);
    dialog.setWindowTitle(QString::fromUtf8(kExportTitle));
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QString::fromUtf8(kExportControls[0].text), &dialog));
    // Two groups of their own: a search and a period are chosen each on its own.
    auto* searches = new QButtonGroup(&dialog);
    auto* periods = new QButtonGroup(&dialog);
    layout->addWidget(new QLabel(QString::fromUtf8(kExportControls[1].text), &dialog));
    auto* all = new QRadioButton(Text(kExportControls, IDC_SEARCH_ALL), &dialog);
    auto* search = new QRadioButton(offer.search.empty() ? QString::fromUtf8(kSearchScopeNone)
                                                         : QString::fromUtf8(kSearchScopeOf) +
                                                               QString::fromStdString(offer.search),
                                    &dialog);
    search->setEnabled(!offer.search.empty());
    searches->addButton(all);
    searches->addButton(search);
    (offer.ofSearch && !offer.search.empty() ? search : all)->setChecked(true);
    layout->addWidget(all);
    layout->addWidget(search);
    layout->addWidget(new QLabel(QString::fromUtf8(kExportControls[4].text), &dialog));
    QRadioButton* period[kExportPeriods];
    for (int i = 0; i < kExportPeriods; ++i) {
        period[i] = new QRadioButton(Text(kExportControls, IDC_PERIOD_ALL + i), &dialog);
        periods->addButton(period[i]);
    }
    period[static_cast<int>(ExportChoice::Period::OfRun)]->setEnabled(offer.runOffered);
    period[static_cast<int>(offer.period)]->setChecked(true);
    auto* day = new QDateEdit(&dialog);
    day->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    day->setCalendarPopup(true);
    const QDate offered = QDate::fromString(QString::fromStdString(offer.since), "yyyy-MM-dd");
    day->setDate(offered.isValid() ? offered : QDate::currentDate());
    auto* sinceRow = new QHBoxLayout;
    sinceRow->addWidget(period[static_cast<int>(ExportChoice::Period::Since)]);
    sinceRow->addWidget(day);
    sinceRow->addStretch();
    for (int i = 0; i < kExportPeriods; ++i) {
        if (i == static_cast<int>(ExportChoice::Period::Since)) {
            layout->addLayout(sinceRow);
        } else {
            layout->addWidget(period[i]);
        }
    }
    auto* complete = new QCheckBox(Text(kExportControls, IDC_COMPLETE_ONLY), &dialog);
    complete->setChecked(offer.completeOnly);
    auto* columns = new QCheckBox(Text(kExportControls, IDC_ALL_COLUMNS), &dialog);
    columns->setChecked(offer.allColumns);
    layout->addWidget(complete);
    layout->addWidget(columns);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(Text(kExportControls, IDC_EXPORT_NEXT));
    buttons->button(QDialogButtonBox::Cancel)->setText(Text(kExportControls, IDC_EXPORT_CANCEL));
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    ExportChoice choice = offer;
    choice.ofSearch = search->isChecked();
    for (int i = 0; i < kExportPeriods; ++i) {
        if (period[i]->isChecked()) {
            choice.period = static_cast<ExportChoice::Period>(i);
        }
    }
    choice.since = day->date().toString(QStringLiteral("yyyy-MM-dd")).toStdString();
    choice.completeOnly = complete->isChecked();
    choice.allColumns = columns->isChecked();
    return choice;
}

std::optional<HotKeySpec> QtUserPrompts::ChooseHotKey(QWidget* owner, const HotKeySpec& current) {
    QDialog dialog(owner);
    dialog.setWindowTitle(QString::fromUtf8(kHotKeyTitle));
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QString::fromUtf8(kHotKeyControls[0].text), &dialog));
    auto* keys = new QButtonGroup(&dialog);
    auto* none = new QRadioButton(Text(kHotKeyControls, IDC_HOTKEY_NONE), &dialog);
    keys->addButton(none, 0);
    layout->addWidget(none);
    auto* grid = new QGridLayout;
    for (int f = 1; f <= 12; ++f) {
        auto* key = new QRadioButton(Text(kHotKeyControls, IDC_HOTKEY_F1 + f - 1), &dialog);
        keys->addButton(key, f);
        grid->addWidget(key, (f - 1) / 6, (f - 1) % 6);
    }
    layout->addLayout(grid);
    keys->button(current.function)->setChecked(true);
    auto* held = new QHBoxLayout;
    held->addWidget(new QLabel(QString::fromUtf8(kHotKeyControls[14].text), &dialog));
    auto* ctrl = new QCheckBox(Text(kHotKeyControls, IDC_HOTKEY_CTRL), &dialog);
    auto* alt = new QCheckBox(Text(kHotKeyControls, IDC_HOTKEY_ALT), &dialog);
    auto* shift = new QCheckBox(Text(kHotKeyControls, IDC_HOTKEY_SHIFT), &dialog);
    ctrl->setChecked(current.ctrl);
    alt->setChecked(current.alt);
    shift->setChecked(current.shift);
    for (QCheckBox* c : {ctrl, alt, shift}) {
        held->addWidget(c);
    }
    held->addStretch();
    layout->addLayout(held);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(Text(kHotKeyControls, IDC_HOTKEY_OK));
    buttons->button(QDialogButtonBox::Cancel)->setText(Text(kHotKeyControls, IDC_HOTKEY_CANCEL));
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    HotKeySpec chosen;
    chosen.function = keys->checkedId();
    chosen.ctrl = ctrl->isChecked();
    chosen.alt = alt->isChecked();
    chosen.shift = shift->isChecked();
    return chosen;
}

std::optional<std::string> QtUserPrompts::SearchName(QWidget* owner, const std::string& proposed) {
    QDialog dialog(owner);
    dialog.setWindowTitle(QString::fromUtf8(kSearchNameTitle));
    dialog.setMinimumWidth(360);  // room for a long search's name
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QString::fromUtf8(kSearchNameControls[0].text), &dialog));
    auto* name = new QLineEdit(QString::fromStdString(proposed), &dialog);
    name->selectAll();
    layout->addWidget(name);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(Text(kSearchNameControls, IDC_SEARCH_NAME_OK));
    buttons->button(QDialogButtonBox::Cancel)
        ->setText(Text(kSearchNameControls, IDC_SEARCH_NAME_CANCEL));
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return name->text().toStdString();
}

std::optional<ScheduleChoice> QtUserPrompts::ChooseSchedule(QWidget* owner,
                                                            const ScheduleOffer& offer) {
    QDialog dialog(owner);
    dialog.setWindowTitle(QString::fromUtf8(kScheduleTitle));
    auto* layout = new QVBoxLayout(&dialog);
    auto* top = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    left->addWidget(new QLabel(QString::fromUtf8(kScheduleControls[0].text), &dialog));
    auto* searches = new QListWidget(&dialog);
    searches->setSelectionMode(QAbstractItemView::MultiSelection);
    for (const std::string& name : offer.searches) {
        auto* item = new QListWidgetItem(QString::fromStdString(name), searches);
        item->setSelected(std::find(offer.last.searches.begin(), offer.last.searches.end(), name) !=
                          offer.last.searches.end());
    }
    left->addWidget(searches);
    top->addLayout(left);
    auto* right = new QVBoxLayout;
    auto* daily = new QRadioButton(Text(kScheduleControls, IDC_SCHED_DAILY), &dialog);
    auto* weekly = new QRadioButton(Text(kScheduleControls, IDC_SCHED_WEEKLY), &dialog);
    (offer.last.daily ? daily : weekly)->setChecked(true);
    right->addWidget(daily);
    right->addWidget(weekly);
    auto* days = new QHBoxLayout;
    QCheckBox* day[7];
    for (int d = 0; d < 7; ++d) {
        day[d] = new QCheckBox(Text(kScheduleControls, IDC_SCHED_DAY1 + d), &dialog);
        day[d]->setChecked(std::find(offer.last.weekdays.begin(), offer.last.weekdays.end(),
                                     d + 1) != offer.last.weekdays.end());
        days->addWidget(day[d]);
    }
    right->addLayout(days);
    auto* timeRow = new QHBoxLayout;
    timeRow->addWidget(new QLabel(QStringLiteral("时间："), &dialog));
    auto* time = new QLineEdit(QString::fromStdString(offer.last.time), &dialog);
    time->setToolTip(QString::fromUtf8(ControlSpecIn(kScheduleControls, IDC_SCHED_TIME).tooltip));
    timeRow->addWidget(time);
    timeRow->addStretch();
    right->addLayout(timeRow);
    auto* exportNew = new QCheckBox(Text(kScheduleControls, IDC_SCHED_EXPORT), &dialog);
    exportNew->setChecked(offer.last.exportNew);
    right->addWidget(exportNew);
    auto* folder = new QLineEdit(QString::fromStdString(offer.last.exportFolder), &dialog);
    folder->setToolTip(
        QString::fromUtf8(ControlSpecIn(kScheduleControls, IDC_SCHED_FOLDER).tooltip));
    right->addWidget(folder);
    auto* add = new QPushButton(Text(kScheduleControls, IDC_SCHED_ADD), &dialog);
    right->addWidget(add, 0, Qt::AlignRight);
    right->addStretch();
    top->addLayout(right);
    layout->addLayout(top);
    layout->addWidget(new QLabel(QStringLiteral("已有的定时采集："), &dialog));
    auto* listed = new QTableWidget(static_cast<int>(offer.schedules.size()),
                                    static_cast<int>(std::size(kScheduleColumns)), &dialog);
    QStringList headers;
    for (const ResultColumn& c : kScheduleColumns) {
        headers << QString::fromUtf8(c.header);
    }
    listed->setHorizontalHeaderLabels(headers);
    listed->setSelectionBehavior(QAbstractItemView::SelectRows);
    listed->setSelectionMode(QAbstractItemView::SingleSelection);
    listed->setEditTriggers(QAbstractItemView::NoEditTriggers);
    listed->verticalHeader()->hide();
    for (int i = 0; i < static_cast<int>(offer.schedules.size()); ++i) {
        const ScheduleOffer::Listed& s = offer.schedules[static_cast<size_t>(i)];
        listed->setItem(i, 0, new QTableWidgetItem(QString::number(s.id)));
        listed->setItem(i, 1, new QTableWidgetItem(QString::fromStdString(s.when)));
        listed->setItem(i, 2, new QTableWidgetItem(QString::fromStdString(s.command)));
    }
    for (int c = 0; c < static_cast<int>(std::size(kScheduleColumns)); ++c) {
        listed->setColumnWidth(c, kScheduleColumns[c].width);
    }
    layout->addWidget(listed);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    auto* remove = new QPushButton(Text(kScheduleControls, IDC_SCHED_REMOVE), &dialog);
    auto* close = new QPushButton(Text(kScheduleControls, IDC_SCHED_CLOSE), &dialog);
    bottom->addWidget(remove);
    bottom->addWidget(close);
    layout->addLayout(bottom);
    dialog.resize(640, 460);

    std::optional<ScheduleChoice> answer;
    QObject::connect(add, &QPushButton::clicked, &dialog, [&] {
        ScheduleChoice choice;
        choice.daily = daily->isChecked();
        for (int d = 0; d < 7; ++d) {
            if (day[d]->isChecked()) {
                choice.weekdays.push_back(d + 1);
            }
        }
        choice.time = time->text().toStdString();
        for (QListWidgetItem* item : searches->selectedItems()) {
            choice.searches.push_back(item->text().toStdString());
        }
        choice.exportNew = exportNew->isChecked();
        choice.exportFolder = folder->text().toStdString();
        answer = choice;
        dialog.accept();
    });
    QObject::connect(remove, &QPushButton::clicked, &dialog, [&] {
        const int row = listed->currentRow();
        if (row < 0 || row >= static_cast<int>(offer.schedules.size())) {
            return;
        }
        ScheduleChoice choice = offer.last;
        choice.remove = true;
        choice.removeId = offer.schedules[static_cast<size_t>(row)].id;
        answer = choice;
        dialog.accept();
    });
    QObject::connect(close, &QPushButton::clicked, &dialog, &QDialog::reject);
    dialog.exec();
    return answer;
}
