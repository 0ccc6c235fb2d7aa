#include "cli/CliRunner.h"

#include "cli/JsonOut.h"
#include "extract/TThreadHttp.h"
#include "mining/RunFlags.h"

#include <QEventLoop>
#include <cstdio>

CliRunner::CliRunner(TConfig config, TDM& dm) : m_config(std::move(config)), m_dm(dm)
{
    TThreadHttp::setFailureHandler([this](TThreadHttp& worker) {
        m_failed = true;
        std::fprintf(stderr, "\ndownload failed: %s: %s\n", worker.Url().c_str(),
                     qPrintable(worker.ErrorText()));
    });
}

void CliRunner::progress(const QString& text)
{
    // One line rewritten in place.
    std::fprintf(stderr, "\r\033[K%s", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

int CliRunner::search(const SearchCriteria& criteria, bool mine, int from, int to)
{
    TSearchRun run;
    QEventLoop loop;
    QList<TSearchRun::ShopRow> shops;
    int total = 0;
    connect(&run, &TSearchRun::totalFoundChanged, this, [&](int t) { total = t; });
    connect(&run, &TSearchRun::shopCountChanged, this,
            [&](int n) { progress(QStringLiteral("searching: %1 of %2 shops read").arg(n).arg(total)); });
    connect(&run, &TSearchRun::finished, this, [&](const QList<TSearchRun::ShopRow>& rows, bool) {
        shops = rows;
        loop.quit();
    });
    if (!criteria.acceptable()) {
        std::fprintf(stderr, "%s\n", SearchCriteria::refusalMessage().toLocal8Bit().constData());
        return 2;
    }
    run.start(criteria, m_config);
    loop.exec();
    std::fprintf(stderr, "\n");
    QList<TMiningRun::Row> rows;
    const QString category = QString::fromUtf16(SearchCriteria::categories()[criteria.category].text);
    for (int i = 0; i < shops.size(); ++i) {
        QStringList pieces{QStringLiteral("\"key\": ") + jsonout::string(QString::number(i + 1))};
        for (int k = 0; k < 6; ++k)
            pieces << jsonout::string(QString::fromLatin1(jsonout::kShopKeys[k])) + QStringLiteral(": ") +
                          jsonout::string(shops[i].value(k));
        std::printf("{%s}\n", pieces.join(QStringLiteral(", ")).toUtf8().constData());
        rows << TMiningRun::Row{true, shops[i].mid(0, 6) << category};
    }
    std::fflush(stdout);
    if (m_failed)
        return 1;
    return mine ? runMining(rows, from, to) : 0;
}

int CliRunner::mine(const QList<TMiningRun::Row>& rows, int from, int to)
{
    return runMining(rows, from, to);
}

int CliRunner::runMining(const QList<TMiningRun::Row>& rows, int from, int to)
{
    TMiningRun run(m_dm);
    QEventLoop loop;
    bool over = false;
    QString keeper;
    int total = 0, read = 0, saved = 0, toSave = 0;
    auto show = [&] {
        progress(QStringLiteral("mining shop %1 of %2 (%3): %4 of %5 ratings read")
                     .arg(saved + 1)
                     .arg(toSave)
                     .arg(keeper)
                     .arg(read)
                     .arg(total));
    };
    connect(&run, &TMiningRun::totalToSaveChanged, this, [&](int n) { toSave = n; });
    connect(&run, &TMiningRun::savedCountChanged, this, [&](int n) { saved = n; });
    connect(&run, &TMiningRun::shopStarted, this, [&](const QString& k) { keeper = k; });
    connect(&run, &TMiningRun::totalRatingsChanged, this, [&](int n) {
        total = n;
        show();
    });
    connect(&run, &TMiningRun::ratingsReadChanged, this, [&](int n) {
        read = n;
        show();
    });
    connect(&run, &TMiningRun::storeError, this, [&](const QString& e) {
        m_failed = true;
        std::fprintf(stderr, "\n%s\n", e.toLocal8Bit().constData());
    });
    connect(&run, &TMiningRun::shopSaved, this, [&](const QString& id, int stored, int failed) {
        std::printf("{\"shopId\": %s, \"stored\": %d, \"failed\": %d}\n", qPrintable(id), stored, failed);
        std::fflush(stdout);
        if (over && !runflags::savingRatings)
            loop.quit();
    });
    connect(&run, &TMiningRun::finished, this, [&](bool) {
        over = true;
        if (!runflags::savingRatings)
            loop.quit();
    });
    switch (run.start(rows, from, to, m_config)) {
    case TMiningRun::StartResult::Started:
        break;
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
    std::fprintf(stderr, "\n");
    return m_failed ? 1 : 0;
}
