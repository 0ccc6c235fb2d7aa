#include "store/Schema.h"

#include "store/History.h"
#include "store/Money.h"
#include "store/Tallies.h"

#include <QHash>

namespace schema {
namespace {

struct Column
{
    const char* name;
    ColumnType type;
};

const Column kDianBase[] = {
    {"id", ColumnType::Integer},
    {"dianzhu", ColumnType::Text},
    {"zhuce", ColumnType::DateTime},
    {"addr", ColumnType::Text},
    {"dianming", ColumnType::Text},
    {"webaddr", ColumnType::Text},
    {"updateDate", ColumnType::DateTime},
    {"buylevel", ColumnType::Integer},
    {"buyerCredit", ColumnType::Integer},
    {"salelevel", ColumnType::Integer},
    {"salerCredit", ColumnType::Integer},
    {"commodityKind", ColumnType::Text},
    {"loc", ColumnType::Text},
    {"buyerBad", ColumnType::Integer},
    {"buyerNotBad", ColumnType::Integer},
    {"buyerGood", ColumnType::Integer},
    {"salerBad", ColumnType::Integer},
    {"salerNotBad", ColumnType::Integer},
    {"salerGood", ColumnType::Integer},
    {"commodityNum", ColumnType::Integer},
    {"createDate", ColumnType::Text},
    {"salerGoodRate", ColumnType::Text},
    {"buyerGoodRate", ColumnType::Text},
};

const Column kPjInfo[] = {
    {"id", ColumnType::Integer},           {"dian_id", ColumnType::Integer}, {"pj", ColumnType::Text},
    {"buyerOrSaler", ColumnType::Boolean}, {"pjName", ColumnType::Text},     {"itemId", ColumnType::Text},
    {"itemTitle", ColumnType::Text},       {"pjsj", ColumnType::DateTime},   {"jg", ColumnType::Currency},
    {"pjInfo", ColumnType::Memo},          {"pjjs", ColumnType::Memo},       {"trade_id", ColumnType::Text},
    {"itemId_pjsj", ColumnType::Text},
};

const char* sqlType(ColumnType t)
{
    switch (t) {
    case ColumnType::Integer:
    case ColumnType::Boolean:
        return "INTEGER";
    case ColumnType::Currency:
        return "REAL";
    default:
        return "TEXT";
    }
}

QString createTable(const char* name, const Column* begin, const Column* end)
{
    QStringList cols;
    for (const Column* c = begin; c != end; ++c) {
        if (QLatin1String(c->name) == QLatin1String("id"))
            cols << QStringLiteral("id INTEGER PRIMARY KEY AUTOINCREMENT");
        else
            cols << QStringLiteral("%1 %2").arg(QLatin1String(c->name), QLatin1String(sqlType(c->type)));
    }
    return QStringLiteral("CREATE TABLE %1 (%2)").arg(QLatin1String(name), cols.join(QStringLiteral(", ")));
}

QHash<QString, ColumnType> buildTypes()
{
    QHash<QString, ColumnType> types;
    for (const Column& c : kDianBase)
        types.insert(QString::fromLatin1(c.name).toLower(), c.type);
    for (const Column& c : kPjInfo)
        types.insert(QString::fromLatin1(c.name).toLower(), c.type);
    return types;
}

QStringList names(const Column* begin, const Column* end)
{
    QStringList out;
    for (const Column* c = begin; c != end; ++c)
        out << QString::fromLatin1(c->name);
    return out;
}

// The keys the analyses read beside the tallies. Only built-in SQL, so the plain sqlite3
// shell can still write the file.
void addAnalysisKeys(QList<SchemaObject>& s)
{
    // Ordered by shop and time, with the rating: what a shop's range reads beside the tallies
    // (a trend's end hours, a compared shop's bad ratings). The wider keys of earlier files
    // go, each kept up by every stored rating: the hour tally answers what they held.
    s.append(
        {QStringLiteral("index"), QStringLiteral("pjInfo_shop_when"),
         QStringLiteral("DROP INDEX IF EXISTS pjInfo_shop_hourkey; DROP INDEX IF EXISTS pjInfo_shop_time; "
                        "CREATE INDEX pjInfo_shop_when ON pjInfo(dian_id, pjsj, pj)")});
    // The ranking's groups in their order, every column it reads held, so it groups as it
    // reads: what it reads on a shop whose tally holds about a row a rating (every rating at
    // a price of its own).
    s.append({QStringLiteral("index"), QStringLiteral("pjInfo_shop_itemkey"),
              QStringLiteral("CREATE INDEX pjInfo_shop_itemkey ON pjInfo(dian_id, itemTitle, itemId, jg, "
                             "buyerOrSaler, pj, pjsj)")});
}

// The ranking's tally (store/Tallies.h) on the file: a row is found by its key columns each
// IS its value, so that ratings without an item or a price count as well. Its one figure is n.
QString rankMatch(const QString& table, const QStringList& values)
{
    const QStringList& keys = tallies::fileRanking().keys;
    QStringList terms;
    for (int i = 0; i < keys.size(); ++i)
        terms << QStringLiteral("%1%2 IS %3").arg(table, keys[i], values[i]);
    return terms.join(QStringLiteral(" AND "));
}

// A tally's values as the file writes them for a row: no function of the program, so that
// any program that writes the file keeps the tallies.
QStringList fileValues(const QStringList& values, const char* row)
{
    return tallies::spell(values, QLatin1String(row), tallies::fileUnits);
}

QStringList rankValues(const char* row)
{
    return fileValues(tallies::fileRanking().keyValues, row);
}

QString tallyAdd(const char* row)
{
    const tallies::Tally& t = tallies::fileRanking();
    const QStringList values = rankValues(row);
    return QStringLiteral("INSERT INTO %1(%2,n) SELECT %3,0 WHERE NOT EXISTS (SELECT 1 FROM %1 WHERE %4); "
                          "UPDATE %1 SET n=n+1 WHERE %4; ")
        .arg(QLatin1String(t.table), t.keys.join(u','), values.join(u','), rankMatch(QString(), values));
}

QString tallyRemove(const char* row)
{
    const tallies::Tally& t = tallies::fileRanking();
    const QString match = rankMatch(QString(), rankValues(row));
    return QStringLiteral("DELETE FROM %1 WHERE %2 AND n<=1; UPDATE %1 SET n=n-1 WHERE %2; ")
        .arg(QLatin1String(t.table), match);
}

// The tally counted afresh when it does not hold as many ratings as the table: a file from
// before it, or one whose triggers were missing for a while. A tally that agrees is kept, so
// mending several of its pieces at one open counts the ratings only once.
QString tallyRecount()
{
    const tallies::Tally& t = tallies::fileRanking();
    return QStringLiteral("DELETE FROM %1 WHERE (SELECT count(*) FROM pjInfo WHERE %2) <> (SELECT "
                          "coalesce(sum(n),0) FROM %1); INSERT INTO %1(%3,n) SELECT %4,count(*) FROM pjInfo "
                          "WHERE %2 AND NOT EXISTS (SELECT 1 FROM %1) GROUP BY %4; ")
        .arg(QLatin1String(t.table), t.counted, t.keys.join(u','), rankValues("").join(u','));
}

QString hourValues(const QStringList& values, const char* row)
{
    return fileValues(values, row).join(u',');
}

QString hourColumns()
{
    const tallies::Tally& t = tallies::hours();
    return (t.keys + t.figures).join(u',');
}

QString hourSums()
{
    QStringList sums;
    for (const QString& f : tallies::hours().figures)
        sums << QStringLiteral("%1=%1+excluded.%1").arg(f);
    return QStringLiteral(" ON CONFLICT DO UPDATE SET ") + sums.join(u',') + QStringLiteral("; ");
}

QString hourAdd(const char* row, int sign)
{
    const tallies::Tally& t = tallies::hours();
    QStringList figures;
    for (const QString& v : fileValues(t.figureValues, row))
        figures << QStringLiteral("%1*(%2)").arg(sign).arg(v);
    return QStringLiteral("INSERT INTO %1(%2) SELECT %3,%4 WHERE %5%6")
        .arg(QLatin1String(t.table), hourColumns(), hourValues(t.keyValues, row), figures.join(u','),
             tallies::spell(t.counted, QLatin1String(row), tallies::fileUnits), hourSums());
}

QString hourRemove(const char* row)
{
    const tallies::Tally& t = tallies::hours();
    return hourAdd(row, -1) +
           QStringLiteral("DELETE FROM %1 WHERE (%2)=(%3) AND n<=0; ")
               .arg(QLatin1String(t.table), t.keys.join(u','), hourValues(t.keyValues, row));
}

// The hour tally's counts of the ratings that pass where, by key.
QString hourCounts(const QString& where, const QString& from = QStringLiteral("pjInfo"))
{
    const tallies::Tally& t = tallies::hours();
    QStringList figures;
    for (const QString& v : fileValues(t.figureValues, ""))
        figures << QStringLiteral("sum(%1)").arg(v);
    return QStringLiteral("INSERT INTO %1(%2) SELECT %3,%4 FROM %5 WHERE %6%7 GROUP BY %8")
        .arg(QLatin1String(t.table), hourColumns(), hourValues(t.keyValues, ""), figures.join(u','), from,
             tallies::spell(t.counted, QString(), tallies::fileUnits), where, tallies::keyPositions(t));
}

QString hourRecount()
{
    const tallies::Tally& t = tallies::hours();
    return QStringLiteral("DELETE FROM %1 WHERE (SELECT count(*) FROM pjInfo WHERE %2) <> (SELECT "
                          "coalesce(sum(n),0) FROM %1); ")
               .arg(QLatin1String(t.table), tallies::spell(t.counted, QString(), tallies::fileUnits)) +
           hourCounts(QStringLiteral(" AND NOT EXISTS (SELECT 1 FROM %1)").arg(QLatin1String(t.table))) +
           QStringLiteral("; ");
}

// The saver's connection holds the temporary table pjInfoBulk while it stores a shop's
// ratings: the update trigger then leaves the counts alone (the other two are set aside
// meanwhile), and bulkFoldStatements() counts the new ratings in a few grouped statements
// instead of a few statements a rating.
const char kNotBulk[] =
    "WHEN NOT EXISTS (SELECT 1 FROM pragma_table_list('pjInfoBulk') WHERE schema='temp') ";

// The hour tally's table; its prices are summed in whole units of money.
QString hourTable()
{
    const tallies::Tally& t = tallies::hours();
    return QStringLiteral("CREATE TABLE %1 (%2, PRIMARY KEY (%3)) WITHOUT ROWID; ")
               .arg(QLatin1String(t.table), QLatin1String(t.fileColumns), t.keys.join(u',')) +
           hourRecount();
}

// The three triggers that keep the tallies, each with what it adds and what must go before it
// when a file lacks it.
struct TallyEvent
{
    const char* name;
    const char* event;
    QString body;
    QString before;
};

const TallyEvent& tallyEvent(int which)
{
    // The triggers are named afresh whenever what they add changes: the earlier ones go, and
    // a file whose hour tally summed prices as doubles gets it counted again in money.
    static const TallyEvent events[] = {
        {"insert", "INSERT", tallyAdd("new") + hourAdd("new", 1),
         QStringLiteral("DROP TABLE IF EXISTS pjInfoHourTally; ") + hourTable()},
        {"delete", "DELETE", tallyRemove("old") + hourRemove("old"), QString()},
        {"update", "UPDATE OF dian_id, itemTitle, itemId, jg, buyerOrSaler, pj, pjsj",
         tallyRemove("old") + tallyAdd("new") + hourRemove("old") + hourAdd("new", 1), QString()}};
    return events[which];
}

QString tallyTrigger(const TallyEvent& e, const char* ifNotExists = "")
{
    return QStringLiteral("CREATE TRIGGER %1pjInfo_tallies_%2 AFTER %3 ON pjInfo %4BEGIN %5END")
        .arg(QLatin1String(ifNotExists), QLatin1String(e.name), QLatin1String(e.event),
             QLatin1String(kNotBulk), e.body);
}

// The ranking's counts per shop, item, price, trade type, rating and month, and the trend's
// and distribution's per shop, hour, trade type and rating (with the sum of the prices),
// kept by three triggers, so that an analysis over a long range adds up counts instead of
// reading every rating. Plain SQL as well: any program that writes the file keeps them.
void addAnalysisTally(QList<SchemaObject>& s)
{
    s.append({QStringLiteral("table"), QStringLiteral("pjInfoTally"),
              QStringLiteral("CREATE TABLE pjInfoTally (%1)")
                  .arg(QLatin1String(tallies::fileRanking().fileColumns))});
    // Counted before the index exists, which is faster than keeping it up while filling.
    s.append({QStringLiteral("index"), QStringLiteral("pjInfoTally_key"),
              tallyRecount() +
                  QStringLiteral("CREATE INDEX pjInfoTally_key ON pjInfoTally(dian_id, itemTitle, itemId, "
                                 "jg, buyerOrSaler, pj, month, n)")});
    s.append({QStringLiteral("table"), QStringLiteral("pjInfoHourTally"), hourTable()});
    // The triggers of a file from before the hour tally counted the ranking alone.
    const QString recount = tallyRecount() + hourRecount();
    for (int which = 0; which < 3; ++which) {
        const TallyEvent& e = tallyEvent(which);
        s.append(
            {QStringLiteral("trigger"), QStringLiteral("pjInfo_tallies_%1").arg(QLatin1String(e.name)),
             QStringLiteral("DROP TRIGGER IF EXISTS pjInfoTally_%1; DROP TRIGGER IF EXISTS pjInfo_tally_%1; ")
                     .arg(QLatin1String(e.name)) +
                 e.before + tallyTrigger(e) + QStringLiteral("; ") + recount});
    }
}

// The record of mining runs: each run with its options and state, and its marked shops in
// their order with how far each got.
void addRunRecordObjects(QList<SchemaObject>& s)
{
    s.append({QStringLiteral("table"), QStringLiteral("miningRun"),
              QStringLiteral("CREATE TABLE miningRun (id INTEGER PRIMARY KEY AUTOINCREMENT, started TEXT, "
                             "ended TEXT, state TEXT NOT NULL, fromRecord INTEGER, toRecord INTEGER, "
                             "newOnly INTEGER, error TEXT, serverUser TEXT, machine TEXT)")});
    s.append(
        {QStringLiteral("table"), QStringLiteral("miningRunShop"),
         QStringLiteral("CREATE TABLE miningRunShop (run_id INTEGER NOT NULL, position INTEGER NOT NULL, "
                        "dian_id INTEGER, webaddr TEXT, texts TEXT, state TEXT NOT NULL, "
                        "stored INTEGER NOT NULL DEFAULT 0, newRatings INTEGER NOT NULL DEFAULT 0, "
                        "PRIMARY KEY (run_id, position))")});
}

// Shops waiting to be mined by any number of workers, with the run options they were queued
// with; a claimed shop names its worker and when its lease ends (whole seconds since the
// epoch). One entry of a shop may be waiting or claimed at a time.
void addQueueObjects(QList<SchemaObject>& s)
{
    s.append({QStringLiteral("table"), QStringLiteral("shopQueue"),
              QStringLiteral(
                  "CREATE TABLE shopQueue (id INTEGER PRIMARY KEY AUTOINCREMENT, webaddr TEXT NOT NULL, "
                  "texts TEXT, fromRecord INTEGER NOT NULL, toRecord INTEGER NOT NULL, "
                  "newOnly INTEGER NOT NULL, state TEXT NOT NULL, worker TEXT, claimed INTEGER, "
                  "leaseUntil INTEGER, attempt INTEGER NOT NULL DEFAULT 0, added INTEGER, "
                  "finished INTEGER, stored INTEGER NOT NULL DEFAULT 0, reason TEXT, serverUser TEXT, "
                  "machine TEXT)")});
    s.append({QStringLiteral("index"), QStringLiteral("shopQueue_open"),
              QStringLiteral("CREATE UNIQUE INDEX shopQueue_open ON shopQueue(webaddr) "
                             "WHERE state IN ('waiting', 'claimed')")});
    s.append({QStringLiteral("index"), QStringLiteral("shopQueue_state"),
              QStringLiteral("CREATE INDEX shopQueue_state ON shopQueue(state, id)")});
}

} // namespace

// The insert and delete triggers leave the writer's transaction and come back before it ends:
// a trigger costs a call a rating even when it does nothing. Other connections never see the
// file without them.
QStringList bulkStartStatements()
{
    return {QStringLiteral("CREATE TEMP TABLE pjInfoBulk (start INTEGER)"),
            QStringLiteral("INSERT INTO temp.pjInfoBulk SELECT coalesce(max(id),0) FROM pjInfo"),
            QStringLiteral("DROP TRIGGER IF EXISTS pjInfo_tallies_insert"),
            QStringLiteral("DROP TRIGGER IF EXISTS pjInfo_tallies_delete")};
}

namespace {

// Written once: the saver and the shop delete ask for them at every shop.
const QStringList& triggersBack()
{
    static const QStringList back{tallyTrigger(tallyEvent(0), "IF NOT EXISTS "),
                                  tallyTrigger(tallyEvent(1), "IF NOT EXISTS ")};
    return back;
}

QStringList foldStatements()
{
    const QString added = QStringLiteral("id>(SELECT start FROM temp.pjInfoBulk)");
    // The new ratings by their ids, not by a scan of an index over every rating.
    const QString ratings = QStringLiteral("pjInfo NOT INDEXED");
    const tallies::Tally& t = tallies::fileRanking();
    QStringList named, grouped;
    const QStringList values = rankValues("");
    for (int i = 0; i < t.keys.size(); ++i) {
        named << values[i] + QStringLiteral(" AS ") + t.keys[i];
        grouped << QStringLiteral("d.") + t.keys[i];
    }
    const QString match = rankMatch(QLatin1String(t.table) + u'.', grouped);
    // The ranking's groups of the new ratings, counted once: those the tally has get more, the
    // others are added.
    return QStringList{QStringLiteral("CREATE TEMP TABLE pjInfoBulkGroups AS SELECT %1,count(*) AS c FROM %2 "
                                      "WHERE %3 GROUP BY %4")
                           .arg(named.join(u','), ratings, added, tallies::keyPositions(t)),
                       QStringLiteral("UPDATE %1 SET n=n+d.c FROM temp.pjInfoBulkGroups d WHERE %2")
                           .arg(QLatin1String(t.table), match),
                       QStringLiteral("INSERT INTO %1(%2,n) SELECT * FROM temp.pjInfoBulkGroups d WHERE NOT "
                                      "EXISTS (SELECT 1 FROM %1 WHERE %3)")
                           .arg(QLatin1String(t.table), t.keys.join(u','), match),
                       QStringLiteral("DROP TABLE temp.pjInfoBulkGroups"),
                       hourCounts(QStringLiteral(" AND ") + added, ratings) + hourSums(),
                       QStringLiteral("DROP TABLE temp.pjInfoBulk")} +
           triggersBack();
}

} // namespace

// Written once: the saver asks for them at every shop.
QStringList bulkFoldStatements()
{
    static const QStringList statements = foldStatements();
    return statements;
}

const char* bulkNewDuplicatesSql()
{
    return "DELETE FROM pjInfo WHERE id>(SELECT start FROM temp.pjInfoBulk) AND EXISTS (SELECT 1 FROM pjInfo "
           "p "
           "WHERE p.dian_id=pjInfo.dian_id AND p.itemId_pjsj=pjInfo.itemId_pjsj AND p.id<pjInfo.id)";
}

QStringList bulkShopGoneStatements()
{
    return QStringList{QStringLiteral("DELETE FROM pjInfoTally WHERE dian_id=:dian_id"),
                       QStringLiteral("DELETE FROM pjInfoHourTally WHERE dian_id=:dian_id"),
                       QStringLiteral("DROP TABLE temp.pjInfoBulk")} +
           triggersBack();
}

const char* hourKeySql()
{
    return "substr(pjsj,1,13)";
}

ColumnType columnType(const QString& column)
{
    static const QHash<QString, ColumnType> types = buildTypes();
    QString name = column.mid(column.lastIndexOf(u'.') + 1).toLower();
    return types.value(name, ColumnType::Unknown);
}

const QStringList& dianBaseColumns()
{
    static const QStringList cols = names(std::begin(kDianBase), std::end(kDianBase));
    return cols;
}

const QStringList& pjInfoColumns()
{
    static const QStringList cols = names(std::begin(kPjInfo), std::end(kPjInfo));
    return cols;
}

const QList<QPair<QString, ColumnType>>& columns(const QString& table)
{
    auto typed = [](const Column* begin, const Column* end) {
        QList<QPair<QString, ColumnType>> out;
        for (const Column* c = begin; c != end; ++c)
            out.append({QString::fromLatin1(c->name), c->type});
        return out;
    };
    static const QList<QPair<QString, ColumnType>> dianBase =
        typed(std::begin(kDianBase), std::end(kDianBase));
    static const QList<QPair<QString, ColumnType>> pjInfo = typed(std::begin(kPjInfo), std::end(kPjInfo));
    static const QList<QPair<QString, ColumnType>> none;
    if (table.compare(QLatin1String("dianBase"), Qt::CaseInsensitive) == 0)
        return dianBase;
    if (table.compare(QLatin1String("pjInfo"), Qt::CaseInsensitive) == 0)
        return pjInfo;
    return none;
}

const QList<SchemaObject>& objects()
{
    static const QList<SchemaObject> all = [] {
        QList<SchemaObject> s;
        auto add = [&s](const char* type, const char* name, const QString& sql) {
            s.append({QLatin1String(type), QLatin1String(name), sql});
        };
        add("table", "dianBase", createTable("dianBase", std::begin(kDianBase), std::end(kDianBase)));
        add("table", "pjInfo", createTable("pjInfo", std::begin(kPjInfo), std::end(kPjInfo)));
        add("view", "dianBaseSort", QStringLiteral("CREATE VIEW dianBaseSort AS SELECT * FROM dianBase"));
        // The browser deletes and edits the current shop through the view.
        add("trigger", "dianBaseSort_delete",
            QStringLiteral("CREATE TRIGGER dianBaseSort_delete INSTEAD OF DELETE ON dianBaseSort "
                           "BEGIN DELETE FROM dianBase WHERE id = old.id; END"));
        QStringList sets;
        for (const QString& c : names(std::begin(kDianBase), std::end(kDianBase)))
            if (c != QLatin1String("id"))
                sets << QStringLiteral("%1 = new.%1").arg(c);
        add("trigger", "dianBaseSort_update",
            QStringLiteral("CREATE TRIGGER dianBaseSort_update INSTEAD OF UPDATE ON dianBaseSort "
                           "BEGIN UPDATE dianBase SET %1 WHERE id = old.id; END")
                .arg(sets.join(QStringLiteral(", "))));
        add("index", "pjInfo_shop_item_time",
            QStringLiteral("CREATE INDEX pjInfo_shop_item_time ON pjInfo(dian_id, itemId_pjsj)"));
        add("index", "dianBase_webaddr",
            QStringLiteral("CREATE INDEX dianBase_webaddr ON dianBase(webaddr)"));
        addAnalysisKeys(s);
        addAnalysisTally(s);
        addRunRecordObjects(s);
        addQueueObjects(s);
        s.append(history::fileObjects());
        return s;
    }();
    return all;
}

const QList<SchemaObject>& addedColumns()
{
    static const QList<SchemaObject> all = [] {
        QList<SchemaObject> s;
        for (const char* c : {"miningRun.serverUser TEXT", "miningRun.machine TEXT",
                              "miningRunShop.newRatings INTEGER NOT NULL DEFAULT 0",
                              "shopQueue.serverUser TEXT", "shopQueue.machine TEXT"}) {
            const QString text = QLatin1String(c);
            const QString name = text.section(u' ', 0, 0);
            s.append({QStringLiteral("column"), name,
                      QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 %3")
                          .arg(name.section(u'.', 0, 0), name.section(u'.', 1), text.section(u' ', 1))});
        }
        return s;
    }();
    return all;
}

const QStringList& createStatements()
{
    static const QStringList statements = [] {
        QStringList s;
        for (const SchemaObject& o : objects())
            s << o.sql;
        return s;
    }();
    return statements;
}

} // namespace schema
