// The command line's open of the database: a mend is told once, on standard error.
#include "cli/CliProcess.h"
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using Result = CliResult;

Result sql(const QString& dataDir, const QString& statement)
{
    return runCli(dataDir, {"sql", statement});
}

TEST(CliDatabase, AMissingTableIsAddedAndToldOnce)
{
    QTemporaryDir dir;
    ASSERT_EQ(sql(dir.path(), "insert into dianBase(dianzhu) values('甲')").status, 0);
    ASSERT_EQ(sql(dir.path(), "drop table pjInfo").status, 0);

    Result r = sql(dir.path(), "select count(*) as n from pjInfo");
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "{\"n\": 0}\n");
    EXPECT_EQ(r.err.count('\n'), 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(dir.filePath("quelmar2.mdb")));
    EXPECT_TRUE(r.err.contains("pjInfo"));

    r = sql(dir.path(), "select dianzhu from dianBase");
    EXPECT_EQ(r.out, "{\"dianzhu\": \"甲\"}\n");
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
}

TEST(CliDatabase, EveryCommandThatOpensTheDatabaseTellsAMend)
{
    QTemporaryDir dir;
    ASSERT_EQ(sql(dir.path(), "insert into dianBase(dianzhu) values('甲')").status, 0);
    const QList<QStringList> commands{
        {"export", "shops", "--csv", dir.filePath("shops.csv")},
        {"analyze", "rank", "--shop", "1"},
    };
    for (const QStringList& command : commands) {
        SCOPED_TRACE(command.join(' ').toStdString());
        ASSERT_EQ(sql(dir.path(), "drop index dianBase_webaddr").status, 0);
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(KESTROVA_BIN_DIR "/kestrova-cli"),
                QStringList{"--data-dir", dir.path()} + command);
        ASSERT_TRUE(p.waitForFinished(60000));
        const QString err = QString::fromUtf8(p.readAllStandardError());
        EXPECT_EQ(p.exitCode(), 0) << err.toStdString();
        EXPECT_TRUE(err.contains("dianBase_webaddr")) << err.toStdString();
        EXPECT_TRUE(err.contains(dir.filePath("quelmar2.mdb"))) << err.toStdString();
    }
}

} // namespace
