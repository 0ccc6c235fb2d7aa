#pragma once

#include <atomic>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

// A hand-driven HTTP server on a free loopback port for the misbehaviours a real server
// will not produce on demand: it reads one request per connection, then sends the scripted
// pieces (each after its delay) and closes or holds the connection until destruction.
class RawServer
{
public:
    struct Piece
    {
        std::string bytes;
        int delayMs = 0;
    };

    RawServer(std::vector<Piece> script, bool holdOpen) : m_script(std::move(script)), m_holdOpen(holdOpen)
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(m_listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(m_listener, 8) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            return;
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~RawServer()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_listener);
    }
    RawServer(const RawServer&) = delete;
    RawServer& operator=(const RawServer&) = delete;

    int port() const { return m_port; }
    std::string url(const std::string& path = "/") const
    {
        return "http://127.0.0.1:" + std::to_string(m_port) + path;
    }

private:
    // Waits up to ms for fd to become readable, giving up early when the server stops.
    bool readable(int fd, int ms)
    {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!m_stop && std::chrono::steady_clock::now() < until) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0)
                return true;
        }
        return false;
    }
    void pause(int ms)
    {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!m_stop && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    void serve()
    {
        std::vector<int> held;
        while (!m_stop) {
            if (!readable(m_listener, 100))
                continue;
            int fd = ::accept(m_listener, nullptr, nullptr);
            if (fd < 0)
                continue;
            std::string request;
            char buf[4096];
            while (request.find("\r\n\r\n") == std::string::npos && readable(fd, 2000)) {
                ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                if (n <= 0)
                    break;
                request.append(buf, size_t(n));
            }
            for (const Piece& piece : m_script) {
                pause(piece.delayMs);
                ::send(fd, piece.bytes.data(), piece.bytes.size(), MSG_NOSIGNAL);
            }
            if (m_holdOpen)
                held.push_back(fd);
            else
                ::close(fd);
        }
        for (int fd : held)
            ::close(fd);
    }

    std::vector<Piece> m_script;
    bool m_holdOpen;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
