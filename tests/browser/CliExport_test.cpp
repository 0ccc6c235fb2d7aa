// kestrova-cli export: the same filter and sort texts and the same files as the browser.
#include "BrowserFixture.h"
#include "cli/CliProcess.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using CliRun = CliResult;

CliRun cli(const QString& dataDir, const QStringList& args)
{
    return runCli(dataDir, args);
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

class CliExport : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // The snapshot host comes from the configuration file, as in the program.
        QFile ini(dir.filePath("config.ini"));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("[Market]\r\nSnapHost=http://snap.test:81\r\n");
        ini.close();
        TDM dm;
        ASSERT_TRUE(dm.DataModuleCreate(dir.filePath("quelmar2.mdb")));
        sample = browserdata::addSample(dm);
    }

    QTemporaryDir dir;
    browserdata::Sample sample;
};

} // namespace

TEST_F(CliExport, WritesTheSameFilesAsTheBrowserWithItsFilterAndSortTexts)
{
    CliRun r = cli(dir.path(), {"export", "ratings", "--shop", QString::number(sample.shopA), "--csv",
                                dir.filePath("r.csv")});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "{\"rows\": 2, \"file\": \"" + dir.filePath("r.csv") + "\"}\n");
    EXPECT_EQ(readAll(dir.filePath("r.csv")), readAll(KESTROVA_TEST_DATA "/browser/ratings.csv"));

    r = cli(dir.path(), {"export", "shops", "--csv", dir.filePath("s.csv")});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(readAll(dir.filePath("s.csv")), readAll(KESTROVA_TEST_DATA "/browser/shops.csv"));

    // A filter as the trade tab builds it, over every shop, sorted by price descending.
    r = cli(dir.path(), {"export", "ratings", "--filter", "pjName like %,% and jg >=100", "--csv",
                         dir.filePath("f.csv")});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith("{\"rows\": 1,"));
    r = cli(dir.path(), {"export", "ratings", "--filter", "jg >=30", "--sort", "jg DESC ", "--xlsx",
                         dir.filePath("f.xlsx")});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "{\"rows\": 3, \"sheets\": 1, \"file\": \"" + dir.filePath("f.xlsx") + "\"}\n");
    EXPECT_TRUE(readAll(dir.filePath("f.xlsx")).startsWith("PK"));
}

TEST_F(CliExport, RefusesTextsThatAreNotFiltersAndBadArguments)
{
    CliRun r = cli(dir.path(), {"export", "shops", "--filter", "id = 1; drop table dianBase", "--csv",
                                dir.filePath("x.csv")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.contains("Filter text not understood")) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(dir.filePath("x.csv")));

    EXPECT_EQ(cli(dir.path(), {"export", "shops", "--sort", "nosuch", "--csv", dir.filePath("x.csv")}).status,
              1);
    EXPECT_EQ(cli(dir.path(), {"export", "things", "--csv", dir.filePath("x.csv")}).status, 2);
    EXPECT_EQ(cli(dir.path(), {"export", "shops"}).status, 2);
    EXPECT_EQ(cli(dir.path(), {"export", "shops", "--shop", "abc", "--csv", dir.filePath("x.csv")}).status,
              2);
    EXPECT_EQ(cli(dir.path(), {"export", "shops", "--csv", "a.csv", "--xlsx", "b.xlsx"}).status, 2);

    // A folder that is not there: the file is named with the cause, for either format.
    for (const char* format : {"--csv", "--xlsx"}) {
        const QString target = dir.filePath("no/such/folder/out.x");
        r = cli(dir.path(), {"export", "shops", format, target});
        EXPECT_EQ(r.status, 1) << format;
        EXPECT_TRUE(r.err.contains(target + ": No such file or directory")) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
    }

    r = cli(dir.path(), {"export", "--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out.contains("--filter TEXT"));
}
