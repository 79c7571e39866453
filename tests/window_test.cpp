// The main window driven as a user would, against the stand-in directory on loopback.

#include <QCheckBox>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "DirectorySite.h"
#include "FakeCrawlParts.h"
#include "ManualClock.h"
#include "PgCluster.h"
#include "TempDir.h"
#include "app/CCollectorDlg.h"
#include "app/CConditionPage.h"
#include "app/UserPrompts.h"
#include "store/RecordStore.h"
#include "store/Store.h"

using namespace standin;

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
    std::vector<Shown> shown;
    std::deque<QMessageBox::StandardButton> answers;
    std::vector<QString> dialogs;
    std::optional<QString> savePath;
    QString chosenFilter;
};

QString U(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// A directory of one result page with ten companies, in memory. Every contact page takes
// `contactMs`; while `holdPreCollect` is set, a pre-collect waits until it is lifted.
struct TenCompanies {
    std::shared_ptr<FakeFetcher::Shared> pages = std::make_shared<FakeFetcher::Shared>();
    std::mutex mutex;
    std::condition_variable changed;
    bool holdPreCollect = false;
    int contactMs = 0;
    std::string preCollect;

    TenCompanies() {
        const std::string keyword = KeywordFor(Gbk("化工"), Gbk("广东"));
        preCollect = PreCollectAddress(keyword);
        pages->pages[preCollect] = Gbk("共找到 10 条符合 <span class=\"total-page\">共1页</span>");
        std::string block = "<div id=\"offer_list\" class=\"list\">";
        for (int i = 0; i < 10; ++i) {
            const std::string id = std::to_string(i);
            block += "<div class=\"info\"><a class=\"l\">" + Gbk("公司") + id + "</a></span><p>" +
                     Gbk("广东") + "</p><a href=\"http://www.tarvola.com/company/detail/c" + id +
                     ".html\" x>";
        }
        pages->pages[ResultPageAddress(keyword, 1)] = block + "<script language=";
    }
    void Hold(bool hold) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            holdPreCollect = hold;
        }
        changed.notify_all();
    }
    RunController::Launcher Launcher(const std::string& storePath) {
        CrawlDeps deps = DefaultCrawlDeps();  // the real store at `storePath`
        (void)storePath;
        deps.makeFetcher = [this]() -> std::unique_ptr<IPageFetcher> {
            struct Slow : FakeFetcher {
                Slow(TenCompanies& site) : FakeFetcher(site.pages), site_(site) {}
                FetchResult FetchPage(const std::string& a) override {
                    if (a == site_.preCollect) {
                        std::unique_lock<std::mutex> lock(site_.mutex);
                        site_.changed.wait(lock, [&] { return !site_.holdPreCollect; });
                    } else if (a.find("/detail/") != std::string::npos) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(site_.contactMs));
                    }
                    return FakeFetcher::FetchPage(a);
                }
                TenCompanies& site_;
            };
            return std::make_unique<Slow>(*this);
        };
        return [deps](const CrawlJob& job) { return CrawlWorker::Start(job, deps); };
    }
};

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
    int StoredRows() {
        RecordStore store(StorePath());
        int n = 0;
        store.ForEachMemberRow([&](const RecordStore::RawRow&) { ++n; });
        return n;
    }
    void PreCollect(const char* industry = "化工", const char* region = "广东") {
        dlg->ConditionPage()->Industry()->setText(U(industry));
        dlg->ConditionPage()->Region()->setText(U(region));
        QTest::mouseClick(Button(IDC_PRECOLLECT), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(dlg->ItemText(IDC_STATUS), U("操作成功完成！"), 10000);
    }
    QStringList ListTitles() {
        QStringList titles;
        for (int r = 0; r < dlg->ResultList()->rowCount(); ++r) {
            titles << dlg->ResultList()->item(r, 0)->text();
        }
        return titles;
    }

  private slots:
    void init() {
        server = std::make_unique<Server>();
        server->UseAsProxy();
        ServeFixtureSite(*server);
        dir = std::make_unique<TempDir>();
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

    void startUpState() {
        Open();
        QCOMPARE(dlg->windowTitle(), U("Tarvola采集器 版本：2.0406"));
        QCOMPARE(dlg->ItemText(IDC_RECORDS), U("0 / 0"));
        QCOMPARE(dlg->ItemText(IDC_PAGES), U("0 / 0"));
        QCOMPARE(dlg->ItemText(IDC_STATUS), U("等待"));
        QCOMPARE(dlg->ItemText(IDC_EVERY_N), U("30"));
        QCOMPARE(dlg->ItemText(IDC_PAUSE_SECONDS), U("10"));
        QCOMPARE(dlg->ItemText(IDC_TIMEOUT), U("50"));
        QCOMPARE(dlg->ItemText(IDC_START_PAGE), U("1"));
        QCOMPARE(dlg->ItemText(IDC_DESCRIPTION), U("Tarvola（中国站）会员信息"));
        QCOMPARE(dlg->ConditionPage()->Industry()->text(), U("化工"));
        QCOMPARE(dlg->ConditionPage()->Region()->text(), U("广州"));
        QVERIFY(Button(IDC_PRECOLLECT)->isEnabled());
        QVERIFY(!Button(IDC_START)->isEnabled());
        QVERIFY(!Button(IDC_STOP)->isEnabled());
        QVERIFY(Button(IDC_PREVIEW)->isEnabled());
        QCOMPARE(dlg->ResultList()->columnCount(), 9);
        QCOMPARE(dlg->ResultList()->horizontalHeaderItem(0)->text(), U("公司名称"));
        QCOMPARE(dlg->ResultList()->columnWidth(0), 200);
        QCOMPARE(dlg->ResultList()->horizontalHeaderItem(8)->text(), U("邮编"));
        QCOMPARE(dlg->ResultList()->rowCount(), 0);
        QVERIFY(prompts->shown.empty());

        // The search of the last pre-collect comes back with its own page; the old single
        // page of the file belongs to no search.
        dlg.reset();
        {
            RecordStore store(StorePath());
            store.SaveLastPageIndex(12);
            store.SaveSetting("lastindustry", "化工");
            store.SaveSetting("lastregion", "广东");
        }
        Open();
        QCOMPARE(dlg->ItemText(IDC_START_PAGE), U("1"));
        dlg.reset();
        {
            RecordStore store(StorePath());
            SaveSearchPage(store, Gbk("化工^广东"), 2);
        }
        Open();
        QCOMPARE(dlg->ItemText(IDC_START_PAGE), U("2"));
    }

    void startPageFollowsTheSearch() {
        {
            RecordStore store(StorePath());
            SaveSearchPage(store, Gbk("化工^广东"), 2);
            SaveSearchPage(store, Gbk("模具^"), 9);  // further than the search goes now
        }
        Open();
        struct Case {
            const char* industry;
            const char* region;
            const char* start;
            const char* found;
        };
        const Case cases[] = {
            {"化工", "广东", "2", "找到 6 条符合条件的记录！\n上次采集到第 2 页"},
            {"无此", "", "1", "没有找到符合条件的记录！"},
            {"模具", "", "1", "找到 2 条符合条件的记录！\n上次采集到第 9 页"},
        };
        for (const Case& c : cases) {
            PreCollect(c.industry, c.region);
            QCOMPARE(dlg->ItemText(IDC_START_PAGE), U(c.start));
            QCOMPARE(prompts->shown.back().text, U(c.found));
        }
        // A page typed afterwards stands.
        PreCollect("化工", "广东");
        Edit(IDC_START_PAGE)->setText("3");
        QTest::mouseClick(Button(IDC_START), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(dlg->ItemText(IDC_STATUS), U("操作成功完成！"), 15000);
        QCOMPARE(StoredRows(), 1);
    }

    void unopenableStoreKeepsTheWindowUsable() {
        dlg = std::make_unique<CCollectorDlg>(dir->File("missing/data.db"), *prompts, *clock);
        QCOMPARE(prompts->shown.size(), size_t{1});
        QVERIFY(prompts->shown[0].text.contains(U("无法打开数据库")));
        QCOMPARE(dlg->ItemText(IDC_START_PAGE), U("1"));
        QVERIFY(Button(IDC_PRECOLLECT)->isEnabled());
    }

    void conditionTexts_data() {
        QTest::addColumn<QString>("industry");
        QTest::addColumn<QString>("region");
        QTest::addColumn<QString>("condition");
        QTest::newRow("industry only") << U("化工") << U("") << U("化工^");
        QTest::newRow("region only") << U("") << U("广州") << U("^广州");
        QTest::newRow("both") << U("化工") << U("广州") << U("化工^广州");
        QTest::newRow("blanks kept") << U(" 化工 ") << U(" 广州") << U(" 化工 ^ 广州");
    }
    void conditionTexts() {
        QFETCH(QString, industry);
        QFETCH(QString, region);
        QFETCH(QString, condition);
        Open();
        dlg->ConditionPage()->Industry()->setText(industry);
        dlg->ConditionPage()->Region()->setText(region);
        QCOMPARE(QString::fromStdString(text::GbkToUtf8(dlg->ConditionPage()->GetConditionText())),
                 condition);
    }

    void bothConditionsEmpty() {
        Open();
        dlg->ConditionPage()->Industry()->clear();
        dlg->ConditionPage()->Region()->clear();
        QTest::mouseClick(Button(IDC_PRECOLLECT), Qt::LeftButton);
        QCOMPARE(prompts->shown.size(), size_t{1});
        QCOMPARE(prompts->shown[0].text, U("请至少指定一项采集条件！"));
        QCOMPARE(prompts->shown[0].caption, U("采集条件"));
        QCOMPARE(prompts->shown[0].icon, QMessageBox::Warning);
        QVERIFY(Button(IDC_PRECOLLECT)->isEnabled());
        QCOMPARE(dlg->ItemText(IDC_STATUS), U("等待"));
        QCOMPARE(server->RequestCount(), size_t{0});
    }

    void enterAndEscapeDoNothing() {
        Open();
        QWidget* targets[] = {dlg.get(),
                              Edit(IDC_EVERY_N),
                              Edit(IDC_START_PAGE),
                              dlg->ConditionPage()->Industry(),
                              dlg->ConditionPage()->Region(),
                              Button(IDC_PRECOLLECT),
                              dlg->ResultList()};
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
    }

    void preCollectWithAndWithoutHits() {
        Open();
        PreCollect();
        QCOMPARE(dlg->ItemText(IDC_RECORDS), U("0 / 6"));
        QCOMPARE(dlg->ItemText(IDC_PAGES), U("0 / 3"));
        QCOMPARE(prompts->shown.size(), size_t{1});
        QCOMPARE(prompts->shown[0].text, U("找到 6 条符合条件的记录！"));
        QCOMPARE(prompts->shown[0].caption, U(""));
        QCOMPARE(prompts->shown[0].icon, QMessageBox::Information);
        QVERIFY(Button(IDC_START)->isEnabled());
        QVERIFY(Button(IDC_PRECOLLECT)->isEnabled());

        dlg.reset();
        prompts->shown.clear();
        Open();
        PreCollect("无此行业", "");
        QCOMPARE(dlg->ItemText(IDC_RECORDS), U("0 / 0"));
        QCOMPARE(dlg->ItemText(IDC_PAGES), U("0 / 0"));
        QCOMPARE(prompts->shown.size(), size_t{1});  // "nothing found" is said, too
        QCOMPARE(prompts->shown[0].text, U("没有找到符合条件的记录！"));
        QCOMPARE(prompts->shown[0].icon, QMessageBox::Information);
        QVERIFY(!Button(IDC_START)->isEnabled());
    }

    void startPageBeyondTheTotal() {
        Open();
        PreCollect();
        Edit(IDC_START_PAGE)->setText("4");
        QTest::mouseClick(Button(IDC_START), Qt::LeftButton);
        QCOMPARE(prompts->shown.back().text, U("起始采集页码不能大于总页面个数!"));
        QCOMPARE(prompts->shown.back().caption, U("开始采集"));
        QVERIFY(!dlg->m_bRunning);
        QVERIFY(Button(IDC_START)->isEnabled());
    }

    void collectToTheEnd() {
        Open();
        PreCollect();
        Edit(IDC_START_PAGE)->setText("1");
        QTest::mouseClick(Button(IDC_START), Qt::LeftButton);
        QCOMPARE(dlg->ItemText(IDC_STATUS), U("采集进行中，请稍后..."));
        QVERIFY(!Button(IDC_PRECOLLECT)->isEnabled());
        QVERIFY(!Button(IDC_START)->isEnabled());
        QVERIFY(Button(IDC_STOP)->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(dlg->ItemText(IDC_STATUS), U("操作成功完成！"), 15000);
        QCOMPARE(dlg->ItemText(IDC_RECORDS), U("5 / 6"));
        QCOMPARE(dlg->ItemText(IDC_PAGES), U("3 / 3"));
        QCOMPARE(ListTitles(), QStringList{U("东莞塑料化工")});  // the last page's records
        QCOMPARE(dlg->ResultList()->item(0, 7)->text(), U("宁波市北仑区明州路8号"));
        QVERIFY(Button(IDC_PRECOLLECT)->isEnabled());
        QVERIFY(Button(IDC_START)->isEnabled());
        QVERIFY(!Button(IDC_STOP)->isEnabled());
        QCOMPARE(StoredRows(), 5);
        QCOMPARE(RecordStore(StorePath()).LoadLastPageIndex(), 3);
        QCOMPARE(prompts->shown.size(), size_t{1});  // only the found message: nothing asked

        // Again, keeping the records: the question is asked and No keeps them. The company of
        // page 3 is known, so with 跳过已采集公司 (on by default) it is not stored again.
        auto* skipKnown = qobject_cast<QCheckBox*>(dlg->GetDlgItem(IDC_SKIP_KNOWN));
        QVERIFY(skipKnown->isChecked());
        prompts->answers = {QMessageBox::No};
        Edit(IDC_START_PAGE)->setText("3");
        QTest::mouseClick(Button(IDC_START), Qt::LeftButton);
        QCOMPARE(prompts->shown.back().text, U("存在已经采集的数据。是否在采集前清空原有数据？"));
        QCOMPARE(prompts->shown.back().caption, U("确认"));
        QCOMPARE(prompts->shown.back().defaultButton, QMessageBox::No);
        QTRY_COMPARE_WITH_TIMEOUT(dlg->ItemText(IDC_STATUS), U("操作成功完成！"), 15000);
        QCOMPARE(StoredRows(), 5);
        // Turned off (and remembered), the company is still not stored again: that entry of
        // page 3 is stored.
        skipKnown->setChecked(false);
        QCOMPARE(RecordStore(StorePath()).LoadSetting("skipknown").value_or(""), std::string("0"));
        prompts->answers = {QMessageBox::No};
        QTest::mouseClick(Button(IDC_START), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(dlg->ItemText(IDC_STATUS), U("操作成功完成！"), 15000);
        QCOMPARE(StoredRows(), 5);

        // And clearing them: Yes empties the store before the run.
        prompts->answers = {QMessageBox::Yes};
        QTest::mouseClick(Button(IDC_START), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(dlg->ItemText(IDC_STATUS), U("操作成功完成！"), 15000);
        QCOMPARE(StoredRows(), 1);
    }

    void eachSavedRecordIsListedOnce() {
        Open();
        PreCollect("模具", "");
        QTest::mouseClick(Button(IDC_START), Qt::LeftButton);
        // Both records are saved before the window looks at the first notification: the
        // window's thread handles no event while it waits here.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (StoredRows() < 2 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        QCOMPARE(StoredRows(), 2);
        QCOMPARE(dlg->ResultList()->rowCount(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(dlg->ItemText(IDC_STATUS), U("操作成功完成！"), 10000);
        QCOMPARE(ListTitles(), (QStringList{U("广州化工有限公司"), U("宁波模具化工有限公司")}));
        QCOMPARE(dlg->ItemText(IDC_RECORDS), U("2 / 2"));
    }

    void pauseAfterNRecordsAndStopWhilePaused() {
        ServeFixtureSite(*server, 300);  // slow enough for the window to pause the worker
        Open();
        PreCollect();
        Edit(IDC_EVERY_N)->setText("2");
        Edit(IDC_PAUSE_SECONDS)->setText("30");
        QTest::mouseClick(Button(IDC_START), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(dlg->Controller().Word()->load(), RunState::Pause, 10000);
        QTest::qWait(1500);
        QCOMPARE(StoredRows(), 2);  // the worker waits
        QVERIFY(dlg->Controller().Paused());
        clock->Advance(std::chrono::seconds(30));
        QTRY_COMPARE_WITH_TIMEOUT(StoredRows(), 4, 10000);  // resumed, paused again after 4
        QTRY_COMPARE_WITH_TIMEOUT(dlg->Controller().Word()->load(), RunState::Pause, 10000);
        QTest::qWait(1500);
        QCOMPARE(StoredRows(), 4);

        QTest::mouseClick(Button(IDC_STOP), Qt::LeftButton);
        QCOMPARE(dlg->ItemText(IDC_STATUS), U("操作停止！"));
        QVERIFY(Button(IDC_PRECOLLECT)->isEnabled());
        QVERIFY(Button(IDC_START)->isEnabled());
        QVERIFY(!Button(IDC_STOP)->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(dlg->Controller().LiveWorkers(), size_t{0}, 3000);
        clock->Advance(std::chrono::seconds(100));  // timers that fire now change nothing
        QTest::qWait(300);
        QCOMPARE(StoredRows(), 4);
        QCOMPARE(dlg->ItemText(IDC_STATUS), U("操作停止！"));
    }

    void watchdogRestartsWithoutADuplicatedWalk() {
        // The second company's contact page stalls for 3 s the first time it is asked for.
        std::atomic<int> asked{0};
        server->Fallback([&](const Request& r) {
            Reply reply;
            if (r.key == "www.tarvola.com/company/detail/nbmj.html") {
                reply.body = GbkFixture("bordered.html");
                reply.delayMs = asked++ == 0 ? 3000 : 0;
            } else {
                reply.status = 404;
            }
            return reply;
        });
        server->Unroute("www.tarvola.com/company/detail/nbmj.html");
        Open();
        PreCollect();
        Edit(IDC_TIMEOUT)->setText("5");
        QTest::mouseClick(Button(IDC_START), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(StoredRows(), 1, 10000);
        QTest::qWait(200);
        clock->Advance(std::chrono::seconds(5));
        QTRY_COMPARE_WITH_TIMEOUT(dlg->Controller().Restarts(), 1, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(dlg->ItemText(IDC_STATUS), U("操作成功完成！"), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(dlg->Controller().LiveWorkers(), size_t{0}, 10000);
        int page2 = 0, page3 = 0;
        for (const auto& r : server->Requests()) {
            page2 += r.key.find("_p-2_") != std::string::npos;
            page3 += r.key.find("_p-3_") != std::string::npos;
        }
        QCOMPARE(page2, 1);
        QCOMPARE(page3, 1);
        QCOMPARE(dlg->m_nStartPage, 1);
    }

    void closingWhileRunningStopsTheWorker() {
        ServeFixtureSite(*server, 300);
        Open();
        PreCollect();
        QTest::mouseClick(Button(IDC_START), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(dlg->ItemText(IDC_PAGES), U("1 / 3"), 10000);
        // Asked first; "no" (the default) keeps the crawl and the window.
        QVERIFY(!dlg->close());
        QCOMPARE(prompts->shown.back().text, U("采集正在进行，确定要退出吗？"));
        QCOMPARE(prompts->shown.back().defaultButton, QMessageBox::No);
        QVERIFY(dlg->isVisible());
        QVERIFY(dlg->m_bRunning);
        prompts->answers = {QMessageBox::Yes};
        const auto t0 = std::chrono::steady_clock::now();
        QVERIFY(dlg->close());
        const auto waited = std::chrono::steady_clock::now() - t0;
        QVERIFY(waited < std::chrono::seconds(5));
        QCOMPARE(dlg->Controller().LiveWorkers(), size_t{0});  // it finished its record and left
        QVERIFY(StoredRows() <= 2);
        QVERIFY(!dlg->isVisible());
    }

    void networkFailureLetsTheUserTryAgain() {
        auto pages = std::make_shared<FakeFetcher::Shared>();
        pages->sessionOpens = false;
        auto rows = std::make_shared<MemoryStore::Shared>();
        CrawlDeps deps;
        deps.makeFetcher = [pages] { return std::make_unique<FakeFetcher>(pages); };
        deps.openStore = [rows](const std::string&, const std::atomic<bool>*) {
            return std::make_unique<MemoryStore>(rows);
        };
        dlg = std::make_unique<CCollectorDlg>(
            StorePath(), *prompts, *clock,
            [deps](const CrawlJob& job) { return CrawlWorker::Start(job, deps); });
        dlg->show();
        QTest::mouseClick(Button(IDC_PRECOLLECT), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(dlg->ItemText(IDC_STATUS), U("网络连接失败！"), 5000);
        QVERIFY(Button(IDC_PRECOLLECT)->isEnabled());  // not stuck: pre-collect can be tried again
        QVERIFY(!Button(IDC_START)->isEnabled());
        // The failure is said in a message, with its reason, not only in the status line.
        QCOMPARE(prompts->shown.size(), size_t{1});
        QVERIFY(prompts->shown.back().text.startsWith(U("网络连接失败！\n")));
        QVERIFY(prompts->shown.back().text.size() > 8);
        QCOMPARE(prompts->shown.back().icon, QMessageBox::Warning);
    }

    void aPreCollectAnswerDuringACollectIsIgnored() {
        TenCompanies site;
        site.contactMs = 100;
        dlg = std::make_unique<CCollectorDlg>(StorePath(), *prompts, *clock,
                                              site.Launcher(StorePath()));
        dlg->show();
        PreCollect();
        QCOMPARE(prompts->shown.size(), size_t{1});
        // Pre-collect again; before it answers, Start.
        site.Hold(true);
        QTest::mouseClick(Button(IDC_PRECOLLECT), Qt::LeftButton);
        QTest::mouseClick(Button(IDC_START), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(StoredRows() >= 2, 10000);
        site.Hold(false);  // the pending pre-collect answers in the middle of the run
        QTest::qWait(300);
        QCOMPARE(prompts->shown.size(), size_t{1});  // no found box
        QVERIFY(!Button(IDC_PRECOLLECT)->isEnabled());
        QVERIFY(!Button(IDC_START)->isEnabled());
        QCOMPARE(dlg->ItemText(IDC_STATUS), U("采集进行中，请稍后..."));
        QTRY_COMPARE_WITH_TIMEOUT(dlg->ItemText(IDC_STATUS), U("操作成功完成！"), 15000);
        QTRY_COMPARE_WITH_TIMEOUT(dlg->Controller().LiveWorkers(), size_t{0}, 5000);
        QCOMPARE(StoredRows(), 10);  // one worker: every company once
        QCOMPARE(dlg->ItemText(IDC_RECORDS), U("10 / 10"));
    }

    void stopThenStartWithClearingKeepsNothingOfTheOldRun() {
        TenCompanies site;
        site.contactMs = 300;
        dlg = std::make_unique<CCollectorDlg>(StorePath(), *prompts, *clock,
                                              site.Launcher(StorePath()));
        dlg->show();
        PreCollect();
        QTest::mouseClick(Button(IDC_START), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(StoredRows() >= 3, 10000);
        QTest::mouseClick(Button(IDC_STOP), Qt::LeftButton);
        // At once Start again and clear: the stopped worker still has a company in hand.
        prompts->answers = {QMessageBox::Yes};
        QTest::mouseClick(Button(IDC_START), Qt::LeftButton);
        QCOMPARE(prompts->shown.back().text, U("存在已经采集的数据。是否在采集前清空原有数据？"));
        QTRY_COMPARE_WITH_TIMEOUT(dlg->ItemText(IDC_STATUS), U("操作成功完成！"), 15000);
        QTRY_COMPARE_WITH_TIMEOUT(dlg->Controller().LiveWorkers(), size_t{0}, 5000);
        QTest::qWait(200);
        QCOMPARE(StoredRows(), 10);  // nothing of the old run after the clear
        QCOMPARE(dlg->ItemText(IDC_RECORDS), U("10 / 10"));
    }

    void failedPagesAreOfferedForRetry() {
        // The first company's contact page fails every try of the first run.
        for (auto answer : {QMessageBox::No, QMessageBox::Yes}) {
            cleanup();
            init();
            server->RouteFirst("company.tarvola.com/athena/contact/gzhg.html",
                               std::vector<Reply>(3, [] {
                                   Reply r;
                                   r.status = 503;
                                   return r;
                               }()));
            CrawlDeps deps = DefaultCrawlDeps();
            deps.wait = [](std::chrono::milliseconds, StopToken& stop) {
                return stop.StopRequested();
            };
            dlg = std::make_unique<CCollectorDlg>(
                StorePath(), *prompts, *clock,
                [deps](const CrawlJob& job) { return CrawlWorker::Start(job, deps); });
            dlg->show();
            PreCollect();
            prompts->answers = {answer};
            QTest::mouseClick(Button(IDC_START), Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(!Button(IDC_STOP)->isEnabled(), 15000);
            QCOMPARE(prompts->shown.back().text, U("有 1 个页面未能获取，现在重试吗？"));
            QCOMPARE(prompts->shown.back().icon, QMessageBox::Question);
            QCOMPARE(prompts->shown.back().buttons, QMessageBox::Yes | QMessageBox::No);
            if (answer == QMessageBox::No) {
                QCOMPARE(dlg->ItemText(IDC_STATUS), U("操作完成，有 1 个页面未能获取。"));
                QCOMPARE(RecordStore(StorePath()).CountKeptFailures(), 1);
                QCOMPARE(RecordStore(StorePath()).MemberRecordById(1)->person, std::string());
                continue;
            }
            // Yes: the kept page is fetched again and fills the company's row in place.
            QTRY_COMPARE_WITH_TIMEOUT(dlg->ItemText(IDC_STATUS), U("操作成功完成！"), 15000);
            QCOMPARE(RecordStore(StorePath()).CountKeptFailures(), 0);
            QCOMPARE(StoredRows(), 5);
            QCOMPARE(RecordStore(StorePath()).MemberRecordById(1)->person, Gbk("陈明"));
            QVERIFY(Button(IDC_START)->isEnabled());
        }
    }

    void storeFailureEndsTheRunWithItsReason() {
        auto rows = std::make_shared<MemoryStore::Shared>();
        rows->failAfter = 1;  // the second append fails
        CrawlDeps deps = DefaultCrawlDeps();
        deps.openStore = [rows](const std::string&, const std::atomic<bool>*) {
            return std::make_unique<MemoryStore>(rows);
        };
        dlg = std::make_unique<CCollectorDlg>(
            StorePath(), *prompts, *clock,
            [deps](const CrawlJob& job) { return CrawlWorker::Start(job, deps); });
        dlg->show();
        PreCollect();
        QTest::mouseClick(Button(IDC_START), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(dlg->ItemText(IDC_STATUS), U("操作停止！"), 10000);
        QCOMPARE(prompts->shown.back().text, U("数据库错误，采集已停止：disk I/O error"));
        QCOMPARE(prompts->shown.back().icon, QMessageBox::Critical);
        QCOMPARE(dlg->ItemText(IDC_RECORDS), U("1 / 6"));  // only what was stored is counted
        QVERIFY(Button(IDC_PRECOLLECT)->isEnabled());
        QVERIFY(Button(IDC_START)->isEnabled());
        QVERIFY(!Button(IDC_STOP)->isEnabled());
        QVERIFY(!dlg->m_bRunning);
    }

    void previewShowsTheNewestForty() {
        {
            RecordStore store(StorePath());
            for (int i = 1; i <= 45; ++i) {
                MemberRecord r;
                r.title = std::to_string(i);
                store.AppendMemberRecord(r);
            }
        }
        Open();
        QTest::mouseClick(Button(IDC_PREVIEW), Qt::LeftButton);
        QCOMPARE(dlg->ResultList()->rowCount(), 40);
        QCOMPARE(dlg->ResultList()->item(0, 0)->text(), U("45"));
        QCOMPARE(dlg->ResultList()->item(39, 0)->text(), U("6"));
    }

    void exportWritesTheFile() {
        Open();
        QTest::mouseClick(Button(IDC_EXPORT_TEXT), Qt::LeftButton);
        QCOMPARE(prompts->shown.back().text, U("没有任何可以导出的数据！"));
        QCOMPARE(prompts->shown.back().caption, U("提示"));
        QVERIFY(prompts->dialogs.empty());

        {
            RecordStore store(StorePath());
            store.AppendMemberRecord(MemberRecord{Gbk("甲公司"), Gbk("张伟")});
            store.AppendMemberRecord(MemberRecord{"B", "", "", "", "", "", "", "a,b", ""});
        }
        const QString path = QString::fromStdString(dir->File("out.csv"));
        prompts->savePath = path;
        QTest::mouseClick(Button(IDC_EXPORT_CSV), Qt::LeftButton);
        // 导出到Excel offers a workbook first and CSV second; a .csv name gives the CSV.
        QCOMPARE(
            prompts->dialogs.back(),
            U("Tarvola版本采集结果导出.xlsx|Excel 工作簿 (*.xlsx);;CSV文件 (*.csv);;Excel "
              "工作簿，每家公司一行 (*.xlsx);;CSV文件，每家公司一行 (*.csv);;所有文件 (*)|xlsx"));
        QCOMPARE(QByteArray::fromStdString(ReadFileBytes(path.toStdString())),
                 QByteArray::fromStdString(Gbk("甲公司,张伟,,,,,,,\r\n") + "B,,,,,,,\"a,b\",\r\n"));
        QCOMPARE(dlg->ItemText(IDC_STATUS), U("已导出 2 条记录到 ") + path);
        // The next export opens in the folder of this one.
        prompts->savePath = QString::fromStdString(dir->File("out.txt"));
        QTest::mouseClick(Button(IDC_EXPORT_TEXT), Qt::LeftButton);
        QCOMPARE(prompts->dialogs.back(),
                 QString::fromStdString(dir->Path()) +
                     U("/Tarvola版本采集结果导出.txt|文本文件 (*.txt);;文本文件，每家公司一行 "
                       "(*.txt);;所有文件 (*)|txt"));
        QCOMPARE(ReadFileBytes(dir->File("out.txt")), ReadFileBytes(path.toStdString()));

        prompts->savePath = QString::fromStdString(dir->File("out.xlsx"));
        QTest::mouseClick(Button(IDC_EXPORT_CSV), Qt::LeftButton);
        QCOMPARE(ReadFileBytes(dir->File("out.xlsx")).substr(0, 2), std::string("PK"));  // a zip
        // "Each company once": the same company twice, the newest row written.
        {
            RecordStore store(StorePath());
            store.AppendMemberRecord(MemberRecord{Gbk("甲公司 "), Gbk("李娜")});
        }
        prompts->savePath = QString::fromStdString(dir->File("unique.csv"));
        prompts->chosenFilter = U("CSV文件，每家公司一行 (*.csv)");
        QTest::mouseClick(Button(IDC_EXPORT_CSV), Qt::LeftButton);
        prompts->chosenFilter.clear();
        QCOMPARE(
            QByteArray::fromStdString(ReadFileBytes(dir->File("unique.csv"))),
            QByteArray::fromStdString("B,,,,,,,\"a,b\",\r\n" + Gbk("甲公司 ,李娜,,,,,,,\r\n")));
        QCOMPARE(dlg->ItemText(IDC_STATUS), U("已导出 2 条记录到 ") + prompts->savePath.value());

        // A file that cannot be written is a clear error.
        const size_t before = prompts->shown.size();
        prompts->savePath = QString::fromStdString(dir->File("no/such/dir.txt"));
        QTest::mouseClick(Button(IDC_EXPORT_TEXT), Qt::LeftButton);
        QCOMPARE(prompts->shown.size(), before + 1);
        QVERIFY(prompts->shown.back().text.contains(U("无法创建导出文件")));
        QVERIFY(prompts->shown.back().text.contains(U("没有这个文件或文件夹（")));
    }

    void numbersOutOfRangeStartNothing() {
        Open();
        PreCollect();  // 3 pages
        struct Case {
            int id;
            const char* text;
            const char* message;
        };
        const Case cases[] = {
            {IDC_START_PAGE, "0", "起始页面应为 1 到 3 之间的整数！"},
            {IDC_START_PAGE, "", "起始页面应为 1 到 3 之间的整数！"},
            {IDC_EVERY_N, "100001", "每采集的个数应为 0 到 100000 之间的整数！"},
            {IDC_EVERY_N, "", "每采集的个数应为 0 到 100000 之间的整数！"},
            {IDC_PAUSE_SECONDS, "99999999999999", "等待秒数应为 0 到 86400 之间的整数！"},
            {IDC_TIMEOUT, "86401", "超时秒数应为 0 到 86400 之间的整数！"},
            {IDC_PARALLEL, "0", "并发数应为 1 到 32 之间的整数！"},
            {IDC_PARALLEL, "33", "并发数应为 1 到 32 之间的整数！"},
        };
        for (const Case& c : cases) {
            const QString before = dlg->ItemText(c.id);
            Edit(c.id)->setText(QString::fromUtf8(c.text));
            QTest::mouseClick(Button(IDC_START), Qt::LeftButton);
            QCOMPARE(prompts->shown.back().text, U(c.message));
            QVERIFY(!dlg->m_bRunning);
            QVERIFY(Button(IDC_START)->isEnabled());
            Edit(c.id)->setText(before);
        }
        QCOMPARE(StoredRows(), 0);
    }

    void parallelSettingReachesTheWorker() {
        std::atomic<int> lanes{0};
        dlg = std::make_unique<CCollectorDlg>(
            StorePath(), *prompts, *clock, [&lanes](const CrawlJob& job) {
                if (job.nMode == CRAWL_MODE_COLLECT) {
                    lanes = job.nLanes;
                }
                return CrawlWorker::Start(job, DefaultCrawlDeps());
            });
        dlg->show();
        QCOMPARE(dlg->ItemText(IDC_PARALLEL), U("1"));
        PreCollect();
        Edit(IDC_PARALLEL)->setText("4");
        QTest::mouseClick(Button(IDC_START), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(dlg->ItemText(IDC_STATUS), U("操作成功完成！"), 15000);
        QCOMPARE(lanes.load(), 4);
        QCOMPARE(StoredRows(), 5);
        RecordStore store(StorePath());
        QStringList titles;
        store.ForEachMemberRow(
            [&](const RecordStore::RawRow& row) { titles << QString::fromUtf8(row[0]); });
        QStringList expected;
        for (const MemberRecord& r : FixtureSiteRows()) {
            expected << QString::fromStdString(r.title);
        }
        QCOMPARE(titles, expected);  // listing order kept
    }

    void theSearchOnScreenIsTheOneCollected() {
        Open();
        PreCollect("化工", "广东");
        QVERIFY(Button(IDC_START)->isEnabled());
        // Typing another search takes back Start and the totals until it is pre-collected.
        QTest::keyClicks(dlg->ConditionPage()->Industry(), U("x"));
        QVERIFY(!Button(IDC_START)->isEnabled());
        QCOMPARE(dlg->ItemText(IDC_RECORDS), U("0 / 0"));
        QCOMPARE(dlg->ItemText(IDC_PAGES), U("0 / 0"));

        // A search without matches says so, as a search with matches does.
        const size_t before = prompts->shown.size();
        dlg->ConditionPage()->Industry()->setText(U("游艇"));
        dlg->ConditionPage()->Region()->setText(QString());
        QTest::mouseClick(Button(IDC_PRECOLLECT), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(prompts->shown.size(), before + 1, 10000);
        QCOMPARE(prompts->shown.back().text, U("没有找到符合条件的记录！"));
        QCOMPARE(prompts->shown.back().icon, QMessageBox::Information);
        QVERIFY(!Button(IDC_START)->isEnabled());

        // The search of the last pre-collect comes back with the next start of the window.
        dlg->ConditionPage()->Industry()->setText(U("化工"));
        dlg->ConditionPage()->Region()->setText(U("广东"));
        QTest::mouseClick(Button(IDC_PRECOLLECT), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(prompts->shown.size(), before + 2, 10000);
        dlg.reset();
        Open();
        QCOMPARE(dlg->ConditionPage()->Industry()->text(), U("化工"));
        QCOMPARE(dlg->ConditionPage()->Region()->text(), U("广东"));
    }

    void theWindowGrowsAndCutCellsShowTheirText() {
        Open();
        const QSize smallest = dlg->size();
        QCOMPARE(dlg->minimumSize(), smallest);
        const QRect list = dlg->ResultList()->geometry();
        const QRect csv = Button(IDC_EXPORT_CSV)->geometry();
        const int width7 = dlg->ResultList()->columnWidth(7);
        dlg->resize(smallest + QSize(200, 150));
        QCOMPARE(dlg->ResultList()->size(), list.size() + QSize(200, 150));
        QCOMPARE(Button(IDC_EXPORT_CSV)->pos(), csv.topLeft() + QPoint(200, 150));
        QCOMPARE(dlg->ResultList()->columnWidth(7), width7);
        QVERIFY(dlg->ResultList()->geometry().right() < dlg->width());

        {
            RecordStore store(StorePath());
            MemberRecord r{Gbk("甲公司")};
            r.address = Gbk(std::string(40, 'x') + "广州市天河区黄埔大道100号");
            r.zip = "510000";
            store.AppendMemberRecord(r);
        }
        QTest::mouseClick(Button(IDC_PREVIEW), Qt::LeftButton);
        QTableWidget* table = dlg->ResultList();
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
