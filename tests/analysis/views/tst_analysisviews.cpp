// The three analysis views driven as a user drives them, over a database built for the test.
#include "StandaloneContext.h"
#include "TestPrompt.h"
#include "TestStore.h"
#include "analysis/charts/AnalysisCharts.h"
#include "analysis/charts/TCrossHair.h"
#include "analysis/views/TfrmChanges.h"
#include "analysis/views/TfrmCircle.h"
#include "analysis/views/TfrmCompare.h"
#include "analysis/views/TfrmSaleList.h"
#include "analysis/views/TfrmSaleNum.h"
#include "analysis/views/TfrmStocks.h"
#include "settings/Paths.h"
#include "settings/TConfig.h"
#include "store/History.h"
#include "store/TConnection.h"
#include "store/TDM.h"

#include <QAbstractButton>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateEdit>
#include <QFile>
#include <QLabel>
#include <QLineSeries>
#include <QListWidget>
#include <QMouseEvent>
#include <QPieSeries>
#include <QPieSlice>
#include <QPointer>
#include <QProgressBar>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStackedBarSeries>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QValueAxis>

namespace {

using FakeContext = StandaloneContext;

QPoint viewPoint(QChartView* view, QAbstractSeries* series, const QPointF& value)
{
    const QPointF scene = view->chart()->mapToScene(view->chart()->mapToPosition(value, series));
    return view->mapFromScene(scene);
}

void mouseMove(QChartView* view, const QPoint& pos)
{
    QMouseEvent move(QEvent::MouseMove, pos, view->viewport()->mapToGlobal(pos), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(view->viewport(), &move);
}

// Dark pixels of the chart as drawn now beside an edge of its plot area, where that edge's
// axis labels stand, leaving out the axis lines and ticks.
int axisInk(QChartView* view, Qt::Edge edge)
{
    const QRectF plot = view->chart()->plotArea();
    const QRectF area = edge == Qt::LeftEdge  ? QRectF(0, plot.top(), plot.left() - 8, plot.height())
                        : edge == Qt::TopEdge ? QRectF(plot.left(), plot.top() - 48, plot.width(), 40)
                                              : QRectF(plot.left(), plot.bottom() + 8, plot.width(), 40);
    const QRect shown = view->mapFromScene(view->chart()->mapToScene(area)).boundingRect();
    const QImage image = view->grab(shown).toImage();
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += qGray(image.pixel(x, y)) < 128;
    return n;
}

} // namespace

class AnalysisViews : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { REQUIRE_TEST_STORE(); }
    void cleanupTestCase() { teststore::stopServer(); }
    void init();
    void cleanup();
    void rankingRunRecordBarAndCrossHair();
    void rankingListWindowMovesTheRanking();
    void axesKeepTheirLabelsOnEveryRun();
    void rankingManyTiedBars();
    void rankingErrorLeavesTheViewUsable();
    void trendLinkedChartsMarginsAndEarlyEnd();
    void distributionPie();
    void changesListTheListedShopsAndMarkTheRulesCrossed();
    void compareShowsEachTickedShopAsItsOwnTrend();
    void rankingOverEveryListedShop();

private:
    void addRating(const QString& pj, const QString& buyer, const QString& when, const QString& item,
                   const QString& price, const QString& comment = QStringLiteral("很好"));
    void setRange(QWidget* view, const char* begin, const char* end);

    QTemporaryDir* m_dir = nullptr;
    QString m_store;
    FakeContext* m_context = nullptr;
    TestPrompt* m_prompt = nullptr;
    qlonglong m_shop = 0;
};

void AnalysisViews::init()
{
    m_dir = new QTemporaryDir;
    m_context = new FakeContext;
    m_prompt = new TestPrompt;
    TDM& dm = m_context->m_dm;
    m_store = teststore::newStore(m_dir->filePath("quelmar2.mdb"));
    QVERIFY(dm.DataModuleCreate(m_store));
    TQuery* q = dm.adoq1;
    for (const char* keeper : {"掌柜一", "掌柜二"}) {
        q->SetSQL("insert into dianbase(dianzhu,addr,dianming,webaddr,updateDate,salerCredit) "
                  "values(:dianzhu,'杭州','小店',:webaddr,'2026-12-01',321)");
        q->SetParam("dianzhu", QString::fromUtf8(keeper));
        q->SetParam("webaddr", QStringLiteral("http://h/") + QString::fromUtf8(keeper));
        QCOMPARE(q->ExecSQL(), 1);
    }
    QVERIFY(dm.tb_dianbase->Open());
    // The browser's current shop: the second row stays unused.
    QVERIFY(dm.tb_dianbase->MoveTo(1));
    m_shop = dm.tb_dianbase->FieldByName("id").asInteger();
}

