#include "cli/CliCommand.h"
#include "cli/CliDatabase.h"
#include "cli/CliRunner.h"
#include "store/RunRecords.h"
#include "store/TDM.h"

#include <cstdio>

namespace {

int runResume(const QStringList& args)
{
    qint64 runId = 0;
    if (args.size() > 1 || (args.size() == 1 && (runId = args.first().toLongLong()) <= 0)) {
        std::fprintf(stderr, "kestrova-cli resume: %s\n",
                     args.size() > 1 ? "one run at most" : "a run is named by its number");
        std::fprintf(stderr, "%s\n", qPrintable(cliUsage(QStringLiteral("resume"))));
        return 2;
    }
    auto config = loadCliConfig();
    if (!config)
        return 1;
    TDM dm;
    if (!openCliDatabase(dm, storeroles::Action::Mine))
        return 1;
    QString error;
    if (runId == 0) {
        runId = runrecords::lastUnfinished(dm.adoCn, &error);
        if (runId == 0) {
            std::fprintf(stderr, "kestrova-cli resume: %s\n",
                         error.isEmpty() ? "no unfinished run" : error.toLocal8Bit().constData());
            return error.isEmpty() ? 2 : 1;
        }
    } else if (!runrecords::load(dm.adoCn, runId, &error)) {
        if (!error.isEmpty()) {
            std::fprintf(stderr, "kestrova-cli resume: %s\n", error.toLocal8Bit().constData());
            return 1;
        }
        std::fprintf(stderr, "kestrova-cli resume: no run %lld\n", static_cast<long long>(runId));
        return 2;
    }
    std::fprintf(stderr, "resuming run %lld\n", static_cast<long long>(runId));
    CliRunner runner(*config, dm);
    return runner.resume(runId);
}

const CliRegistration resumeRegistration{
    {QStringLiteral("resume"),
     QStringLiteral("resume [RUN]   continue the last unfinished mining run (or run RUN) with its "
                    "unfinished shops"),
     runResume,
     QStringLiteral("  RUN   the run's number as \"runs\" lists it; without it, the newest run that is\n"
                    "        neither finished nor cancelled. A shop cut off mid-walk is mined again from\n"
                    "        its first page; finished shops are not fetched again. A run another program\n"
                    "        is mining is refused as busy.")}};

} // namespace
