#include "store/ServerTally.h"

#include "store/Tallies.h"

#include <QStringList>

namespace servertally {
namespace {

using tallies::Tally;

// The bits of the column nulls for the columns that may be NULL, in order 1, 2, 4, ...
QString nullBits(const QStringList& columns)
{
    QStringList terms;
    for (int i = 0; i < columns.size(); ++i)
        terms << QStringLiteral("CASE WHEN %1 IS NULL THEN %2 ELSE 0 END").arg(columns[i]).arg(1 << i);
    return u'(' + terms.join(QStringLiteral(" + ")) + u')';
}

// The ranking's tally: the server's own, led by the trade type and the rating that every
// ranking filters on (the file keeps its NULLs as they are and its ranking's group order).
const Tally& rankTally()
{
    static const Tally t{
        "pjInfoRankTally",
        {"dian_id", "buyerOrSaler", "pj", "itemTitle", "itemId", "jg", "month", "nulls"},
        {"dian_id", "buyerOrSaler", "coalesce(pj,'')", "coalesce(itemTitle,'')", "coalesce(itemId,'')",
         "coalesce(jg,0)", "substr(pjsj,1,7)", nullBits({"itemTitle", "itemId", "jg", "pj"})},
        QStringLiteral("dian_id IS NOT NULL AND buyerOrSaler IS NOT NULL AND pjsj IS NOT NULL"),
        {"n"},
        {"1"},
        nullptr,
        "dian_id BIGINT NOT NULL, buyerOrSaler BOOLEAN NOT NULL, pj TEXT COLLATE \"C\" NOT NULL, "
        "itemTitle TEXT COLLATE \"C\" NOT NULL, itemId TEXT COLLATE \"C\" NOT NULL, jg DOUBLE PRECISION "
        "NOT NULL, month TEXT COLLATE \"C\" NOT NULL, nulls SMALLINT NOT NULL, n INTEGER NOT NULL"};
    return t;
}

const Tally& hourTally()
{
    return tallies::hours();
}

QString counted(const Tally& t)
{
    return tallies::spell(t.counted, QString(), tallies::serverUnits);
}

const char kRatingColumns[] = "dian_id, itemTitle, itemId, jg, buyerOrSaler, pj, pjsj";

QString ratings(const char* sign, const char* from)
{
    return QStringLiteral("SELECT %1 AS s, %2 FROM %3")
        .arg(QLatin1String(sign), QLatin1String(kRatingColumns), QLatin1String(from));
}

// What the ratings of source add to the tally, one row a key, in key order so that two
// writers meet the rows in the same order.
QString upsert(const Tally& t, const QString& source, const QString& alsoWhere = QString())
{
    QStringList figures, sums, changed;
    for (int i = 0; i < t.figures.size(); ++i) {
        figures << QStringLiteral("sum(s*(%1))")
                       .arg(tallies::spell(t.figureValues[i], QString(), tallies::serverUnits));
        sums << QStringLiteral("%1=t.%1+excluded.%1").arg(t.figures[i]);
        changed << figures.back() + QStringLiteral("<>0");
    }
    const QString order = tallies::keyPositions(t);
    return QStringLiteral("INSERT INTO %1 AS t (%2,%3) SELECT %4,%5 FROM (%6) r WHERE %7%8 GROUP BY %9 "
                          "HAVING %10 ORDER BY %9 ON CONFLICT (%2) DO UPDATE SET %11; ")
        .arg(QLatin1String(t.table), t.keys.join(u','), t.figures.join(u','),
             tallies::spell(t.keyValues, QString(), tallies::serverUnits).join(u','), figures.join(u','),
             source, counted(t), alsoWhere, order, changed.join(QStringLiteral(" OR ")), sums.join(u','));
}

// Rows of the shops that lost ratings whose counts came down to 0.
QString sweep(const Tally& t, const QString& source)
{
    return QStringLiteral("DELETE FROM %1 t USING (SELECT DISTINCT dian_id FROM (%2) r) d "
                          "WHERE t.dian_id = d.dian_id AND t.n = 0; ")
        .arg(QLatin1String(t.table), source);
}

// What a statement changed is kept in a table of the session until its transaction commits;
// then the tallies take it all at once, each key changed once. Changed statement by statement,
// a key met again in the same transaction costs more each time (its row versions pile up),
// and two transactions would take the same rows' locks in different orders and deadlock.
const char kStage[] = "pjInfoTallyStage";

QString stageFunction(const char* name, const QStringList& sources)
{
    QString body = QStringLiteral(
        "IF to_regclass('pg_temp.pjinfotallystage') IS NULL THEN CREATE TEMP TABLE pjInfoTallyStage "
        "(s integer, dian_id bigint, itemTitle text COLLATE \"C\", itemId text COLLATE \"C\", jg double "
        "precision, buyerOrSaler boolean, pj text COLLATE \"C\", pjsj timestamp(0)) ON COMMIT DELETE ROWS; "
        "END IF; ");
    for (const QString& source : sources)
        body += QStringLiteral("INSERT INTO pjInfoTallyStage %1; ").arg(source);
    // One row a transaction: its deferred trigger folds the stage in at commit.
    body += QStringLiteral("INSERT INTO pjInfoTallyPending VALUES (txid_current()) ON CONFLICT DO NOTHING; ");
    return QStringLiteral("CREATE OR REPLACE FUNCTION %1() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN %2"
                          "RETURN NULL; END $$")
        .arg(QLatin1String(name), body);
}

QString foldFunction()
{
    const QString staged =
        QStringLiteral("SELECT s, %1 FROM %2").arg(QLatin1String(kRatingColumns), QLatin1String(kStage));
    const QString removed = staged + QStringLiteral(" WHERE s < 0");
    return QStringLiteral(
               "CREATE OR REPLACE FUNCTION k_tally_fold() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
               "DELETE FROM pjInfoTallyPending WHERE xid = NEW.xid; "
               "IF to_regclass('pg_temp.pjinfotallystage') IS NULL THEN RETURN NULL; END IF; %1%2"
               "IF EXISTS (%3) THEN %4%5END IF; DELETE FROM pjInfoTallyStage; RETURN NULL; END $$")
        .arg(upsert(rankTally(), staged), upsert(hourTally(), staged), removed, sweep(rankTally(), removed),
             sweep(hourTally(), removed));
}

// Writers wait while a tally is counted, so that none of their ratings is missed.
QString lockRatings()
{
    return QStringLiteral("LOCK TABLE pjInfo IN SHARE MODE; ");
}

// The tally counted afresh when it does not hold as many ratings as the table: a database
// whose triggers were missing for a while.
QString recount(const Tally& t)
{
    return QStringLiteral("DELETE FROM %1 WHERE (SELECT count(*) FROM pjInfo WHERE %2) <> "
                          "(SELECT coalesce(sum(n),0) FROM %1); ")
               .arg(QLatin1String(t.table), counted(t)) +
           upsert(t, ratings("1", "pjInfo"),
                  QStringLiteral(" AND NOT EXISTS (SELECT 1 FROM %1)").arg(QLatin1String(t.table)));
}

} // namespace

QString recountIfPresent()
{
    QString body = lockRatings();
    for (const Tally* t : {&rankTally(), &hourTally()})
        body += QStringLiteral("DELETE FROM %1; ").arg(QLatin1String(t->table)) +
                upsert(*t, ratings("1", "pjInfo"));
    return QStringLiteral("DO $$ BEGIN IF to_regclass('pjinforanktally') IS NOT NULL AND "
                          "to_regclass('pjinfohourtally') IS NOT NULL THEN %1END IF; END $$")
        .arg(body);
}

QList<serverschema::Piece> functionPieces()
{
    const QString inserted = ratings("1", "k_new");
    const QString deleted = ratings("-1", "k_old");
    return {
        {QStringLiteral("function"), QStringLiteral("k_tally_insert()"),
         stageFunction("k_tally_insert", {inserted})},
        {QStringLiteral("function"), QStringLiteral("k_tally_delete()"),
         stageFunction("k_tally_delete", {deleted})},
        {QStringLiteral("function"), QStringLiteral("k_tally_update()"),
         stageFunction("k_tally_update", {deleted, inserted})},
        {QStringLiteral("function"), QStringLiteral("k_tally_fold()"), foldFunction()},
    };
}

QList<serverschema::Piece> tablePieces()
{
    QList<serverschema::Piece> s;
    const QString both = recount(rankTally()) + recount(hourTally());
    for (const Tally* t : {&rankTally(), &hourTally()})
        s.append({QStringLiteral("table"), QLatin1String(t->table),
                  QStringLiteral("CREATE TABLE %1 (%2, PRIMARY KEY (%3)); ")
                          .arg(QLatin1String(t->table), QLatin1String(t->serverColumns), t->keys.join(u',')) +
                      lockRatings() + recount(*t)});
    // A database whose hour tally summed the prices as doubles: the sums in money instead,
    // and the fold that keeps them.
    s.append({QStringLiteral("column"), QStringLiteral("pjInfoHourTally.units"),
              QStringLiteral("ALTER TABLE pjInfoHourTally DROP COLUMN IF EXISTS amount; ALTER TABLE "
                             "pjInfoHourTally ADD COLUMN units BIGINT NOT NULL DEFAULT 0; ") +
                  foldFunction() + QStringLiteral("; ") + lockRatings() +
                  QStringLiteral("DELETE FROM pjInfoHourTally; ") +
                  upsert(hourTally(), ratings("1", "pjInfo"))});
    // Rows live only inside a transaction, so a crash that empties the table loses nothing.
    s.append({QStringLiteral("table"), QStringLiteral("pjInfoTallyPending"),
              QStringLiteral("CREATE UNLOGGED TABLE pjInfoTallyPending (xid BIGINT PRIMARY KEY)")});
    s.append({QStringLiteral("trigger"), QStringLiteral("pjInfoTallyPending_fold"),
              QStringLiteral("CREATE CONSTRAINT TRIGGER pjInfoTallyPending_fold AFTER INSERT ON "
                             "pjInfoTallyPending DEFERRABLE INITIALLY DEFERRED FOR EACH ROW EXECUTE FUNCTION "
                             "k_tally_fold()")});
    // Transition tables rule out one trigger for several events.
    struct Event
    {
        const char* name;
        const char* event;
        const char* tables;
    };
    for (const Event& e :
         {Event{"insert", "INSERT", "NEW TABLE AS k_new"}, Event{"delete", "DELETE", "OLD TABLE AS k_old"},
          Event{"update", "UPDATE", "OLD TABLE AS k_old NEW TABLE AS k_new"}})
        s.append({QStringLiteral("trigger"), QStringLiteral("pjInfo_tally_%1").arg(QLatin1String(e.name)),
                  QStringLiteral("CREATE TRIGGER pjInfo_tally_%1 AFTER %2 ON pjInfo REFERENCING %3 FOR EACH "
                                 "STATEMENT EXECUTE FUNCTION k_tally_%1(); ")
                          .arg(QLatin1String(e.name), QLatin1String(e.event), QLatin1String(e.tables)) +
                      lockRatings() + both});
    return s;
}

} // namespace servertally
