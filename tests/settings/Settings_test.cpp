#include "FileBytes.h"
#include "settings/IniFile.h"
#include "settings/Settings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

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

// A file that is not a settings file at all gives the defaults and a notice naming it, and
// nothing the program does writes into it; a settings file with odd lines is still read.
TEST(Settings, AFileThatIsNotSettingsGivesTheDefaultsAndIsNeverWritten)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("config.ini");
    // A picture saved under the name: binary bytes, though a header and a key line are in it.
    const char picture[] = "\x89PNG\r\n\x1a\n\0\0\0\rIHDR[Net]\nPort=x\n";
    const QByteArray png(picture, sizeof picture - 1);
    for (const QByteArray& body : {png, QByteArray("AgentType=2\r\nServer=proxy.local\r\nPort=3128\r\n"),
                                   QByteArray("just a note\nPort=x\n"), QByteArray("\0", 1)}) {
        SCOPED_TRACE(body.toStdString());
        writeAll(path, body);
        QString error, notice;
        auto config = settings::load(path, &error, &notice);
        ASSERT_TRUE(config) << error.toStdString();
        EXPECT_TRUE(notice.contains(path)) << notice.toStdString();
        EXPECT_EQ(notice, settings::notUnderstoodNotice(path));
        EXPECT_EQ(config->Agent()->AgentType, 0);
        EXPECT_EQ(config->Agent()->Port, 0);
        EXPECT_TRUE(config->Agent()->Server.isEmpty());
        EXPECT_EQ(config->Market().SearchHost, MarketSettings().SearchHost);
        EXPECT_EQ(config->Net().Retries, NetSettings().Retries);

        EXPECT_TRUE(settings::writeLoginDate(path)); // at exit: nothing to complain about
        THttpAgent agent;
        agent.Server = "10.0.0.1";
        EXPECT_FALSE(settings::saveAgent(path, agent, &error));
        EXPECT_FALSE(error.isEmpty());
        EXPECT_EQ(readAll(path), body);
    }
    // Blank lines and comments alone, or stray text beside a section, are settings.
    for (const QByteArray& body : {QByteArray(""), QByteArray("; nothing yet\r\n\r\n# still nothing\r\n"),
                                   QByteArray("stray text\r\n[Net]\tnote\r\nPort=8080\r\n")}) {
        SCOPED_TRACE(body.toStdString());
        writeAll(path, body);
        QString notice = "unset";
        auto config = settings::load(path, nullptr, &notice);
        ASSERT_TRUE(config);
        EXPECT_TRUE(notice.isEmpty()) << notice.toStdString();
        EXPECT_TRUE(settings::writeLoginDate(path));
        EXPECT_TRUE(readAll(path).contains("[Login]"));
    }
}

