// The Qt window as a view of the window model: its controls wired to the model, its dialogs
// shown, its layout. The decisions themselves are tested on the model (window_model_test.cpp).

#include <QCheckBox>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QtTest>
#include <deque>
#include <iostream>
#include <sstream>

#include "DirectorySite.h"
#include "ManualClock.h"
#include "PgCluster.h"
#include "TempDir.h"
#include "app/qt/CCollectorDlg.h"
#include "app/qt/UserPrompts.h"
#include "store/RecordStore.h"
#include "store/Store.h"

using namespace crawl;
using namespace standin;
using namespace store;

namespace {

// Answers message boxes and file dialogs as a test tells it, and remembers what was shown.
class ScriptedPrompts : public IUserPrompts {
  public:
    struct Shown {
        QString text, caption;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton defaultButton;
    };
    QMessageBox::StandardButton Message(QWidget*, const QString& text, const QString& caption,
                                        QMessageBox::Icon icon,
                                        QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton def) override {
        shown.push_back({text, caption, icon, buttons, def});
        if (!answers.empty()) {
            auto a = answers.front();
            answers.pop_front();
            return a;
        }
        return buttons.testFlag(QMessageBox::Ok) ? QMessageBox::Ok : def;
    }
    std::optional<QString> SaveFileName(QWidget*, const QString& initialName, const QString& filter,
                                        const QString& suffix, QString* chosen) override {
        dialogs.push_back(initialName + "|" + filter + "|" + suffix);
        if (chosen != nullptr) {
            *chosen = chosenFilter;
        }
        return savePath;
    }
    std::optional<QString> OpenFileName(QWidget*, const QString&, const QString&) override {
        return openPath;
    }
    std::optional<std::vector<std::int64_t>> Failures(
        QWidget*, const std::vector<FailureRow>& rows) override {
        failureRows = rows.size();
        return std::vector<std::int64_t>{};  // all of them
    }
    std::optional<ExportChoice> ChooseExport(QWidget*, const ExportChoice& offer) override {
        return offer;
    }
    std::optional<HotKeySpec> ChooseHotKey(QWidget*, const HotKeySpec& current) override {
        return current;
    }
    std::optional<std::string> SearchName(QWidget*, const std::string& proposed) override {
        return proposed;
    }
    std::optional<ScheduleChoice> ChooseSchedule(QWidget*, const ScheduleOffer&) override {
        return std::nullopt;
    }
    std::vector<Shown> shown;
    std::deque<QMessageBox::StandardButton> answers;
    std::optional<QString> openPath;
    size_t failureRows = 0;
    std::vector<QString> dialogs;
    std::optional<QString> savePath;
    QString chosenFilter;
};

QString U(const char* utf8) {
    return QString::fromUtf8(utf8);
}

QString Today() {
    return QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
}

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<Server> server;
    std::unique_ptr<TempDir> dir;
    std::unique_ptr<ScriptedPrompts> prompts;
    std::unique_ptr<ManualClock> clock;
    std::unique_ptr<CCollectorDlg> dlg;

    std::string StorePath() const { return dir->File("data.db"); }
    void Open() {
        dlg = std::make_unique<CCollectorDlg>(StorePath(), *prompts, *clock);
        dlg->show();
    }
    QPushButton* Button(int id) { return qobject_cast<QPushButton*>(dlg->GetDlgItem(id)); }
    QLineEdit* Edit(int id) { return qobject_cast<QLineEdit*>(dlg->GetDlgItem(id)); }
    QTableWidget* List(int id) { return qobject_cast<QTableWidget*>(dlg->GetDlgItem(id)); }
    int StoredRows() {
        RecordStore store(StorePath());
        int n = 0;
        store.ForEachMemberRow([&](const RecordStore::RawRow&) { ++n; });
        return n;
    }
    void PreCollect(const char* industry = "化工", const char* region = "广东") {
        Edit(IDC_INDUSTRY)->setText(U(industry));
        Edit(IDC_REGION)->setText(U(region));
        QTest::mouseClick(Button(IDC_PRECOLLECT), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(dlg->ItemText(IDC_STATUS), U("操作成功完成！"), 10000);
    }

  private slots:
    void init() {
        server = std::make_unique<Server>();
        server->UseAsProxy();
        ServeFixtureSite(*server);
        dir = std::make_unique<TempDir>();
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(dir->Path()));  // the settings file
        prompts = std::make_unique<ScriptedPrompts>();
        clock = std::make_unique<ManualClock>();
    }
    void cleanup() {
        dlg.reset();
        server.reset();
        dir.reset();
    }

