#include "cli/CliDatabase.h"

#include "settings/Paths.h"
#include "settings/Settings.h"
#include "store/TDM.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <filesystem>
#include <system_error>

bool ensureCliDataDir()
{
    const QString dir = Paths::dataDir();
    std::error_code failure;
    std::filesystem::create_directories(std::filesystem::path(QFile::encodeName(dir).toStdString()), failure);
    if (!failure && QFileInfo(dir).isDir())
        return true;
    // Without this the engine's "unable to open database file" would be all the user sees.
    const QString reason =
        failure ? QString::fromLocal8Bit(failure.message().c_str()) : QStringLiteral("not a folder");
    std::fprintf(stderr, "kestrova-cli: cannot create the data folder %s: %s\n",
                 QDir::toNativeSeparators(dir).toLocal8Bit().constData(), reason.toLocal8Bit().constData());
    return false;
}

bool openCliDatabase(TDM& dm)
{
    if (!ensureCliDataDir())
        return false;
    if (!dm.DataModuleCreate(Paths::databaseFile())) {
        std::fprintf(stderr, "kestrova-cli: %s\n", dm.OpenError().toLocal8Bit().constData());
        return false;
    }
    if (const QString notice = dm.OpenNotice(); !notice.isEmpty())
        std::fprintf(stderr, "kestrova-cli: %s\n", notice.toLocal8Bit().constData());
    return true;
}

std::optional<TConfig> loadCliConfig()
{
    if (!ensureCliDataDir())
        return std::nullopt;
    QString error;
    QString notice;
    std::optional<TConfig> config = settings::load(Paths::configFile(), &error, &notice);
    if (!config)
        std::fprintf(stderr, "%s (%s)\n",
                     QString::fromUtf16(settings::kFatalMessage).toLocal8Bit().constData(),
                     error.toLocal8Bit().constData());
    else if (!notice.isEmpty())
        std::fprintf(stderr, "kestrova-cli: %s\n", notice.toLocal8Bit().constData());
    return config;
}