void AnalysisViews::cleanup()
{
    delete m_prompt;
    delete m_context;
    delete m_dir;
}

void AnalysisViews::addRating(const QString& pj, const QString& buyer, const QString& when,
                              const QString& item, const QString& price, const QString& comment)
{
    TQuery* q = m_context->m_dm.ADOQuery2;
    q->SetSQL("insert into pjinfo(dian_id,pj,buyerorSaler,pjsj,itemid,itemtitle,pjName,jg,pjinfo,pjjs) "
              "values(:dianId,:pj,:buyerorSaler,:pjsj,:itemid,:itemtitle,'买家甲',:jg,:pjinfo,'')");
    q->SetParam("dianId", m_shop);
    q->SetParam("pj", pj);
    q->SetParam("buyerorSaler", buyer);
    q->SetParam("pjsj", when);
    q->SetParam("itemid", item);
    q->SetParam("itemtitle", QStringLiteral("商品") + item);
    q->SetParam("jg", price);
    q->SetParam("pjinfo", comment);
    QCOMPARE(q->ExecSQL(), 1);
}

void AnalysisViews::setRange(QWidget* view, const char* begin, const char* end)
{
    const auto edits = view->findChildren<QDateEdit*>();
    QCOMPARE(edits.size(), 2);
    edits[0]->setDate(QDate::fromString(QLatin1String(begin), Qt::ISODate));
    edits[1]->setDate(QDate::fromString(QLatin1String(end), Qt::ISODate));
}

