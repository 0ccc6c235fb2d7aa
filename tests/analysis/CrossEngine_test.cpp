// One data set stored in the database file and on a server: every analysis, export file and
// filter must give the same answer on both.
#include "analysis/AnalysisRun.h"
#include "analysis/MarketRanking.h"
#include "analysis/ShopCompare.h"
#include "browser/TExportJob.h"
#include "store/ServerDatabase.h"
#include "store/TDM.h"
#include "store/TQuery.h"
#include "store/TTable.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

using namespace analysis;

namespace {

const char kShopInsert[] =
    "insert into dianbase(dianzhu,addr,dianming,commodityNum,loc,updateDate,commodityKind,webaddr,"
    "salelevel,buyerCredit) values(:dianzhu,:addr,:dianming,:commodityNum,:loc,:updateDate,"
    ":commodityKind,:webaddr,:salelevel,:buyerCredit)";
const char kRatingInsert[] =
    "insert into pjinfo(dian_id,pj,buyerorSaler,pjsj,trade_id,itemid,itemtitle,pjName,jg,pjinfo,pjjs,"
    "itemId_pjsj)  values(:dianId,:pj,:buyerorSaler,:pjsj,:trade_id,:itemid,:itemtitle,:pjName,:jg,"
    ":pjinfo,:pjjs,:itemId_pjsj)";

// The same rows, in the same order, into a database: ids follow the order on both engines.
void fill(TDM& dm)
{
    QRandomGenerator random(20261209);
    TQuery* shop = dm.adoq1;
    shop->SetSQL(QString::fromLatin1(kShopInsert));
    const QStringList keepers{QStringLiteral("青柚小铺"), QStringLiteral("Åsa's shop, \"north\""),
                              QStringLiteral("墨竹")};
    for (int s = 0; s < keepers.size(); ++s) {
        shop->SetParam("dianzhu", keepers[s]);
        shop->SetParam("addr", s == 1 ? QVariant() : QVariant(QStringLiteral("杭州")));
        shop->SetParam("dianming", keepers[s] + QStringLiteral("的店"));
        shop->SetParam("commodityNum", QString::number(10 * s + 3));
        shop->SetParam("loc", QStringLiteral("女装"));
        shop->SetParam("updateDate", QStringLiteral("2026-12-0%1 9:30:00").arg(s + 1));
        shop->SetParam("commodityKind", QStringLiteral("服饰"));
        shop->SetParam("webaddr", QStringLiteral("http://127.0.0.1:9/shop/%1.htm").arg(s + 1));
        shop->SetParam("salelevel", QString::number(s * 6));
        shop->SetParam("buyerCredit", s == 2 ? QVariant() : QVariant(QString::number(100 - s)));
        ASSERT_EQ(shop->ExecSQL(), 1) << shop->lastError().toStdString();
    }
    TQuery* rating = dm.ADOQuery2;
    rating->SetSQL(QString::fromLatin1(kRatingInsert));
    const QStringList pjs{QStringLiteral("好评"), QStringLiteral("中评"), QStringLiteral("差评")};
    const QStringList prices{"10", "19.9", "0.1", "0.2", "25.5", "100", "3.3"};
    const QDateTime start(QDate(2025, 12, 20), QTime(0, 0));
    ASSERT_TRUE(dm.adoCn.beginTransaction());
    for (int i = 0; i < 3000; ++i) {
        const int s = i % 10 < 8 ? 1 : (i % 10 == 8 ? 2 : 3);
        QDateTime when = start.addSecs(static_cast<qint64>(random.bounded(400 * 86400)));
        if (i % 17 == 0)
            when.setTime(QTime(0, 0)); // midnight, on the ranges' ends too
        const int item = random.bounded(40);
        rating->SetParam("dianId", QString::number(s));
        rating->SetParam("pj", pjs[random.bounded(10) < 7 ? 0 : 1 + random.bounded(2)]);
        rating->SetParam("buyerorSaler", random.bounded(10) < 8 ? "True" : "False");
        rating->SetParam("pjsj", when.toString("yyyy-MM-dd HH:mm:ss"));
        rating->SetParam("trade_id", QStringLiteral("T%1").arg(i));
        rating->SetParam("itemid", item == 0 ? QVariant() : QVariant(QStringLiteral("I%1").arg(item)));
        rating->SetParam("itemtitle",
                         item == 0 ? QVariant() : QVariant(QStringLiteral("宝贝 %1, \"新\"").arg(item % 25)));
        rating->SetParam("pjName", QStringLiteral("买家%1").arg(random.bounded(50)));
        rating->SetParam("jg", i % 23 == 0 ? QVariant() : QVariant(prices[(item + i % 3) % prices.size()]));
        rating->SetParam("pjinfo",
                         i % 5 == 0 ? QStringLiteral("好\r\n很好, 非常\"好\"") : QStringLiteral("ok"));
        rating->SetParam("pjjs", i % 7 == 0 ? QVariant() : QVariant(QStringLiteral("解释")));
        rating->SetParam("itemId_pjsj",
                         QStringLiteral("I%1%2").arg(item).arg(when.toString("yyyyMMddHHmmss")));
        ASSERT_EQ(rating->ExecSQL(), 1) << rating->lastError().toStdString();
    }
    ASSERT_TRUE(dm.adoCn.commit());
}

// A value as the windows show it: types kept, numbers to the display's 15 digits (a sum may
// be added up in another order on the server).
QString cell(const QVariant& v)
{
    if (v.isNull())
        return QStringLiteral("NULL");
    if (v.typeId() == QMetaType::Double)
        return QStringLiteral("double:") + QString::number(v.toDouble(), 'g', 15);
    return QString::fromLatin1(v.typeName()) + u':' + v.toString();
}

std::vector<std::string> shown(const Result& r)
{
    std::vector<std::string> out{r.error.toStdString(), r.columns.join(u',').toStdString()};
    for (size_t i = 0; i < r.rows.size(); ++i) {
        QStringList c;
        for (const QVariant& v : r.rows[i])
            c << cell(v);
        out.push_back(c.join(u'|').toStdString());
    }
    for (int i = 0; i < r.labels.size(); ++i)
        out.push_back(QStringLiteral("%1 %2 %3")
                          .arg(r.labels[i])
                          .arg(QString::number(r.values.value(i), 'g', 15))
                          .arg(QString::number(r.counts.value(i), 'g', 15))
                          .toStdString());
    out.push_back(QString::number(r.amountPeak, 'g', 15).toStdString() + " " +
                  QString::number(r.countPeak, 'g', 15).toStdString());
    return out;
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
}

class CrossEngine : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SERVER_DATABASE(url);
        m_url = url;
        ASSERT_TRUE(file.DataModuleCreate(m_dir.filePath("quelmar2.mdb"))) << file.OpenError().toStdString();
        ASSERT_TRUE(server.DataModuleCreate(m_url)) << server.OpenError().toStdString();
        fill(file);
        fill(server);
    }

    static Range range(qlonglong shop, const char* from, const char* to, const QString& pj)
    {
        Range r;
        r.shop = shop;
        r.begin = QDate::fromString(QString::fromLatin1(from), Qt::ISODate);
        r.end = QDate::fromString(QString::fromLatin1(to), Qt::ISODate);
        r.pj = pj;
        return r;
    }

    // The rows of one cursor of both stores under the filter, for each sort.
    void expectSameKeys(TTable* TDM::*table, const QString& filter, const QStringList& sorts)
    {
        for (const QString& sort : sorts) {
            SCOPED_TRACE((filter + " / " + sort).toStdString());
            std::vector<qlonglong> keys[2];
            TDM* both[] = {&file, &server};
            for (int e = 0; e < 2; ++e) {
                TTable* t = both[e]->*table;
                t->Close();
                ASSERT_TRUE(t->SetFilter(filter)) << t->lastError().toStdString();
                ASSERT_TRUE(t->SetFiltered(!filter.isEmpty()));
                ASSERT_TRUE(t->SetSort(sort)) << t->lastError().toStdString();
                ASSERT_TRUE(t->Open()) << t->lastError().toStdString();
                keys[e] = t->Keys();
            }
            EXPECT_EQ(keys[0], keys[1]);
        }
    }

    QTemporaryDir m_dir;
    QString m_url;
    TDM file;
    TDM server;
};

