#include "MarketServer.h"

#include "text/GbkCodec.h"

#include <algorithm>
#include <chrono>
#include <httplib.h>
#include <thread>

namespace {

const char kHtml[] = "text/html; charset=GBK";

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// %XX escapes only; a '+' stays a '+', since the program never writes a blank that way.
std::string percentDecode(std::string_view s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && hexValue(s[i + 1]) >= 0 && hexValue(s[i + 2]) >= 0) {
            out += char(hexValue(s[i + 1]) * 16 + hexValue(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// The query of the raw request target as (key, value) pairs, values decoded to UTF-8. The
// server library's own parsing would turn '+' into a blank.
std::vector<std::pair<std::string, std::string>> rawQuery(const std::string& target)
{
    std::vector<std::pair<std::string, std::string>> pairs;
    size_t q = target.find('?');
    if (q == std::string::npos)
        return pairs;
    std::string_view rest(target);
    rest.remove_prefix(q + 1);
    while (!rest.empty()) {
        size_t amp = rest.find('&');
        std::string_view item = rest.substr(0, amp);
        size_t eq = item.find('=');
        std::string key(item.substr(0, eq));
        std::string value = eq == std::string_view::npos ? std::string() : percentDecode(item.substr(eq + 1));
        pairs.emplace_back(std::move(key), gbk::toUtf8(value));
        if (amp == std::string_view::npos)
            break;
        rest.remove_prefix(amp + 1);
    }
    return pairs;
}

void sendHtml(httplib::Response& res, std::string bytes)
{
    res.set_content(std::move(bytes), kHtml);
}

// A body of n filler bytes, produced in pieces so that a huge one costs no memory.
bool writeFiller(size_t offset, size_t length, httplib::DataSink& sink)
{
    static const std::string block(64 * 1024, 'k');
    (void)offset;
    return sink.write(block.data(), std::min(length, block.size()));
}

} // namespace

MarketServer::MarketServer(const MarketModel& model, Options options)
    : m_model(model), m_options(std::move(options)), m_server(std::make_unique<httplib::Server>())
{
}

MarketServer::~MarketServer()
{
    if (m_log)
        std::fclose(m_log);
}

bool MarketServer::bind()
{
    if (!m_options.logFile.empty()) {
        m_log = std::fopen(m_options.logFile.c_str(), "wb");
        if (!m_log) {
            std::fprintf(stderr, "kestrova-market: cannot write %s\n", m_options.logFile.c_str());
            return false;
        }
    }
    if (m_options.port == 0) {
        m_port = m_server->bind_to_any_port("127.0.0.1");
    } else {
        m_port = m_server->bind_to_port("127.0.0.1", m_options.port) ? m_options.port : -1;
    }
    if (m_port <= 0) {
        std::fprintf(stderr, "kestrova-market: cannot listen on 127.0.0.1:%d\n", m_options.port);
        return false;
    }
    m_base = m_options.base.empty() ? "http://127.0.0.1:" + std::to_string(m_port) : m_options.base;
    m_pages = std::make_unique<MarketPages>(m_model, m_base, m_options.padTo);
    if (m_options.closeEach)
        m_server->set_keep_alive_max_count(1);
    // Tests and benchmarks open many connections at once: the pool must not be the limit.
    m_server->new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
    // Every answer, routed or not, passes here once just before it is written.
    m_server->set_post_routing_handler([this](const httplib::Request&, httplib::Response&) { --m_inFlight; });
    m_server->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        return preRoute(req, res) ? httplib::Server::HandlerResponse::Handled
                                  : httplib::Server::HandlerResponse::Unhandled;
    });
    routes();
    return true;
}

void MarketServer::run()
{
    m_server->listen_after_bind();
}

void MarketServer::stop()
{
    {
        std::lock_guard lock(m_holdMutex);
        m_stopping = true;
    }
    m_released.notify_all();
    m_server->stop();
}

void MarketServer::logRequestLine(const httplib::Request& req, int inFlight)
{
    if (!m_log)
        return;
    // The server splits the request line at its two blanks; joined again, it is the line
    // as received, target bytes untouched.
    std::string line = req.method + " " + req.target + " " + req.version + "\n";
    if (m_options.logTimes) {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - m_started);
        line = std::to_string(ms.count()) + " " + std::to_string(inFlight) + " " + line;
    }
    std::lock_guard lock(m_logMutex);
    std::fwrite(line.data(), 1, line.size(), m_log);
    std::fflush(m_log);
}

bool MarketServer::failsNow(const httplib::Request& req)
{
    // Both patterns depend only on the order of the requests, so a run meets the same
    // failures each time.
    long long n = ++m_requests;
    if (m_options.failEvery > 0 && n % m_options.failEvery == 0)
        return true;
    if (m_options.failFirst > 0) {
        std::lock_guard lock(m_countMutex);
        return ++m_requestsPerTarget[req.target] <= m_options.failFirst;
    }
    return false;
}