void AnalysisViews::rankingRunRecordBarAndCrossHair()
{
    // A long comment: the detail grid shows its first 100 bytes, never half a character.
    const QString longComment = QStringLiteral("a") + QString(60, u'好');
    for (int i = 0; i < 3; ++i)
        addRating("好评", "True", QStringLiteral("2026-03-0%1 10:00:00").arg(i + 1), "A", "10", longComment);
    addRating("好评", "True", "2026-03-05 10:00:00", "B", "50");
    addRating("好评", "True", "2026-03-06 10:00:00", "B", "50");
    addRating("好评", "True", "2026-03-07 10:00:00", "C", "7");
    TfrmSaleNum view(*m_context);
    view.resize(900, 700);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    const QDate today = QDate::currentDate();
    QCOMPARE(view.findChild<QDateEdit*>("beginDate")->date(), QDate(today.year(), 1, 1));
    QCOMPARE(view.findChild<QDateEdit*>("endDate")->date(), today);
    QCOMPARE(view.findChild<QSpinBox*>("num")->value(), 1);
    QCOMPARE(view.findChild<QComboBox*>("kh")->currentText(), QStringLiteral("不限"));
    QCOMPARE(view.findChild<QLabel*>("fx1Record")->text(), QStringLiteral("NO.1"));
    QLabel* info = view.findChild<QLabel*>("info");
    QLabel* firstInfo = view.findChild<QLabel*>("firstInfo");
    QLabel* dateInfo = view.findChild<QLabel*>("dateInfo");

    // Before the first run the cross-hair does nothing.
    QChartView* chart = view.chartView();
    mouseMove(chart, chart->rect().center());
    QVERIFY(!view.crossHair()->crossShown());
    QVERIFY(info->isHidden());

    setRange(&view, "2026-01-01", "2026-12-31");
    view.findChild<QSpinBox*>("num")->setValue(5);
    QSignalSpy finished(&view, &TfrmSaleNum::runFinished);
    view.bsSkinButton3Click();
    QVERIFY(view.running());
    QVERIFY(view.findChild<QProgressBar*>("chart3Guage1")->isVisible());
    view.bsSkinButton1Click(); // a second click while the run is under way is ignored
    QVERIFY(finished.wait(10000));
    QTest::qWait(50);
    QCOMPARE(finished.size(), 1);
    QVERIFY(view.findChild<QProgressBar*>("chart3Guage1")->isHidden());
    QCOMPARE(view.findChild<QLabel*>("ff")->text(), QStringLiteral("销售额："));
    QCOMPARE(chart->chart()->title(), QStringLiteral("商品销售额排名"));
    QCOMPARE(charts::rankBarCount(chart->chart()), 3);
    auto* series = qobject_cast<QStackedBarSeries*>(chart->chart()->series().first());
    QCOMPARE(series->barSets().at(0)->at(0), 100.0);
    QVERIFY(series->barSets().at(0)->color() != series->barSets().at(1)->color());

    // The result stands on its last row; the record bar and details follow it.
    QCOMPARE(view.findChild<QLabel*>("fx1Record")->text(), QStringLiteral("No.3"));
    QCOMPARE(view.findChild<QLabel*>("fx1ItemTitle")->text(), QStringLiteral("商品C"));
    view.findChild<QAbstractButton*>("navFirst")->click();
    QCOMPARE(view.findChild<QLabel*>("fx1Record")->text(), QStringLiteral("No.1"));
    QCOMPARE(view.findChild<QLabel*>("fx1Amount")->text(), QStringLiteral("100"));
    view.findChild<QAbstractButton*>("navNext")->click();
    QCOMPARE(view.findChild<QLabel*>("fx1ItemTitle")->text(), QStringLiteral("商品A"));
    auto* detail = view.findChild<QTableView*>("detailGrid");
    QTRY_COMPARE(detail->model()->rowCount(), 3); // read off the UI thread
    const QString shown = detail->model()->index(0, 3).data().toString();
    QCOMPARE(shown, QStringLiteral("a") + QString(49, u'好')); // 1 + 49 * 2 = 99 bytes

    // Over the second bar: its height and label; outside the plot the label goes, fields stay.
    mouseMove(chart, viewPoint(chart, series, QPointF(1, 30)));
    QVERIFY(view.crossHair()->crossShown());
    QVERIFY(info->isVisible());
    QCOMPARE(firstInfo->text(), QStringLiteral("30"));
    QCOMPARE(dateInfo->text(), QStringLiteral("第2名"));
    mouseMove(chart, QPoint(1, 1));
    QVERIFY(!view.crossHair()->crossShown());
    QVERIFY(info->isHidden());
    QCOMPARE(firstInfo->text(), QStringLiteral("30"));

    // The count ranking of the same data, and a shop with nothing in the range.
    view.bsSkinButton1Click();
    QVERIFY(finished.wait(10000));
    QCOMPARE(view.findChild<QLabel*>("ff")->text(), QStringLiteral("销售量："));
    QCOMPARE(chart->chart()->title(), QStringLiteral("商品销售量排名"));
    setRange(&view, "2027-01-01", "2026-01-01");
    view.bsSkinButton1Click();
    QVERIFY(finished.wait(10000));
    QCOMPARE(charts::rankBarCount(chart->chart()), 0);
    QCOMPARE(detail->model()->rowCount(), 0);
    const QRectF plot = chart->chart()->plotArea();
    mouseMove(chart, chart->mapFromScene(chart->chart()->mapToScene(plot.center())));
    QVERIFY(view.crossHair()->crossShown()); // the cross and the reading, no point
    QVERIFY2(qAbs(info->text().toDouble() - 0.5) < 0.02, qPrintable(info->text())); // halfway up 0 to 1
    QCOMPARE(firstInfo->text(), QStringLiteral("30"));
    QCOMPARE(view.findChild<QLabel*>("fx1Record")->text(), QString());
}

void AnalysisViews::rankingListWindowMovesTheRanking()
{
    addRating("好评", "True", "2026-03-01 10:00:00", "A", "10");
    addRating("好评", "True", "2026-03-02 10:00:00", "A", "10");
    addRating("好评", "True", "2026-03-03 10:00:00", "B", "10");
    TfrmSaleNum view(*m_context);
    view.show();
    setRange(&view, "2026-01-01", "2026-12-31");
    view.findChild<QSpinBox*>("num")->setValue(2);
    QSignalSpy finished(&view, &TfrmSaleNum::runFinished);
    view.bsSkinButton1Click();
    QVERIFY(finished.wait(10000));
    QCOMPARE(view.findChild<QLabel*>("fx1Record")->text(), QStringLiteral("No.2"));

    view.bsSkinButton2Click();
    QPointer<TfrmSaleList> list = view.findChild<TfrmSaleList*>();
    QVERIFY(list);
    QCOMPARE(list->windowTitle(), QStringLiteral("排名商品列表"));
    QVERIFY(list->isModal());
    QCOMPARE(list->grid()->model()->rowCount(), 2);
    QCOMPARE(list->grid()->model()->index(0, 0).data().toString(), QStringLiteral("商品A"));
    list->grid()->setCurrentIndex(list->grid()->model()->index(0, 2));
    QCOMPARE(view.findChild<QLabel*>("fx1Record")->text(), QStringLiteral("No.1"));
    QCOMPARE(view.findChild<QLabel*>("fx1Num")->text(), QStringLiteral("2"));
    list->findChild<QAbstractButton*>("bsSkinButton1")->click();
    QTRY_VERIFY(list.isNull());

    // A second "..." opens a new window of its own.
    view.bsSkinButton2Click();
    QPointer<TfrmSaleList> second = view.findChild<TfrmSaleList*>();
    QVERIFY(second);
    QCOMPARE(second->grid()->currentIndex().row(), 0);
    second->close();
    QTRY_VERIFY(second.isNull());
}

