#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <csignal>
#include <memory>
#include <string>
#include <sys/types.h>
#include <unistd.h>

// A PostgreSQL server of the test's own (scripts/pg-local) in a temporary folder on a free
// loopback port, stopped and removed on destruction. When the server programs are not
// installed, skipReason() says so and the test must skip with it; any other failure to
// start is error(), a failure of the test.
//
//     PgServer server;
//     if (!server.skipReason().isEmpty())
//         GTEST_SKIP() << server.skipReason().toStdString();
//     ASSERT_TRUE(server.running()) << server.error().toStdString();
class PgServer
{
public:
    PgServer()
    {
        QString out;
        if (run({QStringLiteral("bindir")}, &out, 30000) != 0) {
            m_skipReason = out.isEmpty() ? QStringLiteral("PostgreSQL server programs not found") : out;
            return;
        }
        m_binDir = out;
        if (!m_dir.isValid()) {
            m_error = QStringLiteral("cannot create a temporary folder: ") + m_dir.errorString();
            return;
        }
        if (run({QStringLiteral("start"), m_dir.path()}, &out, 120000) != 0 ||
            !out.startsWith("postgresql://")) {
            m_error = out.isEmpty() ? QStringLiteral("scripts/pg-local start failed") : out;
            return;
        }
        m_url = out;
    }
    ~PgServer() { stop(); }
    PgServer(const PgServer&) = delete;
    PgServer& operator=(const PgServer&) = delete;

    QString skipReason() const { return m_skipReason; }
    QString error() const { return m_error; }
    bool running() const { return !m_url.isEmpty(); }
    // postgresql://USER@127.0.0.1:PORT/kestrova
    QString url() const { return m_url; }
    std::string urlString() const { return m_url.toStdString(); }
    // The folder of initdb, pg_ctl and psql.
    QString binDir() const { return m_binDir; }
    QString dir() const { return m_dir.path(); }
    // The postmaster's process id while it runs, else 0.
    pid_t postmasterPid() const
    {
        QFile file(m_dir.path() + QStringLiteral("/data/postmaster.pid"));
        if (!file.open(QIODevice::ReadOnly))
            return 0;
        return static_cast<pid_t>(file.readLine().trimmed().toLong());
    }

    // Runs SQL with psql on the server's database (or another database of the server, named
    // in place of "kestrova"); its exit status, with the rows (unaligned, no headers) or the
    // error text in *out.
    int psql(const QString& sql, QString* out = nullptr, const QString& database = QString()) const
    {
        QString url = m_url;
        if (!database.isEmpty())
            url = url.left(url.lastIndexOf(u'/') + 1) + database;
        QProcess process;
        process.start(m_binDir + QStringLiteral("/psql"),
                      {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-tA"),
                       QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"), url, QStringLiteral("-c"),
                       sql});
        if (!process.waitForStarted(10000) || !process.waitForFinished(120000)) {
            process.kill();
            process.waitForFinished(5000);
            if (out)
                *out = QStringLiteral("psql did not run: ") + process.errorString();
            return -1;
        }
        const int code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        if (out)
            *out = QString::fromUtf8(code == 0 ? process.readAllStandardOutput()
                                               : process.readAllStandardError())
                       .trimmed();
        return code;
    }

    // Starts a stopped server again on its folder and port, with the data it had; true when
    // it runs.
    bool startAgain()
    {
        if (!m_url.isEmpty())
            return true;
        if (m_stoppedUrl.isEmpty())
            return false;
        const QString port = m_stoppedUrl.section(u':', -1).section(u'/', 0, 0);
        QString out;
        if (run({QStringLiteral("start"), m_dir.path(), port}, &out, 120000) != 0 || out != m_stoppedUrl) {
            m_error = out.isEmpty() ? QStringLiteral("scripts/pg-local start failed") : out;
            return false;
        }
        m_url = out;
        return true;
    }

    // Stops the server now (the destructor does it otherwise); true when it stopped.
    bool stop()
    {
        if (m_url.isEmpty())
            return true;
        m_stoppedUrl = m_url;
        pid_t pid = postmasterPid();
        QString out;
        bool stopped = run({QStringLiteral("stop"), m_dir.path()}, &out, 90000) == 0;
        // A server that would not stop must not outlive the test.
        if (!stopped && pid > 0)
            ::kill(pid, SIGKILL);
        m_url.clear();
        return stopped;
    }

private:
    static QString script() { return QStringLiteral(KESTROVA_SOURCE_DIR "/scripts/pg-local"); }

    // Runs scripts/pg-local; its stdout (or, when it failed, its stderr) in *out.
    static int run(const QStringList& args, QString* out, int timeoutMs)
    {
        QProcess process;
        process.start(QStringLiteral("bash"), QStringList{script()} + args);
        if (!process.waitForStarted(10000)) {
            *out = QStringLiteral("cannot run bash for scripts/pg-local: ") + process.errorString();
            return -1;
        }
        if (!process.waitForFinished(timeoutMs)) {
            process.kill();
            process.waitForFinished(5000);
            *out = QStringLiteral("scripts/pg-local %1 did not finish in time").arg(args.value(0));
            return -1;
        }
        int code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        QByteArray text = code == 0 ? process.readAllStandardOutput() : process.readAllStandardError();
        *out = QString::fromUtf8(text).trimmed();
        return code;
    }

    QTemporaryDir m_dir{QDir::tempPath() + QStringLiteral("/kestrova-pg-XXXXXX")};
    QString m_skipReason;
    QString m_error;
    QString m_binDir;
    QString m_url;
    QString m_stoppedUrl; // the address of a server stop() ended
};

// One test server for the whole test program (starting one takes a second or two), and a
// fresh database on it for each test that asks.
inline PgServer& sharedServer()
{
    static std::unique_ptr<PgServer> server = std::make_unique<PgServer>();
    return *server;
}

// The URL of a new, empty database on the shared server (a copy of the database
// templateName, when given); empty with *why set when there is no server (skip) or it failed
// (*failed).
inline QString freshServerDatabase(QString* why, bool* failed, const QString& templateName = QString())
{
    PgServer& server = sharedServer();
    *failed = false;
    if (!server.skipReason().isEmpty()) {
        *why = server.skipReason();
        return QString();
    }
    if (!server.running()) {
        *why = server.error();
        *failed = true;
        return QString();
    }
    static int counter = 0;
    const QString name = QStringLiteral("t%1_%2").arg(::getpid()).arg(++counter);
    QString out;
    const QString copy = templateName.isEmpty() ? QString() : QStringLiteral(" TEMPLATE ") + templateName;
    if (server.psql(QStringLiteral("CREATE DATABASE %1%2").arg(name, copy), &out) != 0) {
        *why = out;
        *failed = true;
        return QString();
    }
    const QString url = server.url();
    return url.left(url.lastIndexOf(u'/') + 1) + name;
}
