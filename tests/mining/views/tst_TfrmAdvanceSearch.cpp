// The search and mining view driven through its controls: criteria, grid marking and colours,
// the search history file, the close query, and a search and a mining run against the demo
// marketplace.
#include "TestPrompt.h"
#include "TestWindow.h"
#include "extract/MarketProcess.h"

#include "mining/SearchCriteria.h"
#include "mining/views/TfrmAdvanceSearch.h"
#include "settings/IniFile.h"
#include "store/RunRecords.h"
#include "store/TDM.h"
#include "text/Formats.h"
#include "text/GbkCodec.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFrame>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>

namespace {

const QColor kRed(255, 0, 0);
const QColor kTint(232, 243, 255);

// The main window over a fresh data folder, showing the search view.
struct SearchWindow
{
    TestWindow w;
    TfrmAdvanceSearch* view = nullptr;

    // Points the marketplace hosts of a new configuration at a demo marketplace on port.
    void useMarket(int port)
    {
        IniFile ini(w.dataFile(QStringLiteral("config.ini")));
        const QString host = QStringLiteral("127.0.0.1:%1").arg(port);
        const QString base = QStringLiteral("http://") + host;
        const QString market = QStringLiteral("Market");
        ini.setValue(market, QStringLiteral("SearchHost"), host);
        ini.setValue(market, QStringLiteral("RatingHost"), base);
        ini.setValue(market, QStringLiteral("SnapHost"), base);
        ini.setValue(market, QStringLiteral("Domain"), QStringLiteral("127.0.0.1"));
        ini.setValue(market, QStringLiteral("HomePage"), base + u'/');
        ini.setValue(market, QStringLiteral("TestUrl"), base + u'/');
        // Failed pages are retried at once, so a test of the failure path stays short.
        ini.setValue(QStringLiteral("Net"), QStringLiteral("RetryDelay"), QStringLiteral("10"));
        QVERIFY(ini.save());
    }

    bool open()
    {
        if (!w.start())
            return false;
        w.main->findChild<QAction*>(QStringLiteral("miSearch"))->trigger();
        view = w.main->findChild<TfrmAdvanceSearch*>(QStringLiteral("frmAdvanceSearch"));
        return view && view->isVisible();
    }

    template <typename T> T* find(const char* name) const
    {
        T* child = view->findChild<T*>(QLatin1String(name));
        if (!child)
            qWarning("no %s", name);
        return child;
    }
    QTableWidget* grid() const { return find<QTableWidget>("searchGrid"); }
    QString cell(int row, int column) const { return grid()->item(row - 1, column)->text(); }
    QVariant role(int row, int column, int role) const { return grid()->item(row - 1, column)->data(role); }
    QStringList log() const { return find<QPlainTextEdit>("searchList")->toPlainText().split(u'\n'); }

    void click(const char* name) { QTest::mouseClick(find<QAbstractButton>(name), Qt::LeftButton); }
    void clickRow(int row)
    {
        find<QTabWidget>("searchPages")->setCurrentIndex(1);
        QTableWidget* g = grid();
        const QRect cell = g->visualRect(g->model()->index(row - 1, 3));
        QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, cell.center());
    }
};

QList<ShopRow> sampleShops()
{
    return {
        ShopRow::fromColumns(
            {"晨风小铺", "晨风数码", "手机配件", "http://127.0.0.1/shop/1.htm", "12", "杭州", "手机"}),
        ShopRow::fromColumns(
            {"linmu_88", "林木家居", "床上用品", "http://127.0.0.1/shop/2.htm", "340", "苏州", ""}),
        ShopRow::fromColumns(
            {"阿青", "青青花坊", "鲜花", "http://127.0.0.1/shop/3.htm", "7", "成都", "园艺"}),
    };
}

// The readers lower ASCII letters of every page before they read it; nothing else.
QString foldAscii(QString text)
{
    for (QChar& c : text)
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + 32);
    return text;
}

// Pixels of a grid row drawn in a clear red (the text of a marked row).
int redPixels(QTableWidget* grid, int row)
{
    const QRect area =
        grid->visualRect(grid->model()->index(row, 2)).united(grid->visualRect(grid->model()->index(row, 5)));
    const QImage image = grid->viewport()->grab(area).toImage();
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            n += c.red() > 170 && c.green() < 90 && c.blue() < 90;
        }
    return n;
}

