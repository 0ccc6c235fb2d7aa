// The analyses on a shop of 1,000,000 ratings within a table of 2,000,000, in two files: every
// rating at a price of its own, and each item at one of three prices. Each view from its
// button to the filled chart,
// side by side with SQLite alone running the same statement written with its own functions
// (substr, strftime) instead of the application's format, datePart and hour; and the
// cross-hair's handling of one mouse move over 50 bars and over 1,000 day points.
#include "StandaloneContext.h"
#include "analysis/AnalysisRun.h"
#include "analysis/AnalysisSql.h"
#include "analysis/MarketRanking.h"
#include "analysis/charts/AnalysisCharts.h"
#include "analysis/charts/TCrossHair.h"
#include "analysis/views/TfrmCircle.h"
#include "analysis/views/TfrmSaleNum.h"
#include "analysis/views/TfrmStocks.h"
#include "mining/TSaveBarGain.h"
#include "settings/TConfig.h"
#include "store/Schema.h"
#include "store/TConnection.h"
#include "store/TDM.h"

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <memory>
#include <sqlite3.h>

namespace {

// KESTROVA_BENCH_RATINGS overrides the size, for a quick look.
const int kRatings = qEnvironmentVariableIsSet("KESTROVA_BENCH_RATINGS")
                         ? qEnvironmentVariableIntValue("KESTROVA_BENCH_RATINGS")
                         : 1000000;

using BenchContext = StandaloneContext;

// The benchmarks' argument: which file.
enum Kind
{
    OwnPrices = 0,   // every rating at a price of its own (variants, discounts)
    ThreePrices = 1, // each item at one of three prices
};

const char* kindName(int kind)
{
    return kind == OwnPrices ? "own prices" : "three prices";
}

QString databasePath(int kind = ThreePrices)
{
    const QString dir = QDir::temp().filePath(QStringLiteral("kestrova_analysis_bench"));
    QDir().mkpath(dir);
    return dir + (kind == OwnPrices ? QStringLiteral("/own.mdb") : QStringLiteral("/three.mdb"));
}

// One shop with a million ratings over 2025 and 2026, 400 items, and as many again spread over
// twenty other shops (kept between runs). Built on a raw connection without journal and with
// the indexes made afterwards, which takes seconds instead of the saver's minutes.
void buildDatabase(const QString& path, int kind)
{
    {
        TConnection schema; // the program's tables, view and indexes
        if (!schema.open(path)) {
            std::fprintf(stderr, "%s\n", qPrintable(schema.error()));
            std::exit(1);
        }
    }
    std::fprintf(stderr, "building %d ratings in %s ...\n", kRatings, qPrintable(path));
    sqlite3* db = nullptr;
    sqlite3_open(qPrintable(path), &db);
    const char* before =
        "PRAGMA journal_mode=DELETE; PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"
        "PRAGMA cache_size=-1000000;"
        "DROP INDEX pjInfo_shop_item_time; DROP INDEX pjInfo_shop_when; DROP INDEX pjInfo_shop_itemkey;"
        // The tallies are counted once after the rows, not per row.
        "DROP TRIGGER pjInfo_tallies_insert; DROP TRIGGER pjInfo_tallies_delete;"
        "DROP TRIGGER pjInfo_tallies_update; DROP INDEX pjInfoTally_key;"
        "delete from pjinfo; delete from dianbase;"
        "insert into dianbase(id,dianzhu,webaddr) values(1,'大店','http://h/1');"
        "with recursive k(n) as (select 2 union all select n+1 from k where n<21) "
        "insert into dianbase(id,dianzhu,webaddr) select n,'小店'||n,'http://h/'||n from k;"
        "BEGIN";
    char* error = nullptr;
    if (sqlite3_exec(db, before, nullptr, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "%s\n", error);
        std::exit(1);
    }
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(
            db,
            "insert into pjinfo(dian_id,pj,buyerOrSaler,pjsj,trade_id,itemid,itemtitle,pjName,jg,"
            "pjInfo,pjjs,itemId_pjsj) values(?,?,?,?,?,?,?,?,?,?,?,?)",
            -1, &st, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "%s\n", sqlite3_errmsg(db));
        std::exit(1);
    }
    const char* words[] = {"好评", "好评", "好评", "中评", "坏评"};
    const QDate first(2025, 1, 1);
    for (int n = 0; n < 2 * kRatings; ++n) {
        // Every other rating the large shop's, in time order over the two years, about 1,370 a
        // day, every hour of the day used; the others' interleaved with them.
        const int i = n / 2;
        const qint64 second = static_cast<qint64>(i) * 730 * 86400 / kRatings;
        const QDate d = first.addDays(second / 86400);
        const int s = static_cast<int>(second % 86400);
        const QByteArray when = QStringLiteral("%1 %2:%3:%4")
                                    .arg(d.toString(Qt::ISODate))
                                    .arg(s / 3600, 2, 10, QLatin1Char('0'))
                                    .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
                                    .arg(s % 60, 2, 10, QLatin1Char('0'))
                                    .toLatin1();
        const int item = static_cast<int>((static_cast<qint64>(i) * 7919) % 400);
        const QByteArray itemId = QByteArray::number(100000 + item);
        const QByteArray title = (QStringLiteral("春季新款纯棉衬衫 ") + QString::number(item)).toUtf8();
        const QByteArray trade = QByteArray::number(900000 + n);
        const QByteArray key = itemId + when;
        sqlite3_bind_int(st, 1, n % 2 == 0 ? 1 : 2 + i % 20);
        sqlite3_bind_text(st, 2, words[i % 5], -1, SQLITE_STATIC);
        sqlite3_bind_int(st, 3, i % 10 == 0 ? 0 : 1);
        sqlite3_bind_text(st, 4, when.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 5, trade.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 6, itemId.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 7, title.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 8, "买家", -1, SQLITE_STATIC);
        sqlite3_bind_double(st, 9,
                            kind == OwnPrices ? 10.0 + n * 0.01 : 20.0 + item % 7 * 10 + (i / 400 % 3) * 2.5);
        sqlite3_bind_text(st, 10, "质量很好，发货很快", -1, SQLITE_STATIC);
        sqlite3_bind_text(st, 11, "", -1, SQLITE_STATIC);
        sqlite3_bind_text(st, 12, key.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_step(st);
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    for (const schema::SchemaObject& o : schema::objects()) {
        if (o.type == QLatin1String("index") && o.name.startsWith(QLatin1String("pjInfo_")))
            sqlite3_exec(db, o.sql.toUtf8().constData(), nullptr, nullptr, nullptr);
    }
    for (const schema::SchemaObject& o : schema::objects()) {
        if (o.name.startsWith(QLatin1String("pjInfoTally_")) ||
            o.name.startsWith(QLatin1String("pjInfo_tallies_")))
            sqlite3_exec(db, o.sql.toUtf8().constData(), nullptr, nullptr, nullptr);
    }
    sqlite3_exec(db, "ANALYZE; PRAGMA journal_mode=WAL;", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

void ensureDatabase(TDM& dm, int kind)
{
    const QString path = databasePath(kind);
    qint64 count = 0;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(qPrintable(path), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, "select count(*) from pjinfo where dian_id=1", -1, &st, nullptr) ==
                SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW)
            count = sqlite3_column_int64(st, 0);
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    if (count < kRatings)
        buildDatabase(path, kind);
    if (!dm.DataModuleCreate(path)) {
        std::fprintf(stderr, "%s\n", qPrintable(dm.OpenError()));
        std::exit(1);
    }
}

// SQLite alone: the statement with its own functions, all rows stepped through.
double sqliteMs(sqlite3* db, const char* sql)
{
    QElapsedTimer t;
    t.start();
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "%s\n", sqlite3_errmsg(db));
        std::exit(1);
    }
    sqlite3_bind_text(st, 1, "2025-01-01 00:00:00", -1, SQLITE_STATIC);
    sqlite3_bind_text(st, 2, "2026-12-31 00:00:00", -1, SQLITE_STATIC);
    sqlite3_bind_int(st, 3, 1);
    while (sqlite3_step(st) == SQLITE_ROW) {
    }
    sqlite3_finalize(st);
    return t.nsecsElapsed() / 1e6;
}

constexpr char kRankSqlite[] =
    "select sum(jg) as amount,itemTitle,itemId,jg,count(itemId) as num,dian_id from pjinfo where "
    "buyerOrSaler=1 and pjsj>?1 and pjsj<=?2 and dian_id=?3 group by itemtitle,itemid,dian_id,jg "
    "order by count(itemId) desc,sum(jg) limit 50";
constexpr char kMarketSqlite[] =
    "select sum(jg) as amount,itemTitle,itemId,jg,count(itemId) as num,dian_id from pjinfo where "
    "buyerOrSaler=1 and pjsj>?1 and pjsj<=?2 and dian_id is not null group by itemtitle,itemid,dian_id,jg "
    "order by count(itemId) desc,sum(jg) limit 50";
constexpr char kTrendSqlite[][400] = {
    "select sum(jg) as totalAmount,(substr(pjsj,1,10)) from pjinfo where buyerOrSaler=1 and pjsj>?1 and "
    "pjsj<=?2 and dian_id=?3 group by (substr(pjsj,1,10)) order by sum(jg) desc limit 1",
    "select count(*) as num,(substr(pjsj,1,10)) from pjinfo where buyerOrSaler=1 and pjsj>?1 and "
    "pjsj<=?2 and dian_id=?3 group by (substr(pjsj,1,10)) order by count(*) desc limit 1",
    "select sum(jg) as totalAmount,count(itemId) as num,(substr(pjsj,1,10)) as time1 from pjinfo where "
    "buyerOrSaler=1 and pjsj>?1 and pjsj<=?2 and dian_id=?3 group by (substr(pjsj,1,10)) order by "
    "substr(pjsj,1,10)"};
constexpr char kDistSqlite[] =
    "select dian_id,sum(jg) as totalAmount,count(itemId) as num,(cast(strftime('%H',pjsj) as integer)) as "
    "time1 from pjinfo where pjsj>?1 and pjsj<=?2 and dian_id=?3 group by dian_id,strftime('%H',pjsj) "
    "order by strftime('%H',pjsj)";

struct Fixture
{
    BenchContext context;
    sqlite3* plain = nullptr; // a connection without the application's functions
    int kind;

