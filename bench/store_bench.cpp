// Data layer figures: the saver's insert and duplicate removal, opening the rating cursor
// on one shop of a large table, and the trend and distribution queries over a big shop.
#include "mining/TSaveBarGain.h"
#include "store/Schema.h"
#include "store/TDM.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

struct Rating
{
    QString when, item, trade, title, rater, price;
};

// n ratings of one shop, every tenth a repeat of the one before (same item, same time).
std::vector<Rating> makeRatings(int n, int seed)
{
    std::vector<Rating> out;
    out.reserve(n);
    Rating r;
    for (int i = 0; i < n; ++i) {
        if (i % 10 != 9) {
            const int k = i + seed;
            r.when = QStringLiteral("2026-%1-%2 %3:%4:%5")
                         .arg(k % 12 + 1)
                         .arg(k % 28 + 1)
                         .arg(k % 24)
                         .arg(k % 60)
                         .arg((k / 60) % 60);
            r.item = QString::number(100000 + k % 5000);
            r.title = QStringLiteral("春季新款纯棉衬衫 ") + r.item;
            // Each item at one of three prices.
            r.price = QString::number(20 + k % 5000 % 7 * 10 + k % 3 * 5) + QStringLiteral(".50");
        }
        r.trade = QString::number(900000 + i);
        r.rater = QStringLiteral("买家") + QString::number(i % 977);
        out.push_back(r);
    }
    return out;
}

// Inserts the ratings the way the saver does: texts as parameters, one transaction, the
// analysis counts taken at its end (unless bare: a table without them).
void insertShop(TDM& dm, int shop, const std::vector<Rating>& ratings, bool bare = false)
{
    TQuery* q = dm.ADOQuery2;
    q->SetSQL(QString::fromLatin1(TSaveBarGain::kInsertSql));
    dm.adoCn.beginTransaction();
    if (!bare)
        for (const QString& sql : schema::bulkStartStatements())
            dm.adoCn.exec(sql);
    const QString shopText = QString::number(shop);
    for (const Rating& r : ratings) {
        q->SetParam(QStringLiteral("dianId"), shopText);
        q->SetParam(QStringLiteral("pj"), QStringLiteral("好评"));
        q->SetParam(QStringLiteral("buyerorSaler"), QStringLiteral("True"));
        q->SetParam(QStringLiteral("pjsj"), r.when);
        q->SetParam(QStringLiteral("trade_id"), r.trade);
        q->SetParam(QStringLiteral("itemid"), r.item);
        q->SetParam(QStringLiteral("itemtitle"), r.title);
        q->SetParam(QStringLiteral("pjName"), r.rater);
        q->SetParam(QStringLiteral("jg"), r.price);
        q->SetParam(QStringLiteral("pjinfo"), QStringLiteral("质量很好，发货很快，和描述一致，好评！"));
        q->SetParam(QStringLiteral("pjjs"), QString());
        q->SetParam(QStringLiteral("itemId_pjsj"), r.item + r.when);
        q->ExecSQL();
    }
    if (!bare) {
        dm.adoCn.exec(QString::fromLatin1(schema::bulkNewDuplicatesSql()));
        for (const QString& sql : schema::bulkFoldStatements())
            dm.adoCn.exec(sql);
    }
    dm.adoCn.commit();
}

void dedupe(TDM& dm, int shop)
{
    TQuery* q = dm.ADOQuery1;
    q->SetSQL(QString::fromLatin1(TSaveBarGain::kRemoveDuplicatesSql));
    for (const char* p : {"dian_id1", "dian_id2", "dian_id3"})
        q->SetParam(QString::fromLatin1(p), QString::number(shop));
    q->ExecSQL();
}

