#include "store/StoreRoles.h"

#include "store/TConnection.h"
#include "store/TStatement.h"

namespace storeroles {
namespace {

struct Privilege
{
    const char* table;
    const char* kinds; // as GRANT takes them
};

// What the rating saver, the run records and the queue write. The analyses' tallies are kept
// by triggers that run with the privileges of whoever writes the ratings.
const Privilege kMiner[] = {
    {"dianBase", "INSERT, UPDATE"},
    {"pjInfo", "INSERT, DELETE"},
    {"pjInfoRankTally", "INSERT, UPDATE, DELETE"},
    {"pjInfoHourTally", "INSERT, UPDATE, DELETE"},
    {"pjInfoTallyPending", "INSERT, DELETE"},
    {"miningRun", "INSERT, UPDATE"},
    {"miningRunShop", "INSERT, UPDATE"},
    {"shopQueue", "INSERT, UPDATE, DELETE"},
    {"dianHistory", "INSERT"}, // each storing of a profile leaves its row
};

const Privilege kDeleteShop[] = {
    {"dianBase", "DELETE"},
    {"pjInfo", "DELETE"},
    {"dianHistory", "DELETE"}, // a shop's history goes with it
    {"pjInfoRankTally", "INSERT, UPDATE, DELETE"},
    {"pjInfoHourTally", "INSERT, UPDATE, DELETE"},
    {"pjInfoTallyPending", "INSERT, DELETE"},
};

const Privilege kEditRatings[] = {
    {"pjInfo", "UPDATE"},
    {"pjInfoRankTally", "INSERT, UPDATE, DELETE"},
    {"pjInfoHourTally", "INSERT, UPDATE, DELETE"},
    {"pjInfoTallyPending", "INSERT, DELETE"},
};

QString quotedName(const QString& name)
{
    QString out = name;
    out.replace(u'"', QLatin1String("\"\""));
    return u'"' + out + u'"';
}

QString quotedText(const QString& text)
{
    QString out = text;
    out.replace(u'\'', QLatin1String("''"));
    return u'\'' + out + u'\'';
}

// (table, privilege) pairs, one privilege each.
QList<QPair<QString, QString>> pairs(const Privilege* begin, const Privilege* end)
{
    QList<QPair<QString, QString>> out;
    for (const Privilege* p = begin; p != end; ++p)
        for (const QString& kind : QString::fromLatin1(p->kinds).split(QStringLiteral(", ")))
            out.append({QString::fromLatin1(p->table), kind});
    return out;
}

QList<QPair<QString, QString>> needs(Action action)
{
    switch (action) {
    case Action::Mine:
        return pairs(std::begin(kMiner), std::end(kMiner));
    case Action::DeleteShop:
        return pairs(std::begin(kDeleteShop), std::end(kDeleteShop));
    case Action::EditRatings:
        return pairs(std::begin(kEditRatings), std::end(kEditRatings));
    }
    return {};
}

// "(VALUES ('t','P'), ...)" of the pairs, for one query over all of them.
QString valuesOf(const QList<QPair<QString, QString>>& list)
{
    QStringList rows;
    for (const auto& [table, kind] : list)
        rows << QStringLiteral("(%1, %2)").arg(quotedText(table), quotedText(kind));
    return QStringLiteral("(VALUES %1)").arg(rows.join(QStringLiteral(", ")));
}

bool queryText(TConnection& connection, const QString& sql, QString* value, QString* error)
{
    TStatement q;
    if (!q.prepare(connection, sql)) {
        *error = q.error();
        return false;
    }
    if (!q.step()) {
        *error = q.error();
        value->clear();
        return error->isEmpty();
    }
    *value = q.column(0).toString();
    return true;
}

// A statement that needs the privilege and changes no row.
QString probeSql(TConnection& connection, const QString& table, const QString& kind)
{
    if (kind == QLatin1String("INSERT"))
        return QStringLiteral("INSERT INTO %1 SELECT * FROM %1 WHERE false").arg(table);
    if (kind == QLatin1String("DELETE"))
        return QStringLiteral("DELETE FROM %1 WHERE false").arg(table);
    if (kind == QLatin1String("UPDATE")) {
        QString column, error;
        queryText(connection,
                  QStringLiteral("SELECT attname FROM pg_attribute WHERE attrelid = to_regclass(%1) AND "
                                 "attnum > 0 AND NOT attisdropped ORDER BY attnum LIMIT 1")
                      .arg(quotedText(table.toLower())),
                  &column, &error);
        return QStringLiteral("UPDATE %1 SET %2 = %2 WHERE false").arg(table, quotedName(column));
    }
    return QStringLiteral("SELECT FROM %1 WHERE false").arg(table);
}

} // namespace

QStringList grantStatements(Role role, const QString& roleName, const QString& schemaName)
{
    const QString r = quotedName(roleName);
    const QString s = quotedName(schemaName);
    QStringList out{
        QStringLiteral("GRANT USAGE ON SCHEMA %1 TO %2").arg(s, r),
        QStringLiteral("GRANT SELECT ON ALL TABLES IN SCHEMA %1 TO %2").arg(s, r),
        // Tables the owner adds later (a newer program mends the schema) are readable too.
        QStringLiteral("ALTER DEFAULT PRIVILEGES IN SCHEMA %1 GRANT SELECT ON TABLES TO %2").arg(s, r),
    };
    if (role == Role::Miner) {
        for (const Privilege& p : kMiner)
            out << QStringLiteral("GRANT %1 ON %2.%3 TO %4")
                       .arg(QLatin1String(p.kinds), s, QLatin1String(p.table), r);
        // Run records and queue entries take their ids from sequences.
        out << QStringLiteral("GRANT USAGE, SELECT ON ALL SEQUENCES IN SCHEMA %1 TO %2").arg(s, r);
    }
    return out;
}

bool grant(TConnection& connection, Role role, const QString& roleName, QString* error)
{
    if (connection.engine() != TConnection::Engine::Postgres) {
        *error = QStringLiteral("roles are given on a database server; a database file has none");
        return false;
    }
    QString schemaName;
    if (!queryText(connection, QStringLiteral("SELECT current_schema()"), &schemaName, error))
        return false;
    if (!connection.beginTransaction()) {
        *error = connection.error();
        return false;
    }
    auto fail = [&](const QString& text) {
        *error = text;
        connection.rollback();
        return false;
    };
    for (const QString& sql : grantStatements(role, roleName, schemaName))
        if (!connection.exec(sql))
            return fail(connection.error());
    // The server only warns about a privilege it did not grant (no grant option on it).
    QList<QPair<QString, QString>> wanted =
        role == Role::Miner ? pairs(std::begin(kMiner), std::end(kMiner)) : QList<QPair<QString, QString>>();
    for (const char* table : {"dianBase", "pjInfo", "miningRun", "miningRunShop", "shopQueue"})
        wanted.append({QString::fromLatin1(table), QStringLiteral("SELECT")});
    QString missing;
    if (!queryText(connection,
                   QStringLiteral("SELECT t || ' ' || p FROM %1 AS v(t, p) WHERE NOT "
                                  "has_table_privilege(%2, quote_ident(current_schema()) || '.' || t, p) "
                                  "LIMIT 1")
                       .arg(valuesOf(wanted), quotedText(roleName)),
                   &missing, error))
        return fail(*error);
    if (!missing.isEmpty())
        return fail(QStringLiteral("permission denied: %1 was not given %2 on %3 (grant as the store's "
                                   "owner)")
                        .arg(roleName, missing.section(u' ', 1), missing.section(u' ', 0, 0)));
    if (!connection.commit())
        return fail(connection.error());
    return true;
}

QString refusal(TConnection& connection, Action action)
{
    if (connection.engine() != TConnection::Engine::Postgres)
        return QString();
    QString lacking, error;
    if (!queryText(connection,
                   QStringLiteral("SELECT t || ' ' || p FROM %1 AS v(t, p) WHERE to_regclass("
                                  "quote_ident(current_schema()) || '.' || lower(t)) IS NOT NULL AND NOT "
                                  "has_table_privilege(quote_ident(current_schema()) || '.' || lower(t), p) "
                                  "LIMIT 1")
                       .arg(valuesOf(needs(action))),
                   &lacking, &error))
        return error;
    if (lacking.isEmpty())
        return QString();
    const QString table = lacking.section(u' ', 0, 0);
    const QString sql = probeSql(connection, table, lacking.section(u' ', 1));
    // The server's own words, from a statement that would change no row and is undone.
    const bool nested = connection.inTransaction();
    connection.exec(nested ? QStringLiteral("SAVEPOINT k_probe") : QStringLiteral("BEGIN"));
    const bool ran = connection.exec(sql);
    const QString message = connection.error();
    connection.exec(nested ? QStringLiteral("ROLLBACK TO SAVEPOINT k_probe; RELEASE SAVEPOINT k_probe")
                           : QStringLiteral("ROLLBACK"));
    return ran ? QStringLiteral("permission denied for table %1").arg(table.toLower()) : message;
}

QString userName(TConnection& connection)
{
    if (connection.engine() != TConnection::Engine::Postgres)
        return QString();
    QString name, error;
    queryText(connection, QStringLiteral("SELECT current_user"), &name, &error);
    return name;
}

} // namespace storeroles