void AnalysisViews::axesKeepTheirLabelsOnEveryRun()
{
    for (int i = 0; i < 12; ++i)
        addRating("好评", "True", QStringLiteral("2026-03-%1 10:00:00").arg(i + 10),
                  QStringLiteral("I%1").arg(i % 4), QString::number(100 + i));
    TfrmSaleNum rank(*m_context);
    rank.resize(900, 700);
    rank.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rank));
    setRange(&rank, "2026-01-01", "2026-12-31");
    rank.findChild<QSpinBox*>("num")->setValue(4);
    QSignalSpy ranked(&rank, &TfrmSaleNum::runFinished);
    QChartView* chart = rank.chartView();
    // Every run draws both axes' labels, the second and third as the first.
    for (int run = 0; run < 3; ++run) {
        run % 2 ? rank.bsSkinButton3Click() : rank.bsSkinButton1Click();
        QVERIFY(ranked.wait(10000));
        QTRY_VERIFY2(axisInk(chart, Qt::LeftEdge) > 0, qPrintable(QStringLiteral("run %1").arg(run + 1)));
        QTRY_VERIFY2(axisInk(chart, Qt::BottomEdge) > 0, qPrintable(QStringLiteral("run %1").arg(run + 1)));
    }
    // A run without rows leaves no rank under the empty chart.
    setRange(&rank, "2025-01-01", "2025-12-31");
    rank.bsSkinButton1Click();
    QVERIFY(ranked.wait(10000));
    QTRY_COMPARE(axisInk(chart, Qt::BottomEdge), 0);

    // A busy day for the trend: its count axis must leave the ticks of a quiet run before.
    for (int i = 0; i < 7; ++i)
        addRating("好评", "True", "2026-05-05 10:00:00", "I1", "9");
    TfrmStocks trend(*m_context);
    trend.resize(900, 700);
    trend.show();
    QVERIFY(QTest::qWaitForWindowExposed(&trend));
    QSignalSpy trended(&trend, &TfrmStocks::runFinished);
    auto* counts = qobject_cast<QValueAxis*>(trend.countView()->chart()->axes(Qt::Vertical).first());
    const struct
    {
        const char* from;
        const char* to;
        bool rows;
        int ticks; // a peak of 1 count: 0 and 1; of 7: the axis' usual five on round numbers
    } runs[] = {{"2026-03-01", "2026-03-31", true, 2},
                {"2025-01-01", "2025-12-31", false, 2},
                {"2026-01-01", "2026-12-31", true, 5},
                {"2026-03-01", "2026-03-31", true, 2}};
    for (const auto& r : runs) {
        setRange(&trend, r.from, r.to);
        trend.bsSkinButton2Click();
        QVERIFY(trended.wait(10000));
        QCOMPARE(counts->tickCount(), r.ticks);
        for (QChartView* view : {trend.countView(), trend.amountView()}) {
            QTRY_COMPARE(axisInk(view, Qt::LeftEdge) > 0, true);
            QTRY_COMPARE(axisInk(view, view == trend.amountView() ? Qt::BottomEdge : Qt::TopEdge) > 0,
                         r.rows);
        }
    }
}

