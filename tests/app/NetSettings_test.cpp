// The retry and pacing keys of section [Net]: defaults in a new file, read from an old one,
// and bad values that fall back without touching the file.
#include "app/Settings.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

TEST(NetSettings, ANewFileGetsTheDefaultsInSectionNet)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("config.ini");
    auto config = settings::load(path);
    ASSERT_TRUE(config);
    EXPECT_EQ(config->Net().Retries, 3);
    EXPECT_EQ(config->Net().RetryDelay, 2000);
    EXPECT_EQ(config->Net().PageDelay, 0);
    const QByteArray text = readAll(path);
    const qsizetype net = text.indexOf("[Net]"), login = text.indexOf("[Login]");
    for (const char* line : {"Retries=3", "RetryDelay=2000", "PageDelay=0"}) {
        const qsizetype at = text.indexOf(line);
        EXPECT_TRUE(at > net && at < login) << line;
    }
}

TEST(NetSettings, KeysAreReadAndMissingOnesGetTheDefault)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("config.ini");
    writeAll(path, "[Net]\r\nAgentType=0\r\nPort=0\r\nRetries=0\r\nPageDelay= 600000 \r\n");
    auto config = settings::load(path);
    ASSERT_TRUE(config);
    EXPECT_EQ(config->Net().Retries, 0);
    EXPECT_EQ(config->Net().RetryDelay, 2000);
    EXPECT_EQ(config->Net().PageDelay, 600000);
}

TEST(NetSettings, BadValuesFallBackToTheDefaultAndStayInTheFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("config.ini");
    const NetSettings defaults;
    // Not a whole number, negative, or absurd (over 10 retries, over ten minutes).
    for (const char* bad : {"x", "-1", "1.5", "", "+2", "3x", "0x10", "\xd9\xa3", "99999999999", "11"}) {
        const QByteArray body = QByteArray("[Net]\nRetries=") + bad + "\n";
        writeAll(path, body);
        auto config = settings::load(path);
        ASSERT_TRUE(config) << bad;
        EXPECT_EQ(config->Net().Retries, defaults.Retries) << bad;
        EXPECT_EQ(readAll(path), body);
    }
    for (const char* bad : {"x", "-5", "2.5", "600001", "99999999999"}) {
        const QByteArray body = QByteArray("[Net]\nRetryDelay=") + bad + "\nPageDelay=" + bad + "\n";
        writeAll(path, body);
        auto config = settings::load(path);
        ASSERT_TRUE(config) << bad;
        EXPECT_EQ(config->Net().RetryDelay, defaults.RetryDelay) << bad;
        EXPECT_EQ(config->Net().PageDelay, defaults.PageDelay) << bad;
        EXPECT_EQ(readAll(path), body);
    }
    // The largest values accepted.
    writeAll(path, "[Net]\nRetries=10\nRetryDelay=600000\nPageDelay=600000\n");
    auto config = settings::load(path);
    ASSERT_TRUE(config);
    EXPECT_EQ(config->Net().Retries, 10);
    EXPECT_EQ(config->Net().RetryDelay, 600000);
    EXPECT_EQ(config->Net().PageDelay, 600000);
}

} // namespace