QJsonObject readJson(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

} // namespace

class TestAdvanceSearch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { REQUIRE_TEST_STORE(); }
    void cleanupTestCase() { teststore::stopServer(); }

    void anUnfinishedRunIsOfferedAndContinuedFromTheGrid()
    {
        TestPrompt prompt;
        SearchWindow s;
        QVERIFY(s.w.start());
        {
            // A run a crash left: its first shop done, the second not; and a later cancelled run.
            TConnection cn;
            QVERIFY(cn.open(s.w.store()));
            QList<runrecords::Shop> shops;
            const QStringList addresses{"http://127.0.0.1/shop/1.htm", "http://elsewhere.example/shop/2.htm"};
            for (int i = 0; i < 2; ++i) {
                QVERIFY(cn.exec(QString("insert into dianbase(dianzhu, webaddr) values('掌柜%1', '%2')")
                                    .arg(i + 1)
                                    .arg(addresses[i])));
                shops << runrecords::Shop{
                    i + 1,
                    i + 1,
                    addresses[i],
                    {QString("掌柜%1").arg(i + 1), "店", "", addresses[i], "0", "", "不限"},
                    i == 0 ? runrecords::ShopState::Done : runrecords::ShopState::Pending,
                    0};
            }
            const qint64 id = runrecords::create(cn, 1, 5000, false, shops, nullptr);
            QVERIFY(id > 0);
            QVERIFY(runrecords::markShop(cn, id, 1, runrecords::ShopState::Done, 40, nullptr));
        }
        s.w.main->findChild<QAction*>(QStringLiteral("miSearch"))->trigger();
        s.view = s.w.main->findChild<TfrmAdvanceSearch*>(QStringLiteral("frmAdvanceSearch"));
        QVERIFY(s.view);
        QFrame* bar = s.find<QFrame>("resumeBar");
        QVERIFY(bar->isVisible());
        QVERIFY(s.find<QLabel>("resumeText")->text().contains(QStringLiteral("已完成1个掌柜，共2个")));
        QCOMPARE(s.find<QPushButton>("btnResumeRun")->text(), QStringLiteral("继续"));
        QVERIFY(prompt.informations.isEmpty()); // no box in the way

        s.click("btnResumeRun");
        QVERIFY(bar->isHidden());
        QCOMPARE(s.find<QTabWidget>("searchPages")->currentIndex(), 1);
        QCOMPARE(s.cell(1, 2), QStringLiteral("掌柜1"));
        QCOMPARE(s.cell(2, 5), QStringLiteral("http://elsewhere.example/shop/2.htm"));
        QCOMPARE(s.cell(1, 1), QString()); // the finished shop is unmarked
        QVERIFY(!s.cell(2, 1).isEmpty());
        // The shop off the marketplace is passed over; the run ends recorded as finished.
        QTRY_VERIFY_WITH_TIMEOUT(s.find<QWidget>("searchPages")->isEnabled(), 10000);
        TConnection cn;
        QVERIFY(cn.open(s.w.store()));
        QCOMPARE(runrecords::lastUnfinished(cn, nullptr), 0);
        QVERIFY(prompt.errors.isEmpty());
    }

    void controlsStartWithTheirValues()
    {
        TestPrompt prompt;
        SearchWindow s;
        QVERIFY(s.open());
        QCOMPARE(s.w.main->windowTitle(), QStringLiteral("Kestrova--高级搜索"));

        auto* pages = s.find<QTabWidget>("searchPages");
        QCOMPARE(pages->count(), 2);
        QCOMPARE(pages->widget(0)->objectName(), QStringLiteral("advancePage"));
        QCOMPARE(pages->tabText(0), QStringLiteral("高级搜索"));
        QCOMPARE(pages->widget(1)->objectName(), QStringLiteral("resultPage"));
        QCOMPARE(pages->tabText(1), QStringLiteral("搜索结果"));
        QCOMPARE(pages->currentIndex(), 0);

        for (const char* name : {"shopname", "sellername", "keybiz", "loc"})
            QVERIFY(s.find<QLineEdit>(name)->text().isEmpty());
        auto* id = s.find<QComboBox>("id");
        QCOMPARE(id->count(), 50);
        QCOMPARE(id->currentIndex(), 0);
        QCOMPARE(id->maxVisibleItems(), 15);
        // The list opens with 15 items in view, whatever the style would do.
        id->showPopup();
        QAbstractItemView* list = id->view();
        QTRY_VERIFY(list->isVisible());
        const int rowHeight = list->sizeHintForRow(0);
        QVERIFY(rowHeight > 0);
        QCOMPARE(list->viewport()->height() / rowHeight, 15);
        id->hidePopup();
        for (int i = 0; i < 50; ++i)
            QCOMPARE(id->itemText(i), QString::fromUtf16(SearchCriteria::categories()[i].text));
        for (int n = 1; n <= 15; ++n) {
            auto* box = s.view->findChild<QCheckBox*>(QStringLiteral("ratesum%1").arg(n));
            QVERIFY(box);
            QVERIFY(!box->isChecked());
            QVERIFY(!box->icon().isNull());
        }

        // The track bar drives both number labels.
        auto* sel = s.find<QSlider>("searchPageSel");
        QCOMPARE(sel->minimum(), 0);
        QCOMPARE(sel->maximum(), 200);
        QCOMPARE(sel->value(), 10);
        QCOMPARE(s.find<QLabel>("selCount")->text(), QStringLiteral("10"));
        QCOMPARE(s.find<QLabel>("selNums")->text(), QStringLiteral("10"));
        sel->setFocus();
        QTest::keyClick(sel, Qt::Key_End);
        QCOMPARE(s.find<QLabel>("selCount")->text(), QStringLiteral("200"));
        QCOMPARE(s.find<QLabel>("selNums")->text(), QStringLiteral("200"));
        QTest::keyClick(sel, Qt::Key_Home);
        QCOMPARE(s.find<QLabel>("selCount")->text(), QStringLiteral("0"));
        QCOMPARE(s.find<QLabel>("selNums")->text(), QStringLiteral("0"));

        QCOMPARE(s.log(), QStringList{formats::shortDate(QDate::currentDate())});

        QTableWidget* grid = s.grid();
        const QStringList headers = {"序号", "选择",     "掌柜", "店铺名",  "主营",
                                     "网址", "宝贝数量", "地点", "商品种类"};
        const int widths[] = {30, 30, 150, 200, 280, 180, 60, 90, 160};
        QCOMPARE(grid->columnCount(), 9);
        for (int c = 0; c < 9; ++c) {
            QCOMPARE(grid->horizontalHeaderItem(c)->text(), headers[c]);
            QCOMPARE(grid->columnWidth(c), widths[c]);
        }
        QCOMPARE(grid->rowCount(), 1);
        QCOMPARE(grid->rowHeight(0), 20);
        QCOMPARE(grid->selectionBehavior(), QAbstractItemView::SelectRows);

        auto* from = s.find<QSpinBox>("fromData");
        auto* to = s.find<QSpinBox>("toData");
        QCOMPARE(std::tuple(from->minimum(), from->maximum(), from->value()), std::tuple(1, 1000000, 1));
        QCOMPARE(std::tuple(to->minimum(), to->maximum(), to->value()), std::tuple(1, 1000000, 5000));
        QVERIFY(s.find<QCheckBox>("infoDetailCheck")->isChecked());
        QCOMPARE(s.find<QCheckBox>("newOnlyCheck")->text(), QStringLiteral("只取新评价"));
        QVERIFY(!s.find<QCheckBox>("newOnlyCheck")->isChecked());
        QCOMPARE(s.find<QAbstractButton>("saveSearch")->text(), QStringLiteral("开始挖掘"));
        QCOMPARE(s.find<QAbstractButton>("search")->text(), QStringLiteral("搜 索"));
        QVERIFY(s.find<QFrame>("searchPanel")->isHidden());
        QVERIFY(s.find<QFrame>("excavatePanel")->isHidden());
    }

    void refusedSearchChangesNothing()
    {
        TestPrompt prompt;
        SearchWindow s;
        QVERIFY(s.open());
        s.view->fillResultGrid(sampleShops());
        // A location and levels alone are not enough.
        s.find<QLineEdit>("loc")->setText(QStringLiteral("杭州"));
        s.click("ratesum3");
        s.click("search");
        QCOMPARE(prompt.informations, QStringList{SearchCriteria::refusalMessage()});
        QCOMPARE(s.log().size(), 1);
        QCOMPARE(s.grid()->rowCount(), 3);
        QVERIFY(s.find<QFrame>("searchPanel")->isHidden());
        QVERIFY(s.find<QWidget>("advancePanel")->isEnabled());
        QVERIFY(s.find<QTabWidget>("searchPages")->isEnabled());
        QVERIFY(!s.w.main->running().downloading());
    }

    void marksAndColours()
    {
        TestPrompt prompt;
        SearchWindow s;
        QVERIFY(s.open());
        s.find<QComboBox>("id")->setCurrentIndex(1);
        s.view->fillResultGrid(sampleShops());
        QCOMPARE(s.grid()->rowCount(), 3);
        QCOMPARE(s.cell(2, 0), QStringLiteral("2"));
        QCOMPARE(s.cell(2, 2), QStringLiteral("linmu_88"));
        QCOMPARE(s.cell(2, 7), QStringLiteral("苏州"));
        QCOMPARE(s.cell(1, 8), QStringLiteral("手机"));
        QCOMPARE(s.cell(2, 8), QString());
        QCOMPARE(s.cell(3, 8), QStringLiteral("园艺"));

        // Odd rows are tinted, even rows are not; nothing is red before marking.
        for (int c = 0; c < 9; ++c) {
            QCOMPARE(s.role(1, c, Qt::BackgroundRole).value<QBrush>().color(), kTint);
            QVERIFY(!s.role(2, c, Qt::BackgroundRole).isValid());
            QVERIFY(!s.role(1, c, Qt::ForegroundRole).isValid());
        }

        s.clickRow(1);
        QCOMPARE(s.cell(1, 1), QStringLiteral("Y"));
        for (int c = 0; c < 9; ++c) {
            QCOMPARE(s.role(1, c, Qt::ForegroundRole).value<QBrush>().color(), kRed);
            QCOMPARE(s.role(1, c, Qt::BackgroundRole).value<QBrush>().color(), kTint); // both
            QVERIFY(!s.role(2, c, Qt::ForegroundRole).isValid());
        }
        // The clicked row is also the selected one; its text is drawn red all the same.
        QVERIFY(s.grid()->selectionModel()->isRowSelected(0, {}));
        const int selectedRed = redPixels(s.grid(), 0);
        QVERIFY2(selectedRed > 20, "the selected marked row is not drawn red");
        // About as much red as the same row shows unselected (only the glyph edges blend
        // differently with the selection's colour).
        s.grid()->clearSelection();
        const int unselectedRed = redPixels(s.grid(), 0);
        QVERIFY2(
            selectedRed * 2 >= unselectedRed,
            qPrintable(
                QStringLiteral("%1 red pixels selected, %2 unselected").arg(selectedRed).arg(unselectedRed)));
        s.grid()->selectRow(0);
        QCOMPARE(redPixels(s.grid(), 1), 0);
        s.clickRow(1);
        QVERIFY(s.cell(1, 1).isEmpty());
        QVERIFY(!s.role(1, 4, Qt::ForegroundRole).isValid());

        // The check boxes act on every click, whatever they show.
        s.clickRow(2);
        s.click("selAll");
        s.click("selAll");
        for (int r = 1; r <= 3; ++r)
            QCOMPARE(s.cell(r, 1), QStringLiteral("Y"));
        s.click("cancelSel");
        s.click("cancelSel");
        for (int r = 1; r <= 3; ++r) {
            QVERIFY(s.cell(r, 1).isEmpty());
            QVERIFY(!s.role(r, 2, Qt::ForegroundRole).isValid());
        }

        // Without results there is nothing to mark: neither by a click nor by "全选 ".
        s.view->fillResultGrid({});
        QCOMPARE(s.grid()->rowCount(), 1);
        for (int c = 0; c < 9; ++c)
            QVERIFY(s.cell(1, c).isEmpty());
        s.click("selAll");
        s.clickRow(1);
        QVERIFY(s.cell(1, 1).isEmpty());

        // Mining nothing marked is refused and leaves the panels usable.
        s.view->fillResultGrid(sampleShops());
        s.click("saveSearch");
        QCOMPARE(prompt.informations.size(), 1);
        QVERIFY(s.find<QFrame>("excavatePanel")->isHidden());
        QVERIFY(s.find<QWidget>("resultToolPanel")->isEnabled());
        QVERIFY(s.find<QTabWidget>("searchPages")->isEnabled());
    }

    void historyRoundTrip()
    {
        TestPrompt prompt;
        SearchWindow s;
        QVERIFY(s.open());
        const QString file = s.w.dataFile(QStringLiteral("searchHistory.ini"));

        // Loading without a file is reported and keeps the log.
        const QStringList before = s.log();
        s.click("bsSkinButton4");
        QCOMPARE(prompt.errors.size(), 1);
        QCOMPARE(s.log(), before);

        // A history written elsewhere: GBK, CR LF, an empty line and a character outside GBK.
        const QStringList lines = {"2024-03-01", "第1次搜索条件:", "店铺名：A&B  ",
                                   "",           "掌柜名：小🐟",    "----"};
        std::string bytes;
        for (const QString& line : lines)
            bytes += gbk::fromQString(line) + "\r\n";
        {
            QFile out(file);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(bytes.data(), static_cast<qint64>(bytes.size()));
        }
        s.click("bsSkinButton4");
        QCOMPARE(s.log(), lines);
        QFile::remove(file);
        s.click("bsSkinButton2");
        {
            QFile in(file);
            QVERIFY(in.open(QIODevice::ReadOnly));
            QCOMPARE(in.readAll(), QByteArray::fromStdString(bytes));
        }
        s.click("bsSkinButton1");
        QCOMPARE(s.find<QPlainTextEdit>("searchList")->toPlainText(), QString());
        s.click("bsSkinButton4");
        QCOMPARE(s.log(), lines);
        QCOMPARE(prompt.errors.size(), 1);
    }

    void closeRefusedWhileRatingsAreWritten()
    {
        TestPrompt prompt;
        SearchWindow s;
        QVERIFY(s.open());
        auto work = std::make_unique<QObject>(); // ratings being written
        s.w.main->running().add(work.get(), {}, [] { return true; });
        QVERIFY(!s.view->close());
        QVERIFY(s.view->isVisible());
        QCOMPARE(prompt.informations, QStringList{QStringLiteral("正在保存信息，请稍候再关闭窗口!")});
        work.reset();
        QVERIFY(s.view->FormCloseQuery());
        QCOMPARE(prompt.informations.size(), 1);
    }

    void failedDownloadIsReportedAndEndsTheSearch()
    {
        TestPrompt prompt;
        SearchWindow s;
        s.useMarket(1); // nothing listens there
        QVERIFY(s.open());
        s.find<QLineEdit>("shopname")->setText(QStringLiteral("花"));
        s.click("search");
        QVERIFY(!s.find<QFrame>("searchPanel")->isHidden());
        QTRY_VERIFY_WITH_TIMEOUT(s.find<QFrame>("searchPanel")->isHidden(), 30000);
        QCOMPARE(prompt.noticeTitles, QStringList{QStringLiteral("提示")});
        QCOMPARE(prompt.informations,
                 QStringList{QStringLiteral("网络连阻塞或断开，请检查网络并退出程序重新启动！")});
        QVERIFY(s.find<QWidget>("advancePanel")->isEnabled());
        QVERIFY(s.find<QTabWidget>("searchPages")->isEnabled());
        QVERIFY(!s.w.main->running().downloading());
    }

    // Both cancel buttons work while the tabs are disabled, and the status-bar gauge follows
    // the search while another view is shown.
    void cancelBothRuns()
    {
        TestPrompt prompt;
        MarketProcess market({"--shops", "300", "--ratings", "400", "--latency", "300"});
        QVERIFY(market.running());
        SearchWindow s;
        s.useMarket(market.port());
        QVERIFY(s.open());

        s.find<QComboBox>("id")->setCurrentIndex(1);
        s.find<QSlider>("searchPageSel")->setValue(0);
        s.click("search");
        QVERIFY(!s.find<QTabWidget>("searchPages")->isEnabled());
        QVERIFY(!s.find<QWidget>("advancePanel")->isEnabled());
        QVERIFY(s.w.main->running().downloading());
        QTRY_VERIFY_WITH_TIMEOUT(s.find<QProgressBar>("searchProgress")->value() > 5, 10000);

        s.w.main->findChild<QAction*>(QStringLiteral("miBrowser"))->trigger();
        QVERIFY(!s.view->isVisible());
        QCOMPARE(s.view->backgroundProgress(), s.find<QProgressBar>("searchProgress")->value());
        QTRY_VERIFY(s.w.find<QProgressBar>("gauge1")->isVisible());
        s.w.main->findChild<QAction*>(QStringLiteral("miSearch"))->trigger();

        QVERIFY(s.find<QPushButton>("cancelSearch")->isEnabled());
        s.click("cancelSearch");
        QTRY_VERIFY_WITH_TIMEOUT(s.find<QFrame>("searchPanel")->isHidden(), 10000);
        QVERIFY(s.find<QTabWidget>("searchPages")->isEnabled());
        QVERIFY(!s.w.main->running().downloading());
        QVERIFY(!s.w.find<QProgressBar>("gauge1")->isVisible());
        QVERIFY(s.log().last().startsWith(u'-'));
        QVERIFY(prompt.informations.isEmpty());

        // The shops of the first page are kept. The first of them is mined and cancelled while
        // its rating pages come in; what was read is saved.
        QVERIFY(!s.cell(1, 5).isEmpty());
        s.clickRow(1);
        s.click("saveSearch");
        QVERIFY(!s.find<QFrame>("excavatePanel")->isHidden());
        QVERIFY(!s.find<QWidget>("resultToolPanel")->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(s.find<QLabel>("havedFinishNum")->text() != QStringLiteral("0个"), 20000);
        QVERIFY(s.find<QPushButton>("saveCancel")->isEnabled());
        // A shop the browser sends meanwhile is refused; the run keeps its grid.
        const QString mining = s.cell(1, 5);
        s.w.main->mineShops({sampleShops().at(1)});
        QCOMPARE(s.cell(1, 5), mining);
        QCOMPARE(prompt.informations.size(), 1);
        s.click("saveCancel");
        QTRY_VERIFY_WITH_TIMEOUT(s.find<QFrame>("excavatePanel")->isHidden() && !s.w.main->running().saving(),
                                 20000);
        QVERIFY(s.find<QWidget>("resultToolPanel")->isEnabled());
        QVERIFY(s.find<QTabWidget>("searchPages")->isEnabled());
        QVERIFY(!s.w.main->running().downloading());
        TQuery& q = *s.w.main->dm().ADOQuery1;
        q.SetSQL(QStringLiteral("select count(*) from pjInfo"));
        QVERIFY(q.Open());
        const int stored = q.value(0, 0).toInt();
        QVERIFY2(stored > 0 && stored < 400, qPrintable(QString::number(stored)));
        QVERIFY(prompt.errors.isEmpty());
    }

    // One search and one mining run through the controls; the database then holds the
    // marked shops with their profiles and every rating once.
    void searchAndMineAgainstTheMarket()
    {
        TestPrompt prompt;
        QTemporaryDir tmp;
        const QString truthFile = tmp.filePath(QStringLiteral("truth.json"));
        MarketProcess market({"--shops", "2500", "--ratings", "45", "--dump-truth", truthFile});
        QVERIFY(market.running());
        const QJsonArray truth = readJson(truthFile).value(QStringLiteral("shops")).toArray();
        QVERIFY(!truth.isEmpty());

        // The category with the most shops, so that the result takes more than one page.
        QHash<QString, QList<QJsonObject>> byCategory;
        // Shops of "bseller" blocks are not listed by the directory's readers.
        for (const QJsonValue& shop : truth)
            if (!shop.toObject().value(QStringLiteral("bseller")).toBool())
                byCategory[shop.toObject().value(QStringLiteral("category")).toString()] << shop.toObject();
        QString code;
        for (auto it = byCategory.cbegin(); it != byCategory.cend(); ++it)
            if (code.isEmpty() || it.value().size() > byCategory[code].size())
                code = it.key();
        const QList<QJsonObject> expected = byCategory[code];
        QVERIFY(expected.size() > 40);
        int index = 1;
        while (QLatin1String(SearchCriteria::categories()[index].code) != code)
            ++index;

        SearchWindow s;
        s.useMarket(market.port());
        QVERIFY(s.open());
        s.find<QComboBox>("id")->setCurrentIndex(index);
        s.find<QSlider>("searchPageSel")->setValue(0); // every shop found
        s.click("search");
        QTRY_VERIFY_WITH_TIMEOUT(s.find<QFrame>("searchPanel")->isHidden(), 60000);
        QVERIFY(prompt.informations.isEmpty());
        QCOMPARE(s.grid()->rowCount(), expected.size());
        for (int r = 1; r <= expected.size(); ++r) {
            const QJsonObject& shop = expected[r - 1];
            QCOMPARE(s.cell(r, 0), QString::number(r));
            QCOMPARE(s.cell(r, 2), foldAscii(shop.value(QStringLiteral("shopkeeper")).toString()));
            QCOMPARE(s.cell(r, 5), foldAscii(shop.value(QStringLiteral("address")).toString()));
        }
        QVERIFY(s.log().contains(QStringLiteral("共搜索到%1记录!").arg(expected.size())));
        QVERIFY(s.w.find<QLabel>("info1")->text().contains(QStringLiteral("搜索掌柜完成！共花时间：")));

        // Rows 2 and 41 (the second page) are mined; the rest is not stored.
        s.clickRow(2);
        s.grid()->scrollToBottom();
        s.view->setRowMarked(41, true);
        s.click("saveSearch");
        QTRY_VERIFY_WITH_TIMEOUT(s.find<QFrame>("excavatePanel")->isHidden() && !s.w.main->running().saving(),
                                 60000);
        QVERIFY2(prompt.errors.isEmpty(), qPrintable(prompt.errors.join(u'\n')));
        QVERIFY(s.w.find<QLabel>("info1")->text().contains(QStringLiteral("挖掘交易完成！共花时间：")));

        TQuery& q = *s.w.main->dm().ADOQuery1;
        q.SetSQL(QStringLiteral("select count(*) from dianBase"));
        QVERIFY(q.Open());
        QCOMPARE(q.value(0, 0).toInt(), 2);
        for (int r : {2, 41}) {
            const QJsonObject& shop = expected[r - 1];
            q.SetSQL(QStringLiteral(
                "select id, dianzhu, salerCredit, buyerCredit from dianBase where webaddr=:w"));
            q.SetParam(QStringLiteral("w"), s.cell(r, 5));
            QVERIFY(q.Open());
            QCOMPARE(q.RecordCount(), 1);
            const int id = q.value(0, 0).toInt();
            QCOMPARE(q.value(0, 1).toString(),
                     foldAscii(shop.value(QStringLiteral("shopkeeper")).toString()));
            QCOMPARE(q.value(0, 2).toInt(), shop.value(QStringLiteral("sellerCredit")).toInt());
            QCOMPARE(q.value(0, 3).toInt(), shop.value(QStringLiteral("buyerCredit")).toInt());
            q.SetSQL(
                QStringLiteral("select count(*), count(distinct trade_id) from pjInfo where dian_id=:id"));
            q.SetParam(QStringLiteral("id"), id);
            QVERIFY(q.Open());
            const int ratings = shop.value(QStringLiteral("ratings")).toArray().size();
            QCOMPARE(q.value(0, 0).toInt(), ratings);
            QCOMPARE(q.value(0, 1).toInt(), ratings);
        }
    }
};

QTEST_MAIN(TestAdvanceSearch)
#include "tst_TfrmAdvanceSearch.moc"