TEST_F(CrossEngine, EveryAnalysisGivesTheSameRows)
{
    int compared = 0;
    for (const Range& base :
         {range(1, "2026-01-01", "2026-12-31", {}), range(1, "2026-03-01", "2026-03-01", {}),
          range(2, "2025-12-01", "2027-02-01", {}), range(3, "2026-06-30", "2026-07-31", {})}) {
        for (const QString& pj : ratingChoices()) {
            Range r = base;
            r.pj = pj;
            SCOPED_TRACE(QStringLiteral("shop %1 %2..%3 %4")
                             .arg(r.shop)
                             .arg(r.begin.toString(Qt::ISODate), r.end.toString(Qt::ISODate), pj)
                             .toStdString());
            for (int p = 0; p < trendPeriodChoices().size(); ++p) {
                const auto period = static_cast<TrendPeriod>(p);
                const Result a = runTrend(file.adoCn, r, period);
                EXPECT_EQ(shown(a), shown(runTrend(server.adoCn, r, period))) << "trend " << p;
                compared += a.rowCount();
            }
            for (int p = 0; p < 2; ++p) {
                const auto period = static_cast<DistPeriod>(p);
                const Result a = runDist(file.adoCn, r, period);
                EXPECT_EQ(shown(a), shown(runDist(server.adoCn, r, period))) << "distribution " << p;
                compared += a.rowCount();
            }
            for (TradeKind kind : {TradeKind::Any, TradeKind::Sold, TradeKind::Bought})
                for (int top : {1, 7, 50})
                    for (bool byAmount : {false, true}) {
                        RankRequest q;
                        q.range = r;
                        q.top = top;
                        q.byAmount = byAmount;
                        q.kind = kind;
                        const Result a = runRank(file.adoCn, q);
                        EXPECT_EQ(shown(a), shown(runRank(server.adoCn, q)))
                            << "ranking top " << top << " by amount " << byAmount;
                        compared += a.rowCount();
                    }
        }
    }
    EXPECT_GT(compared, 2000); // the ranges hold rows, so equality means something
    const QStringList items{QStringLiteral("I3"), QStringLiteral("I17")};
    EXPECT_EQ(shown(runRankDetail(file.adoCn, 1, items)), shown(runRankDetail(server.adoCn, 1, items)));
}

