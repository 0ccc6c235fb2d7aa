#include "FileBytes.h"
#include "settings/IniFile.h"
#include "settings/Paths.h"
#include "settings/Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

unsigned modeOf(const QString& path)
{
    struct stat st
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 0;
}

// An install tree <root>/bin, <root>/share/kestrova with seeds, and a home of its own.
class PathsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        root = m_dir.filePath("usr");
        share = root + "/share/kestrova";
        ASSERT_TRUE(QDir().mkpath(root + "/bin"));
        ASSERT_TRUE(QDir().mkpath(share + "/hlp"));
        writeAll(share + "/index.html", "<html>seed page</html>");
        writeAll(share + "/config.ini", "[Net]\r\nAgentType=0\r\nPort=0\r\n[Login]\r\ndate=\r\n");
        ASSERT_TRUE(QFile::setPermissions(share + "/config.ini", QFile::ReadOwner | QFile::WriteOwner |
                                                                     QFile::ReadGroup | QFile::ReadOther));
        m_oldXdg = qgetenv("XDG_DATA_HOME");
        xdg = m_dir.filePath("home/.local/share");
        qputenv("XDG_DATA_HOME", QFile::encodeName(xdg));
        Paths::setInstallRoot(root);
    }
    void TearDown() override
    {
        Paths::setInstallRoot(QString());
        Paths::setDataDir(QString());
        qputenv("XDG_DATA_HOME", m_oldXdg);
    }

    QTemporaryDir m_dir;
    QByteArray m_oldXdg;
    QString root, share, xdg;
};

TEST_F(PathsTest, ASystemInstallUsesTheUsersFolderAPortableOneItsOwnAndDataDirWins)
{
    // Nothing writable beside bin/: the user's XDG folder.
    EXPECT_EQ(Paths::dataDirKind(), Paths::Kind::User);
    EXPECT_EQ(Paths::dataDir(), xdg + "/kestrova");
    EXPECT_TRUE(Paths::dataDirSummary().startsWith(xdg + "/kestrova "));
    EXPECT_EQ(Paths::helpDir(), share + "/hlp");
    EXPECT_EQ(Paths::configFile(), xdg + "/kestrova/config.ini");

    // A data folder beside bin/ makes the install portable; a help folder beside it is used.
    ASSERT_TRUE(QDir().mkpath(root + "/data"));
    ASSERT_TRUE(QDir().mkpath(root + "/hlp"));
    EXPECT_EQ(Paths::dataDirKind(), Paths::Kind::Portable);
    EXPECT_EQ(Paths::dataDir(), root + "/data");
    EXPECT_EQ(Paths::helpDir(), root + "/hlp");

    Paths::setDataDir(m_dir.filePath("other"));
    EXPECT_EQ(Paths::dataDirKind(), Paths::Kind::Given);
    EXPECT_EQ(Paths::dataDir(), m_dir.filePath("other"));
    EXPECT_TRUE(Paths::dataDirSummary().contains("--data-dir"));
}

TEST_F(PathsTest, TheUsersFolderIsCreatedAndSeededWithAPrivateConfiguration)
{
    QString error;
    ASSERT_TRUE(Paths::prepareDataDir(&error)) << error.toStdString();
    const QString dir = xdg + "/kestrova";
    EXPECT_EQ(readAll(dir + "/index.html"), "<html>seed page</html>");
    EXPECT_EQ(Paths::startPage(), dir + "/index.html");
    // The seed was world-readable; the user's copy is theirs alone, and dated as a new one.
    EXPECT_EQ(modeOf(dir + "/config.ini"), 0600u);
    IniFile ini(dir + "/config.ini");
    ASSERT_TRUE(ini.load());
    EXPECT_EQ(ini.value("Net", "AgentType"), "0");
    EXPECT_FALSE(ini.value("Login", "date").isEmpty());
    // Folders among the seeds (the help) stay where they are installed.
    EXPECT_FALSE(QFileInfo::exists(dir + "/hlp"));
}

