#include "cli/CliCommand.h"
#include "cli/CliDatabase.h"
#include "store/StoreRoles.h"
#include "store/TDM.h"

#include <cstdio>

namespace {

int refuse(const QString& problem)
{
    std::fprintf(stderr, "kestrova-cli grant: %s\n%s\n", problem.toLocal8Bit().constData(),
                 qPrintable(cliUsage(QStringLiteral("grant"))));
    return 2;
}

int runGrant(const QStringList& args)
{
    std::optional<storeroles::Role> role;
    QString roleName;
    bool print = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--print")) {
            print = true;
            continue;
        }
        if (a != QLatin1String("--reader") && a != QLatin1String("--miner"))
            return refuse(a.startsWith(QLatin1String("--"))
                              ? QStringLiteral("unknown option %1").arg(a)
                              : QStringLiteral("unexpected argument %1").arg(a));
        if (role)
            return refuse(QStringLiteral("give one of --reader and --miner"));
        if (i + 1 >= args.size() || args[i + 1].isEmpty())
            return refuse(QStringLiteral("%1 needs a role").arg(a));
        role = a == QLatin1String("--reader") ? storeroles::Role::Reader : storeroles::Role::Miner;
        roleName = args[++i];
    }
    if (!role)
        return refuse(QStringLiteral("give --reader ROLE or --miner ROLE"));
    TDM dm;
    if (!openCliDatabase(dm))
        return 1;
    if (dm.adoCn.engine() != TConnection::Engine::Postgres) {
        std::fprintf(stderr, "kestrova-cli grant: roles are given on a database server (--database URL or "
                             "[Database] Url); the database file has none\n");
        return 1;
    }
    if (print) {
        TQuery* q = dm.ADOQuery1;
        q->SetSQL(QStringLiteral("select current_schema() as s"));
        if (!q->Open()) {
            std::fprintf(stderr, "kestrova-cli: database error: %s\n",
                         q->lastError().toLocal8Bit().constData());
            return 1;
        }
        const QString schemaName = q->FieldByName(QStringLiteral("s")).asString();
        q->Close();
        std::printf("BEGIN;\n");
        for (const QString& sql : storeroles::grantStatements(*role, roleName, schemaName))
            std::printf("%s;\n", sql.toUtf8().constData());
        std::printf("COMMIT;\n");
        std::fflush(stdout);
        return 0;
    }
    QString error;
    if (!storeroles::grant(dm.adoCn, *role, roleName, &error)) {
        std::fprintf(stderr, "kestrova-cli: database error: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    std::fprintf(stderr, "kestrova-cli grant: %s may now %s\n", roleName.toLocal8Bit().constData(),
                 *role == storeroles::Role::Reader ? "read the store" : "read the store and mine into it");
    return 0;
}

const CliRegistration grantRegistration{
    {QStringLiteral("grant"),
     QStringLiteral("grant --reader ROLE | --miner ROLE [--print]   give a server role what it needs"),
     runGrant,
     QStringLiteral("Run by the store's owner on a server store. The role must exist on the server; the\n"
                    "statements run in one transaction, so a refused grant leaves nothing granted.\n"
                    "\n"
                    "  --reader ROLE  may read every table: browse, export, analyse, runs, queue status\n"
                    "  --miner ROLE   may also search, mine, resume and work the queue; deletes no shop and\n"
                    "                 edits no memo\n"
                    "  --print        print the statements instead of running them\n"
                    "  --help         show this text")}};

} // namespace
