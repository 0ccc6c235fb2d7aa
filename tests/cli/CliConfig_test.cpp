// A data folder used by the command line alone gets the commented configuration the program
// writes, and "config" tells which value is in force and where it came from.
#include "cli/CliProcess.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

QString lineOf(const QString& out, const QString& key)
{
    for (const QString& line : out.split(u'\n'))
        if (line.contains("\"key\": \"" + key + "\""))
            return line;
    return {};
}

TEST(CliConfig, TheFirstUseWritesTheCommentedDefaultsAndConfigSaysWhereEachValueComesFrom)
{
    QTemporaryDir dir;
    const QString ini = dir.filePath("config.ini");
    ASSERT_EQ(runCli(dir.path(), {"runs"}).status, 0);
    QFile file(ini);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_TRUE(text.startsWith("; ")) << text.toStdString();
    EXPECT_TRUE(text.contains("\r\nLeaseSeconds=120\r\n"));
    struct stat st
    {
    };
    ASSERT_EQ(stat(QFile::encodeName(ini).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_TRUE(lineOf(runCli(dir.path(), {"config"}).out, "Retries")
                    .endsWith("\"value\": \"3\", \"from\": \"file\"}"));

    file.close();
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[Net]\r\nRetries=99\r\nPassword=secret\r\nConnections=2\r\n");
    file.close();
    const CliResult r = runCli(dir.path(), {"--database", "postgresql://team:pw@db.local/k", "config"});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    const struct
    {
        const char* key;
        const char* ends;
    } cases[] = {
        {"Retries", "\"value\": \"3\", \"from\": \"default; the file's 99 is not taken\"}"},
        {"Connections", "\"value\": \"2\", \"from\": \"file\"}"},
        {"RetryDelay", "\"value\": \"2000\", \"from\": \"default\"}"},
        {"Password", "\"value\": \"(set)\", \"from\": \"file\"}"},
        {"Url", "\"from\": \"--database\"}"},
    };
    for (const auto& c : cases)
        EXPECT_TRUE(lineOf(r.out, c.key).endsWith(c.ends)) << lineOf(r.out, c.key).toStdString();
    EXPECT_FALSE(r.out.contains("secret"));
    EXPECT_FALSE(r.out.contains(":pw@"));
}

} // namespace
