#include "cli/CliCommand.h"
#include "cli/CliDatabase.h"
#include "cli/CliRunner.h"
#include "cli/MineStored.h"
#include "store/TDM.h"

#include <cstdio>

namespace {

int refuse(const QString& problem)
{
    std::fprintf(stderr, "kestrova-cli mine: %s\n", problem.toLocal8Bit().constData());
    std::fprintf(stderr, "%s\n", qPrintable(cliUsage(QStringLiteral("mine"))));
    return 2;
}

} // namespace

int runMineStored(const QStringList& args)
{
    QString filter;
    bool newOnly = false;
    int from = 1, to = 5000;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        const bool valued =
            a == QLatin1String("--filter") || a == QLatin1String("--from") || a == QLatin1String("--to");
        if (valued && i + 1 >= args.size())
            return refuse(QStringLiteral("%1 needs a value").arg(a));
        if (a == QLatin1String("--stored")) {
            continue;
        } else if (a == QLatin1String("--new-only")) {
            newOnly = true;
        } else if (a == QLatin1String("--filter")) {
            filter = args[++i];
        } else if (a == QLatin1String("--from") || a == QLatin1String("--to")) {
            bool ok = false;
            const int n = args[++i].toInt(&ok);
            if (!ok || n < 1)
                return refuse(QStringLiteral("%1: %2 is not allowed").arg(a, args[i]));
            (a == QLatin1String("--from") ? from : to) = n;
        } else {
            // Addresses and --stored exclude each other: the stored shops are the list.
            return refuse(a.startsWith(QLatin1String("--"))
                              ? QStringLiteral("unknown option %1").arg(a)
                              : QStringLiteral("--stored takes no shop address (%1)").arg(a));
        }
    }
    if (to < from)
        return refuse(QStringLiteral("--to is below --from"));
    auto config = loadCliConfig();
    if (!config)
        return 1;
    TDM dm;
    if (!openCliDatabase(dm, storeroles::Action::Mine))
        return 1;
    int status = 0;
    const auto rows = storedShopRows(dm, filter, "mine", &status);
    if (!rows)
        return status;
    // A nightly run over an empty collection would otherwise report success every night.
    if (rows->isEmpty()) {
        std::fprintf(stderr, "kestrova-cli mine: %s in %s\n",
                     filter.isEmpty() ? "no stored shop to mine" : "no stored shop matches the filter",
                     dm.adoCn.path().toLocal8Bit().constData());
        return 1;
    }
    CliRunner runner(*config, dm);
    return runner.mine(*rows, from, to, newOnly);
}

std::optional<QList<TMiningRun::Row>> storedShopRows(TDM& dm, const QString& filter, const char* command,
                                                     int* status)
{
    // The same shop list the browser shows for that filter, in its order.
    TTable* shops = dm.tb_dianbase;
    if (!shops->SetFilter(filter) || !shops->SetFiltered(true) || !shops->Open()) {
        std::fprintf(stderr, "kestrova-cli %s: %s\n", command, shops->lastError().toLocal8Bit().constData());
        *status = filter.isEmpty() ? 1 : 2;
        return std::nullopt;
    }
    QList<TMiningRun::Row> rows;
    for (shops->First(); !shops->Eof(); shops->Next())
        rows << TMiningRun::Row{true, ShopRow::fromCursor(*shops)};
    shops->Close();
    return rows;
}