TEST_F(CrossEngine, FiltersAndSortsSelectTheSameRowsInTheSameOrder)
{
    const QString ratingFilters[] = {"",
                                     "dian_id =1",
                                     "dian_id =1 and buyerOrSaler = true",
                                     "dian_id =2 and buyerOrSaler = false",
                                     "jg >= 10",
                                     "jg < 1",
                                     "pj = '好评'",
                                     "itemTitle like %宝贝 1%",
                                     "pjInfo like %非常\"好%",
                                     "itemId like %i1%",
                                     "dian_id =1 and jg <= 19.9 and pjName like %买家1%"};
    const QStringList ratingSorts{"", "jg DESC ", "pjsj", "itemTitle, jg DESC ", "itemId DESC , pjsj"};
    for (const QString& filter : ratingFilters)
        expectSameKeys(&TDM::tb_pjinfo, filter, ratingSorts);
    const QString shopFilters[] = {"", "salelevel >=5", "addr = '杭州'", "dianzhu like %SHOP%",
                                   "buyerCredit > 98"};
    for (const QString& filter : shopFilters)
        expectSameKeys(&TDM::tb_dianbase, filter, {QString(), "addr", "buyerCredit DESC "});
}

TEST_F(CrossEngine, ExportFilesAreByteForByteTheSame)
{
    for (auto kind : {exportlayout::Kind::Shops, exportlayout::Kind::Ratings}) {
        TTable* tables[] = {kind == exportlayout::Kind::Shops ? file.tb_dianbase : file.tb_pjinfo,
                            kind == exportlayout::Kind::Shops ? server.tb_dianbase : server.tb_pjinfo};
        QByteArray bytes[2];
        for (int e = 0; e < 2; ++e) {
            ASSERT_TRUE(tables[e]->Open()) << tables[e]->lastError().toStdString();
            TExportJob::Request request;
            request.kind = kind;
            request.databasePath = e == 0 ? m_dir.filePath("quelmar2.mdb") : m_url;
            request.ids = tables[e]->Keys();
            request.target = m_dir.filePath(QStringLiteral("out%1.csv").arg(e));
            request.snapHost = QStringLiteral("http://127.0.0.1:9");
            const TExportJob::Result done = TExportJob::run(request);
            ASSERT_TRUE(done.ok) << done.error.toStdString();
            EXPECT_EQ(done.rows, static_cast<qint64>(request.ids.size()));
            bytes[e] = fileBytes(request.target);
        }
        EXPECT_GT(bytes[0].size(), 100);
        EXPECT_TRUE(bytes[0] == bytes[1])
            << "the " << (kind == exportlayout::Kind::Shops ? "shop" : "rating") << " files differ";
    }
}

