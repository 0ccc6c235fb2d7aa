// 1,000 pages of about 60 KB fetched one after another from the demo marketplace on
// loopback: through TThreadHttp, a new worker per page started from the previous page's
// final "disconnected" (as the search and mining runs do), and with curl in a shell loop
// over the same addresses. Reports both times and their ratio (goal: worker <= 1.2 x curl).

#include "extract/TThreadHttp.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>

namespace {

constexpr int kShops = 100;
constexpr int kPagesPerShop = 10;

QCoreApplication& app()
{
    static int argc = 1;
    static char name[] = "http_bench";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* instance = new QCoreApplication(argc, argv);
    return *instance;
}

struct Market
{
    QTemporaryDir dir;
    QProcess process;
    int port = 0;
    std::vector<std::string> keys;
    Market()
    {
        const QString truth = dir.filePath("truth.json");
        process.setProgram(QStringLiteral(KESTROVA_BIN_DIR "/kestrova-market"));
        process.setArguments({"--port", "0", "--shops", QString::number(kShops), "--ratings",
                              QString::number(kPagesPerShop * 40), "--pad-to", "61440", "--dump-truth",
                              truth});
        process.start();
        QByteArray line;
        while (process.waitForReadyRead(5000) && !line.contains('\n'))
            line += process.readAll();
        line += process.readAll();
        port = line.mid(line.lastIndexOf(':') + 1).trimmed().toInt();
        QFile file(truth);
        if (file.open(QIODevice::ReadOnly))
            for (const auto& shop : QJsonDocument::fromJson(file.readAll())["shops"].toArray())
                keys.push_back(shop.toObject()["key"].toString().toLower().toStdString());
    }
    ~Market()
    {
        process.terminate();
        process.waitForFinished(3000);
    }
};

// The rating-page addresses as the mining run writes them.
std::vector<std::string> addresses(const Market& market)
{
    std::vector<std::string> urls;
    for (const std::string& key : market.keys)
        for (int page = 1; page <= kPagesPerShop; ++page)
            urls.push_back(
                "http://127.0.0.1:" + std::to_string(market.port) + "/user-rate-" + key +
                "--buyerOrSeller%7C--receivedOrPosted%7C--goodNeutralOrBad%7C--timeLine%7C--detailed%7C"
                "--ismore%7C1--auctionId%7C--lastModified%7C--currentPage%7C" +
                std::to_string(page) + "--snapId%7C0.htm");
    return urls;
}

void BM_WorkerVersusCurl(benchmark::State& state)
{
    app();
    Market market;
    if (market.port <= 0 || market.keys.size() != kShops) {
        state.SkipWithError("kestrova-market did not start");
        return;
    }
    std::vector<std::string> urls = addresses(market);
    int failures = 0;

    for (auto _ : state) {
        // Worker chain.
        THttpEventSink sink;
        size_t next = 0;
        long long bytes = 0;
        QEventLoop loop;
        auto agent = std::make_shared<THttpAgent>();
        QObject::connect(&sink, &THttpEventSink::failed, &loop, [&] { ++failures; });
        QObject::connect(&sink, &THttpEventSink::status, &loop,
                         [&](TThreadHttp* w, HttpStatus kind, const QString&) {
                             if (kind != HttpStatus::Disconnected || !w->Ended())
                                 return;
                             bytes += static_cast<long long>(w->Body().size());
                             if (next < urls.size())
                                 TThreadHttp::Create(urls[next++], agent, &sink);
                             else
                                 loop.quit();
                         });
        QElapsedTimer clock;
        clock.start();
        TThreadHttp::Create(urls[next++], agent, &sink);
        loop.exec();
        const double workerSeconds = clock.nsecsElapsed() / 1e9;
        // Let the last worker free itself before the sink goes.
        QTimer::singleShot(50, &loop, &QEventLoop::quit);
        loop.exec();

        // curl in a shell loop over the same addresses.
        QTemporaryDir dir;
        QFile list(dir.filePath("urls.txt"));
        list.open(QIODevice::WriteOnly);
        for (const std::string& u : urls)
            list.write(QByteArray::fromStdString(u + "\n"));
        list.close();
        QProcess shell;
        clock.restart();
        shell.start("bash",
                    {"-c", "while IFS= read -r u; do curl -s -o /dev/null \"$u\" || exit 1; done < \"$1\"",
                     "bash", list.fileName()});
        shell.waitForFinished(600000);
        const double curlSeconds = clock.nsecsElapsed() / 1e9;
        if (shell.exitCode() != 0)
            state.SkipWithError("the curl loop failed");

        state.SetIterationTime(workerSeconds);
        state.counters["pages"] = double(urls.size());
        state.counters["avg_page_KB"] = bytes / 1024.0 / double(urls.size());
        state.counters["failures"] = failures;
        state.counters["worker_s"] = workerSeconds;
        state.counters["curl_s"] = curlSeconds;
        state.counters["ratio"] = workerSeconds / curlSeconds;
    }
}
BENCHMARK(BM_WorkerVersusCurl)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
