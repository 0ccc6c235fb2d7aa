// The shopkeeper browser driven through its controls in the main window: counts and command
// availability, filters, sorting and colours, the trade tab with its memos and item link,
// deletion, copies, exports from the context and main menus, and re-mining.
#include "TestPrompt.h"
#include "TestWindow.h"
#include "browser/BrowserFixture.h"

#include "browser/views/TfrmViewUser.h"
#include "store/TConnection.h"
#include "store/TDM.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>

namespace {

const QColor kTint(232, 243, 255);
const QColor kRed(255, 0, 0);

// Catches the addresses the view hands to the system's browser.
class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    UrlCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "open"); }
    ~UrlCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("http")); }
    QList<QUrl> opened;

public slots:
    void open(const QUrl& url) { opened << url; }
};

// The main window over a fresh data folder with the sample shops, showing the browser.
struct Browser
{
    TestWindow w;
    TestPrompt prompt;
    TfrmViewUser* view = nullptr;
    browserdata::Sample sample;

    bool open(bool withSample = true)
    {
        if (!w.start())
            return false;
        if (withSample)
            sample = browserdata::addSample(w.main->dm());
        w.find<QAction>("miBrowser")->trigger();
        view = w.find<TfrmViewUser>("frmViewUser");
        return view != nullptr;
    }

    template <typename T> T* find(const char* name) const { return view->findChild<T*>(QLatin1String(name)); }
    QTableView* shopGrid() const { return find<QTableView>("userBaseGrid"); }
    QTableView* ratingGrid() const { return find<QTableView>("userDetailGrid"); }
    TTable* shops() const { return w.main->dm().tb_dianbase; }
    TTable* ratings() const { return w.main->dm().tb_pjinfo; }
    QString dataInfo() const { return w.find<QLabel>("dataInfo")->text(); }
    QString cell(QTableView* grid, int row, int column) const
    {
        return grid->model()->index(row, column).data().toString();
    }
    QString title(QTableView* grid, int column) const
    {
        return grid->model()->headerData(column, Qt::Horizontal).toString();
    }
    bool bold(QTableView* grid, int column) const
    {
        return grid->model()->headerData(column, Qt::Horizontal, Qt::FontRole).value<QFont>().bold();
    }
    // Successive mouse clicks on titles would merge into double clicks.
    void clickTitle(QTableView* grid, int column) const
    {
        emit grid->horizontalHeader()->sectionClicked(column);
    }
    void clickRow(QTableView* grid, int row) const
    {
        const QRect rect = grid->visualRect(grid->model()->index(row, 1));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, rect.center());
    }
    void showTrades() const { find<QTabWidget>("bsSkinPageControl1")->setCurrentIndex(1); }
    qlonglong count(const QString& sql) const
    {
        TQuery* q = w.main->dm().ADOQuery1;
        q->SetSQL(sql);
        return q->Open() ? q->value(0, 0).toLongLong() : -1;
    }
    // Runs an export item and waits for its end.
    bool exportWith(QAction* item, const QString& target)
    {
        prompt.saveFiles << target;
        QSignalSpy done(view, &TfrmViewUser::exportFinished);
        item->trigger();
        return done.wait(30000) && done.first().first().value<TExportJob::Result>().ok;
    }
};

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