    explicit Fixture(int kind) : kind(kind)
    {
        ensureDatabase(context.m_dm, kind);
        context.m_dm.tb_dianbase->Open();
        context.m_dm.tb_dianbase->First();
        sqlite3_open_v2(qPrintable(databasePath(kind)), &plain, SQLITE_OPEN_READONLY, nullptr);
    }
    ~Fixture() { sqlite3_close(plain); }
};

Fixture& fixture(int kind = ThreePrices)
{
    static std::unique_ptr<Fixture> f[2];
    if (!f[kind])
        f[kind] = std::make_unique<Fixture>(kind);
    return *f[kind];
}

Fixture& fixture(const benchmark::State& state)
{
    return fixture(static_cast<int>(state.range(0)));
}

template <typename View> void setRange(View& view)
{
    const auto edits = view.template findChildren<QDateEdit*>();
    edits[0]->setDate(QDate(2025, 1, 1));
    edits[1]->setDate(QDate(2026, 12, 31));
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Button to filled chart, against SQLite alone, alternating so both see the same cache.
template <typename View, typename Click>
void runView(benchmark::State& state, View& view, Click click, const std::function<double()>& baseline)
{
    QSignalSpy finished(&view, &View::runFinished);
    std::vector<double> ours, theirs;
    for (auto _ : state) {
        theirs.push_back(baseline());
        QElapsedTimer t;
        t.start();
        click();
        if (!finished.wait(30000))
            state.SkipWithError("no result");
        const double ms = t.nsecsElapsed() / 1e6;
        ours.push_back(ms);
        state.SetIterationTime(ms / 1000);
    }
    state.SetLabel(kindName(static_cast<int>(state.range(0))));
    state.counters["view_ms"] = median(ours);
    state.counters["sqlite3_ms"] = median(theirs);
    state.counters["ratio"] = median(ours) / median(theirs);
}

void BM_RankCount50(benchmark::State& state)
{
    Fixture& f = fixture(state);
    TfrmSaleNum view(f.context);
    view.show();
    setRange(view);
    view.findChild<QSpinBox*>(QStringLiteral("num"))->setValue(50);
    runView(
        state, view, [&] { view.bsSkinButton1Click(); }, [&] { return sqliteMs(f.plain, kRankSqlite); });
}

// A move through the ranking of 50 items with the detail grid open: the UI thread's part, once
// the ranked items' ratings have been read; beside it the query the detail table would run.
void BM_RankDetailMove(benchmark::State& state)
{
    Fixture& f = fixture(state);
    TfrmSaleNum view(f.context);
    view.show();
    setRange(view);
    view.findChild<QSpinBox*>(QStringLiteral("num"))->setValue(50);
    QSignalSpy finished(&view, &TfrmSaleNum::runFinished);
    QSignalSpy read(&view, &TfrmSaleNum::detailRead);
    QElapsedTimer t;
    t.start();
    view.bsSkinButton1Click();
    if (!finished.wait(30000) || (read.isEmpty() && !read.wait(30000))) {
        state.SkipWithError("no result");
        return;
    }
    const double readMs = t.nsecsElapsed() / 1e6;
    TCursor* fx1 = f.context.m_dm.pj_fx1;
    const QByteArray sql = "SELECT id FROM pjInfo WHERE dian_id=?3 AND itemId='" +
                           fx1->FieldByName(QStringLiteral("itemId")).asString().toUtf8() +
                           "' ORDER BY dian_id, itemId, id";
    std::vector<double> moves, query;
    int k = 0;
    for (auto _ : state) {
        QElapsedTimer m;
        m.start();
        fx1->MoveTo(1 + (k++ % fx1->RecordCount()));
        const double ms = m.nsecsElapsed() / 1e6;
        moves.push_back(ms);
        state.SetIterationTime(ms / 1000);
        query.push_back(sqliteMs(f.plain, sql.constData()));
    }
    state.counters["move_ms"] = median(moves);
    state.counters["detail_query_ms"] = median(query);
    state.counters["run_and_read_ms"] = readMs;
}

void BM_TrendByDay(benchmark::State& state)
{
    Fixture& f = fixture(state);
    TfrmStocks view(f.context);
    view.show();
    setRange(view);
    runView(
        state, view, [&] { view.bsSkinButton2Click(); },
        [&] {
            double ms = 0;
            for (const char* sql : kTrendSqlite)
                ms += sqliteMs(f.plain, sql);
            return ms;
        });
}

void BM_DistByHour(benchmark::State& state)
{
    Fixture& f = fixture(state);
    TfrmCircle view(f.context);
    view.show();
    setRange(view);
    runView(
        state, view, [&] { view.bsSkinButton4Click(); }, [&] { return sqliteMs(f.plain, kDistSqlite); });
}

// The analyses' data part alone, on a connection set up as the views' worker thread sets its
// own: what the stored keys buy, without the charts.
template <typename Run>
void runData(benchmark::State& state, Run run, const std::function<double()>& baseline)
{
    Fixture& f = fixture(state);
    TConnection c;
    if (!c.open(databasePath(f.kind)) ||
        !c.exec(QStringLiteral("PRAGMA cache_size=-2000; PRAGMA temp_store=DEFAULT"))) {
        state.SkipWithError("cannot open");
        return;
    }
    std::vector<double> ours, theirs;
    for (auto _ : state) {
        theirs.push_back(baseline());
        QElapsedTimer t;
        t.start();
        const analysis::Result r = run(c);
        const double ms = t.nsecsElapsed() / 1e6;
        if (!r.ok() || r.rowCount() == 0)
            state.SkipWithError("no result");
        ours.push_back(ms);
        state.SetIterationTime(ms / 1000);
    }
    state.SetLabel(kindName(static_cast<int>(state.range(0))));
    state.counters["run_ms"] = median(ours);
    state.counters["sqlite3_ms"] = median(theirs);
    state.counters["ratio"] = median(ours) / median(theirs);
}

analysis::Range wholeYear()
{
    analysis::Range r;
    r.shop = 1;
    r.begin = QDate(2025, 1, 1);
    r.end = QDate(2026, 12, 31);
    return r;
}

void BM_DataRankCount50(benchmark::State& state)
{
    analysis::RankRequest q;
    q.range = wholeYear();
    q.top = 50;
    runData(
        state, [&](TConnection& c) { return analysis::runRank(c, q); },
        [&] { return sqliteMs(fixture(state).plain, kRankSqlite); });
}

void BM_DataRankAmount50(benchmark::State& state)
{
    analysis::RankRequest q;
    q.range = wholeYear();
    q.top = 50;
    q.byAmount = true;
    static const QByteArray sql =
        QByteArray(kRankSqlite)
            .replace("order by count(itemId) desc,sum(jg)", "order by sum(jg) desc,count(itemId) desc");
    runData(
        state, [&](TConnection& c) { return analysis::runRank(c, q); },
        [&] { return sqliteMs(fixture(state).plain, sql.constData()); });
}

// The ranking over every shop's 2,000,000 ratings, beside SQLite running it.
void BM_DataMarket50(benchmark::State& state)
{
    analysis::RankRequest q;
    q.range = wholeYear();
    q.top = 50;
    runData(
        state, [&](TConnection& c) { return analysis::runMarketRank(c, q, std::nullopt); },
        [&] { return sqliteMs(fixture(state).plain, kMarketSqlite); });
}

// What the keys and tallies take beside the ratings table (the duplicate key counted with
// the table, which must have it).
void BM_Space(benchmark::State& state)
{
    Fixture& f = fixture(state);
    double table = 0, keys = 0;
    for (auto _ : state) {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(f.plain,
                           "select name, sum(pgsize) from dbstat where name like 'pjInfo%' group by name", -1,
                           &st, nullptr);
        table = keys = 0;
        while (sqlite3_step(st) == SQLITE_ROW) {
            const QByteArray name(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
            const double mb = sqlite3_column_double(st, 1) / 1048576.0;
            (name == "pjInfo" || name == "pjInfo_shop_item_time" ? table : keys) += mb;
            std::fprintf(stderr, "%s %s: %.1f MB\n", kindName(f.kind), name.constData(), mb);
        }
        sqlite3_finalize(st);
    }
    state.SetLabel(kindName(f.kind));
    state.counters["table_and_duplicate_key_mb"] = table;
    state.counters["keys_and_tallies_mb"] = keys;
}

void BM_DataTrendByDay(benchmark::State& state)
{
    runData(
        state, [&](TConnection& c) { return analysis::runTrend(c, wholeYear(), analysis::TrendPeriod::Day); },
        [&] {
            double ms = 0;
            for (const char* sql : kTrendSqlite)
                ms += sqliteMs(fixture(state).plain, sql);
            return ms;
        });
}

void BM_DataDistByHour(benchmark::State& state)
{
    runData(
        state, [&](TConnection& c) { return analysis::runDist(c, wholeYear(), analysis::DistPeriod::Hour); },
        [&] { return sqliteMs(fixture(state).plain, kDistSqlite); });
}

// The keys of an existing file of the size above built at its first open: both key indexes
// dropped, then the open that adds them again, timed.
void BM_KeyFill(benchmark::State& state)
{
    fixture();
    for (auto _ : state) {
        {
            sqlite3* db = nullptr;
            sqlite3_open(qPrintable(databasePath()), &db);
            sqlite3_exec(db, "DROP INDEX pjInfo_shop_when; DROP INDEX pjInfo_shop_itemkey", nullptr, nullptr,
                         nullptr);
            sqlite3_close(db);
        }
        QElapsedTimer t;
        t.start();
        TConnection c;
        if (!c.open(databasePath()) || c.mended().size() != 2)
            state.SkipWithError("the keys were not added");
        const double ms = t.nsecsElapsed() / 1e6;
        state.SetIterationTime(ms / 1000);
        state.counters["fill_ms"] = ms;
    }
}

// The analyses' tallies of an existing file of the size above counted at its first open:
// the tables and their triggers dropped, then the open that adds them again, timed.
void BM_TallyFill(benchmark::State& state)
{
    fixture();
    for (auto _ : state) {
        {
            sqlite3* db = nullptr;
            sqlite3_open(qPrintable(databasePath()), &db);
            sqlite3_exec(
                db,
                "DROP TRIGGER pjInfo_tallies_insert; DROP TRIGGER pjInfo_tallies_delete; "
                "DROP TRIGGER pjInfo_tallies_update; DROP TABLE pjInfoTally; DROP TABLE pjInfoHourTally",
                nullptr, nullptr, nullptr);
            sqlite3_close(db);
        }
        QElapsedTimer t;
        t.start();
        TConnection c;
        if (!c.open(databasePath()) || c.mended().size() != 6)
            state.SkipWithError("the tallies were not added");
        const double ms = t.nsecsElapsed() / 1e6;
        state.SetIterationTime(ms / 1000);
        state.counters["fill_ms"] = ms;
    }
}

// What the tallies cost the rating saver: its insert statement and its removal of duplicates
// over a shop of 100,000 ratings, in transactions of the second argument's ratings (a page of
// 40, or the whole shop as the saver writes it), in a file without the tallies' triggers (0),
// with them counting each rating (1), and counting each transaction's ratings at its end as
// the saver does (2).
void BM_SaverCostPerRating(benchmark::State& state)
{
    constexpr int kSaved = 100000;
    const bool triggers = state.range(0) != 0;
    const bool bulk = state.range(0) == 2;
    const int perTransaction = static_cast<int>(state.range(1));
    for (auto _ : state) {
        QTemporaryDir dir;
        TDM dm;
        dm.DataModuleCreate(dir.filePath(QStringLiteral("quelmar2.mdb")));
        if (!triggers)
            dm.adoCn.exec(
                QStringLiteral("DROP TRIGGER pjInfo_tallies_insert; DROP TRIGGER pjInfo_tallies_delete; "
                               "DROP TRIGGER pjInfo_tallies_update"));
        TQuery* q = dm.ADOQuery2;
        q->SetSQL(QString::fromLatin1(TSaveBarGain::kInsertSql));
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < kSaved; ++i) {
            if (i % perTransaction == 0) {
                dm.adoCn.beginTransaction();
                if (bulk)
                    for (const QString& sql : schema::bulkStartStatements())
                        dm.adoCn.exec(sql);
            }
            const int k = i % 10 == 9 ? i - 1 : i; // every tenth a repeat, as pages overlap
            const QString item = QString::number(100000 + k % 5000);
            const QString when = QStringLiteral("2026-%1-%2 %3:%4:%5")
                                     .arg(k % 12 + 1)
                                     .arg(k % 28 + 1)
                                     .arg(k % 24)
                                     .arg(k % 60)
                                     .arg((k / 60) % 60);
            q->SetParam(QStringLiteral("dianId"), QStringLiteral("1"));
            q->SetParam(QStringLiteral("pj"), QStringLiteral("好评"));
            q->SetParam(QStringLiteral("buyerorSaler"), QStringLiteral("True"));
            q->SetParam(QStringLiteral("pjsj"), when);
            q->SetParam(QStringLiteral("trade_id"), QString::number(900000 + i));
            q->SetParam(QStringLiteral("itemid"), item);
            q->SetParam(QStringLiteral("itemtitle"), QStringLiteral("春季新款纯棉衬衫 ") + item);
            q->SetParam(QStringLiteral("pjName"), QStringLiteral("买家"));
            q->SetParam(QStringLiteral("jg"), QStringLiteral("128.50"));
            q->SetParam(QStringLiteral("pjinfo"), QStringLiteral("质量很好，发货很快"));
            q->SetParam(QStringLiteral("pjjs"), QString());
            q->SetParam(QStringLiteral("itemId_pjsj"), item + when);
            q->ExecSQL();
            if (i % perTransaction == perTransaction - 1) {
                if (bulk)
                    for (const QString& sql : schema::bulkFoldStatements())
                        dm.adoCn.exec(sql);
                dm.adoCn.commit();
            }
        }
        const double insertMs = t.nsecsElapsed() / 1e6;
        t.restart();
        TQuery* d = dm.ADOQuery1;
        d->SetSQL(QString::fromLatin1(TSaveBarGain::kRemoveDuplicatesSql));
        for (const char* p : {"dian_id1", "dian_id2", "dian_id3"})
            d->SetParam(QString::fromLatin1(p), QStringLiteral("1"));
        const int removed = d->ExecSQL();
        const double dedupeMs = t.nsecsElapsed() / 1e6;
        state.SetIterationTime((insertMs + dedupeMs) / 1000);
        state.counters["insert_us_per_rating"] = insertMs * 1000 / kSaved;
        state.counters["removed"] = removed;
        state.counters["dedupe_us_per_removed"] = removed > 0 ? dedupeMs * 1000 / removed : 0;
    }
}

// One mouse move over a filled chart: the handler and the repaint of what it changed.
void crossHairMoves(benchmark::State& state, QChartView* view, TCrossHair* cross)
{
    view->resize(1000, 500);
    view->show();
    QCoreApplication::sendPostedEvents();
    cross->setActive(true);
    cross->cacheChartItems(); // as the views do after each run
    const QRectF plot = view->chart()->plotArea();
    int k = 0;
    std::vector<double> handler, withPaint;
    QRegion previous;
    QPixmap surface(view->viewport()->size()); // stands in for the window's backing store
    const QRect plotRect = view->mapFromScene(view->chart()->mapToScene(plot)).boundingRect();
    for (auto _ : state) {
        const QPoint pos(static_cast<int>(plot.left() + 1 + (k * 37) % static_cast<int>(plot.width() - 2)),
                         static_cast<int>(plot.top() + 1 + (k * 13) % static_cast<int>(plot.height() - 2)));
        ++k;
        QMouseEvent move(QEvent::MouseMove, pos, view->viewport()->mapToGlobal(pos), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QElapsedTimer t;
        t.start();
        QCoreApplication::sendEvent(view->viewport(), &move);
        handler.push_back(t.nsecsElapsed() / 1e6);
        // What the scene's update paints: the strips of the old and the new cross.
        const QRegion cross = QRegion(QRect(pos.x() - 1, plotRect.top(), 3, plotRect.height())) +
                              QRegion(QRect(plotRect.left(), pos.y() - 1, plotRect.width(), 3));
        view->viewport()->render(&surface, QPoint(), cross + previous, QWidget::DrawChildren);
        previous = cross;
        const double ms = t.nsecsElapsed() / 1e6;
        withPaint.push_back(ms);
        state.SetIterationTime(ms / 1000);
    }
    state.counters["handler_ms"] = median(handler);
    state.counters["with_paint_ms"] = median(withPaint);
}

void BM_CrossHair50Bars(benchmark::State& state)
{
    auto* chart = new QChart;
    charts::setupRank(chart);
    QStringList labels;
    QList<double> values;
    for (int k = 0; k < 50; ++k) {
        labels << analysis::rankLabel(k + 1);
        values << 1000 - k * 13;
    }
    charts::fillRank(chart, analysis::rankTitle(false), labels, values);
    QChartView view(chart);
    auto* info = new QLabel(&view);
    TCrossHair cross(&view, chart->series().first(), info);
    cross.setPointCount(50);
    crossHairMoves(state, &view, &cross);
}

void BM_CrossHair1000Days(benchmark::State& state)
{
    auto* counts = new QChart;
    auto* amounts = new QChart;
    charts::setupTrend(counts, amounts);
    QStringList labels;
    QList<double> c, a;
    for (int i = 0; i < 1000; ++i) {
        labels << QDate(2024, 1, 1).addDays(i).toString(Qt::ISODate);
        c << 50 + (i * 7) % 40;
        a << 3000 + (i * 53) % 900;
    }
    charts::fillTrend(counts, amounts, labels, c, a);
    QWidget panel;
    auto* layout = new QVBoxLayout(&panel);
    auto* upper = new QChartView(counts, &panel);
    auto* lower = new QChartView(amounts, &panel);
    layout->addWidget(upper);
    layout->addWidget(lower);
    TCrossHair top(upper, counts->series().first(), new QLabel(upper));
    TCrossHair bottom(lower, amounts->series().first(), new QLabel(lower));
    top.link(&bottom);
    bottom.link(&top);
    top.setPointCount(1000);
    bottom.setPointCount(1000);
    panel.resize(1000, 800);
    panel.show();
    crossHairMoves(state, upper, &top);
}

// The trend view's part after its data has arrived: the two charts filled with a year of days,
// as the view does it (margins, series, axes, the cross-hair's caches), without the engine.
void BM_TrendChartsFill365(benchmark::State& state)
{
    auto* counts = new QChart;
    auto* amounts = new QChart;
    charts::setupTrend(counts, amounts);
    QStringList labels;
    QList<double> c, a;
    for (int i = 0; i < 365; ++i) {
        labels << QDate(2026, 1, 1).addDays(i).toString(Qt::ISODate);
        c << 2500 + (i * 7) % 400;
        a << 90000 + (i * 53) % 9000;
    }
    QWidget panel;
    auto* layout = new QVBoxLayout(&panel);
    auto* upper = new QChartView(counts, &panel);
    auto* lower = new QChartView(amounts, &panel);
    layout->addWidget(upper);
    layout->addWidget(lower);
    TCrossHair top(upper, counts->series().first(), new QLabel(upper));
    TCrossHair bottom(lower, amounts->series().first(), new QLabel(lower));
    panel.resize(1000, 800);
    panel.show();
    QCoreApplication::processEvents();
    std::vector<double> fill, shown;
    for (auto _ : state) {
        charts::fillTrend(counts, amounts, {}, {}, {});
        QCoreApplication::processEvents();
        QElapsedTimer t;
        t.start();
        charts::applyTrendMargins(counts, amounts, analysis::trendMargins(99000, 2900));
        charts::fillTrend(counts, amounts, labels, c, a);
        for (TCrossHair* cross : {&top, &bottom}) {
            cross->reset();
            cross->cacheChartItems();
            cross->setPointCount(365);
            cross->setActive(true);
        }
        const double ms = t.nsecsElapsed() / 1e6;
        fill.push_back(ms);
        // And until both charts are laid out and painted once.
        QCoreApplication::processEvents();
        upper->grab();
        lower->grab();
        shown.push_back(t.nsecsElapsed() / 1e6);
        state.SetIterationTime(ms / 1000);
    }
    state.counters["fill_ms"] = median(fill);
    state.counters["fill_layout_paint_ms"] = median(shown);
}

} // namespace

BENCHMARK(BM_TrendChartsFill365)->UseManualTime()->Iterations(9)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RankCount50)
    ->Arg(OwnPrices)
    ->Arg(ThreePrices)
    ->UseManualTime()
    ->Iterations(7)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RankDetailMove)
    ->Arg(ThreePrices)
    ->UseManualTime()
    ->Iterations(21)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TrendByDay)
    ->Arg(OwnPrices)
    ->Arg(ThreePrices)
    ->UseManualTime()
    ->Iterations(7)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DistByHour)
    ->Arg(OwnPrices)
    ->Arg(ThreePrices)
    ->UseManualTime()
    ->Iterations(7)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DataRankCount50)
    ->Arg(OwnPrices)
    ->Arg(ThreePrices)
    ->UseManualTime()
    ->Iterations(7)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DataTrendByDay)
    ->Arg(OwnPrices)
    ->Arg(ThreePrices)
    ->UseManualTime()
    ->Iterations(7)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DataRankAmount50)
    ->Arg(OwnPrices)
    ->Arg(ThreePrices)
    ->UseManualTime()
    ->Iterations(7)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DataMarket50)
    ->Arg(OwnPrices)
    ->Arg(ThreePrices)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Space)->Arg(OwnPrices)->Arg(ThreePrices)->Iterations(1);
BENCHMARK(BM_DataDistByHour)
    ->Arg(OwnPrices)
    ->Arg(ThreePrices)
    ->UseManualTime()
    ->Iterations(7)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KeyFill)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TallyFill)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaverCostPerRating)
    ->Args({0, 40})
    ->Args({1, 40})
    ->Args({0, 100000})
    ->Args({1, 100000})
    ->Args({2, 100000})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CrossHair50Bars)->UseManualTime()->Iterations(500)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CrossHair1000Days)->UseManualTime()->Iterations(500)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
