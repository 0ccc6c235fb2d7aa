// kestrova-market: a generated marketplace on 127.0.0.1 for trying the program and for tests.

#include "MarketModel.h"
#include "MarketServer.h"

#include "settings/MarketSettings.h"

#include <QDate>
#include <QFile>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <string>
#include <thread>

namespace {

void usage(FILE* to)
{
    std::fprintf(to,
                 "usage: kestrova-market [options]\n"
                 "  --port N          port on 127.0.0.1 (default %d; 0 picks a free one)\n"
                 "  --seed S          seed of the generated marketplace (default 1)\n"
                 "  --shops N         number of shops (default 200)\n"
                 "  --ratings N       ratings per shop (default 60)\n"
                 "  --latency MS      wait before every response\n"
                 "  --newer N         every shop has N more ratings, newer than all others; its\n"
                 "                    credit, counts and good rate include them\n"
                 "  --today DATE      date the ratings within the year before DATE, yyyy-MM-dd\n"
                 "                    (default: the day it starts; a seed gives the same market\n"
                 "                    relative to that day)\n"
                 "  --fail-every K    every K-th request fails\n"
                 "  --fail-first N    the first N requests to each address fail\n"
                 "  --fail-mode M     how a request fails: status (default): answer\n"
                 "                    --fail-status; drop: cut the connection in the middle of\n"
                 "                    the body; slow: say nothing for --slow-ms, then answer;\n"
                 "                    empty: 200 with an empty body; throttle: 429 with\n"
                 "                    Retry-After: --retry-after\n"
                 "  --fail-status C   status of a failed request (default 503)\n"
                 "  --slow-ms MS      silence of the slow mode (default 65000)\n"
                 "  --retry-after S   seconds of the throttle mode's Retry-After (default 1)\n"
                 "  --log-times       start each logged request line with the milliseconds since start\n"
                 "                    and the number of requests being served when it arrived\n"
                 "  --close           close the connection after every response\n"
                 "  --log FILE        write every request line as received, one a line\n"
                 "  --dump-truth FILE write the generated shops and ratings as JSON at start\n"
                 "  --base URL        start of absolute links (default http://127.0.0.1:PORT)\n"
                 "  --pad-to BYTES    pad shorter pages to this size\n"
                 "  --hold-after N    answer the first N requests and hold every later one\n"
                 "                    unanswered until the market stops\n"
                 "The first line printed is \"listening on http://127.0.0.1:PORT\".\n",
                 MarketSettings::kDemoPort);
}

bool number(const char* text, long long& out)
{
    char* end = nullptr;
    out = std::strtoll(text, &end, 10);
    return end != text && *end == '\0' && out >= 0;
}

bool failMode(const char* text, MarketServer::Options::FailMode& out)
{
    using Mode = MarketServer::Options::FailMode;
    static const std::pair<const char*, Mode> modes[] = {{"status", Mode::Status},
                                                         {"drop", Mode::Drop},
                                                         {"slow", Mode::Slow},
                                                         {"empty", Mode::Empty},
                                                         {"throttle", Mode::Throttle}};
    for (const auto& [name, mode] : modes)
        if (std::strcmp(text, name) == 0) {
            out = mode;
            return true;
        }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    MarketServer::Options options;
    options.port = MarketSettings::kDemoPort;
    long long seed = 1, shops = 200, ratings = 60, newer = 0;
    QDate today = QDate::currentDate();
    std::string truthFile;
    for (int i = 1; i < argc; ++i) {
        std::string opt = argv[i];
        if (opt == "--help") {
            usage(stdout);
            return 0;
        }
        if (opt == "--close") {
            options.closeEach = true;
            continue;
        }
        if (opt == "--log-times") {
            options.logTimes = true;
            continue;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "kestrova-market: %s needs a value\n", opt.c_str());
            usage(stderr);
            return 2;
        }
        const char* value = argv[++i];
        long long n = 0;
        bool isNumber = number(value, n);
        if (opt == "--log")
            options.logFile = value;
        else if (opt == "--dump-truth")
            truthFile = value;
        else if (opt == "--base")
            options.base = value;
        else if (opt == "--fail-mode" && failMode(value, options.failMode))
            continue;
        else if (opt == "--today") {
            today = QDate::fromString(QString::fromLocal8Bit(value), Qt::ISODate);
            if (!today.isValid()) {
                std::fprintf(stderr, "kestrova-market: --today wants a date, yyyy-MM-dd: %s\n", value);
                return 2;
            }
        } else if (!isNumber) {
            std::fprintf(stderr, "kestrova-market: bad option or value: %s %s\n", opt.c_str(), value);
            usage(stderr);
            return 2;
        } else if (opt == "--port" && n <= 65535)
            options.port = int(n);
        else if (opt == "--seed")
            seed = n;
        else if (opt == "--shops" && n <= 1'000'000)
            shops = n;
        else if (opt == "--ratings" && n <= 1'000'000)
            ratings = n;
        else if (opt == "--latency" && n <= 600'000)
            options.latencyMs = int(n);
        else if (opt == "--fail-every" && n <= 1'000'000)
            options.failEvery = int(n);
        else if (opt == "--fail-first" && n <= 1'000'000)
            options.failFirst = int(n);
        else if (opt == "--newer" && n <= 1'000'000)
            newer = n;
        else if (opt == "--slow-ms" && n <= 600'000)
            options.slowMs = int(n);
        else if (opt == "--retry-after" && n <= 86'400)
            options.retryAfterS = int(n);
        else if (opt == "--fail-status" && n >= 100 && n <= 599)
            options.failStatus = int(n);
        else if (opt == "--hold-after")
            options.holdAfter = n;
        else if (opt == "--pad-to" && n <= 256 * 1024 * 1024)
            options.padTo = size_t(n);
        else {
            std::fprintf(stderr, "kestrova-market: bad option or value: %s %s\n", opt.c_str(), value);
            usage(stderr);
            return 2;
        }
    }

    // Stop cleanly on SIGINT and SIGTERM: the signals are taken by one waiting thread, so
    // the server's threads (started later) never see them. A cut connection must not kill
    // the process either.
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    MarketModel model(static_cast<uint64_t>(seed), int(shops), int(ratings), int(newer),
                      today.toJulianDay() - QDate(1970, 1, 1).toJulianDay());
    MarketServer server(model, options);
    if (!server.bind())
        return 1;
    if (!truthFile.empty()) {
        QFile out(QString::fromLocal8Bit(truthFile.c_str()));
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            out.write(model.truth(server.base()).toJson(QJsonDocument::Indented)) < 0) {
            std::fprintf(stderr, "kestrova-market: cannot write %s\n", truthFile.c_str());
            return 1;
        }
    }
    std::printf("listening on http://127.0.0.1:%d\n", server.port());
    std::fflush(stdout);

    std::thread([&server, stopSignals] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        server.stop();
    }).detach();
    server.run();
    return 0;
}
