#include "cli/CliDatabase.h"

#include "settings/Paths.h"
#include "settings/Settings.h"
#include "store/DatabaseChoice.h"
#include "store/FilterText.h"
#include "store/TConnection.h"
#include "store/TDM.h"
#include "store/TTable.h"

#include <QDir>
#include <cstdio>

namespace {

QString& commandLineUrl()
{
    static QString url;
    return url;
}

void say(const QString& text)
{
    std::fprintf(stderr, "kestrova-cli: %s\n", text.toLocal8Bit().constData());
}

// The choice of database, or nothing (with the reason) when config.ini cannot be read.
std::optional<databasechoice::Choice> choose(QString* error)
{
    QString readError;
    const std::optional<QString> configUrl =
        commandLineUrl().isEmpty() ? settings::databaseUrl(Paths::configFile(), &readError) : QString();
    if (!configUrl) {
        *error = QStringLiteral("cannot read %1 to learn which database to use: %2")
                     .arg(QDir::toNativeSeparators(Paths::configFile()), readError);
        return std::nullopt;
    }
    return databasechoice::choose(commandLineUrl(), *configUrl, Paths::databaseFile());
}

} // namespace

void setCliDatabaseUrl(const QString& url)
{
    commandLineUrl() = url;
}

QString cliDatabaseSummary()
{
    QString error;
    const std::optional<databasechoice::Choice> choice = choose(&error);
    if (!choice)
        return QStringLiteral("unknown (%1)").arg(error);
    if (!choice->error.isEmpty())
        return QStringLiteral("none (%1)").arg(choice->error);
    const QString shown = databasechoice::shown(choice->target);
    switch (choice->origin) {
    case databasechoice::Origin::CommandLine:
        return QStringLiteral("%1 (--database)").arg(shown);
    case databasechoice::Origin::Config:
        return QStringLiteral("%1 ([Database] Url in config.ini)").arg(shown);
    case databasechoice::Origin::File:
        break;
    }
    return QStringLiteral("%1 (SQLite file in the data folder)").arg(shown);
}

bool openCliDatabase(TDM& dm)
{
    QString error;
    const std::optional<databasechoice::Choice> choice = choose(&error);
    if (!choice) {
        say(error);
        return false;
    }
    if (!choice->error.isEmpty()) {
        say(choice->error);
        return false;
    }
    // Building the analysis keys of a large existing file takes seconds: say why it waits.
    TConnection::setBuildNotice([](const QString& text) {
        say(text);
        std::fflush(stderr);
    });
    if (!dm.DataModuleCreate(choice->target)) {
        if (choice->origin == databasechoice::Origin::File) {
            say(dm.OpenError());
        } else {
            // The engine's message may repeat the address; its password stays off the screen.
            QString message = dm.OpenError();
            message.replace(choice->target, databasechoice::shown(choice->target));
            say(QStringLiteral("database error: ") + message);
        }
        return false;
    }
    if (const QString notice = dm.OpenNotice(); !notice.isEmpty())
        say(notice);
    return true;
}

bool openCliDatabase(TDM& dm, storeroles::Action action)
{
    if (!openCliDatabase(dm))
        return false;
    const QString refusal = storeroles::refusal(dm.adoCn, action);
    if (refusal.isEmpty())
        return true;
    say(QStringLiteral("database error: ") + refusal);
    return false;
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
        say(notice);
    return config;
}

bool cliFilterUnderstood(const TTable& cursor, const QString& filter)
{
    QString error;
    if (filtertext::parseFilter(filter, cursor.FieldNames(), &error))
        return true;
    std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
    return false;
}

QString cliDatabaseUrl()
{
    return commandLineUrl();
}