bool MarketServer::preRoute(const httplib::Request& req, httplib::Response& res)
{
    logRequestLine(req, ++m_inFlight);
    if (m_options.holdAfter > 0 && ++m_arrived > m_options.holdAfter) {
        std::unique_lock lock(m_holdMutex);
        m_released.wait(lock, [this] { return m_stopping; });
        res.status = 503;
        return true;
    }
    if (m_options.latencyMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(m_options.latencyMs));
    if (!failsNow(req))
        return false;
    using Mode = Options::FailMode;
    switch (m_options.failMode) {
    case Mode::Drop:
        // Announce a page, send a part of it and cut the connection.
        res.set_content_provider(20000, kHtml, [](size_t, size_t, httplib::DataSink& sink) {
            std::string part(1000, ' ');
            sink.write(part.data(), part.size());
            return false;
        });
        return true;
    case Mode::Slow:
        // Silent for a while, then the page as usual.
        std::this_thread::sleep_for(std::chrono::milliseconds(m_options.slowMs));
        return false;
    case Mode::Empty:
        res.status = 200;
        res.set_content(std::string(), kHtml);
        return true;
    case Mode::Throttle:
        res.status = 429;
        res.set_header("Retry-After", std::to_string(m_options.retryAfterS));
        sendHtml(res, gbk::fromUtf8("<html><body><h1>请求过于频繁</h1></body></html>\n"));
        return true;
    case Mode::Status:
        break;
    }
    res.status = m_options.failStatus;
    sendHtml(res, gbk::fromUtf8("<html><body><h1>服务器忙，请稍后再试</h1></body></html>\n"));
    return true;
}

void MarketServer::routes()
{
    httplib::Server& s = *m_server;

    s.Get("/", [this](const httplib::Request&, httplib::Response& res) { sendHtml(res, m_pages->home()); });

    s.Get(R"(/browse/shop-(\d*)\.htm)", [this](const httplib::Request& req, httplib::Response& res) {
        MarketPages::Search q;
        q.category = req.matches[1];
        for (const auto& [key, value] : rawQuery(req.target)) {
            if (key == "shopname")
                q.shopname = value;
            else if (key == "sellername")
                q.sellername = value;
            else if (key == "keybiz")
                q.keybiz = value;
            else if (key == "loc")
                q.loc = value;
            else if (key == "page")
                q.page = std::max(1, std::atoi(value.c_str()));
            else if (key == "ratesum") {
                size_t from = 0;
                while (from < value.size()) {
                    size_t comma = value.find(',', from);
                    int level = std::atoi(value.substr(from, comma - from).c_str());
                    if (level > 0)
                        q.levels.insert(level);
                    if (comma == std::string::npos)
                        break;
                    from = comma + 1;
                }
            }
        }
        sendHtml(res, m_pages->searchResult(q));
    });

    s.Get(R"(/shop/(\d+)\.htm)", [this](const httplib::Request& req, httplib::Response& res) {
        const MarketModel::Shop* shop = m_model.shopByIndex(std::atoi(req.matches[1].str().c_str()));
        if (!shop) {
            res.status = 404;
            return;
        }
        sendHtml(res, m_pages->shopPage(*shop));
    });

    // The list's own link ("/user-rate-KEY.htm"), the program's address ("...--currentPage|N
    // --snapId|0.htm", the '|' sent as %7C) and the last-page link forms all land here.
    s.Get(R"(/user-rate-([0-9A-Za-z]+)(.*)\.htm)", [this](const httplib::Request& req,
                                                          httplib::Response& res) {
        const MarketModel::Shop* shop = m_model.shopByKey(req.matches[1].str());
        if (!shop) {
            res.status = 404;
            return;
        }
        int page = 1;
        std::string rest = req.matches[2];
        std::transform(rest.begin(), rest.end(), rest.begin(), [](char c) { return char(std::tolower(c)); });
        size_t at = rest.find("currentpage|");
        if (at != std::string::npos)
            page = std::atoi(rest.c_str() + at + 12);
        if (req.has_param("currentPage"))
            page = std::atoi(req.get_param_value("currentPage").c_str());
        sendHtml(res, m_pages->ratingPage(*shop, std::max(1, page)));
    });

    s.Get("/auction/snap_detail.htm", [this](const httplib::Request& req, httplib::Response& res) {
        auto found = m_model.itemById(req.get_param_value("auction_id"));
        if (!found) {
            res.status = 404;
            return;
        }
        sendHtml(res, m_pages->snapshot(*found->first, *found->second, req.get_param_value("trade_id")));
    });

    // Diagnostics for the tests of the download worker.
    s.Get("/test/headers", [](const httplib::Request& req, httplib::Response& res) {
        std::string body;
        for (const auto& [name, value] : req.headers)
            body += name + ": " + value + "\n";
        res.set_content(body, "text/plain");
    });
    s.Get("/test/cookie", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Set-Cookie", "visit=yes; Path=/");
        res.set_content("cookie set\n", "text/plain");
    });
    s.Get("/test/redirect", [this](const httplib::Request&, httplib::Response& res) {
        res.set_redirect(m_base + "/", 302);
        res.set_content("moved\n", "text/plain");
    });
    s.Get(R"(/test/status/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
        res.status = std::atoi(req.matches[1].str().c_str());
        res.set_content("status " + req.matches[1].str() + "\n", "text/plain");
    });
    s.Get(R"(/test/bytes/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
        size_t n = std::stoull(req.matches[1].str());
        if (req.has_param("chunked")) {
            auto left = std::make_shared<size_t>(n);
            res.set_chunked_content_provider("text/plain", [left](size_t offset, httplib::DataSink& sink) {
                if (*left == 0) {
                    sink.done();
                    return true;
                }
                size_t piece = std::min<size_t>(*left, 64 * 1024);
                *left -= piece;
                return writeFiller(offset, piece, sink);
            });
        } else {
            res.set_content_provider(n, "text/plain", writeFiller);
        }
    });
    s.Get("/test/truncate", [](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(1000, "text/plain", [](size_t, size_t, httplib::DataSink& sink) {
            std::string half(500, 'h');
            sink.write(half.data(), half.size());
            return false;
        });
    });
}
