#include "cli/CliCommand.h"
#include "cli/CliDatabase.h"
#include "cli/JsonOut.h"
#include "settings/IniFile.h"
#include "settings/Paths.h"
#include "store/DatabaseChoice.h"

#include <cstdio>

namespace {

struct Key
{
    const char* section;
    const char* key;
    QString inForce;
    QString byDefault;
};

int runConfig(const QStringList& args)
{
    if (!args.isEmpty()) {
        std::fprintf(stderr, "kestrova-cli config: no arguments expected\n%s\n",
                     qPrintable(cliUsage(QStringLiteral("config"))));
        return 2;
    }
    const std::optional<TConfig> config = loadCliConfig();
    if (!config)
        return 1;
    IniFile ini(Paths::configFile());
    ini.load(); // loadCliConfig has read it already; a file it did not understand gives defaults
    const TConfig defaults;
    const THttpAgent& a = *config->Agent();
    const THttpAgent& da = *defaults.Agent();
    const NetSettings& n = config->Net();
    const NetSettings& dn = defaults.Net();
    const MarketSettings& m = config->Market();
    const MarketSettings& dm = defaults.Market();
    auto number = [](int v) { return QString::number(v); };
    const QString url = cliDatabaseUrl();
    const Key keys[] = {
        {"Net", "AgentType", number(a.AgentType), number(da.AgentType)},
        {"Net", "Server", a.Server, da.Server},
        {"Net", "Port", number(a.Port), number(da.Port)},
        {"Net", "User", a.User, da.User},
        {"Net", "Password", a.Password, da.Password},
        {"Net", "Domain", a.Domain, da.Domain},
        {"Net", "Retries", number(n.Retries), number(dn.Retries)},
        {"Net", "RetryDelay", number(n.RetryDelay), number(dn.RetryDelay)},
        {"Net", "PageDelay", number(n.PageDelay), number(dn.PageDelay)},
        {"Net", "Connections", number(n.Connections), number(dn.Connections)},
        {"Net", "TeamConnections", number(n.TeamConnections), number(dn.TeamConnections)},
        {"Market", "SearchHost", m.SearchHost, dm.SearchHost},
        {"Market", "RatingHost", m.RatingHost, dm.RatingHost},
        {"Market", "SnapHost", m.SnapHost, dm.SnapHost},
        {"Market", "Domain", m.Domain, dm.Domain},
        {"Market", "HomePage", m.HomePage, dm.HomePage},
        {"Market", "TestUrl", m.TestUrl, dm.TestUrl},
        {"Database", "Url", url.isEmpty() ? config->DatabaseUrl() : url, QString()},
        {"Database", "LeaseSeconds", number(config->Queue().LeaseSeconds),
         number(defaults.Queue().LeaseSeconds)},
    };
    static const QString absent = QStringLiteral("\x01");
    for (const Key& k : keys) {
        const QString section = QLatin1String(k.section), key = QLatin1String(k.key);
        const QString raw = ini.understood() ? ini.value(section, key, absent).trimmed() : absent;
        QString from;
        if (section == QLatin1String("Database") && key == QLatin1String("Url") && !url.isEmpty())
            from = QStringLiteral("--database");
        else if (raw == absent)
            from = QStringLiteral("default");
        else if (raw == k.inForce.trimmed())
            from = QStringLiteral("file");
        else
            // Out of range or not a number: the file keeps it, the default is used.
            from = QStringLiteral("default; the file's %1 is not taken").arg(raw);
        // A password is the user's secret: said to be set, never printed.
        QString shown = k.inForce;
        if (key == QLatin1String("Password") && !shown.isEmpty())
            shown = QStringLiteral("(set)");
        else if (key == QLatin1String("Url") && !shown.isEmpty())
            shown = databasechoice::shown(shown);
        std::printf("{\"section\": %s, \"key\": %s, \"value\": %s, \"from\": %s}\n",
                    jsonout::string(section).toUtf8().constData(), jsonout::string(key).toUtf8().constData(),
                    jsonout::string(shown).toUtf8().constData(), jsonout::string(from).toUtf8().constData());
    }
    std::fflush(stdout);
    return 0;
}

const CliRegistration registration{
    {QStringLiteral("config"), QStringLiteral("config   the settings in force and where each comes from"),
     runConfig,
     QStringLiteral("Prints one JSON line per setting of config.ini in the data folder: section, key, the\n"
                    "value in force and where it comes from: \"file\", \"default\" (the key is not in the\n"
                    "file, or its value is not taken: out of range or not a number) or \"--database\".\n"
                    "A proxy password is shown as \"(set)\". The file is written with its commented\n"
                    "defaults at the data folder's first use.")}};

} // namespace
