// The same work on the database file and on a local server (started here, scripts/pg-local):
// the saver storing 100,000 ratings, the three analyses of a shop of 1,000,000 ratings, and
// the trade tab opening and filtering those ratings. Prints medians and the server's ratio.
//
//     build/bin/server_bench [ratings-for-the-analyses, default 1000000]
#include "analysis/AnalysisRun.h"
#include "extract/QtTestApp.h"
#include "mining/TSaveBarGain.h"
#include "store/PgServer.h"
#include "store/TBatchInsert.h"
#include "store/TDM.h"
#include "store/TQuery.h"
#include "store/TTable.h"
#include "text/GbkCodec.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

double medianMs(int runs, const std::function<void()>& work)
{
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        work();
        ms.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

const QStringList kColumns{"dian_id",   "pj",     "buyerorSaler", "pjsj",   "trade_id", "itemid",
                           "itemtitle", "pjName", "jg",           "pjinfo", "pjjs",     "itemId_pjsj"};

QVariantList rating(QRandomGenerator& random, qlonglong shop, int i)
{
    static const QStringList pjs{QStringLiteral("好评"), QStringLiteral("中评"), QStringLiteral("坏评")};
    const QDateTime when = QDateTime(QDate(2026, 1, 1), QTime(0, 0)).addSecs(random.bounded(365 * 86400));
    const int item = random.bounded(400);
    const QString time = when.toString("yyyy-MM-dd HH:mm:ss");
    return {shop,
            pjs[random.bounded(10) < 8 ? 0 : 1 + random.bounded(2)],
            random.bounded(10) < 9 ? "True" : "False",
            time,
            QStringLiteral("T%1").arg(i),
            QStringLiteral("I%1").arg(item),
            QStringLiteral("宝贝%1号").arg(item),
            QStringLiteral("买家%1").arg(random.bounded(5000)),
            QString::number(1 + item % 97, 'f', 1),
            QStringLiteral("很好，下次还来"),
            QString(),
            QStringLiteral("I%1").arg(item) + time};
}

qlonglong addShop(TDM& dm)
{
    TQuery* q = dm.adoq1;
    q->SetSQL("insert into dianbase(dianzhu,webaddr) values(:dianzhu,:webaddr)");
    q->SetParam("dianzhu", QStringLiteral("掌柜"));
    q->SetParam("webaddr",
                QStringLiteral("http://127.0.0.1:9/shop/%1.htm").arg(QRandomGenerator::global()->generate()));
    q->ExecSQL();
    q->SetSQL("select max(id) as id from dianbase");
    q->Open();
    return q->FieldByName("id").asInteger();
}

// The saver's own work: one transaction, every rating, the duplicate removal.
double saverMs(const QString& target, int ratings)
{
    TDM dm;
    if (!dm.DataModuleCreate(target)) {
        std::fprintf(stderr, "%s\n", qPrintable(dm.OpenError()));
        std::exit(1);
    }
    const qlonglong shop = addShop(dm);
    auto list = std::make_shared<RatingList>();
    QRandomGenerator random(7);
    for (int i = 0; i < ratings; ++i) {
        const QVariantList r = rating(random, shop, i);
        // The parser's field order: pj, time, trade, item id, title, name, buyer, price, text, reply.
        RatingRecord record{gbk::fromQString(r[1].toString()), gbk::fromQString(r[3].toString()),
                            gbk::fromQString(r[4].toString()), gbk::fromQString(r[5].toString()),
                            gbk::fromQString(r[6].toString()), gbk::fromQString(r[7].toString()),
                            gbk::fromQString(r[2].toString()), gbk::fromQString(r[8].toString()),
                            gbk::fromQString(r[9].toString()), std::string()};
        list->emplace_back(std::string(), std::move(record));
    }
    TSaveBarGain* saver = TSaveBarGain::Create(target, list, QString::number(shop));
    int stored = 0;
    QObject::connect(saver, &TSaveBarGain::completed, [&](int s, int) { stored = s; });
    QElapsedTimer t;
    t.start();
    saver->start();
    saver->wait();
    const double ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
    if (stored != ratings)
        std::fprintf(stderr, "the saver stored %d of %d\n", stored, ratings);
    return ms;
}

void fill(TConnection& c, qlonglong shop, int ratings)
{
    QRandomGenerator random(11);
    c.beginTransaction();
    TBatchInsert batch(c, "pjinfo", kColumns);
    QString error;
    for (int i = 0; i < ratings; ++i)
        batch.add(rating(random, shop, i), &error);
    batch.flush();
    c.commit();
    // On the server what its autovacuum does within a minute of a bulk load: without it every
    // key read visits the table to learn whether the row is visible.
    c.exec(c.engine() == TConnection::Engine::Postgres ? "VACUUM ANALYZE" : "ANALYZE");
}

void line(const char* what, double file, double server)
{
    std::printf("%-44s file %9.1f ms   server %9.1f ms   %.2fx\n", what, file, server, server / file);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    ensureCoreApp();
    const int ratings = argc > 1 ? std::atoi(argv[1]) : 1000000;
    PgServer server;
    if (!server.running()) {
        std::fprintf(stderr, "no server: %s%s\n", qPrintable(server.skipReason()),
                     qPrintable(server.error()));
        return 1;
    }
    QTemporaryDir dir;
    auto serverDb = [&](const QString& name) {
        server.psql("CREATE DATABASE " + name);
        return server.url().left(server.url().lastIndexOf(u'/') + 1) + name;
    };

    // The saver: a fresh store each time.
    int n = 0;
    const double saveFile =
        medianMs(3, [&] { saverMs(dir.filePath(QStringLiteral("s%1.mdb").arg(++n)), 100000); });
    const double saveServer = medianMs(3, [&] { saverMs(serverDb(QStringLiteral("s%1").arg(++n)), 100000); });
    line("saver, 100,000 ratings", saveFile, saveServer);

    TDM file, onServer;
    file.DataModuleCreate(dir.filePath("big.mdb"));
    onServer.DataModuleCreate(serverDb("big"));
    TDM* both[] = {&file, &onServer};
    qlonglong shops[2];
    for (int e = 0; e < 2; ++e) {
        shops[e] = addShop(*both[e]);
        QElapsedTimer t;
        t.start();
        fill(both[e]->adoCn, shops[e], ratings);
        std::printf("filled %d ratings on the %s in %.1f s\n", ratings, e ? "server" : "file",
                    t.elapsed() / 1000.0);
    }
    auto range = [&](int e) {
        analysis::Range r;
        r.shop = shops[e];
        r.begin = QDate(2026, 1, 1);
        r.end = QDate(2026, 12, 31);
        return r;
    };
    double ms[2];
    for (int e = 0; e < 2; ++e) {
        analysis::RankRequest q;
        q.range = range(e);
        q.top = 50;
        ms[e] = medianMs(5, [&] { analysis::runRank(both[e]->adoCn, q); });
    }
    line("ranking, top 50, whole year", ms[0], ms[1]);
    for (int e = 0; e < 2; ++e)
        ms[e] =
            medianMs(5, [&] { analysis::runTrend(both[e]->adoCn, range(e), analysis::TrendPeriod::Day); });
    line("trend by day, whole year", ms[0], ms[1]);
    for (int e = 0; e < 2; ++e)
        ms[e] = medianMs(5, [&] { analysis::runDist(both[e]->adoCn, range(e), analysis::DistPeriod(0)); });
    line("distribution by hour, whole year", ms[0], ms[1]);
    // The trade tab: the whole table first, then one shop's sales, each with its first screen.
    for (int e = 0; e < 2; ++e)
        ms[e] = medianMs(5, [&] {
            TTable* t = both[e]->tb_pjinfo;
            t->Close();
            t->SetFilter(QString());
            t->SetFiltered(false);
            t->Open();
            for (int r = 0; r < 40; ++r)
                t->value(r, 1);
        });
    line("trade tab, open 1,000,000", ms[0], ms[1]);
    for (int e = 0; e < 2; ++e)
        ms[e] = medianMs(5, [&] {
            TTable* t = both[e]->tb_pjinfo;
            t->SetFilter(QStringLiteral("dian_id =%1 and buyerOrSaler = true").arg(shops[e]));
            t->SetFiltered(true);
            t->Open();
            for (int r = 0; r < 40; ++r)
                t->value(r, 1);
        });
    line("trade tab, filter one shop's sales", ms[0], ms[1]);
    return 0;
}
