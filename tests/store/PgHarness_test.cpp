// scripts/pg-local and the PgServer test helper: a server starts, answers on its URL, and
// leaves no process behind when stopped.
#include "store/PgServer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <vector>

namespace {

struct Outcome
{
    int code = -1;
    QString out;
    QString err;
};

Outcome runProgram(const QString& program, const QStringList& args)
{
    QProcess process;
    process.start(program, args);
    Outcome run;
    if (!process.waitForStarted(10000) || !process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished(5000);
        run.err = QStringLiteral("did not run: ") + process.errorString();
        return run;
    }
    run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    run.err = QString::fromUtf8(process.readAllStandardError()).trimmed();
    return run;
}

Outcome psql(const PgServer& server, const QString& url, const QString& sql)
{
    return runProgram(server.binDir() + QStringLiteral("/psql"),
                      {QStringLiteral("-X"), QStringLiteral("-tA"), url, QStringLiteral("-c"), sql});
}

// Field 4 of /proc/PID/stat is the parent, field 3 the state; the command name in
// brackets may hold spaces, so the fields are counted after its closing bracket.
bool readStat(pid_t pid, char* state, pid_t* parent)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray stat = file.readAll();
    int close = stat.lastIndexOf(')');
    if (close < 0)
        return false;
    QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    if (fields.size() < 2)
        return false;
    *state = fields[0].isEmpty() ? '?' : fields[0][0];
    *parent = static_cast<pid_t>(fields[1].toLong());
    return true;
}

// A process that still runs; an exited one that nobody has reaped yet does not count.
bool alive(pid_t pid)
{
    char state = '?';
    pid_t parent = 0;
    return readStat(pid, &state, &parent) && state != 'Z' && state != 'X';
}

// The postmaster and every process it started.
std::vector<pid_t> serverProcesses(pid_t postmaster)
{
    std::vector<pid_t> pids{postmaster};
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool number = false;
        pid_t pid = static_cast<pid_t>(entry.toLong(&number));
        char state = '?';
        pid_t parent = 0;
        if (number && readStat(pid, &state, &parent) && parent == postmaster)
            pids.push_back(pid);
    }
    return pids;
}

#define SKIP_WITHOUT_SERVER(server)                                                                          \
    if (!(server).skipReason().isEmpty())                                                                    \
    GTEST_SKIP() << (server).skipReason().toStdString()

TEST(PgHarness, StartsAServerThatAnswersOnItsUrlAndStopsItLeavingNoProcess)
{
    PgServer server;
    SKIP_WITHOUT_SERVER(server);
    ASSERT_TRUE(server.running()) << server.error().toStdString();

    static const QRegularExpression form(
        QStringLiteral("^postgresql://[^@/]+@127\\.0\\.0\\.1:(\\d+)/kestrova$"));
    QRegularExpressionMatch match = form.match(server.url());
    ASSERT_TRUE(match.hasMatch()) << server.urlString();
    // The socket stays in the server's folder, out of the system's.
    EXPECT_TRUE(QFile::exists(server.dir() + QStringLiteral("/socket/.s.PGSQL.") + match.captured(1)));

    Outcome answer = psql(server, server.url(), QStringLiteral("select 1"));
    EXPECT_EQ(answer.code, 0) << answer.err.toStdString();
    EXPECT_EQ(answer.out, QStringLiteral("1"));
    Outcome encoding = psql(server, server.url(), QStringLiteral("show server_encoding"));
    EXPECT_EQ(encoding.out, QStringLiteral("UTF8")) << encoding.err.toStdString();

    pid_t postmaster = server.postmasterPid();
    ASSERT_GT(postmaster, 0);
    ASSERT_TRUE(alive(postmaster));
    std::vector<pid_t> pids = serverProcesses(postmaster);
    EXPECT_GT(pids.size(), 1U) << "a running server has background processes";

    const QString url = server.url();
    ASSERT_TRUE(server.stop());
    for (pid_t pid : pids)
        EXPECT_FALSE(alive(pid)) << "server process " << pid << " outlived the stop";
    EXPECT_FALSE(QFile::exists(server.dir() + QStringLiteral("/data/postmaster.pid")));
    Outcome after = psql(server, url, QStringLiteral("select 1"));
    EXPECT_NE(after.code, 0) << "a stopped server still answered";
}

TEST(PgHarness, TwoServersAtOnceGetTheirOwnPortsAndFolders)
{
    PgServer first;
    SKIP_WITHOUT_SERVER(first);
    PgServer second;
    ASSERT_TRUE(first.running()) << first.error().toStdString();
    ASSERT_TRUE(second.running()) << second.error().toStdString();
    EXPECT_NE(first.url(), second.url());
    EXPECT_NE(first.dir(), second.dir());
    // Each is a server of its own: a table made in one is not in the other.
    QString out;
    EXPECT_EQ(second.psql(QStringLiteral("create database other"), &out), 0) << out.toStdString();
    EXPECT_EQ(second.psql(QStringLiteral("select current_database()"), &out, QStringLiteral("other")), 0);
    EXPECT_EQ(out, QStringLiteral("other"));
    EXPECT_NE(second.psql(QStringLiteral("select nonsense"), &out), 0);
    EXPECT_TRUE(out.contains(QStringLiteral("nonsense"))) << out.toStdString();
    EXPECT_EQ(psql(first, first.url(), QStringLiteral("create table only_here (x int)")).code, 0);
    EXPECT_EQ(psql(first, first.url(), QStringLiteral("select count(*) from only_here")).out,
              QStringLiteral("0"));
    EXPECT_NE(psql(second, second.url(), QStringLiteral("select count(*) from only_here")).code, 0);
}

TEST(PgHarness, ScriptRefusesBadUsageAndAMissingServerFolder)
{
    const QString script = QStringLiteral(KESTROVA_SOURCE_DIR "/scripts/pg-local");
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    Outcome noCommand = runProgram(QStringLiteral("bash"), {script});
    EXPECT_EQ(noCommand.code, 2);
    EXPECT_TRUE(noCommand.err.contains(QStringLiteral("usage"))) << noCommand.err.toStdString();
    Outcome badPort = runProgram(QStringLiteral("bash"),
                                 {script, QStringLiteral("start"), dir.path(), QStringLiteral("port")});
    EXPECT_EQ(badPort.code, 2);
    EXPECT_TRUE(badPort.out.isEmpty());
    Outcome stopNothing = runProgram(QStringLiteral("bash"),
                                     {script, QStringLiteral("stop"), dir.path() + QStringLiteral("/none")});
    EXPECT_EQ(stopNothing.code, 1);
    EXPECT_TRUE(stopNothing.err.contains(QStringLiteral("no server folder")))
        << stopNothing.err.toStdString();
}

} // namespace