void AnalysisViews::rankingManyTiedBars()
{
    // A shop of one price where every item sold once: all rows tie with the first, and each
    // becomes a bar. The chart must not need a set per bar (its zeros grow with the square).
    const int items = 120;
    for (int i = 0; i < items; ++i)
        addRating("好评", "True", "2026-03-01 10:00:00", QStringLiteral("I%1").arg(i), "10");
    addRating("好评", "True", "2026-03-02 10:00:00", "Top", "10");
    addRating("好评", "True", "2026-03-03 10:00:00", "Top", "10");
    TfrmSaleNum view(*m_context);
    view.show();
    setRange(&view, "2026-01-01", "2026-12-31");
    view.findChild<QSpinBox*>("num")->setValue(2);
    QSignalSpy finished(&view, &TfrmSaleNum::runFinished);
    view.bsSkinButton1Click();
    QVERIFY(finished.wait(10000));
    QChart* chart = view.chartView()->chart();
    QCOMPARE(charts::rankBarCount(chart), items + 1);
    auto* series = qobject_cast<QStackedBarSeries*>(chart->series().first());
    QVERIFY(series->count() <= 50);
    // Every bar stands in exactly one set, at its own rank, in a colour unlike its neighbour's.
    QColor previous;
    for (int k = 0; k < items + 1; ++k) {
        int holders = 0;
        QColor colour;
        for (QBarSet* set : series->barSets()) {
            if (k < set->count() && set->at(k) != 0) {
                ++holders;
                colour = set->color();
                QCOMPARE(set->at(k), k == 0 ? 2.0 : 1.0);
            }
        }
        QCOMPARE(holders, 1);
        QVERIFY(colour != previous);
        previous = colour;
    }
}

void AnalysisViews::rankingErrorLeavesTheViewUsable()
{
    addRating("好评", "True", "2026-03-01 10:00:00", "A", "10");
    TfrmSaleNum view(*m_context);
    view.show();
    setRange(&view, "2026-01-01", "2026-12-31");
    QSignalSpy finished(&view, &TfrmSaleNum::runFinished);
    view.bsSkinButton1Click();
    QVERIFY(finished.wait(10000));
    auto* detail = view.findChild<QTableView*>("detailGrid");
    QTRY_COMPARE(detail->model()->rowCount(), 1);
    // The store fails under the next run. On the file another connection takes a column away,
    // as a failing file would (a missing table would be mended when the run opens its
    // connection); a server stops while the run waits for the counts another connection holds.
    const bool server = teststore::onServer();
    TConnection holder;
    // Whatever fails below, the server runs again for the next test.
    auto restart = qScopeGuard([] { sharedServer().startAgain(); });
    if (server) {
        QVERIFY(holder.open(m_store));
        QVERIFY(holder.exec("BEGIN; LOCK TABLE pjInfoRankTally, pjInfoHourTally IN ACCESS EXCLUSIVE MODE"));
        view.bsSkinButton1Click();
        QVERIFY(sharedServer().stop());
    } else {
        QVERIFY(m_context->m_dm.adoCn.exec("ALTER TABLE pjInfo RENAME COLUMN jg TO jgGone"));
        view.bsSkinButton1Click();
    }
    QVERIFY(finished.wait(30000));
    QCOMPARE(finished.last().first().toBool(), false);
    // The ranking is gone: no ratings of its former item stay under the empty record bar.
    QCOMPARE(view.findChild<QLabel*>("fx1ItemTitle")->text(), QString());
    QCOMPARE(detail->model()->rowCount(), 0);
    QCOMPARE(m_prompt->errors.size(), 1);
    QVERIFY2(m_prompt->errors.first().contains(server ? "connection" : "no such column: jg"),
             qPrintable(m_prompt->errors.first()));
    // The gauge stays where the run stopped until a run goes through; the buttons work.
    auto* gauge = view.findChild<QProgressBar*>("chart3Guage1");
    QVERIFY(!gauge->isHidden());
    QVERIFY(view.findChild<QAbstractButton*>("bsSkinButton1")->isEnabled());
    // Mended (the server back), the next run works on the same connection.
    if (server)
        QVERIFY(sharedServer().startAgain());
    else
        QVERIFY(m_context->m_dm.adoCn.exec("ALTER TABLE pjInfo RENAME COLUMN jgGone TO jg"));
    view.bsSkinButton1Click();
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.last().first().toBool(), true);
    QCOMPARE(charts::rankBarCount(view.chartView()->chart()), 1);
    QVERIFY(gauge->isHidden());
}

