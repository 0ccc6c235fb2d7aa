#include "app/IniFile.h"
#include "app/Settings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

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

TEST(Settings, FirstStartCreatesThePrivateFileWithDefaultsInOrder)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("config.ini");
    auto config = settings::load(path);
    ASSERT_TRUE(config);
    EXPECT_EQ(config->Agent()->AgentType, 0);
    EXPECT_EQ(config->Agent()->Port, 0);
    EXPECT_TRUE(config->Agent()->Server.isEmpty());
    EXPECT_EQ(config->Market().SearchHost, MarketSettings().SearchHost);

    const QByteArray text = readAll(path);
    const char* order[] = {
        "[Base]",      "language=chinese", "ver=3.0", "[Net]",     "AgentType=0", "Server=",  "Port=0",
        "User=",       "Password=",        "Domain=", "[Login]",   "date=",       "[Market]", "SearchHost=",
        "RatingHost=", "SnapHost=",        "Domain=", "HomePage=", "TestUrl="};
    qsizetype at = 0;
    for (const char* piece : order) {
        qsizetype found = text.indexOf(piece, at);
        ASSERT_GE(found, 0) << piece;
        at = found + 1;
    }
    struct stat st
    {
    };
    ASSERT_EQ(stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(Settings, ReadsProxyAndMarketKeysAndFillsMissingOnes)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("config.ini");
    writeAll(path, "[Net]\r\nAgentType=2\r\nServer=proxy.local\r\nPort=3128\r\nUser=u\r\nPassword=p w\r\n"
                   "[Market]\r\nSearchHost=127.0.0.1:9000\r\n");
    auto config = settings::load(path);
    ASSERT_TRUE(config);
    EXPECT_EQ(config->Agent()->AgentType, 2);
    EXPECT_EQ(config->Agent()->Server, "proxy.local");
    EXPECT_EQ(config->Agent()->Port, 3128);
    EXPECT_EQ(config->Agent()->Password, "p w");
    EXPECT_EQ(config->Market().SearchHost, "127.0.0.1:9000");
    EXPECT_EQ(config->Market().RatingHost, MarketSettings().RatingHost);
}

TEST(Settings, NonNumericProxyFieldsAreFatal)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("config.ini");
    for (const QByteArray& body :
         {QByteArray("[Net]\nPort=x\n"), QByteArray("[Net]\nAgentType=\n"),
          QByteArray("[Net]\nPort=8o\n[Other]\n"), QByteArray("[Net]\nPort=1.5\n")}) {
        writeAll(path, body);
        QString error;
        EXPECT_FALSE(settings::load(path, &error)) << body.constData();
        EXPECT_FALSE(error.isEmpty());
    }
    // An unwritable place for a new file.
    EXPECT_FALSE(settings::load(dir.filePath("missing/dir/config.ini")));
}

TEST(Settings, SavingAgentAndLoginDateKeepsOtherKeysAndChinese)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("config.ini");
    ASSERT_TRUE(settings::load(path));
    THttpAgent agent;
    agent.AgentType = 1;
    agent.Server = "10.0.0.1";
    agent.Port = 8080;
    agent.User = QString::fromUtf8("用户");
    agent.Password = "secret";
    ASSERT_TRUE(settings::saveAgent(path, agent));
    ASSERT_TRUE(settings::writeLoginDate(path));
    auto config = settings::load(path);
    ASSERT_TRUE(config);
    EXPECT_EQ(config->Agent()->User, QString::fromUtf8("用户"));
    EXPECT_EQ(config->Agent()->Port, 8080);
    // Stored in GBK on disk.
    EXPECT_TRUE(readAll(path).contains("\xD3\xC3\xBB\xA7"));
    IniFile ini(path);
    ASSERT_TRUE(ini.load());
    EXPECT_EQ(ini.value("Base", "language"), "chinese");
    EXPECT_EQ(ini.value("Login", "date").size() >= 17, true);
}

} // namespace
