#include "cli/CliCommand.h"
#include "cli/CliDatabase.h"
#include "cli/JsonOut.h"
#include "store/TDM.h"

#include <QHash>
#include <cstdio>

namespace {

// The columns a shop line shows, in this order; the stored ratings follow the profile counts.
const char* const kColumns[] = {"id",          "dianzhu",     "dianming",    "webaddr",  "salelevel",
                                "salerGood",   "salerNotBad", "salerBad",    "buylevel", "buyerGood",
                                "buyerNotBad", "buyerBad",    "commodityNum"};

int runShops(const QStringList& args)
{
    QString filter;
    QString sort;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        QString problem;
        if (a != QLatin1String("--filter") && a != QLatin1String("--sort"))
            problem = a.startsWith(QLatin1String("--")) ? QStringLiteral("unknown option %1").arg(a)
                                                        : QStringLiteral("unexpected argument %1").arg(a);
        else if (i + 1 >= args.size())
            problem = QStringLiteral("%1 needs a value").arg(a);
        if (!problem.isEmpty()) {
            std::fprintf(stderr, "kestrova-cli shops: %s\n%s\n", problem.toLocal8Bit().constData(),
                         qPrintable(cliUsage(QStringLiteral("shops"))));
            return 2;
        }
        (a == QLatin1String("--filter") ? filter : sort) = args[++i];
    }
    TDM dm;
    if (!openCliDatabase(dm))
        return 1;
    // The browser's cursor takes the filter and sort, so both mean here what they mean there.
    TTable* shops = dm.tb_dianbase;
    // A filter that is not understood is bad usage; a sort the engine refuses is its error.
    if (!cliFilterUnderstood(*shops, filter))
        return 2;
    if (!shops->SetFilter(filter) || !shops->SetFiltered(true) || !shops->SetSort(sort) || !shops->Open()) {
        std::fprintf(stderr, "%s\n", shops->lastError().toLocal8Bit().constData());
        return 1;
    }
    QHash<qlonglong, qlonglong> stored;
    TQuery* counts = dm.adoq1;
    counts->SetSQL(QStringLiteral("select dian_id, count(*) as n from pjInfo group by dian_id"));
    if (!counts->Open()) {
        std::fprintf(stderr, "%s\n", counts->lastError().toLocal8Bit().constData());
        return 1;
    }
    for (counts->First(); !counts->Eof(); counts->Next())
        stored.insert(counts->FieldByName(QStringLiteral("dian_id")).asInteger(),
                      counts->FieldByName(QStringLiteral("n")).asInteger());
    counts->Close();

    for (shops->First(); !shops->Eof(); shops->Next()) {
        QStringList pieces;
        for (const char* column : kColumns)
            pieces << QStringLiteral("\"%1\": %2")
                          .arg(QLatin1String(column),
                               jsonout::value(shops->FieldByName(QLatin1String(column)).raw()));
        const qlonglong id = shops->FieldByName(QStringLiteral("id")).asInteger();
        pieces << QStringLiteral("\"ratings\": %1").arg(stored.value(id))
               << QStringLiteral("\"updateDate\": ") +
                      jsonout::value(shops->FieldByName(QStringLiteral("updateDate")).raw());
        std::printf("{%s}\n", pieces.join(QStringLiteral(", ")).toUtf8().constData());
    }
    std::fflush(stdout);
    return 0;
}

const CliRegistration registration{
    {QStringLiteral("shops"),
     QStringLiteral(
         "shops [--filter TEXT] [--sort TEXT]   list the stored shops with their ids as JSON lines"),
     runShops,
     QStringLiteral(
         "Prints one JSON line per stored shop: id (the shop ID that analyze and export take),\n"
         "dianzhu (the shopkeeper), dianming (the shop's name), webaddr, salelevel, the seller's\n"
         "good, neutral and bad counts (salerGood, salerNotBad, salerBad), the buyer's (buylevel,\n"
         "buyerGood, buyerNotBad, buyerBad), commodityNum, ratings (how many are stored) and\n"
         "updateDate (when the shop was last mined). A filter that is not understood is named,\n"
         "with exit status 2.\n"
         "\n"
         "  --filter TEXT  a shop filter in the forms of \"export --filter\", e.g. \"dianming like %店%\"\n"
         "  --sort TEXT    a column for ascending order, or \"col DESC \" for descending\n"
         "  --help         show this text")}};

} // namespace
