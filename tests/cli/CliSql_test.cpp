#include "cli/CliProcess.h"
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using Result = CliResult;

Result cli(const QString& dataDir, const QStringList& args)
{
    return runCli(dataDir, args);
}

TEST(CliSql, CreatesTheDatabaseRunsStatementsAndPrintsJsonLines)
{
    QTemporaryDir dir;
    const QString data = dir.filePath("data");
    Result r = cli(data, {"sql", "--param", "dianzhu=店主 \"甲\"", "--param", "webaddr=http://h/1", "--param",
                          "updateDate=2026-12-08", "--param", "commodityNum=7",
                          "insert into dianbase(dianzhu,webaddr,updateDate,commodityNum) "
                          "values(:dianzhu,:webaddr,:updateDate,:commodityNum)"});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "{\"changed\": 1}\n");

    r = cli(data, {"sql", "--param", "Since=2026-12-08",
                   "select top 1 dianzhu, commodityNum*1.5 as x, 0.1+0.2 as y, zhuce, "
                   "updateDate from dianBase where updateDate>=:since"});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "{\"dianzhu\": \"店主 \\\"甲\\\"\", \"x\": 10.5, \"y\": 0.3, \"zhuce\": null, "
                     "\"updateDate\": \"2026-12-08 00:00:00\"}\n");
}

TEST(CliSql, NumbersThatJsonCannotHoldArePrintedAsNull)
{
    QTemporaryDir dir;
    const Result r =
        cli(dir.path(), {"sql", "select 1e400 as big, -1e400 as small, 1e400 - 1e400 as nan, 2.5 as x"});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "{\"big\": null, \"small\": null, \"nan\": null, \"x\": 2.5}\n");

    const Result help = cli(dir.path(), {"sql", "--help"});
    EXPECT_TRUE(help.out.contains("printed as null")) << help.out.toStdString();
}

// Rows reach standard output while the statement still runs: an endless query shows its first
// rows at once, and a failure after some rows still ends with status 1.
TEST(CliSql, RowsAreStreamedAsTheEngineReadsThem)
{
    QTemporaryDir dir;
    ASSERT_EQ(cli(dir.path(), {"sql", "select 1"}).status, 0); // the database exists
    QProcess p;
    p.start(QStringLiteral(KESTROVA_BIN_DIR "/kestrova-cli"),
            {"--data-dir", dir.path(), "sql",
             "with recursive c(x) as (select 1 union all select x + 1 from c) select x from c"});
    ASSERT_TRUE(p.waitForStarted());
    QByteArray out;
    QElapsedTimer clock;
    clock.start();
    while (out.count('\n') < 1000 && clock.elapsed() < 20000 && p.state() == QProcess::Running) {
        p.waitForReadyRead(1000);
        out += p.readAllStandardOutput();
    }
    p.kill();
    p.waitForFinished();
    ASSERT_GE(out.count('\n'), 1000);
    EXPECT_TRUE(out.startsWith("{\"x\": 1}\n{\"x\": 2}\n")) << out.left(40).toStdString();

    // abs() of the smallest integer overflows on the second row, after the first came out.
    const Result r = cli(
        dir.path(), {"sql", "select abs(column1) as a from (values (1), (-9223372036854775807 - 1), (2))"});
    EXPECT_EQ(r.status, 1) << r.out.toStdString();
    EXPECT_EQ(r.out, "{\"a\": 1}\n");
    EXPECT_TRUE(r.err.contains("overflow")) << r.err.toStdString();
}

TEST(CliSql, EngineErrorsGoToStandardErrorWithStatusOne)
{
    QTemporaryDir dir;
    Result r = cli(dir.path(), {"sql", "select x from nowhere"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_TRUE(r.err.contains("nowhere")) << r.err.toStdString();

    r = cli(dir.path(), {"sql", "--param", "d=not a date", "select * from pjinfo where pjsj>:d"});
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(r.err.isEmpty());

    r = cli(dir.path(), {"sql"});
    EXPECT_EQ(r.status, 2);
}

} // namespace
