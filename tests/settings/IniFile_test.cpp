// The configuration file as a user edits it by hand: what the program writes changes its own
// lines and nothing else.
#include "FileBytes.h"
#include "settings/IniFile.h"
#include "settings/Settings.h"
#include "store/ReadOnlyPath.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

// GBK bytes of a UTF-8 literal.
QByteArray gbk(const char* utf8)
{
    return QByteArray(utf8).replace("代理", "\xB4\xFA\xC0\xED").replace("用户", "\xD3\xC3\xBB\xA7");
}

const QByteArray kHandEdited = gbk("; 我的设置\r\n"
                                   "[Base]\r\n"
                                   "language=chinese\r\n"
                                   "ver=3.0\r\n"
                                   "\r\n"
                                   "# 代理 below\r\n"
                                   "[Net]  ; 代理\r\n"
                                   "  AgentType = 1   \r\n"
                                   "Server= proxy.local\r\n"
                                   "Port =3128\r\n"
                                   "Mine=kept\r\n"
                                   "\r\n"
                                   "[Login]\r\n"
                                   "date=2026-12-01 8:00:00\n" // a line end from another editor
                                   "[Extra]\r\n"
                                   "note=用户\r\n"
                                   "; trailing comment");

TEST(IniFile, ReadingTrimsBlanksAndAcceptsACommentAfterAHeader)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("config.ini");
    writeAll(path, kHandEdited);
    auto config = settings::load(path);
    ASSERT_TRUE(config);
    EXPECT_EQ(config->Agent()->AgentType, 1);
    EXPECT_EQ(config->Agent()->Server, "proxy.local");
    EXPECT_EQ(config->Agent()->Port, 3128);
    IniFile ini(path);
    ASSERT_TRUE(ini.load());
    EXPECT_EQ(ini.value("login", "DATE"), "2026-12-01 8:00:00");
    EXPECT_EQ(ini.value("Extra", "note"), QString::fromUtf8("用户"));
    // Mine belongs to [Net], not to the section before the commented header.
    EXPECT_EQ(ini.value("Net", "Mine"), "kept");
    EXPECT_EQ(ini.value("Base", "Mine", "none"), "none");
    EXPECT_EQ(readAll(path), kHandEdited) << "reading changes nothing";

    // A byte order mark before the first section is read past, and kept.
    writeAll(path, "\xEF\xBB\xBF" + kHandEdited);
    ASSERT_TRUE(ini.load());
    EXPECT_EQ(ini.value("Base", "ver"), "3.0");
    ini.setValue("Base", "ver", "3.1");
    ASSERT_TRUE(ini.save());
    EXPECT_EQ(readAll(path), "\xEF\xBB\xBF" + QByteArray(kHandEdited).replace("ver=3.0", "ver=3.1"));
}

TEST(IniFile, WritingChangesTheKeysLinesAloneAndAddsMissingKeysToTheirSection)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("config.ini");
    writeAll(path, kHandEdited);
    THttpAgent agent;
    agent.AgentType = 0;
    agent.Server = "10.0.0.2";
    agent.Port = 8080;
    agent.User = QString::fromUtf8("用户");
    ASSERT_TRUE(settings::saveAgent(path, agent));

    const QByteArray expected = gbk("; 我的设置\r\n"
                                    "[Base]\r\n"
                                    "language=chinese\r\n"
                                    "ver=3.0\r\n"
                                    "\r\n"
                                    "# 代理 below\r\n"
                                    "[Net]  ; 代理\r\n"
                                    "AgentType=0\r\n"
                                    "Server=10.0.0.2\r\n"
                                    "Port=8080\r\n"
                                    "Mine=kept\r\n"
                                    "User=用户\r\n"
                                    "Password=\r\n"
                                    "Domain=\r\n"
                                    "\r\n"
                                    "[Login]\r\n"
                                    "date=2026-12-01 8:00:00\n"
                                    "[Extra]\r\n"
                                    "note=用户\r\n"
                                    "; trailing comment");
    EXPECT_EQ(readAll(path), expected);

    ASSERT_TRUE(settings::writeLoginDate(path));
    QByteArray withDate = readAll(path);
    const qsizetype at = withDate.indexOf("date=");
    const qsizetype end = withDate.indexOf('\n', at);
    EXPECT_NE(withDate.mid(at, end - at), "date=2026-12-01 8:00:00");
    withDate.replace(at, end - at, "date=2026-12-01 8:00:00");
    EXPECT_EQ(withDate, expected);

    // A section the file lacks goes at its end, after its last line.
    QByteArray before = readAll(path);
    IniFile ini(path);
    ASSERT_TRUE(ini.load());
    ini.setValue("Market", "Domain", "127.0.0.1");
    ini.setValue("extra", "more", "x");
    ASSERT_TRUE(ini.save());
    EXPECT_EQ(readAll(path),
              before.replace("note=\xD3\xC3\xBB\xA7\r\n", "note=\xD3\xC3\xBB\xA7\r\nmore=x\r\n") +
                  "\r\n\r\n[Market]\r\nDomain=127.0.0.1\r\n");
}

TEST(IniFile, ALineBreakInAValueNeverBecomesAKey)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("config.ini");
    ASSERT_TRUE(settings::load(path));
    THttpAgent agent;
    agent.Server = "proxy\r\nAgentType=1";
    ASSERT_TRUE(settings::saveAgent(path, agent));
    auto config = settings::load(path);
    ASSERT_TRUE(config);
    EXPECT_EQ(config->Agent()->AgentType, 0);
    EXPECT_EQ(config->Agent()->Server, "proxy  AgentType=1");
}

TEST(IniFile, AFileThatCannotBeWrittenKeepsWhatItHeld)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("config.ini");
    writeAll(path, kHandEdited);
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
    {
        ReadOnlyPath readOnly(path);
        if (!readOnly.ok())
            GTEST_SKIP() << "cannot make a file read-only here";
        THttpAgent agent;
        agent.Server = "elsewhere";
        QString error;
        EXPECT_FALSE(settings::saveAgent(path, agent, &error));
        EXPECT_FALSE(error.isEmpty());
        EXPECT_FALSE(settings::writeLoginDate(path));
        EXPECT_EQ(readAll(path), kHandEdited);
    }
    // Once writable again, a write keeps the mode the user gave the file.
    ASSERT_TRUE(settings::writeLoginDate(path));
    struct stat st
    {
    };
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

} // namespace
