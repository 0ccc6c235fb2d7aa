#include "settings/Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {
QString g_dataDir;

QString rootDir()
{
    // The executable sits in <root>/bin.
    QDir dir(QCoreApplication::applicationDirPath());
    dir.cdUp();
    return dir.absolutePath();
}
} // namespace

void Paths::setDataDir(const QString& dir)
{
    g_dataDir = dir.isEmpty() ? QString() : QDir(dir).absolutePath();
}

QString Paths::dataDir()
{
    return g_dataDir.isEmpty() ? rootDir() + QStringLiteral("/data") : g_dataDir;
}

QString Paths::helpDir()
{
    return rootDir() + QStringLiteral("/hlp");
}

QString Paths::startPage()
{
    const QString own = dataDir() + QStringLiteral("/index.html");
    if (QFileInfo::exists(own))
        return own;
    return rootDir() + QStringLiteral("/data/index.html");
}
