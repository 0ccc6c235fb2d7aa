// kestrova-cli export: the same filter and sort texts and the same files as the browser.
#include "BrowserFixture.h"
#include "cli/CliProcess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/resource.h>

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

// A run under a file size limit, which every file the process writes meets.
CliRun cliLimited(const QString& dataDir, const QStringList& args, rlim_t limit)
{
    QProcess p;
    p.setChildProcessModifier([limit] {
        const rlimit l{limit, limit};
        setrlimit(RLIMIT_FSIZE, &l);
    });
    p.start(QStringLiteral(KESTROVA_BIN_DIR "/kestrova-cli"), QStringList{"--data-dir", dataDir} + args);
    p.waitForFinished(60000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

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
    EXPECT_EQ(r.status, 2);
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

TEST_F(CliExport, AFileThatCannotBeWrittenWholeIsToldByNameAndTheOldFileStays)
{
    {
        TDM dm;
        ASSERT_TRUE(dm.DataModuleCreate(dir.filePath("quelmar2.mdb")));
        ASSERT_TRUE(dm.adoCn.exec(
            QStringLiteral(
                "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 4000) "
                "INSERT INTO pjInfo(dian_id, pj, pjName, buyerOrSaler, jg, pjsj, itemTitle, pjInfo, "
                "trade_id, itemId) "
                "SELECT %1, '好评', 'rater' || i, 1, i, '2026-03-04 05:06:07', 'item ' || (i * 7919 % 1000), "
                "'comment ' || (i * 104729), 'T' || i, 'I' || i FROM n")
                .arg(sample.shopA)))
            << dm.adoCn.error().toStdString();
    }
    // Far less than either file, more than the database's own shared memory file needs.
    const rlim_t limit = 96 * 1024;
    const QString out = dir.filePath("out");
    ASSERT_TRUE(QDir().mkpath(out));
    for (const char* format : {"--csv", "--xlsx"}) {
        SCOPED_TRACE(format);
        const QString target = out + "/old" + QString::fromLatin1(format).mid(2).prepend('.');
        {
            QFile old(target);
            ASSERT_TRUE(old.open(QIODevice::WriteOnly));
            old.write("old contents");
        }
        const CliRun r = cliLimited(dir.path(), {"export", "ratings", format, target}, limit);
        EXPECT_EQ(r.status, 1) << r.out.toStdString();
        EXPECT_TRUE(r.err.contains(target + ": File too large")) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
        EXPECT_EQ(readAll(target), "old contents");
        EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden), QStringList{QFileInfo(target).fileName()});
        QFile::remove(target);
    }
}

// "shops" lists what the browser's shop list shows, with the ids --shop takes, under the same
// filter and sort texts; a filter it cannot take is refused as export refuses it.
TEST_F(CliExport, ShopsListsTheStoredShopsWithTheirIdsAndCounts)
{
    const QString a = QString::number(sample.shopA), b = QString::number(sample.shopB);
    const struct
    {
        QStringList args;
        QStringList ids;
    } cases[] = {
        {{}, {a, b}},
        {{"--sort", "dianzhu DESC "}, {b, a}},
        {{"--filter", "dianming like %甲%"}, {a}},
        {{"--filter", "salelevel >=12"}, {}},
    };
    for (const auto& c : cases) {
        const CliRun r = cli(dir.path(), QStringList{"shops"} + c.args);
        EXPECT_EQ(r.status, 0) << r.err.toStdString();
        QStringList ids;
        for (const QString& line : r.out.split(u'\n', Qt::SkipEmptyParts))
            ids << line.section(u',', 0, 0).section(u' ', 1);
        EXPECT_EQ(ids, c.ids) << c.args.join(u' ').toStdString();
    }
    const CliRun r = cli(dir.path(), {"shops", "--filter", "id = " + a});
    EXPECT_EQ(
        r.out,
        "{\"id\": " + a +
            ", \"dianzhu\": \" 店主甲 \", \"dianming\": \"甲的小店\", \"webaddr\": "
            "\"http://127.0.0.1:8631/shop/view_shop-5678.htm\", \"salelevel\": 11, \"salerGood\": 4000, "
            "\"salerNotBad\": 3, \"salerBad\": 2, \"buylevel\": 3, \"buyerGood\": 100, \"buyerNotBad\": "
            "1, \"buyerBad\": 0, \"commodityNum\": 42, \"ratings\": 2, \"updateDate\": \"2026-12-01 "
            "09:30:00\"}\n");

    for (const QStringList& args :
         {QStringList{"shops"}, QStringList{"export", "shops", "--csv", dir.filePath("x.csv")}}) {
        const CliRun bad = cli(dir.path(), args + QStringList{"--filter", "nosuch = 1"});
        EXPECT_EQ(bad.status, 2) << args.first().toStdString();
        EXPECT_EQ(bad.err, "Unknown column 'nosuch' in filter.\n") << bad.err.toStdString();
    }
}