TEST(Settings, SavingAgentAndLoginDateKeepsOtherKeysAndChinese)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("config.ini");
    ASSERT_TRUE(settings::load(path));
    // A file others could read (made by hand or an older version) is private once it holds a
    // password.
    ASSERT_EQ(chmod(QFile::encodeName(path).constData(), 0644), 0);
    THttpAgent agent;
    agent.AgentType = 1;
    agent.Server = "10.0.0.1";
    agent.Port = 8080;
    agent.User = QString::fromUtf8("用户");
    agent.Password = "secret";
    ASSERT_TRUE(settings::saveAgent(path, agent));
    struct stat st{};
    ASSERT_EQ(stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
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

// The retry and pacing keys of section [Net]: defaults in a new file, read from an old one,
// and bad values that fall back without touching the file.
TEST(NetSettings, ANewFileGetsTheDefaultsInSectionNet)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("config.ini");
    auto config = settings::load(path);
    ASSERT_TRUE(config);
    EXPECT_EQ(config->Net().Retries, 3);
    EXPECT_EQ(config->Net().RetryDelay, 2000);
    EXPECT_EQ(config->Net().PageDelay, 0);
    EXPECT_EQ(config->Net().Connections, 4);
    const QByteArray text = readAll(path);
    const qsizetype net = text.indexOf("[Net]"), login = text.indexOf("[Login]");
    for (const char* line : {"Retries=3", "RetryDelay=2000", "PageDelay=0", "Connections=4"}) {
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
    for (const char* bad : {"x", "0", "-1", "17", "2.5", "", "99999999999"}) {
        const QByteArray body = QByteArray("[Net]\nConnections=") + bad + "\n";
        writeAll(path, body);
        auto config = settings::load(path);
        ASSERT_TRUE(config) << bad;
        EXPECT_EQ(config->Net().Connections, defaults.Connections) << bad;
        EXPECT_EQ(readAll(path), body);
    }
    // The largest values accepted.
    writeAll(path, "[Net]\nRetries=10\nRetryDelay=600000\nPageDelay=600000\nConnections=16\n");
    auto config = settings::load(path);
    ASSERT_TRUE(config);
    EXPECT_EQ(config->Net().Connections, 16);
    EXPECT_EQ(config->Net().Retries, 10);
    EXPECT_EQ(config->Net().RetryDelay, 600000);
    EXPECT_EQ(config->Net().PageDelay, 600000);
}

TEST(DatabaseSettings, TheServerUrlIsAbsentByDefaultAndReadTrimmedWhenGiven)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("config.ini");
    auto config = settings::load(path);
    ASSERT_TRUE(config);
    EXPECT_TRUE(config->DatabaseUrl().isEmpty());
    // A new file does not ask for a server: the collection's file is the default.
    EXPECT_FALSE(readAll(path).contains("\nUrl="));
    EXPECT_EQ(settings::databaseUrl(path), QString());

    writeAll(
        path,
        "[Net]\r\nAgentType=0\r\nPort=0\r\n[database]\r\nurl =  postgresql://team@db.local/kestrova  \r\n");
    config = settings::load(path);
    ASSERT_TRUE(config);
    EXPECT_EQ(config->DatabaseUrl(), "postgresql://team@db.local/kestrova");
    EXPECT_EQ(settings::databaseUrl(path), "postgresql://team@db.local/kestrova");
    // Saving other keys keeps the address as the user wrote it.
    ASSERT_TRUE(settings::saveAgent(path, *config->Agent()));
    ASSERT_TRUE(settings::writeLoginDate(path));
    EXPECT_TRUE(readAll(path).contains("url =  postgresql://team@db.local/kestrova  \r\n"));
}

TEST(DatabaseSettings, ReadingTheUrlAloneCreatesNothingAndTellsAFileThatCannotBeRead)
{
    QTemporaryDir dir;
    const QString missing = dir.filePath("config.ini");
    EXPECT_EQ(settings::databaseUrl(missing), QString());
    EXPECT_FALSE(QFile::exists(missing));

    // A file that is not a settings file gives the defaults: no server.
    const QString binary = dir.filePath("binary.ini");
    writeAll(binary, QByteArray("\x00\x01[Database]\nUrl=postgresql://x/y\n", 32));
    EXPECT_EQ(settings::databaseUrl(binary), QString());

    // A folder where the file should be cannot be read: which database was meant is unknown.
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.ini"));
    QString error;
    EXPECT_FALSE(settings::databaseUrl(dir.filePath("folder.ini"), &error));
    EXPECT_FALSE(error.isEmpty());
}

// The lease of a queued shop's claim, key LeaseSeconds of section [Database].
TEST(QueueSettings, TheLeaseHasItsDefaultInANewFileAndBadValuesFallBack)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("config.ini");
    auto config = settings::load(path);
    ASSERT_TRUE(config);
    EXPECT_EQ(config->Queue().LeaseSeconds, 120);
    const QByteArray text = readAll(path);
    EXPECT_GT(text.indexOf("LeaseSeconds=120"), text.indexOf("[Database]"));
    EXPECT_GE(text.indexOf("[Database]"), 0);

    writeAll(path, "[Database]\nLeaseSeconds=5\n");
    config = settings::load(path);
    ASSERT_TRUE(config);
    EXPECT_EQ(config->Queue().LeaseSeconds, 5);
    // The key belongs to [Database]: the same key elsewhere is not it.
    writeAll(path, "[Net]\nLeaseSeconds=5\n");
    config = settings::load(path);
    ASSERT_TRUE(config);
    EXPECT_EQ(config->Queue().LeaseSeconds, 120);
    for (const char* bad : {"0", "-1", "x", "2.5", "", "86401", "99999999999"}) {
        const QByteArray body = QByteArray("[Database]\nLeaseSeconds=") + bad + "\n";
        writeAll(path, body);
        config = settings::load(path);
        ASSERT_TRUE(config) << bad;
        EXPECT_EQ(config->Queue().LeaseSeconds, 120) << bad;
        EXPECT_EQ(readAll(path), body);
    }
    writeAll(path, "[Database]\nLeaseSeconds=86400\n");
    config = settings::load(path);
    ASSERT_TRUE(config);
    EXPECT_EQ(config->Queue().LeaseSeconds, 86400);
}

} // namespace
