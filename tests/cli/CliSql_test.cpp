#include "cli/CliProcess.h"
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
