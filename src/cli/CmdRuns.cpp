#include "cli/CliCommand.h"
#include "cli/CliDatabase.h"
#include "cli/JsonOut.h"
#include "store/RunRecords.h"
#include "store/TDM.h"

#include <cstdio>

namespace {

int runRuns(const QStringList& args)
{
    if (!args.isEmpty()) {
        std::fprintf(stderr, "kestrova-cli runs: no arguments expected\n");
        std::fprintf(stderr, "%s\n", qPrintable(cliUsage(QStringLiteral("runs"))));
        return 2;
    }
    TDM dm;
    if (!openCliDatabase(dm))
        return 1;
    QString error;
    const QList<runrecords::Run> runs = runrecords::list(dm.adoCn, &error);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "kestrova-cli runs: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    for (const runrecords::Run& run : runs) {
        std::printf("{\"id\": %lld, \"started\": %s, \"state\": %s, \"shopsDone\": %d, \"shops\": %lld, "
                    "\"ratingsStored\": %lld, \"new\": %lld, \"serverUser\": %s, \"machine\": %s}\n",
                    static_cast<long long>(run.id), jsonout::string(run.started).toUtf8().constData(),
                    jsonout::string(runrecords::stateName(run.state)).toUtf8().constData(), run.shopsDone(),
                    static_cast<long long>(run.shops.size()), static_cast<long long>(run.ratingsStored()),
                    static_cast<long long>(run.ratingsNew()),
                    (run.serverUser.isEmpty() ? QStringLiteral("null") : jsonout::string(run.serverUser))
                        .toUtf8()
                        .constData(),
                    jsonout::string(run.machine).toUtf8().constData());
    }
    std::fflush(stdout);
    return 0;
}

const CliRegistration runsRegistration{
    {QStringLiteral("runs"), QStringLiteral("runs   list the recorded mining runs as JSON lines"), runRuns,
     QStringLiteral("  Each line: id, start, state (running, finished, cancelled, failed, interrupted),\n"
                    "  shops done of those marked, ratings stored (ratingsStored, copies of ratings\n"
                    "  stored before included) and of those the ones not stored before (new),\n"
                    "  and who mined it: the server user (null on a database file) and the machine.")}};

} // namespace
