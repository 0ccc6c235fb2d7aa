#include "settings/Paths.h"

#include "settings/Settings.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <filesystem>
#include <system_error>

namespace {
QString g_dataDir;
QString g_installRoot;

QString rootDir()
{
    if (!g_installRoot.isEmpty())
        return g_installRoot;
    // The executable sits in <root>/bin.
    QDir dir(QCoreApplication::applicationDirPath());
    dir.cdUp();
    return dir.absolutePath();
}

QString portableDir()
{
    return rootDir() + QStringLiteral("/data");
}

bool portableUsable()
{
    const QFileInfo info(portableDir());
    return info.isDir() && info.isWritable();
}

QString userDir()
{
    // Honours $XDG_DATA_HOME, else ~/.local/share.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/kestrova");
}

const QLatin1String kStartPage("index.html");

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Beside a seeded start page: the hash of the bytes it was seeded with, so that a later
// version can tell a page nobody touched from one the user changed.
QString seedMark(const QString& page)
{
    return QFileInfo(page).absolutePath() + QStringLiteral("/.index.html.seeded");
}

QByteArray hashOf(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

bool writeWhole(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

// A start page still as an earlier version seeded it gets the installed one; a page the user
// changed, or one seeded before there were marks, is theirs and stays.
void renewStartPage(const QFileInfo& from, const QString& to)
{
    const QByteArray mark = readAll(seedMark(to)).trimmed();
    if (mark.isEmpty())
        return;
    const QByteArray shipped = readAll(from.absoluteFilePath());
    const QByteArray own = readAll(to);
    if (shipped.isEmpty() || own == shipped || hashOf(own) != mark)
        return;
    if (writeWhole(to, shipped))
        writeWhole(seedMark(to), hashOf(shipped));
}

// Copies one seed file; an existing target is left as it is (NewOnly fails on it). The
// configuration may later hold a proxy password, so it is the owner's alone from the start.
void seedFile(const QFileInfo& from, const QString& to)
{
    if (from.fileName() == kStartPage && QFileInfo::exists(to)) {
        renewStartPage(from, to);
        return;
    }
    QFile source(from.absoluteFilePath());
    if (!source.open(QIODevice::ReadOnly))
        return;
    const bool config = from.fileName() == QLatin1String("config.ini");
    const QFile::Permissions mode =
        config ? QFile::ReadOwner | QFile::WriteOwner
               : QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
    QFile target(to);
    if (!target.open(QIODevice::WriteOnly | QIODevice::NewOnly, mode))
        return;
    const QByteArray bytes = source.readAll();
    if (target.write(bytes) != bytes.size() || !target.flush()) {
        target.remove();
        return;
    }
    target.close();
    if (from.fileName() == kStartPage)
        writeWhole(seedMark(to), hashOf(bytes));
    // A new configuration is stamped as one the program creates itself.
    if (config)
        settings::writeLoginDate(to);
}
} // namespace

void Paths::setDataDir(const QString& dir)
{
    g_dataDir = dir.isEmpty() ? QString() : QDir(dir).absolutePath();
}

void Paths::setInstallRoot(const QString& root)
{
    g_installRoot = root.isEmpty() ? QString() : QDir(root).absolutePath();
}

Paths::Kind Paths::dataDirKind()
{
    if (!g_dataDir.isEmpty())
        return Kind::Given;
    return portableUsable() ? Kind::Portable : Kind::User;
}

QString Paths::dataDir()
{
    switch (dataDirKind()) {
    case Kind::Given:
        return g_dataDir;
    case Kind::Portable:
        return portableDir();
    case Kind::User:
        break;
    }
    return userDir();
}

QString Paths::dataDirSummary()
{
    const QString dir = QDir::toNativeSeparators(dataDir());
    switch (dataDirKind()) {
    case Kind::Given:
        return QStringLiteral("%1 (--data-dir)").arg(dir);
    case Kind::Portable:
        return QStringLiteral("%1 (beside the program)").arg(dir);
    case Kind::User:
        break;
    }
    return QStringLiteral("%1 (per user)").arg(dir);
}

bool Paths::prepareDataDir(QString* error)
{
    const QString dir = dataDir();
    std::error_code code;
    std::filesystem::create_directories(QFile::encodeName(dir).toStdString(), code);
    if (code || !QFileInfo(dir).isDir()) {
        if (error)
            *error =
                QStringLiteral("cannot create the data folder %1: %2")
                    .arg(dir, code ? QString::fromLocal8Bit(code.message()) : QStringLiteral("not a folder"));
        return false;
    }
    // A folder the user named is theirs as it is; the default folders start from the seeds.
    if (dataDirKind() == Kind::Given)
        return true;
    const QDir seeds(sharedDir());
    for (const QFileInfo& file : seeds.entryInfoList(QDir::Files | QDir::Readable))
        seedFile(file, dir + QLatin1Char('/') + file.fileName());
    return true;
}

QString Paths::sharedDir()
{
    return rootDir() + QStringLiteral("/share/kestrova");
}

QString Paths::helpDir()
{
    // A portable install and the build tree keep hlp/ beside bin/.
    const QString beside = rootDir() + QStringLiteral("/hlp");
    if (QFileInfo(beside).isDir())
        return beside;
    return sharedDir() + QStringLiteral("/hlp");
}

QString Paths::startPage()
{
    const QString own = dataDir() + QStringLiteral("/index.html");
    if (QFileInfo::exists(own))
        return own;
    const QString shared = sharedDir() + QStringLiteral("/index.html");
    if (QFileInfo::exists(shared))
        return shared;
    return portableDir() + QStringLiteral("/index.html");
}
