#include "cli/CliCommand.h"
#include "cli/CliDatabase.h"
#include "cli/JsonOut.h"
#include "store/TDM.h"

#include <cstdio>

namespace {

// One count of the navigation page's, so that both say the same.
std::optional<qlonglong> count(TDM& dm, const QString& sql)
{
    TQuery* query = dm.ADOQuery1;
    query->SetSQL(sql);
    if (!query->Open()) {
        std::fprintf(stderr, "kestrova-cli info: %s\n", query->lastError().toLocal8Bit().constData());
        return std::nullopt;
    }
    const qlonglong n = query->Eof() ? 0 : query->FieldByName(QStringLiteral("recordNum")).asInteger();
    query->Close();
    return n;
}

int runInfo(const QStringList& args)
{
    if (!args.isEmpty()) {
        std::fprintf(stderr, "kestrova-cli info: no arguments expected\n");
        std::fprintf(stderr, "%s\n", qPrintable(cliUsage(QStringLiteral("info"))));
        return 2;
    }
    TDM dm;
    if (!openCliDatabase(dm))
        return 1;
    const std::optional<qlonglong> shops =
        count(dm, QStringLiteral("select count(*) as recordNum from dianBase"));
    if (!shops)
        return 1;
    // Ratings of a shop that is gone are no record, as on the navigation page.
    const std::optional<qlonglong> ratings = count(
        dm,
        QStringLiteral(
            "select count(*) as recordNum from pjInfo inner join dianBase on pjInfo.dian_id=dianBase.id"));
    if (!ratings)
        return 1;
    const bool server = dm.adoCn.engine() == TConnection::Engine::Postgres;
    const QString engine = server ? QStringLiteral("PostgreSQL") : QStringLiteral("SQLite");
    // serverVersion() names the engine too; the version key holds the number alone.
    QString version = dm.adoCn.serverVersion();
    if (version.startsWith(engine + u' '))
        version = version.mid(engine.size() + 1);
    std::printf("{\"engine\": %s, \"version\": %s, \"database\": %s, \"shops\": %lld, \"ratings\": %lld}\n",
                jsonout::string(engine).toUtf8().constData(), jsonout::string(version).toUtf8().constData(),
                jsonout::string(dm.adoCn.databaseName()).toUtf8().constData(), static_cast<long long>(*shops),
                static_cast<long long>(*ratings));
    std::fflush(stdout);
    return 0;
}

const CliRegistration infoRegistration{
    {QStringLiteral("info"), QStringLiteral("info   say which database is in use and how much it holds"),
     runInfo,
     QStringLiteral(
         "  One JSON line: engine (SQLite or PostgreSQL), its version, the database (the file's\n"
         "  path or the server database's name), and the numbers of shops and of their ratings.")}};

} // namespace