void AnalysisViews::trendLinkedChartsMarginsAndEarlyEnd()
{
    addRating("好评", "True", "2026-03-01 10:00:00", "A", "1000");
    addRating("好评", "True", "2026-03-01 11:00:00", "A", "234.5");
    addRating("好评", "True", "2026-03-02 11:00:00", "B", "5");
    addRating("好评", "True", "2026-03-04 11:00:00", "B", "5");
    TfrmStocks view(*m_context);
    view.resize(900, 700);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QCOMPARE(view.findChild<QComboBox*>("fx3_time")->currentText(), QStringLiteral("按日统计"));
    QCOMPARE(view.findChild<QLabel*>("dianzhu")->text(), QStringLiteral("掌柜一"));
    QCOMPARE(view.findChild<QLabel*>("salerCredit")->text(), QStringLiteral("321"));
    setRange(&view, "2026-01-01", "2026-12-31");
    QSignalSpy finished(&view, &TfrmStocks::runFinished);
    view.bsSkinButton2Click();
    QVERIFY(!view.findChild<QWidget*>("chartPanel")->isEnabled());
    QVERIFY(finished.wait(10000));
    QVERIFY(view.findChild<QWidget*>("chartPanel")->isEnabled());
    QVERIFY(view.hasData());

    auto* line = qobject_cast<QLineSeries*>(view.countView()->chart()->series().first());
    QCOMPARE(line->count(), 3);
    QCOMPARE(line->at(0).y(), 2.0);
    // Amount peak 1234.5 (4 digits) against count peak 2 (1 digit): the count chart gets 4.
    QCOMPARE(charts::leftMargin(view.countView()->chart()), 4);
    QCOMPARE(charts::leftMargin(view.amountView()->chart()), 1);
    auto* grid = view.findChild<QTableView*>("fx3Grid");
    QCOMPARE(grid->model()->rowCount(), 3);
    QCOMPARE(grid->model()->index(0, 0).data().toString(), QStringLiteral("2026-03-01"));

    // A cross on the lower chart draws the line at the same x on the upper one.
    QChartView* lower = view.amountView();
    QChartView* upper = view.countView();
    const QPoint at = viewPoint(lower, lower->chart()->series().first(), QPointF(1, 2));
    mouseMove(lower, at);
    QVERIFY(view.amountCross()->crossShown());
    QVERIFY(view.countCross()->linkedLineShown());
    QCOMPARE(upper->mapFromScene(upper->chart()->mapToScene(view.countCross()->linkedLine().p1())).x(),
             at.x());
    QCOMPARE(view.findChild<QLabel*>("firstInfo")->text(), QStringLiteral("1"));
    QCOMPARE(view.findChild<QLabel*>("secondInfo")->text(), QStringLiteral("5"));
    QCOMPARE(view.findChild<QLabel*>("dateInfo")->text(), QStringLiteral("2026-03-02"));
    // Moving over the upper chart takes the first cross and its line away.
    mouseMove(upper, viewPoint(upper, line, QPointF(2, 1)));
    QVERIFY(!view.amountCross()->crossShown());
    QVERIFY(!view.countCross()->linkedLineShown());
    QVERIFY(view.amountCross()->linkedLineShown());
    QCOMPARE(view.findChild<QLabel*>("dateInfo")->text(), QStringLiteral("2026-03-04"));

    // Nothing in the range: the charts empty, the data flag kept, the panel usable.
    setRange(&view, "2025-01-01", "2025-12-31");
    view.bsSkinButton2Click();
    QVERIFY(finished.wait(10000));
    QCOMPARE(line->count(), 0);
    QVERIFY(view.hasData());
    QVERIFY(view.findChild<QWidget*>("chartPanel")->isEnabled());
    QCOMPARE(grid->model()->rowCount(), 0);
    // ... and the status text says where the shop's ratings lie, until a run finds some.
    QCOMPARE(m_context->info1,
             QStringLiteral("所选时间内没有评价：本店的评价时间从2026-03-01 10:00:00到2026-03-04 11:00:00"));
    setRange(&view, "2026-01-01", "2026-12-31");
    view.bsSkinButton2Click();
    QVERIFY(finished.wait(10000));
    QCOMPARE(m_context->info1, QString());
}

