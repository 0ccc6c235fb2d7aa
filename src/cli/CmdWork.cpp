#include "cli/CliCommand.h"
#include "cli/CliDatabase.h"
#include "cli/CliRunner.h"
#include "cli/JsonOut.h"
#include "store/ShopQueue.h"
#include "store/ShopRecords.h"
#include "store/TDM.h"

#include <QThread>
#include <algorithm>
#include <cstdio>
#include <optional>

namespace {

int refuse(const QString& problem)
{
    std::fprintf(stderr, "kestrova-cli work: %s\n", problem.toLocal8Bit().constData());
    std::fprintf(stderr, "%s\n", qPrintable(cliUsage(QStringLiteral("work"))));
    return 2;
}

// The row a claimed shop is mined as: its queued texts, else those of the stored shop (so that
// mining a bare address never blanks what a search stored), else the address alone.
TMiningRun::Row rowFor(TDM& dm, const shopqueue::Claim& claim)
{
    return TMiningRun::Row{true, claim.entry.row ? *claim.entry.row
                                                 : shoprecords::rowOf(dm.adoCn, claim.entry.webaddr)};
}

// A database that went away (a restarted server, a network cut) is given the [Net] retry rules
// of a page download: the same number of retries after the same doubling pause. The count
// starts again once a shop has gone through, so a store that keeps failing still ends the
// worker.
class DatabaseRetries
{
public:
    explicit DatabaseRetries(const NetSettings& net) : m_net(net) {}

