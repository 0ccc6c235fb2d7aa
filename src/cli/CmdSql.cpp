#include "cli/CliCommand.h"
#include "cli/CliDatabase.h"
#include "cli/JsonOut.h"
#include "store/TDM.h"

#include <cstdio>

namespace {

int runSql(const QStringList& args)
{
    TDM dm;
    QString statement;
    QList<QPair<QString, QString>> params;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--param") && i + 1 < args.size()) {
            const QString pair = args[++i];
            const qsizetype eq = pair.indexOf(u'=');
            if (eq <= 0) {
                std::fprintf(stderr, "kestrova-cli sql: --param wants NAME=VALUE, not %s\n",
                             qPrintable(pair));
                return 2;
            }
            params.append({pair.left(eq), pair.mid(eq + 1)});
        } else if (args[i].startsWith(QLatin1String("--"))) {
            std::fprintf(stderr, "kestrova-cli sql: unknown option %s\n", qPrintable(args[i]));
            return 2;
        } else if (statement.isEmpty()) {
            statement = args[i];
        } else {
            std::fprintf(stderr, "kestrova-cli sql: give the statement as one argument\n");
            return 2;
        }
    }
    if (statement.isEmpty()) {
        std::fprintf(stderr, "usage: kestrova-cli [--data-dir DIR] sql [--param NAME=VALUE]... STATEMENT\n");
        return 2;
    }
    if (!openCliDatabase(dm))
        return 1;
    TQuery* query = dm.ADOQuery1;
    query->SetSQL(statement);
    for (const auto& [name, value] : params)
        query->SetParam(name, value);

    if (!query->ReturnsRows()) {
        if (!query->lastError().isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(query->lastError()));
            return 1;
        }
        const int changed = query->ExecSQL();
        if (changed < 0) {
            std::fprintf(stderr, "%s\n", qPrintable(query->lastError()));
            return 1;
        }
        std::printf("{\"changed\": %d}\n", changed);
        return 0;
    }
    if (!query->Open()) {
        std::fprintf(stderr, "%s\n", qPrintable(query->lastError()));
        return 1;
    }
    const QStringList names = query->FieldNames();
    for (int row = 0; row < query->RecordCount(); ++row) {
        QStringList pieces;
        for (int c = 0; c < names.size(); ++c)
            pieces << jsonout::string(names[c]) + QStringLiteral(": ") + jsonout::value(query->value(row, c));
        std::printf("{%s}\n", pieces.join(QStringLiteral(", ")).toUtf8().constData());
    }
    return 0;
}

const CliRegistration registration{
    {QStringLiteral("sql"), QStringLiteral("sql [--param NAME=VALUE]... STATEMENT   run one statement"),
     runSql,
     QStringLiteral(
         "Runs one statement on the database of the data folder (created when missing) and prints\n"
         "each result row as a JSON object on a line of its own, or {\"changed\": N} for a statement\n"
         "that returns no rows. Engine errors go to standard error with exit status 1.\n"
         "\n"
         "  --param NAME=VALUE   bind VALUE to :NAME in the statement (names ignore letter case);\n"
         "                       the column the value meets decides how the text is converted\n"
         "  --help               show this text")}};

} // namespace
