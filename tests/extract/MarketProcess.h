#pragma once

#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>
#include <csignal>
#include <string>
#include <sys/prctl.h>

// kestrova-market from the build tree, started on a free port and stopped on destruction.
class MarketProcess
{
public:
    explicit MarketProcess(const QStringList& args = {})
    {
        m_process.setProgram(QStringLiteral(KESTROVA_BIN_DIR "/kestrova-market"));
        m_process.setArguments(QStringList{QStringLiteral("--port"), QStringLiteral("0")} + args);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // A crashed test must not leave a server behind.
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        m_process.start();
        if (!m_process.waitForStarted(30000))
            return;
        // The first line names the address: "listening on http://127.0.0.1:PORT". A large
        // market writes its truth file first, which takes long on a loaded or instrumented
        // build: wait while the server lives, up to a generous bound.
        QByteArray line;
        QElapsedTimer clock;
        clock.start();
        while (!line.contains('\n') && m_process.state() == QProcess::Running && clock.elapsed() < 300000) {
            if (m_process.waitForReadyRead(1000))
                line += m_process.readAll();
        }
        int colon = line.lastIndexOf(':');
        if (line.startsWith("listening on ") && colon > 0)
            m_port = line.mid(colon + 1).trimmed().toInt();
    }
    ~MarketProcess()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
    MarketProcess(const MarketProcess&) = delete;
    MarketProcess& operator=(const MarketProcess&) = delete;

    bool running() const { return m_port > 0; }
    int port() const { return m_port; }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(m_port); }
    std::string url(const std::string& path) const { return base() + path; }

private:
    QProcess m_process;
    int m_port = 0;
};
