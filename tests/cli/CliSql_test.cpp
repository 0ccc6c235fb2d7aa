#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct Result
{
    int status = -1;
    QString out;
    QString err;
};

Result cli(const QString& dataDir, const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral(KESTROVA_BIN_DIR "/kestrova-cli"), QStringList{"--data-dir", dataDir} + args);
    p.waitForFinished(30000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
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
                   "select top 1 dianzhu, commodityNum*1.5 as x, zhuce, "
                   "updateDate from dianBase where updateDate>=:since"});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "{\"dianzhu\": \"店主 \\\"甲\\\"\", \"x\": 10.5, \"zhuce\": null, "
                     "\"updateDate\": \"2026-12-08 00:00:00\"}\n");
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
