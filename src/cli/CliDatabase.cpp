#include "cli/CliDatabase.h"

#include "settings/Paths.h"
#include "settings/Settings.h"
#include "store/TConnection.h"
#include "store/TDM.h"

#include <cstdio>

bool openCliDatabase(TDM& dm)
{
    // Building the analysis keys of a large existing file takes seconds: say why it waits.
    TConnection::setBuildNotice([](const QString& text) {
        std::fprintf(stderr, "kestrova-cli: %s\n", text.toLocal8Bit().constData());
        std::fflush(stderr);
    });
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