class tst_TfrmViewUser : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { REQUIRE_TEST_STORE(); }
    void cleanupTestCase() { teststore::stopServer(); }

    void emptyDatabaseDisablesCommandsAndTheDelete()
    {
        Browser b;
        QVERIFY(b.open(false));
        QCOMPARE(b.w.main->windowTitle(), QStringLiteral("Kestrova--掌柜资料"));
        QCOMPARE(b.dataInfo(), QStringLiteral("目前共有0个掌柜数据!"));
        QVERIFY(!b.w.main->commandsAvailable());
        QVERIFY(!b.w.find<QAction>("miExportShopCsv")->isEnabled());

        auto* deleteBtn = b.find<QPushButton>("deleteBtn");
        QVERIFY(deleteBtn->isEnabled());
        b.find<QAction>("MenuItem6")->trigger();
        QVERIFY(b.prompt.questions.isEmpty());
        QVERIFY(!deleteBtn->isEnabled());

        QCOMPARE(b.find<QLabel>("jyInfo")->text(), QStringLiteral("掌柜共有0条交易!"));
        b.showTrades();
        QVERIFY(!b.find<QPushButton>("search1")->isEnabled());
        QVERIFY(!b.find<QPushButton>("viewRefresh1")->isEnabled());
        // Enter in a filter field is "查 询" and does nothing while it is disabled.
        const QString ratingFilter = b.ratings()->Filter();
        QTest::keyClick(b.find<QLineEdit>("pjr"), Qt::Key_Return);
        QCOMPARE(b.ratings()->Filter(), ratingFilter);
        QCOMPARE(b.find<QLabel>("jyInfo")->text(), QStringLiteral("掌柜共有0条交易!"));

        // Exports and copies have nothing to work on.
        b.find<QAction>("MenuItem4")->trigger();
        b.find<QAction>("N1")->trigger();
        QVERIFY(b.prompt.saveDialogs.isEmpty());
    }

    void mineAllSendsEveryListedShopToTheSearchView()
    {
        Browser b;
        QVERIFY(b.open());
        for (const char* name : {"丁一", "丁二", "戊"})
            browserdata::insert(
                b.w.main->dm(), "dianBase",
                {{"dianzhu", QString::fromUtf8(name)},
                 {"webaddr", QStringLiteral("http://elsewhere.example/%1").arg(QString::fromUtf8(name))}});
        b.find<QPushButton>("viewRefresh")->click();
        // Only what the list shows: the shops whose shopkeeper holds "丁", in the list's order.
        b.find<QLineEdit>("zg")->setText(QStringLiteral("丁"));
        b.find<QPushButton>("search")->click();
        QCOMPARE(b.shops()->RecordCount(), 2);
        QStringList listed;
        for (int r = 0; r < 2; ++r)
            listed << b.shops()->value(r, b.shops()->FieldIndex("dianzhu")).toString();
        QVERIFY(listed.contains(QStringLiteral("丁一")) && listed.contains(QStringLiteral("丁二")));
        // A long run: nothing starts until the user says yes to the number it names.
        b.find<QPushButton>("mineAllBtn")->click();
        QCOMPARE(b.prompt.questions,
                 QStringList{QStringLiteral("将重新挖掘列表中的全部2个掌柜，这需要较长时间。确定要开始吗?")});
        QVERIFY(!b.w.find<QWidget>("frmAdvanceSearch"));
        b.prompt.answerYes = true;
        b.find<QPushButton>("mineAllBtn")->click();

        auto* search = b.w.find<QWidget>("frmAdvanceSearch");
        QVERIFY(search && search->isVisible());
        auto* grid = search->findChild<QTableWidget*>(QStringLiteral("searchGrid"));
        QCOMPARE(grid->rowCount(), 2);
        for (int r = 0; r < 2; ++r) {
            QCOMPARE(grid->item(r, 2)->text(), listed[r]);
            QVERIFY(!grid->item(r, 1)->text().isEmpty()); // marked
        }
        // Neither is on the marketplace: the run passes them over and ends.
        QTRY_VERIFY_WITH_TIMEOUT(!b.w.main->running().saving() && !b.w.main->running().downloading(), 10000);
    }

    void shopListFiltersSortsAndColoursItsRows()
    {
        Browser b;
        QVERIFY(b.open());
        browserdata::insert(
            b.w.main->dm(), "dianBase",
            {{"dianzhu", QStringLiteral("丁")}, {"webaddr", "http://h/4"}, {"salelevel", 10}});
        b.find<QPushButton>("viewRefresh")->click();
        QCOMPARE(b.dataInfo(), QStringLiteral("目前共有3个掌柜数据!"));
        QVERIFY(b.w.main->commandsAvailable());
        QVERIFY(b.w.find<QAction>("miExportTradeExcel")->isEnabled());

        QTableView* grid = b.shopGrid();
        QCOMPARE(grid->model()->columnCount(), 13);
        QCOMPARE(b.title(grid, 0), QStringLiteral("序号"));
        QCOMPARE(b.title(grid, 12), QStringLiteral("商品分类"));
        QCOMPARE(grid->columnWidth(0), 32);
        QCOMPARE(grid->columnWidth(8), 100);
        QCOMPARE(grid->toolTip(), QStringLiteral("双击重新更新商品成交信息"));
        QCOMPARE(b.find<QComboBox>("buyLevel")->count(), 16);

        // Odd row numbers are tinted; a seller level above 10 is red, 10 is not.
        QAbstractItemModel* model = grid->model();
        QCOMPARE(model->index(0, 1).data(Qt::BackgroundRole).value<QColor>(), kTint);
        QVERIFY(!model->index(1, 1).data(Qt::BackgroundRole).isValid());
        QCOMPARE(model->index(0, 1).data(Qt::ForegroundRole).value<QColor>(), kRed);
        QVERIFY(!model->index(2, 1).data(Qt::ForegroundRole).isValid());

        // The details follow the row clicked.
        b.clickRow(grid, 1);
        QCOMPARE(b.shops()->RecNo(), 2);
        QCOMPARE(b.find<QLineEdit>("webaddr")->text(), QStringLiteral("http://shop.example/abc/"));
        b.clickRow(grid, 0);
        QCOMPARE(b.find<QLineEdit>("salerBad")->text(), QStringLiteral("2"));
        // The selected row keeps its red text.
        const QRect shopkeeper = grid->visualRect(model->index(0, 1));
        const QImage cell = grid->viewport()->grab(shopkeeper).toImage();
        int red = 0;
        for (int y = 0; y < cell.height(); ++y)
            for (int x = 0; x < cell.width(); ++x) {
                const QColor c = cell.pixelColor(x, y);
                red += c.red() > 170 && c.green() < 90 && c.blue() < 90;
            }
        QVERIFY2(red > 10, qPrintable(QString::number(red)));

        // Titles: descending, ascending, descending; another column starts afresh.
        b.clickTitle(grid, 0);
        QCOMPARE(b.title(grid, 0), QStringLiteral("▼序号"));
        QVERIFY(b.bold(grid, 0));
        QCOMPARE(b.cell(grid, 0, 1), QStringLiteral("丁"));
        b.clickTitle(grid, 0);
        QCOMPARE(b.title(grid, 0), QStringLiteral("▲序号"));
        QCOMPARE(b.cell(grid, 0, 1), QStringLiteral(" 店主甲 "));
        b.clickTitle(grid, 0);
        QCOMPARE(b.title(grid, 0), QStringLiteral("▼序号"));
        b.clickTitle(grid, 4);
        QCOMPARE(b.title(grid, 0), QStringLiteral("序号"));
        QVERIFY(!b.bold(grid, 0));
        QCOMPARE(b.title(grid, 4), QStringLiteral("▼卖家级别"));
        QCOMPARE(b.shops()->Sort(), QStringLiteral("salelevel DESC "));

        // The filter panel's texts; the count follows at the next refresh only.
        b.find<QLineEdit>("zg")->setText(QStringLiteral("甲"));
        b.find<QComboBox>("saleLevel")->setCurrentIndex(10);
        b.find<QPushButton>("search")->click();
        QCOMPARE(b.shops()->Filter(), QStringLiteral("dianzhu like %甲% and saleLevel >10"));
        QCOMPARE(model->rowCount(), 1);
        QCOMPARE(b.dataInfo(), QStringLiteral("目前共有3个掌柜数据!"));
        b.find<QPushButton>("viewRefresh")->click();
        QCOMPARE(b.dataInfo(), QStringLiteral("目前共有1个掌柜数据!"));
        QCOMPARE(b.title(grid, 4), QStringLiteral("▼卖家级别"));

        // Quotes, percent signs and " and " are looked for as typed, never run.
        b.find<QLineEdit>("zg")->setText(QStringLiteral("x' or '1'='1 and 50%"));
        b.find<QComboBox>("saleLevel")->setCurrentIndex(0);
        b.find<QPushButton>("search")->click();
        QVERIFY(b.prompt.errors.isEmpty());
        QCOMPARE(model->rowCount(), 0);
        QCOMPARE(b.count("select count(*) from dianBase"), 3);
        b.find<QLineEdit>("zg")->clear();
        b.find<QPushButton>("search")->click();
        QCOMPARE(model->rowCount(), 3);
    }

    void tradeTabCountsFiltersMemosAndLink()
    {
        Browser b;
        QVERIFY(b.open());
        UrlCatcher urls;
        b.clickRow(b.shopGrid(), 0);
        b.showTrades();
        QTableView* grid = b.ratingGrid();
        auto* jyInfo = b.find<QLabel>("jyInfo");
        QCOMPARE(jyInfo->text(), QStringLiteral("掌柜共有2条交易记录!"));
        QCOMPARE(b.find<QLabel>("dianzhuLabel")->text(), QStringLiteral(" 店主甲 "));
        QCOMPARE(grid->model()->columnCount(), 6);
        QCOMPARE(grid->columnWidth(5), 500);
        QVERIFY(grid->columnWidth(4) > grid->fontMetrics().horizontalAdvance(b.cell(grid, 0, 4)) + 4);
        QCOMPARE(b.cell(grid, 0, 2), QStringLiteral("买家"));
        QCOMPARE(b.cell(grid, 1, 2), QStringLiteral("卖家"));
        QCOMPARE(grid->model()->index(0, 0).data(Qt::BackgroundRole).value<QColor>(), kTint);
        QVERIFY(!grid->model()->index(0, 2).data(Qt::BackgroundRole).isValid());

        // The item link of a rating with and without trade number.
        auto* link = b.find<QPushButton>("itemURL");
        QCOMPARE(b.find<QLineEdit>("itemID")->text(), QStringLiteral("I100"));
        QCOMPARE(link->text(), QStringLiteral("=SUM(A1)"));
        link->click();
        QCOMPARE(urls.opened.size(), 1);
        QCOMPARE(urls.opened.first().toString(),
                 QStringLiteral("http://127.0.0.1:8631/auction/snap_detail.htm?trade_id=T1&auction_id=I100"));
        b.clickRow(grid, 1);
        QCOMPARE(link->text(), QStringLiteral("无法链接商品"));
        link->click();
        QCOMPARE(urls.opened.size(), 1);

        // A memo edit is stored when another rating becomes current.
        auto* memo = b.find<QPlainTextEdit>("pjjsMemo");
        memo->moveCursor(QTextCursor::End);
        memo->insertPlainText(QStringLiteral("补充"));
        b.clickRow(grid, 0);
        QCOMPARE(b.count(QStringLiteral("select count(*) from pjInfo where pjjs='已处理 谢谢补充' and id=%1")
                             .arg(b.sample.r2)),
                 1);
        QCOMPARE(b.ratings()->RecNo(), 1);
        QCOMPARE(b.find<QPlainTextEdit>("pjInfoMemo")->toPlainText(),
                 QStringLiteral("质量好, 发货快\n下次再来😀"));
        // Only the memo typed into is written: the comment keeps its stored text (a CR LF line
        // break the memo shows as one line end).
        memo->insertPlainText(QStringLiteral("已回复"));
        b.clickRow(grid, 1);
        TQuery* stored = b.w.main->dm().ADOQuery1;
        stored->SetSQL(QStringLiteral("select pjjs, pjInfo from pjInfo where id=%1").arg(b.sample.r1));
        QVERIFY(stored->Open());
        QCOMPARE(stored->value(0, 0).toString(), QStringLiteral("已回复"));
        QCOMPARE(stored->value(0, 1).toString(), QStringLiteral("质量好, 发货快\r\n下次再来😀"));
        b.clickRow(grid, 0);

        // Whole numbers only in the price fields; bounds include their limits.
        auto* jg1 = b.find<QLineEdit>("jg1");
        QCOMPARE(jg1->text(), QStringLiteral("0"));
        jg1->clear();
        QTest::keyClicks(jg1, QStringLiteral("3a0"));
        QCOMPARE(jg1->text(), QStringLiteral("30"));
        QTest::keyClick(jg1, Qt::Key_Return);
        QCOMPARE(b.ratings()->Filter(), QStringLiteral("dian_id =%1 and jg >=30").arg(b.sample.shopA));
        QCOMPARE(jyInfo->text(), QStringLiteral("掌柜共有2条交易记录"));
        b.find<QComboBox>("buyer")->setCurrentIndex(2);
        b.find<QPushButton>("search1")->click();
        QCOMPARE(grid->model()->rowCount(), 1);
        QCOMPARE(jyInfo->text(), QStringLiteral("掌柜共有1条交易记录"));

        b.find<QPushButton>("viewRefresh1")->click();
        QCOMPARE(b.ratings()->Filter(), QStringLiteral("dian_id =%1").arg(b.sample.shopA));
        QCOMPARE(jyInfo->text(), QStringLiteral("掌柜共有2条交易记录"));
        QCOMPARE(b.find<QComboBox>("buyer")->currentIndex(), 2);

        // Sorting by price; a delete leaves the count label until the next count.
        b.clickTitle(grid, 3);
        QCOMPARE(b.title(grid, 3), QStringLiteral("▼价格"));
        QCOMPARE(b.cell(grid, 0, 3), QStringLiteral("128.5"));
        b.clickTitle(grid, 3);
        QCOMPARE(b.cell(grid, 0, 3), QStringLiteral("30"));
        b.prompt.answerYes = true;
        b.find<QAction>("N3")->trigger();
        QCOMPARE(b.prompt.questions, QStringList{QStringLiteral("确定要删除此记录吗?")});
        QCOMPARE(grid->model()->rowCount(), 1);
        QCOMPARE(b.count(QStringLiteral("select count(*) from pjInfo where id=%1").arg(b.sample.r2)), 0);
        QCOMPARE(jyInfo->text(), QStringLiteral("掌柜共有2条交易记录"));

        // Another shop's ratings after the tab is shown again.
        b.find<QTabWidget>("bsSkinPageControl1")->setCurrentIndex(0);
        b.clickRow(b.shopGrid(), 1);
        b.showTrades();
        QCOMPARE(jyInfo->text(), QStringLiteral("掌柜共有1条交易记录!"));
        QCOMPARE(b.cell(grid, 0, 1), QStringLiteral("丙"));

        // Coming back from another view with the trade tab on top shows the tab again, for the
        // shop that is current now.
        b.find<QPushButton>("viewRefresh1")->click();
        QCOMPARE(jyInfo->text(), QStringLiteral("掌柜共有1条交易记录"));
        b.w.find<QAction>("miIndex")->trigger();
        QVERIFY(!b.view->isVisible());
        b.shops()->First();
        b.w.find<QAction>("miBrowser")->trigger();
        QCOMPARE(jyInfo->text(), QStringLiteral("掌柜共有1条交易记录!"));
        QCOMPARE(b.ratings()->Filter(), QStringLiteral("dian_id =%1").arg(b.sample.shopA));
    }

    void deletingAShopTakesItsRatingsAndCountsAgain()
    {
        Browser b;
        QVERIFY(b.open());
        auto* deleteBtn = b.find<QPushButton>("deleteBtn");
        deleteBtn->click();
        QCOMPARE(b.prompt.questions.size(), 1);
        QCOMPARE(b.count("select count(*) from dianBase"), 2);

        b.prompt.answerYes = true;
        deleteBtn->click();
        QCOMPARE(b.count(QStringLiteral("select count(*) from dianBase where id=%1").arg(b.sample.shopA)), 0);
        QCOMPARE(b.count(QStringLiteral("select count(*) from pjInfo where dian_id=%1").arg(b.sample.shopA)),
                 0);
        QCOMPARE(b.count("select count(*) from pjInfo"), 1);
        QCOMPARE(b.dataInfo(), QStringLiteral("目前共有1个掌柜数据!"));
        QVERIFY(b.w.main->commandsAvailable());

        b.find<QAction>("MenuItem6")->trigger();
        QCOMPARE(b.count("select count(*) from pjInfo"), 0);
        QCOMPARE(b.dataInfo(), QStringLiteral("目前共有0个掌柜数据!"));
        QVERIFY(!deleteBtn->isEnabled());
        QVERIFY(!b.w.main->commandsAvailable());
        QVERIFY(b.prompt.errors.isEmpty());
    }

    void aShopDeleteThatFailsKeepsItsRatings()
    {
        Browser b;
        QVERIFY(b.open());
        // The shop row cannot go: on the file without the view's delete trigger, on a server
        // through a trigger that refuses it.
        TConnection& cn = b.w.main->dm().adoCn;
        QVERIFY2(teststore::onServer()
                     ? cn.exec("CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS "
                               "$$ BEGIN RAISE EXCEPTION 'refused'; END $$; CREATE TRIGGER refuse BEFORE "
                               "DELETE ON dianBase FOR EACH ROW EXECUTE FUNCTION refuse()")
                     : cn.exec("drop trigger dianBaseSort_delete"),
                 qPrintable(cn.error()));
        b.prompt.answerYes = true;
        b.find<QPushButton>("deleteBtn")->click();
        QCOMPARE(b.prompt.errors.size(), 1);
        QCOMPARE(b.count(QStringLiteral("select count(*) from pjInfo where dian_id=%1").arg(b.sample.shopA)),
                 2);
        QCOMPARE(b.count("select count(*) from dianBase"), 2);
        QCOMPARE(b.dataInfo(), QStringLiteral("目前共有2个掌柜数据!"));
        QCOMPARE(b.shopGrid()->model()->rowCount(), 2);
    }

    void copiesPutLabelledTextsOnTheClipboard()
    {
        Browser b;
        QVERIFY(b.open());
        b.find<QAction>("MenuItem1")->trigger();
        const QString shop = QApplication::clipboard()->text();
        QCOMPARE(shop.count(u'\r'), 19);
        QVERIFY(!shop.contains(u'\n'));
        QVERIFY(shop.startsWith(QStringLiteral("掌柜：店主甲\r评价人ID:12700186315678\r")));

        b.showTrades();
        b.clickRow(b.ratingGrid(), 1);
        b.find<QAction>("t1")->trigger();
        const QString rating = QApplication::clipboard()->text();
        QCOMPARE(rating.count(u'\r'), 8);
        QVERIFY(rating.startsWith(QStringLiteral("评价：中评\r评价人：卖家乙(卖家)\r价格：30元\r")));
        QVERIFY(rating.endsWith(QStringLiteral("商品链接：无法链接商品\r")));
    }

    void exportsKeepTheRowAndTheWindowAndTakeOneAtATime()
    {
        Browser b;
        QVERIFY(b.open());
        QTemporaryDir out;
        QTableView* grid = b.shopGrid();
        // Sorted by id descending and filtered to the two sample shops: shop B first.
        b.clickTitle(grid, 0);
        b.find<QPushButton>("search")->click();
        b.clickRow(grid, 1);
        QCOMPARE(b.cell(grid, 1, 1), QStringLiteral(" 店主甲 "));

        const QString shops = out.filePath("shops.csv");
        QVERIFY(b.exportWith(b.w.find<QAction>("miExportShopCsv"), shops));
        QCOMPARE(b.prompt.saveDialogs.last(), QStringLiteral("Save file|导出掌柜数据.csv|*.csv"));
        const QList<QByteArray> lines = readAll(shops).split('\n');
        QCOMPARE(lines.size(), 4);
        QVERIFY(lines[1].startsWith(QByteArray("\xd2\xd2,,", 4))); // 乙 first, as the grid shows it
        QCOMPARE(b.shops()->RecNo(), 2);
        QCOMPARE(grid->currentIndex().row(), 1);
        QVERIFY(!b.find<QProgressBar>("saveGauge1")->isVisible());
        QVERIFY(!QApplication::overrideCursor());

        // The rating spreadsheet from the context menu, under its default name.
        b.showTrades();
        QVERIFY(b.exportWith(b.find<QAction>("N1"), out.filePath("r.xlsx")));
        QCOMPARE(b.prompt.saveDialogs.last(),
                 QStringLiteral("Save file|导出 店主甲 交易数据.xlsx|All files (*.xlsx)"));
        QVERIFY(readAll(out.filePath("r.xlsx")).startsWith("PK"));
        // The status bar tells the rows and the worksheets they took.
        QCOMPARE(b.w.find<QLabel>("info1")->text(),
                 QStringLiteral("已导出%1条记录到 %2，共1个工作表。")
                     .arg(b.ratings()->RecordCount())
                     .arg(QDir::toNativeSeparators(out.filePath("r.xlsx"))));

        // A second export cannot start while one runs; the bar shows the first.
        const int dialogs = b.prompt.saveDialogs.size();
        b.prompt.saveFiles << out.filePath("a.csv") << out.filePath("b.csv");
        QSignalSpy done(b.view, &TfrmViewUser::exportFinished);
        b.find<QAction>("CVS1")->trigger();
        QVERIFY(b.view->exportBusy());
        QVERIFY(b.find<QProgressBar>("saveGauge1")->isVisible());
        QVERIFY(QApplication::overrideCursor());
        b.find<QAction>("CVS1")->trigger();
        QCOMPARE(b.prompt.saveDialogs.size(), dialogs + 1);
        QVERIFY(done.wait(30000));
        QCOMPARE(b.prompt.saveDialogs.last(), QStringLiteral("Save file|导出 店主甲 掌柜评价数据.csv|*.csv"));
        QVERIFY(QFile::exists(out.filePath("a.csv")));
        QVERIFY(!QFile::exists(out.filePath("b.csv")));

        // A target that cannot be opened gets the warning and stays as it is.
        b.prompt.saveFiles.clear();
        QDir(out.path()).mkdir("open.csv");
        b.prompt.saveFiles << out.filePath("open.csv");
        b.find<QAction>("CVS1")->trigger();
        QVERIFY(!b.view->exportBusy());
        QCOMPARE(b.prompt.warnings,
                 QStringList{out.filePath("open.csv") +
                             QStringLiteral("文件可能已被打开或损坏，重新选择或关闭文件！")});
        QVERIFY(!QApplication::overrideCursor());
        // That warning is the CSV file's: a spreadsheet that cannot take the place of its target
        // tells why, naming it.
        QDir(out.path()).mkdir("open.xlsx");
        QVERIFY(!b.exportWith(b.find<QAction>("N1"), out.filePath("open.xlsx")));
        QCOMPARE(b.prompt.warnings.size(), 1);
        QVERIFY(b.prompt.errors.last().startsWith(out.filePath("open.xlsx") + ": "));

        // Cancelled dialog: nothing happens.
        b.find<QAction>("MenuItem3")->trigger();
        QVERIFY(!b.view->exportBusy());
        QCOMPARE(b.prompt.saveDialogs.last(),
                 QStringLiteral("Save file|导出掌柜数据.xlsx|All files (*.xlsx)"));
    }

    void anExportWhoseServerGoesAwayIsToldAndKeepsTheOldFile()
    {
        if (!teststore::onServer())
            QSKIP("a server that goes away: run on the server store only");
        Browser b;
        QVERIFY(b.open());
        b.showTrades();
        QTemporaryDir out;
        const QString target = out.filePath("r.csv");
        {
            QFile old(target);
            QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
        }
        // The export waits for the ratings another connection holds, and the server stops.
        TConnection holder;
        QVERIFY(holder.open(b.w.store()));
        QVERIFY(holder.exec("BEGIN; LOCK TABLE pjInfo IN ACCESS EXCLUSIVE MODE"));
        auto restart = qScopeGuard([] { sharedServer().startAgain(); });
        b.prompt.saveFiles << target;
        QSignalSpy done(b.view, &TfrmViewUser::exportFinished);
        b.find<QAction>("CVS1")->trigger();
        QVERIFY(sharedServer().stop());
        QVERIFY(done.wait(30000));
        QVERIFY(!done.first().first().value<TExportJob::Result>().ok);
        QCOMPARE(b.prompt.errors.size(), 1);
        QVERIFY2(b.prompt.errors.first().contains("connection"), qPrintable(b.prompt.errors.first()));
        QCOMPARE(readAll(target), QByteArray("old"));
        QCOMPARE(QDir(out.path()).entryList(QDir::Files), QStringList{"r.csv"});
        QVERIFY(!b.find<QProgressBar>("saveGauge1")->isVisible());
        QVERIFY(!QApplication::overrideCursor());

        // With the server back the same export goes through.
        QVERIFY(sharedServer().startAgain());
        QVERIFY(b.exportWith(b.find<QAction>("CVS1"), target));
        QVERIFY(readAll(target) != QByteArray("old"));
    }

    void doubleClickSendsTheShopBackToTheMiningRun()
    {
        Browser b;
        QVERIFY(b.open(false));
        // A closed port: the download fails at once and the run ends.
        browserdata::insert(b.w.main->dm(), "dianBase",
                            {{"dianzhu", QStringLiteral("戊")},
                             {"dianming", QStringLiteral("戊店")},
                             {"loc", QStringLiteral("鞋")},
                             {"webaddr", "http://127.0.0.1:9/shop/1.htm"},
                             {"commodityNum", 5},
                             {"addr", QStringLiteral("上海")},
                             {"commodityKind", QStringLiteral("鞋包")}});
        b.find<QPushButton>("viewRefresh")->click();
        QTableView* grid = b.shopGrid();
        const QPoint cell = grid->visualRect(grid->model()->index(0, 1)).center();
        QTest::mousePress(grid->viewport(), Qt::LeftButton, {}, cell);
        QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, cell);
        QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, cell);
        QCOMPARE(b.w.main->currentView()->objectName(), QStringLiteral("frmAdvanceSearch"));
        QCOMPARE(b.w.find<QTabWidget>("searchPages")->currentIndex(), 1);
        auto* results = b.w.find<QTableWidget>("searchGrid");
        QCOMPARE(results->item(0, 1)->text(), QStringLiteral("Y"));
        QCOMPARE(results->item(0, 2)->text(), QStringLiteral("戊"));
        QCOMPARE(results->item(0, 8)->text(), QStringLiteral("鞋包"));
        QVERIFY(b.w.find<QCheckBox>("infoDetailCheck")->isChecked());
        QTRY_VERIFY_WITH_TIMEOUT(!b.w.main->running().downloading() && !b.w.main->running().saving(), 30000);
    }
};

QTEST_MAIN(tst_TfrmViewUser)
#include "tst_TfrmViewUser.moc"
