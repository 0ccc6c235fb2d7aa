// Every command explains itself with --help and names an option it does not know.
#include "cli/CliProcess.h"
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using Result = CliResult;

Result cli(const QStringList& args)
{
    QTemporaryDir dir;
    return runCli(dir.path(), args);
}

const struct
{
    const char* name;
    QStringList options; // each must be explained
    QStringList beforeUnknown;
} kCommands[] = {
    {"sql", {"--param"}, {}},
    {"parse", {"--limit", "--page-size", "--from", "--to"}, {}},
    {"parse", {}, {"search", "page.htm"}},
    {"search",
     {"--shopname", "--sellername", "--keybiz", "--loc", "--category", "--levels", "--count", "--mine",
      "--enqueue", "--from", "--to"},
     {}},
    {"mine", {"--from", "--to", "--new-only", "--stored", "--filter"}, {"http://127.0.0.1/x"}},
    {"shops", {"--filter", "--sort"}, {}},
    {"changes", {"--since", "--filter", "--alerts"}, {}},
    {"queue", {"--filter", "--from", "--to", "--new-only"}, {}},
    {"queue", {}, {"add"}},
    {"work", {"--connections", "--once"}, {}},
    {"export", {}, {"shops"}},
    {"export", {}, {"ratings", "--csv", "out.csv"}},
};

TEST(CliHelp, EachCommandPrintsItsUsageAndOptions)
{
    for (const auto& c : kCommands) {
        SCOPED_TRACE(c.name);
        Result r = cli({QString::fromLatin1(c.name), "--help"});
        EXPECT_EQ(r.status, 0);
        // The global options a command takes are on its usage line: only parse has no database.
        const QString global = c.name == QLatin1String("parse")
                                   ? QStringLiteral("[--data-dir DIR] ")
                                   : QStringLiteral("[--data-dir DIR] [--database URL] ");
        EXPECT_TRUE(r.out.startsWith(QStringLiteral("usage: kestrova-cli ") + global + c.name + ' '))
            << r.out.toStdString();
        for (const QString& option : c.options)
            EXPECT_TRUE(r.out.contains("\n  " + option)) << option.toStdString() << "\n"
                                                         << r.out.toStdString();
        EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
    }
}

TEST(CliHelp, TheHelpNamesTheDataFolderAndAFolderThatCannotBeMadeFailsTheRun)
{
    QTemporaryDir dir;
    Result help = runCli(dir.filePath("collection"), {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.contains("\ndata folder: " + dir.filePath("collection") + " (--data-dir)\n"))
        << help.out.toStdString();
    // --help alone creates nothing.
    EXPECT_TRUE(QDir(dir.path()).isEmpty());

    // A file stands where the folder would go.
    QFile file(dir.filePath("file"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    Result r = runCli(dir.filePath("file/data"), {"sql", "select 1 as n"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_TRUE(r.err.contains("cannot create the data folder " + dir.filePath("file/data")))
        << r.err.toStdString();
}

TEST(CliHelp, AnUnknownOptionIsNamedWithStatusTwo)
{
    for (const auto& c : kCommands) {
        SCOPED_TRACE(c.name);
        Result r =
            cli(QStringList{QString::fromLatin1(c.name)} + c.beforeUnknown + QStringList{"--frobnicate"});
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_TRUE(
            r.err.contains(QStringLiteral("kestrova-cli %1: unknown option --frobnicate").arg(c.name)))
            << r.err.toStdString();
    }
    // A known option without its value says so.
    Result r = cli({"search", "--count"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.contains("--count needs a value")) << r.err.toStdString();
}

} // namespace
