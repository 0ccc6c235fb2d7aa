#include "analysis/ShopChanges.h"
#include "cli/CliCommand.h"
#include "cli/CliDatabase.h"
#include "cli/JsonOut.h"
#include "settings/Paths.h"
#include "store/TDM.h"

#include <cstdio>

namespace {

int usage(const QString& problem)
{
    std::fprintf(stderr, "kestrova-cli changes: %s\n%s\n", problem.toLocal8Bit().constData(),
                 qPrintable(cliUsage(QStringLiteral("changes"))));
    return 2;
}

QString line(const shopchanges::Change& c)
{
    auto number = [](qlonglong n) { return QString::number(n); };
    QStringList alerts;
    for (const QString& rule : c.crossed)
        alerts << jsonout::string(rule);
    const std::pair<const char*, QString> pieces[] = {
        {"shopId", number(c.shopId)},
        {"dianzhu", jsonout::string(c.dianzhu)},
        {"dianming", jsonout::string(c.dianming)},
        {"from", jsonout::string(c.from)},
        {"to", jsonout::string(c.to)},
        {"newRatings", number(c.newRatings)},
        {"sales", number(c.sales)},
        {"amount", shopchanges::amountText(c.amountUnits)},
        {"bad", number(c.bad)},
        {"neutral", number(c.neutral)},
        {"salerCreditDelta", number(c.salerCreditDelta)},
        {"buyerCreditDelta", number(c.buyerCreditDelta)},
        {"salerGoodRate", jsonout::string(c.salerGoodRate)},
        {"salerGoodRateBefore", jsonout::string(c.salerGoodRateBefore)},
        {"alerts", u'[' + alerts.join(QStringLiteral(", ")) + u']'},
    };
    QStringList out;
    for (const auto& [key, value] : pieces)
        out << QStringLiteral("\"%1\": %2").arg(QLatin1String(key), value);
    return u'{' + out.join(QStringLiteral(", ")) + u'}';
}

int runChanges(const QStringList& args)
{
    shopchanges::Options options;
    QString filter;
    bool alertsOnly = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--alerts")) {
            alertsOnly = true;
            continue;
        }
        if (a != QLatin1String("--since") && a != QLatin1String("--filter"))
            return usage(a.startsWith(QLatin1String("--")) ? QStringLiteral("unknown option %1").arg(a)
                                                           : QStringLiteral("unexpected argument %1").arg(a));
        if (i + 1 >= args.size())
            return usage(QStringLiteral("%1 needs a value").arg(a));
        const QString v = args[++i];
        if (a == QLatin1String("--filter")) {
            filter = v;
            continue;
        }
        QDateTime since = QDateTime::fromString(v, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        if (!since.isValid())
            since = QDateTime(QDate::fromString(v, Qt::ISODate), QTime(0, 0));
        if (!since.isValid())
            return usage(
                QStringLiteral("--since: %1 is not a date (yyyy-MM-dd or yyyy-MM-dd HH:mm:ss)").arg(v));
        options.since = since;
    }
    QStringList problems;
    options.rules = WatchSettings::read(Paths::configFile(), &problems);
    for (const QString& p : problems)
        std::fprintf(stderr, "kestrova-cli changes: %s\n", p.toLocal8Bit().constData());
    TDM dm;
    if (!openCliDatabase(dm))
        return 1;
    if (!filter.isEmpty()) {
        // The browser's cursor selects the shops, so the filter means what it means there.
        TTable* shops = dm.tb_dianbase;
        if (!cliFilterUnderstood(*shops, filter))
            return 2;
        if (!shops->SetFilter(filter) || !shops->SetFiltered(true) || !shops->Open()) {
            std::fprintf(stderr, "%s\n", shops->lastError().toLocal8Bit().constData());
            return 1;
        }
        QSet<qlonglong> ids;
        for (shops->First(); !shops->Eof(); shops->Next())
            ids.insert(shops->FieldByName(QStringLiteral("id")).asInteger());
        options.shops = ids;
    }
    QString error;
    const auto changes = shopchanges::collect(dm.adoCn, options, &error);
    if (!changes) {
        std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
        return 1;
    }
    int alerts = 0;
    for (const shopchanges::Change& c : *changes) {
        if (alertsOnly && c.crossed.isEmpty())
            continue;
        alerts += !c.crossed.isEmpty();
        std::printf("%s\n", line(c).toUtf8().constData());
    }
    std::fflush(stdout);
    return alertsOnly && alerts > 0 ? 3 : 0;
}

const CliRegistration registration{
    {QStringLiteral("changes"),
     QStringLiteral("changes [--since DATE] [--filter TEXT] [--alerts]   what changed in each shop between "
                    "its last two minings, as JSON lines"),
     runChanges,
     QStringLiteral(
         "Prints one JSON line per shop with two rows of history to compare (its last mining, and\n"
         "the one before it): shopId, dianzhu, dianming, from and to (when each was stored),\n"
         "newRatings (ratings stored in between), sales and amount (those in which the shop sold,\n"
         "count and summed price), bad and neutral (new 差评 and 中评), salerCreditDelta,\n"
         "buyerCreditDelta, salerGoodRate, salerGoodRateBefore and alerts (the rules of [Watch] in\n"
         "config.ini it crosses). Biggest moves first: by sales, then by bad ratings.\n"
         "\n"
         "  --since DATE   compare with the last mining before DATE (yyyy-MM-dd [HH:mm:ss])\n"
         "  --filter TEXT  only the shops a filter in the forms of \"export --filter\" selects\n"
         "  --alerts       only the shops that cross a rule; exit status 3 when there is any\n"
         "  --help         show this text\n"
         "\n"
         "[Watch] rules, each off unless set: BadRatings=N (at least N new bad ratings),\n"
         "SalesChangePercent=P (sales per day moved by P% against the interval before),\n"
         "CreditDrop=N (seller credit fell by N), GoodRateDrop=P (good rate fell by P points).")}};

} // namespace