    void aStoreThatDoesNotAnswerCanBeGivenUp() {
        std::string why;
        PgCluster* cluster = PgCluster::Shared(why);
        if (cluster == nullptr) {
            QSKIP(why.c_str());
        }
        const std::string uri = cluster->NewDatabase();
        dlg = std::make_unique<CCollectorDlg>(uri, *prompts, *clock);
        dlg->show();
        prompts->shown.clear();
        cluster->Freeze(true);
        // A call on the store now waits: the window says so and lets the user give up.
        bool shown = false;
        QString status;
        QTimer::singleShot(1800, [&] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* wait = qobject_cast<QProgressDialog*>(w); wait && wait->isVisible()) {
                    shown = wait->labelText().contains(U("数据库无响应"));
                    status = dlg->ItemText(IDC_STATUS);
                    wait->cancel();
                }
            }
        });
        QElapsedTimer took;
        took.start();
        QTest::mouseClick(Button(IDC_EXPORT_CSV), Qt::LeftButton);
        cluster->Freeze(false);
        QVERIFY(shown);
        QCOMPARE(status, U("数据库无响应"));
        QVERIFY(took.elapsed() < 5000);
        QVERIFY(!prompts->shown.empty());
        QCOMPARE(prompts->shown.back().caption, U("数据库错误"));
        QVERIFY(Button(IDC_PRECOLLECT)->isEnabled());
    }

    void controlsShowTheModelAndPassInputOn() {
        Open();
        QCOMPARE(dlg->windowTitle(), U("Tarvola采集器 版本：2.0406"));
        const std::pair<int, const char*> texts[] = {
            {IDC_RECORDS, "0 / 0"},
            {IDC_PAGES, "0 / 0"},
            {IDC_STATUS, "等待"},
            {IDC_EVERY_N, "30"},
            {IDC_PAUSE_SECONDS, "10"},
            {IDC_TIMEOUT, "50"},
            {IDC_PARALLEL, "1"},
            {IDC_START_PAGE, "1"},
            {IDC_DESCRIPTION, "Tarvola（中国站）会员信息"}};
        for (const auto& [id, text] : texts) {
            QCOMPARE(dlg->ItemText(id), U(text));
        }
        QCOMPARE(Edit(IDC_INDUSTRY)->text(), U("化工"));
        QCOMPARE(Edit(IDC_REGION)->text(), U("广州"));
        QVERIFY(qobject_cast<QCheckBox*>(dlg->GetDlgItem(IDC_SKIP_KNOWN))->isChecked());
        QVERIFY(Button(IDC_PRECOLLECT)->isEnabled());
        QVERIFY(!Button(IDC_START)->isEnabled());
        QVERIFY(!Button(IDC_STOP)->isEnabled());
        QCOMPARE(List(IDC_RESULT_LIST)->columnCount(), 9);
        QCOMPARE(List(IDC_RESULT_LIST)->horizontalHeaderItem(0)->text(), U("公司名称"));
        QCOMPARE(List(IDC_RESULT_LIST)->columnWidth(0), 200);
        QCOMPARE(List(IDC_RESULT_LIST)->horizontalHeaderItem(8)->text(), U("邮编"));
        QCOMPARE(dlg->focusWidget(), Button(IDC_PRECOLLECT));
        QVERIFY(prompts->shown.empty());

        // Pre-collect and Start by the buttons, a setting typed into its edit: the run's rows,
        // counters and buttons come back into the controls.
        PreCollect();
        QCOMPARE(prompts->shown.back().text, U("找到 6 条符合条件的记录！"));
        QCOMPARE(prompts->shown.back().icon, QMessageBox::Information);
        QCOMPARE(dlg->ItemText(IDC_PAGES), U("0 / 3"));
        QVERIFY(Button(IDC_START)->isEnabled());
        Edit(IDC_PARALLEL)->clear();
        QTest::keyClicks(Edit(IDC_PARALLEL), QStringLiteral("3"));
        // Enter in an edit does nothing; on the button that has the focus, it presses it.
        QTest::keyClick(Edit(IDC_PARALLEL), Qt::Key_Return);
        QVERIFY(Button(IDC_START)->isEnabled());
        QTest::keyClick(Button(IDC_START), Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(Button(IDC_STOP)->isEnabled(), 3000);
        QVERIFY(!Button(IDC_START)->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(dlg->ItemText(IDC_STATUS), U("操作成功完成！"), 15000);
        QCOMPARE(dlg->ItemText(IDC_RECORDS), U("5 / 6"));
        // The whole run, the last record at the end.
        QCOMPARE(List(IDC_RESULT_LIST)->rowCount(), 5);
        QCOMPARE(List(IDC_RESULT_LIST)->item(4, 0)->text(), U("东莞塑料化工"));
        QCOMPARE(StoredRows(), 5);

        // Typing in the search takes Start back; a page past the end, typed, is refused.
        QTest::keyClicks(Edit(IDC_INDUSTRY), U("x"));
        QVERIFY(!Button(IDC_START)->isEnabled());
        PreCollect();
        Edit(IDC_START_PAGE)->clear();
        QTest::keyClicks(Edit(IDC_START_PAGE), QStringLiteral("4"));
        QTest::mouseClick(Button(IDC_START), Qt::LeftButton);
        QCOMPARE(prompts->shown.back().text, U("起始采集页码不能大于总页面个数!"));
        QCOMPARE(prompts->shown.back().icon, QMessageBox::Warning);
        QCOMPARE(prompts->shown.back().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

        // The check box reaches the model, which keeps it in the user's settings file.
        QTest::mouseClick(dlg->GetDlgItem(IDC_SKIP_KNOWN), Qt::LeftButton);
        QVERIFY(ReadFileBytes(dir->File("collector/settings.ini")).find("skipknown=0\n") !=
                std::string::npos);
        // Preview fills the list from the store.
        QTest::mouseClick(Button(IDC_PREVIEW), Qt::LeftButton);
        QCOMPARE(List(IDC_RESULT_LIST)->rowCount(), 5);
        // The collected data: read beside the window when its page opens, filtered after
        // typing stops, with the two more columns.
        qobject_cast<QTabWidget*>(dlg->GetDlgItem(IDC_LIST_TAB))->setCurrentIndex(1);
        QTRY_COMPARE_WITH_TIMEOUT(List(IDC_DATA_LIST)->rowCount(), 5, 3000);
        QCOMPARE(List(IDC_DATA_LIST)->columnCount(), 11);
        QCOMPARE(List(IDC_DATA_LIST)->item(0, 10)->text(), U("化工-广东"));
        QVERIFY(
            dlg->ItemText(IDC_DATA_COUNTS).startsWith(U("库中共 5 条，本搜索（化工-广东）5 条")));
        // (typed: QTest cannot type Chinese, so the edit is set) It is read once the model's
        // pause after typing has passed on its clock.
        Edit(IDC_DATA_FILTER)->setText(U("东莞"));
        dlg->Model().Tick();
        QCOMPARE(List(IDC_DATA_LIST)->rowCount(), 5);
        clock->Advance(WindowModel::kFilterPause);
        QTRY_COMPARE_WITH_TIMEOUT(List(IDC_DATA_LIST)->rowCount(), 1, 3000);
        QCOMPARE(List(IDC_DATA_LIST)->item(0, 0)->text(), U("东莞塑料化工"));
    }

    void questionsAreMessageBoxesWithTheirButtons() {
        ServeFixtureSite(*server, 300);
        Open();
        PreCollect();
        QTest::mouseClick(Button(IDC_START), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(dlg->ItemText(IDC_PAGES), U("1 / 3"), 10000);
        // The close box asks; "no" (the default) keeps the crawl and the window.
        QVERIFY(!dlg->close());
        QCOMPARE(prompts->shown.back().text, U("采集正在进行，确定要退出吗？"));
        QCOMPARE(prompts->shown.back().buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(prompts->shown.back().defaultButton, QMessageBox::No);
        QCOMPARE(prompts->shown.back().icon, QMessageBox::Question);
        QVERIFY(dlg->isVisible());
        prompts->answers = {QMessageBox::Yes};
        QVERIFY(dlg->close());
        QCOMPARE(dlg->Controller().LiveWorkers(), size_t{0});
        QVERIFY(!dlg->isVisible());
    }

    void enterPressesOnlyTheFocusedButtonAndEscapeNothing() {
        Open();
        QWidget* targets[] = {dlg.get(),          Edit(IDC_EVERY_N), Edit(IDC_START_PAGE),
                              Edit(IDC_INDUSTRY), Edit(IDC_REGION),  List(IDC_RESULT_LIST)};
        for (QWidget* w : targets) {
            for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
                QTest::keyClick(w, static_cast<Qt::Key>(key));
            }
        }
        QTest::qWait(100);
        QVERIFY(dlg->isVisible());
        QCOMPARE(dlg->ItemText(IDC_STATUS), U("等待"));
        QCOMPARE(server->RequestCount(), size_t{0});
        QVERIFY(prompts->shown.empty());
        // Esc on a button does nothing either; Enter presses it.
        QTest::keyClick(Button(IDC_PRECOLLECT), Qt::Key_Escape);
        QCOMPARE(server->RequestCount(), size_t{0});
        QTest::keyClick(Button(IDC_PRECOLLECT), Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(!prompts->shown.empty(), 5000);
        QVERIFY(server->RequestCount() > 0);
    }

    void exportDialogOffersTheTypes() {
        {
            RecordStore store(StorePath());
            store.AppendMemberRecord(MemberRecord{Gbk("甲公司"), Gbk("张伟")});
            store.AppendMemberRecord(MemberRecord{"B", "", "", "", "", "", "", "a,b", ""});
            store.AppendMemberRecord(MemberRecord{Gbk("甲公司 "), Gbk("李娜")});
        }
        Open();
        prompts->savePath = QString::fromStdString(dir->File("unique.csv"));
        prompts->chosenFilter = U("CSV文件，每家公司一行 (*.csv)");
        QTest::mouseClick(Button(IDC_EXPORT_CSV), Qt::LeftButton);
        QCOMPARE(prompts->dialogs.back(),
                 U("全部记录-") + Today() +
                     U(".xlsx|Excel 工作簿 (*.xlsx);;CSV文件 (*.csv);;Excel "
                       "工作簿，每家公司一行 (*.xlsx);;CSV文件，每家公司一行 (*.csv);;所有文件 "
                       "(*)|xlsx"));
        QCOMPARE(
            QByteArray::fromStdString(ReadFileBytes(dir->File("unique.csv"))),
            QByteArray::fromStdString("B,,,,,,,\"a,b\",\r\n" + Gbk("甲公司 ,李娜,,,,,,,\r\n")));
        QCOMPARE(dlg->ItemText(IDC_STATUS), U("已导出 2 条记录到 ") + prompts->savePath.value());
        prompts->chosenFilter.clear();
        prompts->savePath = QString::fromStdString(dir->File("out.txt"));
        QTest::mouseClick(Button(IDC_EXPORT_TEXT), Qt::LeftButton);
        QCOMPARE(prompts->dialogs.back(),
                 QString::fromStdString(dir->Path()) + U("/全部记录-") + Today() +
                     U(".txt|文本文件 (*.txt);;文本文件，每家公司一行 (*.txt);;所有文件 (*)|txt"));
        QCOMPARE(dlg->ItemText(IDC_STATUS), U("已导出 3 条记录到 ") + prompts->savePath.value());
    }

    void stateLinesOnTheTestSwitch() {
        std::ostringstream out;
        std::streambuf* old = std::cout.rdbuf(out.rdbuf());
        Open();
        dlg->PrintStateLines(true);
        PreCollect("模具", "");
        QTest::mouseClick(Button(IDC_START), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(dlg->ItemText(IDC_STATUS), U("操作成功完成！"), 10000);
        std::cout.rdbuf(old);
        const QString lines = QString::fromStdString(out.str());
        QVERIFY2(lines.contains(U("ask caption=") + U(kWindowTitle) +
                                U(" text=找到 2 条符合条件的记录！\n")),
                 qPrintable(lines));
        QVERIFY2(
            lines.contains(U("state records=2/2 pages=1/1 precollect=on start=on stop=off "
                             "startpage=1 rows=2 visible=on failures=0 status=操作成功完成！\n")),
            qPrintable(lines));
        // Only changes are printed.
        const QStringList all = lines.split('\n', Qt::SkipEmptyParts);
        for (int i = 1; i < all.size(); ++i) {
            QVERIFY(all[i] != all[i - 1]);
        }
    }

    void theWindowGrowsAndCutCellsShowTheirText() {
        Open();
        const QSize smallest = dlg->size();
        QCOMPARE(dlg->minimumSize(), smallest);
        const QRect list = List(IDC_RESULT_LIST)->geometry();
        const QRect csv = Button(IDC_EXPORT_CSV)->geometry();
        const int width7 = List(IDC_RESULT_LIST)->columnWidth(7);
        dlg->resize(smallest + QSize(200, 150));
        QCOMPARE(List(IDC_RESULT_LIST)->size(), list.size() + QSize(200, 150));
        QCOMPARE(Button(IDC_EXPORT_CSV)->pos(), csv.topLeft() + QPoint(200, 150));
        QCOMPARE(List(IDC_RESULT_LIST)->columnWidth(7), width7);
        QVERIFY(List(IDC_RESULT_LIST)->geometry().right() < dlg->width());

        {
            RecordStore store(StorePath());
            MemberRecord r{Gbk("甲公司")};
            r.address =
                Gbk(std::string(90, 'x') + "广州市天河区黄埔大道100号");  // wider than any column
            r.zip = "510000";
            store.AppendMemberRecord(r);
        }
        QTest::mouseClick(Button(IDC_PREVIEW), Qt::LeftButton);
        QTableWidget* table = List(IDC_RESULT_LIST);
        QCOMPARE(table->item(0, 7)->toolTip(), table->item(0, 7)->text());  // cut
        QCOMPARE(table->item(0, 8)->toolTip(), QString());                  // fits
        table->setColumnWidth(7, 2000);
        QCOMPARE(table->item(0, 7)->toolTip(), QString());
    }
};

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    WindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "window_test.moc"