void AnalysisViews::distributionPie()
{
    addRating("好评", "True", "2026-03-01 13:10:00", "A", "30");
    addRating("好评", "0", "2026-03-02 13:50:00", "B", "10"); // the shop bought: counted here
    addRating("中评", "True", "2026-03-09 08:00:00", "C", "60");
    TfrmCircle view(*m_context);
    view.show();
    auto* pie = qobject_cast<QPieSeries*>(view.chartView()->chart()->series().first());
    QVERIFY(!pie->isVisible());
    QCOMPARE(view.chartView()->chart()->title(), QStringLiteral("时间周期分布"));
    setRange(&view, "2026-01-01", "2026-12-31");
    QSignalSpy finished(&view, &TfrmCircle::runFinished);
    view.bsSkinButton4Click();
    QVERIFY(finished.wait(10000));
    QVERIFY(pie->isVisible());
    QCOMPARE(view.chartView()->chart()->title(), QStringLiteral("24小时分布"));
    QCOMPARE(pie->pieStartAngle(), 15.0);
    QCOMPARE(pie->count(), 2);
    QCOMPARE(pie->slices().at(0)->label(), QStringLiteral("8点 60%"));
    QCOMPARE(pie->slices().at(1)->label(), QStringLiteral("13点 40%"));
    QVERIFY(pie->slices().at(0)->isLabelVisible());
    QCOMPARE(view.findChild<QTableView*>("fx2Grid")->model()->rowCount(), 2);

    view.findChild<QComboBox*>("circleType")->setCurrentText(QStringLiteral("四季"));
    view.findChild<QComboBox*>("fx2_pj")->setCurrentText(QStringLiteral("中评"));
    view.bsSkinButton4Click();
    QVERIFY(finished.wait(10000));
    QCOMPARE(view.chartView()->chart()->title(), QStringLiteral("四季分布"));
    QCOMPARE(pie->count(), 1);
    QCOMPARE(pie->slices().at(0)->label(), QStringLiteral("1季 100%"));
}

void AnalysisViews::changesListTheListedShopsAndMarkTheRulesCrossed()
{
    TDM& dm = m_context->m_dm;
    QString error;
    // Two minings of the current shop with a bad sale and a lower credit in between; the
    // other shop was mined once and is not listed.
    addRating("好评", "True", "2026-03-01 10:00:00", "A", "10");
    QVERIFY2(history::record(dm.adoCn, QString::number(m_shop), {{"salerCredit", 321}}, 1, &error),
             qPrintable(error));
    QVERIFY(dm.adoCn.exec("update dianHistory set minedAt='2026-03-01 12:00:00'"));
    addRating("差评", "True", "2026-03-02 10:00:00", "B", "2.5");
    QVERIFY(history::record(dm.adoCn, QString::number(m_shop), {{"salerCredit", 300}}, 2, &error));
    const qlonglong other = dm.tb_dianbase->Keys().back();
    QVERIFY(history::record(dm.adoCn, QString::number(other), {{"salerCredit", 5}}, 0, &error));
    QFile config(m_dir->filePath("config.ini"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write("[Watch]\nBadRatings=1\n");
    config.close();
    Paths::setDataDir(m_dir->path());
    auto unset = qScopeGuard([] { Paths::setDataDir(QString()); });

    TfrmChanges view(*m_context);
    QSignalSpy finished(&view, &TfrmChanges::runFinished);
    view.show(); // showing reads
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.last().first().toBool(), true);
    auto* grid = view.findChild<QTableWidget*>("changesGrid");
    QCOMPARE(grid->rowCount(), 1);
    auto cell = [&](int column) { return grid->item(0, column)->text(); };
    QCOMPARE(cell(0), QStringLiteral("掌柜一"));
    QCOMPARE(cell(4), QStringLiteral("1")); // new ratings
    QCOMPARE(cell(5), QStringLiteral("1")); // sales
    QCOMPARE(cell(6), QStringLiteral("2.5"));
    QCOMPARE(cell(7), QStringLiteral("1")); // bad
    QCOMPARE(cell(9), QStringLiteral("-21"));
    QCOMPARE(cell(12), QStringLiteral("BadRatings"));
    QCOMPARE(grid->item(0, 0)->foreground().color(), QColor(Qt::red));

    // The browser lists only the other shop now: nothing to compare there.
    QVERIFY(dm.tb_dianbase->SetFilter(QStringLiteral("id=%1").arg(other)));
    QVERIFY(dm.tb_dianbase->SetFiltered(true));
    view.refreshClick();
    QVERIFY(finished.wait(10000));
    QCOMPARE(grid->rowCount(), 0);
    QVERIFY(dm.tb_dianbase->SetFiltered(false));
    view.refreshClick();
    QVERIFY(finished.wait(10000));
    // A double click opens the shop in the browser as its current row.
    QVERIFY(dm.tb_dianbase->MoveTo(2));
    view.changesGridDblClick(0);
    QCOMPARE(dm.tb_dianbase->FieldByName("id").asInteger(), m_shop);
    QCOMPARE(m_context->shown, QList<ViewId>{ViewId::Browser});
}

void AnalysisViews::compareShowsEachTickedShopAsItsOwnTrend()
{
    TDM& dm = m_context->m_dm;
    addRating("好评", "True", "2026-03-01 10:00:00", "A", "10");
    addRating("好评", "True", "2026-03-01 11:00:00", "A", "5");
    addRating("差评", "True", "2026-03-03 10:00:00", "B", "2.5");
    const qlonglong other = dm.tb_dianbase->Keys().back();
    QVERIFY(dm.adoCn.exec(QStringLiteral("insert into pjinfo(dian_id,pj,buyerOrSaler,pjsj,itemId,jg) "
                                         "values(%1,'好评','1','2026-03-03 09:00:00','C',7)")
                              .arg(other)));
    TfrmCompare view(*m_context);
    view.resize(900, 600);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    setRange(&view, "2026-01-01", "2026-12-31");
    auto* shops = view.findChild<QListWidget*>("compareShops");
    QCOMPARE(shops->count(), 2);
    // One shop is not a comparison: said, and nothing runs.
    QCOMPARE(shops->item(0)->checkState(), Qt::Checked);
    view.compareRunClick();
    QCOMPARE(m_prompt->informations.size(), 1);
    QVERIFY(!view.running());

    shops->item(1)->setCheckState(Qt::Checked);
    QSignalSpy finished(&view, &TfrmCompare::runFinished);
    view.compareRunClick();
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.last().first().toBool(), true);
    // Each shop's line holds its own sales per day; the table has a column per shop.
    const auto lines = view.chartView()->chart()->series();
    QCOMPARE(lines.size(), 2);
    auto* grid = view.findChild<QTableWidget*>("compareGrid");
    QCOMPARE(grid->columnCount(), 2);
    QCOMPARE(grid->rowCount(), 2);
    QCOMPARE(grid->verticalHeaderItem(0)->text(), QStringLiteral("2026-03-01"));
    QCOMPARE(grid->item(0, 0)->text(), QStringLiteral("2"));
    QCOMPARE(grid->item(1, 0)->text(), QStringLiteral("1"));
    QCOMPARE(grid->item(1, 1)->text(), QStringLiteral("1"));
    QCOMPARE(qobject_cast<QLineSeries*>(lines[0])->count(), 2);
    // The read-out names every shop's value at the period.
    view.showPeriod(1);
    QCOMPARE(view.findChild<QLabel*>("compareInfo")->text(),
             QStringLiteral("2026-03-03  掌柜一：1  掌柜二：1"));
}

