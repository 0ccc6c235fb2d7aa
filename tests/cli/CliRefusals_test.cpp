// Arguments that would make a command do something other than what was asked are refused
// with status 2 and named; folders and files that cannot be used are named with the cause.
#include "FileBytes.h"
#include "cli/CliProcess.h"
#include "settings/Settings.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct Refused
{
    QStringList args;
    const char* told;
};

TEST(CliRefusals, SearchAndMineArgumentsThatWouldBeIgnoredOrMisreadAreRefused)
{
    QTemporaryDir dir;
    const Refused cases[] = {
        {{"search", "--shopname", "x", "--levels", "1,,3"},
         "kestrova-cli search: --levels: 1,,3 is not allowed"},
        {{"search", "--shopname", "x", "--levels", "2,"}, "--levels: 2, is not allowed"},
        {{"search", "--shopname", "x", "--from", "41"},
         "kestrova-cli search: --from is for mining: give --mine too"},
        {{"search", "--shopname", "x", "--to", "80"}, "--to is for mining: give --mine too"},
        {{"search", "--shopname", "x", "--new-only"}, "--new-only is for mining: give --mine too"},
        {{"search", "--shopname", "x", "--mine", "--from", "81", "--to", "40"},
         "kestrova-cli search: --to 40 is below --from 81"},
        {{"mine", "--from", "81", "--to", "80", "http://127.0.0.1/shop/1.htm"},
         "kestrova-cli mine: --to 80 is below --from 81"},
        // A name of blanks is no name, as an empty one is.
        {{"search", "--shopname", "   "}, "请输入店铺名称或类别等条件进行搜索！"},
        {{"search", "--shopname", "", "--sellername", " \t"}, "请输入店铺名称或类别等条件进行搜索！"},
    };
    for (const Refused& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const CliResult r = runCli(dir.path(), c.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.told))) << r.err.toStdString();
    }
    // The walk's page rule is what the help tells.
    for (const char* command : {"search", "mine"}) {
        const CliResult help = runCli(dir.path(), {command, "--help"});
        EXPECT_TRUE(help.out.contains("ceil(A / 40)")) << help.out.toStdString();
        EXPECT_TRUE(help.out.contains("ceil(B / 40)")) << help.out.toStdString();
        EXPECT_TRUE(help.out.contains("Whole")) << help.out.toStdString();
    }
}

TEST(CliRefusals, AnEmptyDataFolderNameIsRefusedAndAnUncreatableOneNamed)
{
    QTemporaryDir dir;
    for (const QStringList& args :
         {QStringList{"--data-dir", "", "sql", "select 1"}, QStringList{"--data-dir"}}) {
        QProcess p;
        p.start(QStringLiteral(KESTROVA_BIN_DIR "/kestrova-cli"), args);
        ASSERT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(p.exitCode(), 2);
        EXPECT_TRUE(p.readAllStandardOutput().isEmpty()); // the statement did not run
        EXPECT_EQ(p.readAllStandardError(), "kestrova-cli: --data-dir needs a folder name\n");
    }

    // A folder below a file cannot be made.
    writeAll(dir.filePath("plain"), "a file");
    const QString data = dir.filePath("plain/data");
    for (const QStringList& args :
         {QStringList{"sql", "select 1"}, QStringList{"export", "shops", "--csv", dir.filePath("s.csv")},
          QStringList{"analyze", "rank", "--shop", "1"}}) {
        SCOPED_TRACE(args.join(' ').toStdString());
        const CliResult r = runCli(data, args);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(
            r.err.contains("kestrova-cli: cannot create the data folder " + data + ": Not a directory"))
            << r.err.toStdString();
        EXPECT_FALSE(r.err.contains("unable to open database file")) << r.err.toStdString();
    }
}

TEST(CliRefusals, AConfigurationFileThatIsNotOneIsToldOnceAndLeftAlone)
{
    QTemporaryDir dir;
    const QString ini = dir.filePath("config.ini");
    // A program saved under the name: binary, though a header and a key are in it.
    const char program[] = "\x7f"
                           "ELF\x02\x01\x01\0\0\0[Market]\nSnapHost=http://x\n";
    const QByteArray body(program, sizeof program - 1);
    writeAll(ini, body);
    const CliResult r = runCli(dir.path(), {"export", "shops", "--csv", dir.filePath("s.csv")});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.err, "kestrova-cli: " + settings::notUnderstoodNotice(ini) + "\n");
    EXPECT_EQ(readAll(ini), body);

    // A settings file is read without a word.
    writeAll(ini, "[Market]\r\nSnapHost=http://snap.test:81\r\n");
    const CliResult quiet = runCli(dir.path(), {"export", "shops", "--csv", dir.filePath("s.csv")});
    EXPECT_EQ(quiet.status, 0);
    EXPECT_TRUE(quiet.err.isEmpty()) << quiet.err.toStdString();
}

} // namespace