    // After a failed database action: waits, then connects again; false, with the cause said,
    // when no retry is left.
    bool again(TConnection& connection, const QString& cause)
    {
        if (m_done >= m_net.Retries) {
            std::fprintf(stderr, "kestrova-cli work: database error: %s\n", cause.toLocal8Bit().constData());
            return false;
        }
        ++m_done;
        std::fprintf(stderr, "retry %d of %d in %.1f s: database error: %s\n", m_done, m_net.Retries,
                     m_delayMs / 1000.0, cause.toLocal8Bit().constData());
        std::fflush(stderr);
        QThread::msleep(static_cast<unsigned long>(m_delayMs));
        m_delayMs = std::min<qint64>(m_delayMs * 2, NetSettings::kMaxDelayMs);
        // A link that cannot be made yet fails the next action, which counts as the next retry.
        connection.ensureLink();
        return true;
    }
    void wentThrough()
    {
        m_done = 0;
        m_delayMs = m_net.RetryDelay;
    }

private:
    NetSettings m_net;
    int m_done = 0;
    qint64 m_delayMs = m_net.RetryDelay;
};

int runWork(const QStringList& args)
{
    bool once = false;
    int connections = 0;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--once")) {
            once = true;
        } else if (a == QLatin1String("--connections")) {
            if (i + 1 >= args.size())
                return refuse(QStringLiteral("--connections needs a value"));
            bool ok = false;
            connections = args[++i].toInt(&ok);
            if (!ok || connections < 1 || connections > NetSettings::kMaxConnections)
                return refuse(QStringLiteral("--connections: %1 is not allowed (1 to %2)")
                                  .arg(args[i])
                                  .arg(NetSettings::kMaxConnections));
        } else {
            return refuse(a.startsWith(QLatin1String("--"))
                              ? QStringLiteral("unknown option %1").arg(a)
                              : QStringLiteral("unexpected argument %1").arg(a));
        }
    }
    auto config = loadCliConfig();
    if (!config)
        return 1;
    if (connections > 0) {
        NetSettings net = config->Net();
        net.Connections = connections;
        config->SetNet(net);
    }
    TDM dm;
    if (!openCliDatabase(dm, storeroles::Action::Mine))
        return 1;
    const QString worker = shopqueue::workerName();
    std::fprintf(stderr, "worker %s\n", worker.toLocal8Bit().constData());
    CliRunner runner(*config, dm);
    DatabaseRetries retries(config->Net());
    // A shop this worker claimed and could not finish because the database failed: put back
    // as soon as the database answers again, else it returns to the queue when its lease ends.
    std::optional<shopqueue::Claim> unfinished;
    int done = 0, failed = 0, lost = 0;
    // An idle worker looks again soon, then less often, never more than a few seconds apart.
    const int firstPollMs = 500, lastPollMs = 5000;
    int pollMs = firstPollMs;
    for (;;) {
        QString error;
        if (unfinished) {
            // Lost: its lease ended meanwhile and it is another worker's, or waiting again.
            if (shopqueue::giveBack(dm.adoCn, *unfinished, &error) == shopqueue::Outcome::Error) {
                if (!retries.again(dm.adoCn, error))
                    return 1;
                continue;
            }
            unfinished.reset();
        }
        const std::optional<shopqueue::Claim> claim =
            shopqueue::claim(dm.adoCn, worker, config->Queue().LeaseSeconds, &error);
        if (!claim) {
            if (!error.isEmpty()) {
                if (!retries.again(dm.adoCn, QStringLiteral("claiming a shop: ") + error))
                    return 1;
                continue;
            }
            // Shops other workers hold come back if those die: a worker told to empty the queue
            // waits for them to be done.
            if (once) {
                const auto now = shopqueue::status(dm.adoCn, &error);
                if (!now) {
                    if (!retries.again(dm.adoCn, error))
                        return 1;
                    continue;
                }
                if (now->claimed.isEmpty() && now->waiting == 0)
                    break;
            }
            QThread::msleep(pollMs);
            pollMs = std::min(pollMs * 2, lastPollMs);
            continue;
        }
        pollMs = firstPollMs;
        std::fprintf(stderr, "claimed %s\n", claim->entry.webaddr.toLocal8Bit().constData());
        QString fault;
        switch (runner.work(*claim, rowFor(dm, *claim), &fault)) {
        case CliRunner::WorkEnd::Done:
            ++done;
            retries.wentThrough();
            break;
        case CliRunner::WorkEnd::ShopFailed:
            ++failed;
            retries.wentThrough();
            break;
        case CliRunner::WorkEnd::ClaimLost:
            ++lost;
            retries.wentThrough();
            std::fprintf(stderr, "%s: another worker mines the shop now\n",
                         claim->entry.webaddr.toLocal8Bit().constData());
            break;
        case CliRunner::WorkEnd::Fault:
            // Nothing of the shop was kept: its saver's transaction did not commit.
            unfinished = *claim;
            if (!retries.again(dm.adoCn, fault))
                return 1;
            break;
        }
    }
    std::printf("{\"worker\": %s, \"done\": %d, \"failed\": %d, \"lost\": %d}\n",
                jsonout::string(worker).toUtf8().constData(), done, failed, lost);
    std::fflush(stdout);
    return failed > 0 ? 1 : 0;
}

const CliRegistration workRegistration{
    {QStringLiteral("work"),
     QStringLiteral("work [--connections N] [--once]   mine the shops of the queue, one after another, "
                    "beside any other workers"),
     runWork,
     QStringLiteral(
         "Claims the oldest waiting shop of the queue (see \"queue\"), mines it with its queued\n"
         "options and marks it done in the transaction that stores its ratings; then the next.\n"
         "The claim's lease ([Database] LeaseSeconds of config.ini, default 120) is renewed while\n"
         "the shop is mined; a worker that is killed or loses the database leaves its shop to the\n"
         "others once the lease has ended. A shop that fails after its retries is marked failed\n"
         "with the reason and the worker goes on. A database that fails (a server that went away)\n"
         "is tried again as a page download is ([Net] Retries and RetryDelay); the shop in hand\n"
         "is not kept and goes back to the queue. Prints one JSON line per shop and one when it\n"
         "ends; exit status 1 when a shop failed or the database failed after its retries.\n"
         "\n"
         "  --connections N   page downloads in flight at once, 1 to 16 (default: [Net]\n"
         "                    Connections of config.ini)\n"
         "  --once            end when no shop is left waiting or claimed (a shop another worker\n"
         "                    holds is waited for: it comes back if that worker dies); without\n"
         "                    it the worker waits for new shops, looking again every few seconds\n"
         "  --help            show this text")}};

} // namespace
