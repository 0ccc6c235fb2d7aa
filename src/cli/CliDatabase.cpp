#include "cli/CliDatabase.h"

#include "app/Paths.h"
#include "store/TDM.h"

#include <QDir>
#include <cstdio>

bool openCliDatabase(TDM& dm)
{
    QDir().mkpath(Paths::dataDir());
    if (!dm.DataModuleCreate(Paths::databaseFile())) {
        std::fprintf(stderr, "kestrova-cli: %s\n", dm.OpenError().toLocal8Bit().constData());
        return false;
    }
    if (const QString notice = dm.OpenNotice(); !notice.isEmpty())
        std::fprintf(stderr, "kestrova-cli: %s\n", notice.toLocal8Bit().constData());
    return true;
}