// The saver with every key in place (0), the bare table with only its duplicate key (1), and
// the table with the analyses' two indexes but no tallies (2): what the indexes alone cost,
// the floor under the first.
void BM_SaverInsertAndDedupe(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    const bool bare = state.range(1) != 0;
    const bool indexesOnly = state.range(1) == 2;
    const std::vector<Rating> ratings = makeRatings(n, 0);
    qint64 insertMs = 0, dedupeMs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir;
        TDM dm;
        dm.DataModuleCreate(dir.filePath("quelmar2.mdb"));
        if (bare)
            for (const schema::SchemaObject& o : schema::objects())
                if (o.type != QLatin1String("table") && o.type != QLatin1String("view") &&
                    o.name.startsWith(QLatin1String("pjInfo")) &&
                    o.name != QLatin1String("pjInfo_shop_item_time") &&
                    (!indexesOnly || o.type != QLatin1String("index") ||
                     o.name.startsWith(QLatin1String("pjInfoTally"))))
                    dm.adoCn.exec(QStringLiteral("DROP %1 %2").arg(o.type.toUpper(), o.name));
        state.ResumeTiming();
        QElapsedTimer timer;
        timer.start();
        insertShop(dm, 1, ratings, bare);
        insertMs += timer.restart();
        dedupe(dm, 1);
        dedupeMs += timer.elapsed();
    }
    state.SetLabel(indexesOnly ? "the two indexes, no tallies"
                   : bare      ? "bare table and duplicate key"
                               : "every key");
    state.counters["insert_ms"] = double(insertMs) / state.iterations();
    state.counters["dedupe_ms"] = double(dedupeMs) / state.iterations();
    state.counters["rows_per_s"] =
        benchmark::Counter(double(n) * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SaverInsertAndDedupe)
    ->Args({100000, 0})
    ->Args({100000, 1})
    ->Args({100000, 2})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// One database of 1,000,000 ratings: shop 1 holds 100,000, shop 2 900,000.
struct BigDatabase
{
    QTemporaryDir dir;
    TDM dm;
    BigDatabase()
    {
        dm.DataModuleCreate(dir.filePath("quelmar2.mdb"));
        insertShop(dm, 1, makeRatings(100000, 0));
        insertShop(dm, 2, makeRatings(900000, 7));
    }
};

BigDatabase& big()
{
    static BigDatabase db;
    return db;
}

void BM_OpenRatingsOfOneShop(benchmark::State& state)
{
    TDM& dm = big().dm;
    for (auto _ : state) {
        dm.tb_pjinfo->Close();
        dm.tb_pjinfo->SetFilter(QStringLiteral("dian_id =1"));
        dm.tb_pjinfo->SetFiltered(true);
        dm.tb_pjinfo->Open();
        benchmark::DoNotOptimize(dm.tb_pjinfo->FieldByName("pjInfo").asString());
    }
    state.counters["rows"] = dm.tb_pjinfo->RecordCount();
}
BENCHMARK(BM_OpenRatingsOfOneShop)->Unit(benchmark::kMillisecond);

void BM_OpenAllRatingsUnfiltered(benchmark::State& state)
{
    TDM& dm = big().dm;
    for (auto _ : state) {
        dm.tb_pjinfo->Close();
        dm.tb_pjinfo->SetFiltered(false);
        dm.tb_pjinfo->Open();
        benchmark::DoNotOptimize(dm.tb_pjinfo->FieldByName("pjInfo").asString());
    }
    state.counters["rows"] = dm.tb_pjinfo->RecordCount();
}
BENCHMARK(BM_OpenAllRatingsUnfiltered)->Unit(benchmark::kMillisecond);

void runAnalysis(benchmark::State& state, const QString& sql)
{
    TDM& dm = big().dm;
    int rows = 0;
    for (auto _ : state) {
        dm.pj_fx3->SetSQL(sql);
        dm.pj_fx3->SetParam(QStringLiteral("beginDate"), QStringLiteral("2026-01-01"));
        dm.pj_fx3->SetParam(QStringLiteral("endDate"), QStringLiteral("2026-12-31"));
        dm.pj_fx3->SetParam(QStringLiteral("dianId"), 2);
        if (!dm.pj_fx3->Open())
            state.SkipWithError(dm.pj_fx3->lastError().toStdString().c_str());
        rows = dm.pj_fx3->RecordCount();
    }
    state.counters["rows"] = rows;
}

void BM_TrendSeriesByDay(benchmark::State& state)
{
    runAnalysis(state, QStringLiteral(
                           "select  sum(jg) as totalAmount,count(itemId) as num,(format(pjsj,'yyyy-mm-dd')) "
                           "as time1 from pjinfo where buyerOrSaler=true and pjsj>:beginDate and "
                           "pjsj<=:endDate and dian_id=:dianId \ngroup by (format(pjsj,'yyyy-mm-dd')) "
                           "order by format(pjsj,'yyyy-mm-dd')"));
}
BENCHMARK(BM_TrendSeriesByDay)->Unit(benchmark::kMillisecond);

void BM_DistributionBy24Hours(benchmark::State& state)
{
    runAnalysis(state,
                QStringLiteral("select  dian_id,sum(jg) as totalAmount,count(itemId) as num,(hour(pjsj)) as "
                               "time1 from pjinfo where pjsj>:beginDate and pjsj<=:endDate and "
                               "dian_id=:dianId group by dian_id,hour(pjsj)  order by hour(pjsj)"));
}
BENCHMARK(BM_DistributionBy24Hours)->Unit(benchmark::kMillisecond);

} // namespace
