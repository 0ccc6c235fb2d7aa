#pragma once

#include "LoopbackPort.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <sys/prctl.h>

// A real HTTP proxy with basic authentication on a free loopback port, in the foreground,
// with its own configuration file; stopped on destruction.
class TinyProxy
{
public:
    TinyProxy(const QString& user, const QString& password)
    {
        const QString program = QStandardPaths::findExecutable(QStringLiteral("tinyproxy"));
        if (program.isEmpty() || !m_dir.isValid())
            return;
        m_port = freeLoopbackPort();
        QFile conf(m_dir.filePath(QStringLiteral("tinyproxy.conf")));
        if (!conf.open(QIODevice::WriteOnly))
            return;
        conf.write(QStringLiteral("Port %1\nListen 127.0.0.1\nTimeout 20\nMaxClients 10\nAllow 127.0.0.1\n"
                                  "BasicAuth %2 %3\nLogLevel Critical\n")
                       .arg(m_port)
                       .arg(user, password)
                       .toUtf8());
        conf.close();
        m_process.setProgram(program);
        m_process.setArguments({QStringLiteral("-d"), QStringLiteral("-c"), conf.fileName()});
        m_process.setProcessChannelMode(QProcess::ForwardedChannels);
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        m_process.start();
        m_process.waitForStarted(5000);
        QElapsedTimer clock;
        clock.start();
        while (m_process.state() == QProcess::Running && clock.elapsed() < 5000) {
            if (loopbackPortOpen(m_port)) {
                m_ready = true;
                break;
            }
            QThread::msleep(20);
        }
    }
    ~TinyProxy()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
    TinyProxy(const TinyProxy&) = delete;
    TinyProxy& operator=(const TinyProxy&) = delete;

    bool ready() const { return m_ready; }
    int port() const { return m_port; }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
    bool m_ready = false;
};