TEST_F(PathsTest, SeedingNeverOverwritesAndLeavesAGivenFolderAlone)
{
    const QString dir = xdg + "/kestrova";
    ASSERT_TRUE(QDir().mkpath(dir));
    writeAll(dir + "/config.ini", "[Net]\r\nAgentType=1\r\n");
    ASSERT_TRUE(QFile::setPermissions(dir + "/config.ini", QFile::ReadOwner | QFile::WriteOwner));
    ASSERT_TRUE(Paths::prepareDataDir(nullptr));
    EXPECT_EQ(readAll(dir + "/config.ini"), "[Net]\r\nAgentType=1\r\n");
    EXPECT_EQ(readAll(dir + "/index.html"), "<html>seed page</html>");
    // A second start copies nothing again: a start page the user changed stays.
    writeAll(dir + "/index.html", "mine");
    ASSERT_TRUE(Paths::prepareDataDir(nullptr));
    EXPECT_EQ(readAll(dir + "/index.html"), "mine");

    // A folder named with --data-dir is created but gets no seeds; the start page then comes
    // from the installed one.
    const QString given = m_dir.filePath("given/deeper");
    Paths::setDataDir(given);
    ASSERT_TRUE(Paths::prepareDataDir(nullptr));
    EXPECT_TRUE(QFileInfo(given).isDir());
    EXPECT_TRUE(QDir(given).isEmpty());
    EXPECT_EQ(Paths::startPage(), share + "/index.html");
}

TEST_F(PathsTest, ANewerStartPageReplacesOnlyAnUntouchedSeededOne)
{
    const QString page = xdg + "/kestrova/index.html";
    ASSERT_TRUE(Paths::prepareDataDir(nullptr));
    // Each step: the page the user has before the start (empty: as seeded), the installed page,
    // the page after the start.
    const struct
    {
        QByteArray own, shipped, expected;
    } steps[] = {
        {"", "<html>v2</html>", "<html>v2</html>"},
        {"", "<html>v3</html>", "<html>v3</html>"},
        {"<html>v3 mine</html>", "<html>v4</html>", "<html>v3 mine</html>"},
        // Changed back to the seeded bytes by hand: nothing tells it from untouched.
        {"<html>v3</html>", "<html>v5</html>", "<html>v5</html>"},
    };
    for (const auto& step : steps) {
        if (!step.own.isEmpty())
            writeAll(page, step.own);
        writeAll(share + "/index.html", step.shipped);
        ASSERT_TRUE(Paths::prepareDataDir(nullptr));
        EXPECT_EQ(readAll(page), step.expected) << step.shipped.toStdString();
    }
    // A page seeded before seeds were marked may have been changed: it stays.
    ASSERT_TRUE(QFile::remove(xdg + "/kestrova/.index.html.seeded"));
    writeAll(share + "/index.html", "<html>v6</html>");
    ASSERT_TRUE(Paths::prepareDataDir(nullptr));
    EXPECT_EQ(readAll(page), "<html>v5</html>");
}

TEST_F(PathsTest, AFolderThatCannotBeCreatedIsNamed)
{
    // A file where a folder should be stops even root, who may write anywhere.
    writeAll(m_dir.filePath("home"), "not a folder");
    QString error;
    EXPECT_FALSE(Paths::prepareDataDir(&error));
    EXPECT_TRUE(error.contains(xdg + "/kestrova")) << error.toStdString();
    EXPECT_TRUE(error.contains("cannot create")) << error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(xdg));
}

TEST(PathsSeed, TheShippedConfigurationIsTheOneTheProgramWouldWrite)
{
    // An administrator may edit the installed seed; the shipped one must not drift from the
    // program's own defaults (the creation date aside, which seeding stamps).
    QTemporaryDir dir;
    ASSERT_TRUE(settings::load(dir.filePath("config.ini")));
    auto withoutDate = [](QByteArray text) {
        const qsizetype at = text.indexOf("\r\ndate=");
        return at < 0 ? text : text.left(at) + "\r\ndate=" + text.mid(text.indexOf("\r\n", at + 2));
    };
    const QByteArray shipped = readAll(QStringLiteral(KESTROVA_TEST_DATA "/../../packaging/config.ini"));
    ASSERT_FALSE(shipped.isEmpty());
    EXPECT_EQ(withoutDate(shipped).toStdString(),
              withoutDate(readAll(dir.filePath("config.ini"))).toStdString());
}

} // namespace
