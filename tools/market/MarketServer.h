#pragma once

#include "MarketModel.h"
#include "MarketPages.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

// The demo marketplace's HTTP side: routes, injected latency and failures, and the raw
// request log. Serves on 127.0.0.1; run() blocks until stop() (any thread).
class MarketServer
{
public:
    struct Options
    {
        int port = 8631;
        int latencyMs = 0;
        enum class FailMode
        {
            Status,   // answer failStatus
            Drop,     // cut the connection in the middle of the body
            Slow,     // say nothing for slowMs, then answer
            Empty,    // 200 with an empty body
            Throttle, // 429 with Retry-After: retryAfterS
        };
        int failEvery = 0; // every k-th request fails; 0: none
        int failFirst = 0; // the first n requests to each address fail; 0: none
        FailMode failMode = FailMode::Status;
        int failStatus = 503;
        int slowMs = 65000;
        int retryAfterS = 1;
        // Prefix each logged request with the milliseconds since start and the number of
        // requests being served when it arrived (itself included).
        bool logTimes = false;
        bool closeEach = false; // close the connection after every response
        std::string logFile;    // request lines as received, one a line
        std::string base;       // link prefix; empty: http://127.0.0.1:<port>
        size_t padTo = 0;
        // Answer the first holdAfter requests and hold every later one unanswered until
        // the market stops, so a test can act while a walk stands still; 0: none.
        long long holdAfter = 0;
    };

    MarketServer(const MarketModel& model, Options options);
    ~MarketServer();

    // Binds the port (0: any free one); false with a message on stderr when it cannot.
    bool bind();
    int port() const { return m_port; }
    const std::string& base() const { return m_base; }
    void run();
    void stop();

private:
    bool preRoute(const httplib::Request& req, httplib::Response& res);
    bool failsNow(const httplib::Request& req);
    void routes();
    // inFlight: the requests being served when this one arrived, itself included.
    void logRequestLine(const httplib::Request& req, int inFlight);

    static constexpr int kThreads = 64;

    const MarketModel& m_model;
    Options m_options;
    std::unique_ptr<httplib::Server> m_server;
    std::unique_ptr<MarketPages> m_pages;
    int m_port = 0;
    std::string m_base;
    std::atomic<long long> m_requests{0};
    std::atomic<int> m_inFlight{0};
    std::mutex m_countMutex;
    std::map<std::string, int> m_requestsPerTarget;
    const std::chrono::steady_clock::time_point m_started = std::chrono::steady_clock::now();
    std::atomic<long long> m_arrived{0};
    std::mutex m_holdMutex;
    std::condition_variable m_released;
    bool m_stopping = false;
    std::mutex m_logMutex;
    FILE* m_log = nullptr;
};