void AnalysisViews::rankingOverEveryListedShop()
{
    TDM& dm = m_context->m_dm;
    addRating("好评", "True", "2026-03-01 10:00:00", "A", "10");
    const qlonglong other = dm.tb_dianbase->Keys().back();
    for (int i = 0; i < 2; ++i)
        QVERIFY(dm.adoCn.exec(
            QStringLiteral("insert into pjinfo(dian_id,pj,buyerOrSaler,pjsj,itemId,itemTitle,jg) "
                           "values(%1,'好评','1','2026-03-03 09:00:00','C','商品C',7)")
                .arg(other)));
    TfrmSaleNum view(*m_context);
    view.show();
    setRange(&view, "2026-01-01", "2026-12-31");
    view.findChild<QSpinBox*>("num")->setValue(5);
    view.findChild<QComboBox*>("rankScope")->setCurrentText(QStringLiteral("全部店铺"));
    QSignalSpy finished(&view, &TfrmSaleNum::runFinished);
    view.bsSkinButton1Click();
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.last().first().toBool(), true);
    // The other shop's item first, each row with its shop; the detail follows the row's shop.
    TCursor* fx1 = dm.pj_fx1;
    QCOMPARE(fx1->RecordCount(), 2);
    QVERIFY(fx1->MoveTo(1));
    QCOMPARE(fx1->FieldByName("itemId").asString(), QStringLiteral("C"));
    QCOMPARE(fx1->FieldByName("dian_id").asInteger(), other);
    QCOMPARE(fx1->FieldByName("dianming").asString(), QStringLiteral("小店"));
    auto* detail = view.findChild<QTableView*>("detailGrid");
    QTRY_COMPARE(detail->model()->rowCount(), 2);
    // Nothing in the range over every shop: said without naming one shop's span.
    setRange(&view, "2025-01-01", "2025-12-31");
    view.bsSkinButton1Click();
    QVERIFY(finished.wait(10000));
    QCOMPARE(fx1->RecordCount(), 0);
    QCOMPARE(m_context->info1, QStringLiteral("所选时间内没有评价"));
}

QTEST_MAIN(AnalysisViews)
#include "tst_analysisviews.moc"