TEST_F(CrossEngine, ShopsSideBySideFollowEachTrendAndTheMarketRankingIsOneStatementOverEveryShop)
{
    const QDate begin(2025, 12, 1), end(2027, 2, 1);
    TDM* both[] = {&file, &server};
    std::vector<std::string> seen[2];
    for (int e = 0; e < 2; ++e) {
        TConnection& c = both[e]->adoCn;
        for (const auto& [measure, period] : {std::pair{CompareMeasure::Count, TrendPeriod::Day},
                                              std::pair{CompareMeasure::Amount, TrendPeriod::Week},
                                              std::pair{CompareMeasure::Count, TrendPeriod::Month}}) {
            QString error;
            const auto rows = runCompare(c, {3, 1, 2}, measure, period, begin, end, &error);
            ASSERT_TRUE(rows) << error.toStdString();
            // Each shop's own trend, period by period; 0 where it sold nothing.
            for (qlonglong shop : {1, 2, 3}) {
                const Result trend = runTrend(c, Range{shop, begin, end}, period);
                QHash<QString, double> own;
                for (int r = 0; r < trend.rowCount(); ++r)
                    own[trend.labels[r]] =
                        measure == CompareMeasure::Count ? trend.counts[r] : trend.values[r];
                int found = 0;
                for (const CompareRow& row : *rows)
                    if (row.shop == shop) {
                        EXPECT_DOUBLE_EQ(row.value.toDouble(), own.value(row.period))
                            << row.period.toStdString();
                        found += own.contains(row.period);
                        seen[e].push_back(QStringLiteral("%1 %2 %3")
                                              .arg(row.period)
                                              .arg(shop)
                                              .arg(row.value.toDouble(), 0, 'g', 12)
                                              .toStdString());
                    }
                EXPECT_EQ(found, own.size()) << "every period of the shop's trend";
            }
        }
        // One statement over all shops, in its order; the filter's shops alone.
        TQuery all(&c, QStringLiteral("all"));
        all.SetSQL(
            "select sum(jg) as amount,itemTitle,itemId,jg,count(itemId) as num,dian_id from pjinfo where "
            "buyerOrSaler=true and pjsj>:beginDate and pjsj<=:endDate group by itemtitle,itemid,dian_id,jg "
            "order by count(itemId) desc,sum(jg)");
        all.SetParam("beginDate", "2025-12-01");
        all.SetParam("endDate", "2027-02-01");
        ASSERT_TRUE(all.Open()) << all.lastError().toStdString();
        RankRequest q;
        q.range = Range{0, begin, end};
        q.top = 12;
        const Result market = runMarketRank(c, q, std::nullopt);
        ASSERT_TRUE(market.ok()) << market.error.toStdString();
        ASSERT_GE(market.rowCount(), 12);
        // The sort keys row by row; rows tied on both may come in either order.
        QSet<QString> rows;
        auto key = [](const QVariantList& row, const QList<int>& columns) {
            QStringList k;
            for (int i : columns)
                k << cell(row.value(i));
            return k.join(u'|');
        };
        const QList<int> allColumns{all.FieldIndex("itemId"), all.FieldIndex("jg"), all.FieldIndex("dian_id"),
                                    all.FieldIndex("num"), all.FieldIndex("amount")};
        for (int r = 0; r < all.RecordCount(); ++r) {
            QVariantList row;
            for (int i = 0; i < all.FieldNames().size(); ++i)
                row << all.value(r, i);
            rows.insert(key(row, allColumns));
        }
        for (int r = 0; r < market.rowCount(); ++r) {
            for (const char* column : {"num", "amount"})
                EXPECT_EQ(cell(market.rows[r].value(market.column(column))),
                          cell(all.value(r, all.FieldIndex(column))))
                    << r << column;
            EXPECT_TRUE(rows.contains(
                key(market.rows[r], {market.column("itemId"), market.column("jg"), market.column("dian_id"),
                                     market.column("num"), market.column("amount")})))
                << r;
        }
        const QStringList names{QStringLiteral("青柚小铺的店"), QStringLiteral("Åsa's shop, \"north\"的店"),
                                QStringLiteral("墨竹的店")};
        for (const QVariantList& row : market.rows)
            EXPECT_EQ(row.value(market.column("dianming")).toString(),
                      names.value(row.value(market.column("dian_id")).toInt() - 1));
        const Result chosen = runMarketRank(c, q, QSet<qlonglong>{2, 3});
        ASSERT_FALSE(chosen.rows.empty());
        for (const QVariantList& row : chosen.rows)
            EXPECT_NE(row.value(chosen.column("dian_id")).toInt(), 1);
    }
    EXPECT_EQ(seen[0], seen[1]);
}

} // namespace
