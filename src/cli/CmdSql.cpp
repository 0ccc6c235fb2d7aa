#include "cli/CliCommand.h"
#include "cli/CliDatabase.h"
#include "cli/JsonOut.h"
#include "store/TDM.h"
#include "store/TStatement.h"

#include <QElapsedTimer>
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
        std::fprintf(stderr, "%s\n", qPrintable(cliUsage(QStringLiteral("sql"))));
        return 2;
    }
    if (!openCliDatabase(dm))
        return 1;
    // Rows are printed as the engine steps to them: a million rows are not held in memory
    // first, and an endless query shows its rows at once.
    TStatement statementRun;
    statementRun.setStreaming(true);
    QHash<QString, QVariant> bound;
    for (const auto& [name, value] : params)
        bound.insert(name.toLower(), value);
    if (!statementRun.prepare(dm.adoCn, statement) || !statementRun.bind(bound)) {
        std::fprintf(stderr, "%s\n", qPrintable(statementRun.error()));
        return 1;
    }
    const int columns = statementRun.columnCount();
    if (columns == 0) {
        const int changed = statementRun.execute();
        if (changed < 0) {
            std::fprintf(stderr, "%s\n", qPrintable(statementRun.error()));
            return 1;
        }
        std::printf("{\"changed\": %d}\n", changed);
        return 0;
    }
    QStringList keys = statementRun.columnNames();
    for (QString& key : keys)
        key = jsonout::string(key) + QStringLiteral(": ");
    // Standard output to a pipe is block-buffered; a slow query still shows its rows within
    // a tenth of a second.
    QElapsedTimer sinceFlush;
    sinceFlush.start();
    while (statementRun.step()) {
        QString line = QStringLiteral("{");
        for (int c = 0; c < columns; ++c) {
            if (c > 0)
                line += QStringLiteral(", ");
            line += keys[c] + jsonout::value(statementRun.column(c));
        }
        line += QStringLiteral("}\n");
        const QByteArray bytes = line.toUtf8();
        std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
        if (sinceFlush.hasExpired(100)) {
            std::fflush(stdout);
            sinceFlush.restart();
        }
    }
    std::fflush(stdout);
    if (!statementRun.error().isEmpty()) {
        // The rows before the failure are out already; the status tells they are not all.
        std::fprintf(stderr, "%s\n", qPrintable(statementRun.error()));
        return 1;
    }
    return 0;
}

const CliRegistration registration{
    {QStringLiteral("sql"), QStringLiteral("sql [--param NAME=VALUE]... STATEMENT   run one statement"),
     runSql,
     QStringLiteral(
         "Runs one statement on the database in use (the server of --database or of [Database] Url\n"
         "in config.ini, else the SQLite file of the data folder, created when missing) and prints\n"
         "each result row as a JSON object on a line of its own, or {\"changed\": N} for a statement\n"
         "that returns no rows. Rows are printed as they are read, so a long result starts at\n"
         "once. Numbers are JSON numbers; one that is infinite or not a number (select 1e400)\n"
         "is printed as null, as is NULL. Engine errors go to standard error with exit status 1,\n"
         "also after some rows have been printed.\n"
         "\n"
         "  --param NAME=VALUE   bind VALUE to :NAME in the statement (names ignore letter case);\n"
         "                       the column the value meets decides how the text is converted\n"
         "  --help               show this text")}};

} // namespace
