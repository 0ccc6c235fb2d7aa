#include "cli/CliCommand.h"
#include "cli/CliDatabase.h"
#include "cli/JsonOut.h"
#include "cli/MineAddresses.h"
#include "cli/MineStored.h"
#include "store/ShopQueue.h"
#include "store/TDM.h"

#include <QDateTime>
#include <cstdio>

namespace {

int refuse(const QString& problem)
{
    std::fprintf(stderr, "kestrova-cli queue: %s\n", problem.toLocal8Bit().constData());
    std::fprintf(stderr, "%s\n", qPrintable(cliUsage(QStringLiteral("queue"))));
    return 2;
}

QString shownTime(qint64 secs)
{
    return QDateTime::fromSecsSinceEpoch(secs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

void printLine(const QStringList& pieces)
{
    std::printf("{%s}\n", pieces.join(QStringLiteral(", ")).toUtf8().constData());
}

QString pair(const char* key, const QString& value)
{
    return jsonout::string(QString::fromLatin1(key)) + QStringLiteral(": ") + jsonout::string(value);
}

QString pair(const char* key, qint64 value)
{
    return jsonout::string(QString::fromLatin1(key)) + QStringLiteral(": ") + QString::number(value);
}

// "serverUser": null on a database file.
QString minedBy(const shopqueue::Miner& miner)
{
    return QStringLiteral("\"serverUser\": ") +
           (miner.serverUser.isEmpty() ? QStringLiteral("null") : jsonout::string(miner.serverUser)) +
           QStringLiteral(", ") + pair("machine", miner.machine);
}

int status(TDM& dm)
{
    QString error;
    const auto s = shopqueue::status(dm.adoCn, &error);
    if (!s) {
        std::fprintf(stderr, "kestrova-cli queue: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    const qint64 t = shopqueue::now();
    printLine({pair("state", QStringLiteral("waiting")), pair("shops", s->waiting)});
    printLine({pair("state", QStringLiteral("claimed")), pair("shops", s->claimed.size())});
    for (const shopqueue::Held& h : s->claimed)
        printLine({pair("state", QStringLiteral("claimed")), pair("webaddr", h.webaddr),
                   pair("worker", h.worker), minedBy(h.miner), pair("since", shownTime(h.since)),
                   pair("leaseEnds", shownTime(h.leaseUntil)),
                   // Claimable again by any worker.
                   QStringLiteral("\"leaseEnded\": ") + (h.leaseUntil <= t ? "true" : "false")});
    printLine({pair("state", QStringLiteral("done")), pair("shops", s->done)});
    for (const auto& [miner, n] : s->doneBy)
        printLine({pair("state", QStringLiteral("done")), minedBy(miner), pair("count", n)});
    printLine({pair("state", QStringLiteral("failed")), pair("shops", s->failed.size())});
    for (const shopqueue::FailedShop& f : s->failed)
        printLine({pair("state", QStringLiteral("failed")), pair("webaddr", f.webaddr),
                   pair("reason", f.reason), minedBy(f.miner)});
    std::fflush(stdout);
    return 0;
}

int add(const QStringList& args)
{
    bool stored = false;
    QString filter;
    bool filtered = false;
    shopqueue::Entry options;
    QStringList urls;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        const bool valued =
            a == QLatin1String("--filter") || a == QLatin1String("--from") || a == QLatin1String("--to");
        if (valued && i + 1 >= args.size())
            return refuse(QStringLiteral("%1 needs a value").arg(a));
        if (a == QLatin1String("--stored")) {
            stored = true;
        } else if (a == QLatin1String("--new-only")) {
            options.newOnly = true;
        } else if (a == QLatin1String("--filter")) {
            filter = args[++i];
            filtered = true;
        } else if (a == QLatin1String("--from") || a == QLatin1String("--to")) {
            bool ok = false;
            const int n = args[++i].toInt(&ok);
            if (!ok || n < 1 || n > 1000000)
                return refuse(QStringLiteral("%1: %2 is not allowed").arg(a, args[i]));
            (a == QLatin1String("--from") ? options.fromRecord : options.toRecord) = n;
        } else if (a.startsWith(QLatin1String("--"))) {
            return refuse(QStringLiteral("unknown option %1").arg(a));
        } else {
            urls << a;
        }
    }
    if (options.toRecord < options.fromRecord)
        return refuse(
            QStringLiteral("--to %1 is below --from %2").arg(options.toRecord).arg(options.fromRecord));
    if (stored && !urls.isEmpty())
        return refuse(QStringLiteral("--stored takes no shop address (%1)").arg(urls.first()));
    if (filtered && !stored)
        return refuse(QStringLiteral("--filter is for --stored"));
    if (!stored && urls.isEmpty())
        return refuse(QStringLiteral("no shop address given"));
    auto config = loadCliConfig();
    if (!config)
        return 1;
    // Bad addresses touch nothing, as for mine.
    if (!minableAddresses(urls, config->Market().Domain, "queue"))
        return 2;
    TDM dm;
    if (!openCliDatabase(dm, storeroles::Action::Mine))
        return 1;
    QList<shopqueue::Entry> entries;
    if (stored) {
        int failure = 0;
        const auto rows = storedShopRows(dm, filter, "queue", &failure);
        if (!rows)
            return failure;
        for (const TMiningRun::Row& row : *rows) {
            shopqueue::Entry e = options;
            e.webaddr = row.shop.webaddr;
            e.row = row.shop;
            entries << e;
        }
    } else {
        for (const QString& url : std::as_const(urls)) {
            shopqueue::Entry e = options;
            e.webaddr = url;
            entries << e;
        }
    }
    QString error;
    const int added = shopqueue::add(dm.adoCn, entries, &error);
    if (added < 0) {
        std::fprintf(stderr, "kestrova-cli queue: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    printLine({pair("queued", added), pair("alreadyQueued", entries.size() - added)});
    std::fflush(stdout);
    return 0;
}

int retryFailed(TDM& dm)
{
    QString error;
    const int n = shopqueue::retryFailed(dm.adoCn, &error);
    if (n < 0) {
        std::fprintf(stderr, "kestrova-cli queue: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    printLine({pair("retried", n)});
    std::fflush(stdout);
    return 0;
}

int runQueue(const QStringList& args)
{
    const QString what = args.value(0, QStringLiteral("status"));
    if (what == QLatin1String("add"))
        return add(args.mid(1));
    if (what.startsWith(QLatin1String("--")))
        return refuse(QStringLiteral("unknown option %1").arg(what));
    if (what != QLatin1String("status") && what != QLatin1String("retry-failed"))
        return refuse(QStringLiteral("unknown queue command %1").arg(what));
    if (args.size() > 1)
        return refuse(QStringLiteral("unexpected argument %1").arg(args[1]));
    TDM dm;
    const bool retry = what == QLatin1String("retry-failed");
    if (!(retry ? openCliDatabase(dm, storeroles::Action::Mine) : openCliDatabase(dm)))
        return 1;
    return retry ? retryFailed(dm) : status(dm);
}

const CliRegistration queueRegistration{
    {QStringLiteral("queue"),
     QStringLiteral(
         "queue status | queue add [--from A] [--to B] [--new-only] URL... | queue add --stored "
         "[--filter TEXT] [--from A] [--to B] [--new-only] | queue retry-failed   the shared queue "
         "of shops to mine: its state, shops added to it, failed ones put back"),
     runQueue,
     QStringLiteral(
         "Shops on the queue are mined by \"kestrova-cli work\", by any number of workers on the\n"
         "database. status (also without a command) prints the queue's state as JSON lines: the\n"
         "waiting shops, the claimed ones (with the worker, since when and when its lease ends),\n"
         "the done ones and the failed ones with their reasons. Claimed, done and failed shops name\n"
         "who mined them: serverUser (the server user, null on a database file) and machine; the\n"
         "done ones as a count for each.\n"
         "\n"
         "  add URL...          put the shops of these addresses on the queue; each must be a shop\n"
         "                      address on the [Market] Domain of config.ini, or nothing is added\n"
         "                      and the exit status is 2. A shop already waiting or being mined is\n"
         "                      not added again.\n"
         "  add --stored        put every stored shop on the queue\n"
         "  --filter TEXT       with --stored: only the shops this filter selects, in the forms of\n"
         "                      \"export shops --filter\"\n"
         "  --from A            mine each added shop's ratings from rating A on (default 1)\n"
         "  --to B              ... up to rating B (default 5000); B not below A\n"
         "  --new-only          stop each added shop's rating walk after the first page whose\n"
         "                      ratings are all stored already\n"
         "  retry-failed        put the failed shops back as waiting\n"
         "  --help              show this text")}};

} // namespace
