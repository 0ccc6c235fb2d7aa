#include "cli/CliRunner.h"

#include "cli/JsonOut.h"
#include "text/Formats.h"

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <unistd.h>

CliRunner::CliRunner(TConfig config, TDM& dm)
    : m_config(std::move(config)), m_dm(dm), m_terminal(::isatty(::fileno(stderr)) == 1)
{
}

void CliRunner::downloadFailed(const QString& error, const QString& url)
{
    m_failed = true;
    line(QStringLiteral("download failed: %1: %2").arg(url, error));
}

void CliRunner::notice(const QString& text)
{
    // Every run of a command has the same settings: each notice is told once.
    if (!m_told.contains(text)) {
        m_told.insert(text);
        line(text);
    }
}

void CliRunner::progress(const QString& text)
{
    if (!m_terminal)
        return;
    m_shown = text;
    std::fprintf(stderr, "\r\033[K%s", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

void CliRunner::line(const QString& text)
{
    if (m_terminal)
        std::fprintf(stderr, "\r\033[K");
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    if (m_terminal && !m_shown.isEmpty())
        std::fprintf(stderr, "%s", m_shown.toLocal8Bit().constData());
    std::fflush(stderr);
}

void CliRunner::retryLine(int attempt, int retries, qint64 delayMs, const QString& url, const QString& reason)
{
    line(QStringLiteral("retry %1 of %2 in %3 s: %4: %5")
             .arg(attempt)
             .arg(retries)
             .arg(QString::number(delayMs / 1000.0, 'f', 1), url, reason));
}

QString CliRunner::miningLine(int shop, int shops, const QString& name, int read, int total, int retries,
                              qint64 elapsedMs, int connections)
{
    QString text = QStringLiteral("shop %1 of %2").arg(shop).arg(shops);
    if (!name.isEmpty())
        text += QStringLiteral(" (%1)").arg(name);
    text += total > 0 ? QStringLiteral(": %1 of %2 ratings").arg(read).arg(total)
                      : QStringLiteral(": %1 ratings").arg(read);
    if (retries > 0)
        text += QStringLiteral(", %1 %2").arg(retries).arg(retries == 1 ? "retry" : "retries");
    if (connections > 0)
        text +=
            QStringLiteral(", %1 %2").arg(connections).arg(connections == 1 ? "connection" : "connections");
    return text + QStringLiteral(", ") + formats::elapsed(elapsedMs);
}

int CliRunner::search(const SearchCriteria& criteria, bool mine, int from, int to, bool newOnly, bool enqueue)
{
    TSearchRun run;
    QEventLoop loop;
    QList<ShopRow> shops;
    int total = 0;
    connect(&run, &TSearchRun::totalFoundChanged, this, [&](int t) { total = t; });
    connect(&run, &TSearchRun::shopCountChanged, this,
            [&](int n) { progress(QStringLiteral("searching: %1 of %2 shops read").arg(n).arg(total)); });
    connect(&run, &TSearchRun::retrying, this, &CliRunner::retryLine);
    connect(&run, &TSearchRun::downloadFailed, this, &CliRunner::downloadFailed);
    connect(&run, &TSearchRun::finished, this, [&](const QList<ShopRow>& rows, bool) {
        shops = rows;
        loop.quit();
    });
    if (!criteria.acceptable()) {
        std::fprintf(stderr, "%s\n", SearchCriteria::refusalMessage().toLocal8Bit().constData());
        return 2;
    }
    if (!run.start(criteria, m_config))
        return 1;
    loop.exec();
    if (m_terminal)
        std::fprintf(stderr, "\n");
    m_shown.clear();
    QList<TMiningRun::Row> rows;
    for (int i = 0; i < shops.size(); ++i) {
        QStringList pieces{QStringLiteral("\"key\": ") + jsonout::string(QString::number(i + 1))};
        const QStringList columns = shops[i].columns();
        for (size_t k = 0; k < std::size(jsonout::kShopKeys); ++k)
            pieces << jsonout::string(QString::fromLatin1(jsonout::kShopKeys[k])) + QStringLiteral(": ") +
                          jsonout::string(columns.value(qsizetype(k)));
        std::printf("{%s}\n", pieces.join(QStringLiteral(", ")).toUtf8().constData());
        rows << TMiningRun::Row{true, shops[i]};
    }
    std::fflush(stdout);
    if (m_failed)
        return 1;
    if (enqueue) {
        QList<shopqueue::Entry> entries;
        for (const TMiningRun::Row& row : std::as_const(rows))
            entries << shopqueue::Entry{row.shop.webaddr, row.shop, from, to, newOnly};
        QString error;
        const int added = shopqueue::add(m_dm.adoCn, entries, &error);
        if (added < 0) {
            std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
            return 1;
        }
        std::printf("{\"queued\": %d, \"alreadyQueued\": %d}\n", added,
                    static_cast<int>(entries.size()) - added);
        std::fflush(stdout);
        return 0;
    }
    return mine ? this->mine(rows, from, to, newOnly) : 0;
}

int CliRunner::mine(const QList<TMiningRun::Row>& rows, int from, int to, bool newOnly)
{
    return runMining([&](TMiningRun& run) { return run.start(rows, from, to, m_config, newOnly); });
}

int CliRunner::resume(qint64 runId)
{
    return runMining([&](TMiningRun& run) { return run.resume(runId, m_config); });
}

CliRunner::WorkEnd CliRunner::work(const shopqueue::Claim& claim, const TMiningRun::Row& row, QString* fault)
{
    m_failed = false;
    const int leaseSeconds = m_config.Queue().LeaseSeconds;
    bool lost = false;
    QString storeFault;
    QString storeTrouble; // the first store error that did not end the run
    TMiningRun::StartResult started = TMiningRun::StartResult::Started;
    QTimer renewal;
    // Renewed well before it ends, so that a slow statement or a busy file never lets it lapse.
    renewal.setInterval(std::max(1000, leaseSeconds * 1000 / 3));
    auto prepare = [&](TMiningRun& run) {
        connect(&renewal, &QTimer::timeout, &run, [&] {
            QString error;
            switch (shopqueue::renew(m_dm.adoCn, claim, leaseSeconds, &error)) {
            case shopqueue::Outcome::Done:
                break;
            case shopqueue::Outcome::Lost:
                // Another worker mines the shop now: this walk would only be thrown away.
                lost = true;
                renewal.stop();
                line(QStringLiteral("%1: %2; stopping").arg(claim.entry.webaddr, error));
                run.cancel();
                break;
            case shopqueue::Outcome::Error:
                line(QStringLiteral("%1: renewing the lease: %2").arg(claim.entry.webaddr, error));
                break;
            }
        });
        connect(&run, &TMiningRun::storeError, &run, [&](const QString& error) {
            if (run.faulted())
                storeFault = error;
            else if (storeTrouble.isEmpty())
                storeTrouble = error;
        });
        renewal.start();
    };
    runMining(
        [&](TMiningRun& run) {
            started = run.startQueued(claim, row, m_config);
            if (started == TMiningRun::StartResult::StoreFailed)
                storeFault = run.error();
            return started;
        },
        prepare);
    renewal.stop();
    if (lost)
        return WorkEnd::ClaimLost;
    // A statement that failed on a link that is gone (the shop looked up, its failure marked)
    // is the database's fault, not the shop's: the shop is not counted as failed.
    if (storeFault.isEmpty() && !storeTrouble.isEmpty() && m_failed && !m_dm.adoCn.ensureLink())
        storeFault = storeTrouble;
    if (!storeFault.isEmpty() || started != TMiningRun::StartResult::Started) {
        // A saver that found the claim taken over fails the same way as a broken database: the
        // claim tells them apart.
        QString error;
        const shopqueue::Outcome back = shopqueue::giveBack(m_dm.adoCn, claim, &error);
        if (back == shopqueue::Outcome::Lost && !storeFault.isEmpty())
            return WorkEnd::ClaimLost;
        if (fault)
            *fault = storeFault.isEmpty()
                         ? QStringLiteral("%1: the shop could not be started").arg(claim.entry.webaddr)
                         : storeFault;
        return WorkEnd::Fault;
    }
    return m_failed ? WorkEnd::ShopFailed : WorkEnd::Done;
}

int CliRunner::runMining(const std::function<TMiningRun::StartResult(TMiningRun&)>& start,
                         const std::function<void(TMiningRun&)>& prepare)
{
    TMiningRun run(m_dm);
    QEventLoop loop;
    bool over = false;
    bool begun = false;
    QString name;
    int shop = 0, shops = 0, total = 0, read = 0;
    QElapsedTimer clock;
    clock.start();
    auto show = [&] {
        // Nothing before the first shop has begun: its number and count are not known yet.
        if (begun)
            progress(miningLine(shop, shops, name, read, total, run.retries(), clock.elapsed(),
                                m_config.Net().Connections > 1 ? run.connectionsInForce() : 0));
    };
    // The elapsed time moves on during long pauses too.
    QTimer tick;
    tick.setInterval(1000);
    connect(&tick, &QTimer::timeout, this, show);
    if (m_terminal)
        tick.start();
    connect(&run, &TMiningRun::shopBegun, this, [&](int number, int of, const ShopRow& row) {
        begun = true;
        shop = number;
        shops = of;
        // The shop name, else the shopkeeper, else the address.
        name = row.name;
        if (name.isEmpty())
            name = row.shopkeeper;
        if (name.isEmpty())
            name = row.webaddr;
        total = read = 0;
        show();
    });
    connect(&run, &TMiningRun::totalRatingsChanged, this, [&](int n) {
        total = n;
        show();
    });
    connect(&run, &TMiningRun::ratingsReadChanged, this, [&](int n) {
        read = n;
        show();
    });
    connect(&run, &TMiningRun::retrying, this, &CliRunner::retryLine);
    connect(&run, &TMiningRun::connectionsChanged, this, show);
    connect(&run, &TMiningRun::notice, this, &CliRunner::notice);
    connect(&run, &TMiningRun::downloadFailed, this, &CliRunner::downloadFailed);
    connect(&run, &TMiningRun::storeError, this, [&](const QString& e) {
        m_failed = true;
        line(e);
    });
    connect(&run, &TMiningRun::shopFailed, this, [&](const QString& id, const QString& reason) {
        std::printf("{\"shopId\": %s, \"stored\": 0, \"failed\": 0, \"complete\": false, \"new\": 0, "
                    "\"error\": %s}\n",
                    qPrintable(id), jsonout::string(reason).toUtf8().constData());
        std::fflush(stdout);
        m_failed = true;
        line(QStringLiteral("shop %1: %2").arg(id, reason));
    });
    connect(&run, &TMiningRun::shopSaved, this,
            [&](const QString& id, int stored, int failed, bool complete, int fresh) {
                std::printf(
                    "{\"shopId\": %s, \"stored\": %d, \"failed\": %d, \"complete\": %s, \"new\": %d}\n",
                    qPrintable(id), stored, failed, complete ? "true" : "false", fresh);
                std::fflush(stdout);
                // Ratings the database refused are lost: the command has not done its work. After a
                // fault of the database itself its message says why instead.
                if (failed > 0 && !run.faulted()) {
                    m_failed = true;
                    line(QStringLiteral("shop %1: %2 ratings could not be stored").arg(id).arg(failed));
                }
                if (over && !run.saving())
                    loop.quit();
            });
    connect(&run, &TMiningRun::finished, this, [&](bool) {
        over = true;
        if (!run.saving())
            loop.quit();
    });
    connect(&run, &TMiningRun::shopSkipped, this, [&](const QString& webaddr) {
        line(QStringLiteral("%1: the shop was deleted from the database; skipped").arg(webaddr));
    });
    if (prepare)
        prepare(run);
    switch (start(run)) {
    case TMiningRun::StartResult::Started:
        break;
    case TMiningRun::StartResult::RunBusy:
        std::fprintf(stderr, "%s\n", run.error().toLocal8Bit().constData());
        return 1;
    case TMiningRun::StartResult::UnknownRun:
        std::fprintf(stderr, "kestrova-cli resume: no such run\n");
        return 2;
    case TMiningRun::StartResult::NothingLeft:
        std::fprintf(stderr, "nothing left to mine\n");
        return 0;
    case TMiningRun::StartResult::NoMarkedRow:
        std::fprintf(stderr, "nothing to mine\n");
        return 0;
    case TMiningRun::StartResult::SaverBusy:
        std::fprintf(stderr, "%s\n", TMiningRun::saverBusyMessage().toLocal8Bit().constData());
        return 1;
    case TMiningRun::StartResult::StoreFailed:
        std::fprintf(stderr, "%s\n", run.error().toLocal8Bit().constData());
        return 1;
    }
    if (!over)
        loop.exec();
    tick.stop();
    if (m_terminal && !m_shown.isEmpty())
        std::fprintf(stderr, "\n");
    m_shown.clear();
    return m_failed ? 1 : 0;
}
