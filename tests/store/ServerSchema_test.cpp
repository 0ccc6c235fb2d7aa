// The schema on a real server: created on an empty database, every piece found, a damaged
// one found missing and mended; and the server's date functions giving exactly the answers
// of the file's own for every day of several years.
#include "store/PgServer.h"
#include "store/Schema.h"
#include "store/ServerSchema.h"
#include "store/SqlFunctions.h"

#include <QDate>
#include <QSet>
#include <gtest/gtest.h>
#include <sqlite3.h>

namespace {

#define SKIP_WITHOUT_SERVER(server)                                                                          \
    if (!(server).skipReason().isEmpty())                                                                    \
    GTEST_SKIP() << (server).skipReason().toStdString()

QString createSql()
{
    QStringList statements;
    for (const serverschema::Piece& p : serverschema::objects())
        if (p.type != QLatin1String("column"))
            statements << p.sql;
    return statements.join(QStringLiteral(";\n"));
}

QSet<QString> allPieces()
{
    QSet<QString> out;
    for (const serverschema::Piece& p : serverschema::objects())
        out << p.type + u'|' + p.name;
    return out;
}

QSet<QString> presentPieces(const PgServer& server)
{
    QString out;
    EXPECT_EQ(server.psql(serverschema::presentPiecesSql(), &out), 0) << out.toStdString();
    QSet<QString> rows;
    for (const QString& line : out.split(u'\n', Qt::SkipEmptyParts))
        rows << line;
    return rows;
}

const serverschema::Piece& piece(const QString& name)
{
    for (const serverschema::Piece& p : serverschema::objects())
        if (p.name == name)
            return p;
    static const serverschema::Piece none;
    ADD_FAILURE() << "no piece " << name.toStdString();
    return none;
}

TEST(ServerSchema, HoldsTheFilesTablesViewAndIndexesAfterItsFunctions)
{
    QStringList fileNames;
    // The file's triggers and its ranking counts stay on the file; the server deletes a shop's
    // history with a trigger of the same name.
    for (const schema::SchemaObject& o : schema::objects())
        if ((o.type != QLatin1String("trigger") || o.name == QLatin1String("dianBase_history_delete")) &&
            !o.name.startsWith(QLatin1String("pjInfoTally")) && o.name != QLatin1String("pjInfoHourTally"))
            fileNames << o.type + u'|' + o.name;
    QStringList serverNames, tallies;
    bool functionsDone = false;
    for (const serverschema::Piece& p : serverschema::objects()) {
        if (p.type == QLatin1String("function")) {
            EXPECT_FALSE(functionsDone) << "function after the tables: " << p.name.toStdString();
            continue;
        }
        functionsDone = true;
        // The server's own tallies come last, after the table they count.
        if (p.name.contains(QLatin1String("Tally")) || p.name.contains(QLatin1String("_tally_")))
            tallies << p.type + u'|' + p.name;
        else if (p.type != QLatin1String("column"))
            serverNames << p.type + u'|' + p.name;
        else
            EXPECT_TRUE(tallies.isEmpty()) << p.name.toStdString();
    }
    EXPECT_EQ(serverNames, fileNames);
    EXPECT_EQ(tallies,
              QStringList({"table|pjInfoRankTally", "table|pjInfoHourTally", "column|pjInfoHourTally.units",
                           "table|pjInfoTallyPending",
                           "trigger|pjInfoTallyPending_fold", "trigger|pjInfo_tally_insert",
                           "trigger|pjInfo_tally_delete", "trigger|pjInfo_tally_update"}));
    // Each column of the two main tables can be added back on its own.
    for (const QString& table : {QStringLiteral("dianBase"), QStringLiteral("pjInfo")})
        for (const auto& column : schema::columns(table))
            EXPECT_TRUE(allPieces().contains(QStringLiteral("column|") + table + u'.' + column.first))
                << column.first.toStdString();
}

TEST(ServerSchemaOnServer, AFreshDatabaseHasEveryPieceAndADamagedOneIsMended)
{
    PgServer server;
    SKIP_WITHOUT_SERVER(server);
    ASSERT_TRUE(server.running()) << server.error().toStdString();
    EXPECT_TRUE(presentPieces(server).isEmpty());
    QString out;
    ASSERT_EQ(server.psql(createSql(), &out), 0) << out.toStdString();
    ASSERT_EQ(presentPieces(server), allPieces());

    // Function pieces can be run again over themselves.
    ASSERT_EQ(server.psql(piece("k_format(timestamp,text)").sql, &out), 0) << out.toStdString();

    // A column the view reads goes with the view; an index, a function and a queue index
    // go alone.
    ASSERT_EQ(server.psql(
                  "ALTER TABLE dianBase DROP COLUMN loc CASCADE; ALTER TABLE pjInfo DROP COLUMN jg CASCADE; "
                  "DROP INDEX dianBase_webaddr; DROP FUNCTION k_hour(timestamp); DROP INDEX shopQueue_open",
                  &out),
              0)
        << out.toStdString();
    const QSet<QString> missing{
        "column|dianBase.loc",    "view|dianBaseSort",          "column|pjInfo.jg",
        "index|pjInfo_shop_itemkey",
        "index|dianBase_webaddr", "function|k_hour(timestamp)", "index|shopQueue_open"};
    EXPECT_EQ(allPieces() - presentPieces(server), missing);
    EXPECT_TRUE((presentPieces(server) - allPieces()).isEmpty());
    // Mended in creation order, missing pieces only.
    const QSet<QString> present = presentPieces(server);
    for (const serverschema::Piece& p : serverschema::objects()) {
        if (!present.contains(p.type + u'|' + p.name)) {
            ASSERT_EQ(server.psql(p.sql, &out), 0) << p.name.toStdString() << ": " << out.toStdString();
        }
    }
    EXPECT_EQ(presentPieces(server), allPieces());

    // A table dropped whole is found missing with its columns (the open makes it anew with
    // them, and adds no column to it).
    ASSERT_EQ(server.psql("DROP TABLE miningRunShop", &out), 0) << out.toStdString();
    EXPECT_EQ(allPieces() - presentPieces(server),
              (QSet<QString>{"table|miningRunShop", "column|miningRunShop.newRatings"}));
}

TEST(ServerSchemaOnServer, TheTablesBehaveAsTheFilesDo)
{
    PgServer server;
    SKIP_WITHOUT_SERVER(server);
    ASSERT_TRUE(server.running()) << server.error().toStdString();
    QString out;
    ASSERT_EQ(server.psql(createSql(), &out), 0) << out.toStdString();
    // Ids come by themselves and lastval() names the last; the view edits and deletes its
    // table.
    ASSERT_EQ(server.psql("insert into dianBase(dianming, webaddr) values ('b', 'u1'), ('a', 'u2'); "
                          "insert into miningRun(started, state) values ('1', 'running'); select lastval()",
                          &out),
              0)
        << out.toStdString();
    EXPECT_EQ(out, "1");
    ASSERT_EQ(
        server.psql(
            "update dianBaseSort set dianming = 'Z' where id = 1; delete from dianBaseSort where id = 2; "
            "select id, dianming from dianBase",
            &out),
        0)
        << out.toStdString();
    EXPECT_EQ(out, "1|Z");
    // Texts compare by their bytes: capitals before small letters, as in the file.
    ASSERT_EQ(server.psql("insert into dianBase(dianming) values ('a'), ('B'), ('é'); "
                          "select string_agg(dianming, ',' order by dianming) from dianBase",
                          &out),
              0);
    EXPECT_EQ(out, "B,Z,a,é");
    // One waiting entry per shop, any number of finished ones.
    const QString add =
        QStringLiteral("insert into shopQueue(webaddr, fromRecord, toRecord, newOnly, state) values "
                       "('u', 0, 0, 0, '%1')");
    EXPECT_EQ(server.psql(add.arg("done") + u';' + add.arg("done") + u';' + add.arg("waiting"), &out), 0)
        << out.toStdString();
    EXPECT_NE(server.psql(add.arg("claimed"), &out), 0);
    EXPECT_TRUE(out.contains("shopqueue_open")) << out.toStdString();
}

// The expressions compared, in the file's spelling; the server's is made from it.
const char* const kExpressions[] = {
    "format(%1,'yyyy-mm-dd')",
    "format(%1,'yyyy-mm')",
    "format(%1,'yyyy')",
    "format(%1,'YYYY-MM-DD')",
    "format(%1,'yyyy-mm-dd hh:mm:ss')",
    "format(%1,'yy/mm/dd hh:nn:ss, mm dd yyyy')",
    "format(%1,'第q季 Hh时')",
    "datePart('ww',%1)",
    "datePart('q',%1)",
    "datePart('WW',%1)",
    "datePart('yyyy',%1)",
    "datePart('m',%1)",
    "datePart('d',%1)",
    "datePart('y',%1)",
    "datePart('w',%1)",
    "datePart('h',%1)",
    "datePart('n',%1)",
    "datePart('s',%1)",
    "hour(%1)",
    "substr(%1,1,13)",
    "substr(%1,12,8)",
};

QString serverExpression(const char* fileForm, const QString& argument)
{
    QString e = QString::fromLatin1(fileForm).arg(argument);
    e.replace(QLatin1String("format("), QLatin1String("k_format("));
    e.replace(QLatin1String("datePart("), QLatin1String("k_datepart("));
    e.replace(QLatin1String("hour("), QLatin1String("k_hour("));
    return e;
}

// Each stamp's values on the file's engine, '|'-joined, NULL as "" (as psql prints them).
QStringList fileValues(const QStringList& stamps, const QStringList& expressions)
{
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
    EXPECT_TRUE(sqlfunctions::registerAll(db));
    const QString sql = QStringLiteral("select ") + expressions.join(u',');
    sqlite3_stmt* st = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &st, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
    QStringList rows;
    for (const QString& stamp : stamps) {
        sqlite3_reset(st);
        const QByteArray bytes = stamp.toUtf8();
        if (stamp == QLatin1String("NULL"))
            sqlite3_bind_null(st, 1);
        else
            sqlite3_bind_text(st, 1, bytes.constData(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
        EXPECT_EQ(sqlite3_step(st), SQLITE_ROW) << sqlite3_errmsg(db);
        QStringList values;
        for (int c = 0; c < sqlite3_column_count(st); ++c) {
            const unsigned char* text = sqlite3_column_text(st, c);
            values << (text ? QString::fromUtf8(reinterpret_cast<const char*>(text)) : QString());
        }
        rows << values.join(u'|');
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return rows;
}

TEST(ServerSchemaOnServer, DateFunctionsAnswerAsTheFilesForEveryDayOfSixYears)
{
    PgServer server;
    SKIP_WITHOUT_SERVER(server);
    ASSERT_TRUE(server.running()) << server.error().toStdString();
    QString out;
    ASSERT_EQ(server.psql(createSql(), &out), 0) << out.toStdString();

    QStringList fileForms;
    QStringList serverForms;
    for (const char* e : kExpressions) {
        fileForms << QString::fromLatin1(e).arg(QLatin1String("?1"));
        serverForms << serverExpression(e, QStringLiteral("t"));
    }
    const QStringList times{"00:00:00", "08:05:09", "23:59:59"};
    QStringList stamps;
    for (QDate d(2019, 12, 25); d <= QDate(2026, 1, 10); d = d.addDays(1))
        for (const QString& time : times)
            stamps << d.toString(Qt::ISODate) + u' ' + time;
    ASSERT_EQ(
        server.psql(
            QStringLiteral("select %1 from (select d + tm as t from generate_series('2019-12-25'::timestamp, "
                           "'2026-01-10', '1 day') d, (values ('00:00:00'::interval), ('08:05:09'), "
                           "('23:59:59')) v(tm)) x order by t")
                .arg(serverForms.join(u',')),
            &out),
        0)
        << out.toStdString();
    const QStringList serverRows = out.split(u'\n');
    const QStringList fileRows = fileValues(stamps, fileForms);
    ASSERT_EQ(serverRows.size(), stamps.size());
    int differing = 0;
    for (qsizetype i = 0; i < stamps.size(); ++i)
        if (serverRows[i] != fileRows[i] && ++differing <= 5)
            ADD_FAILURE() << stamps[i].toStdString() << "\n  server " << serverRows[i].toStdString()
                          << "\n  file   " << fileRows[i].toStdString();
    EXPECT_EQ(differing, 0) << "of " << stamps.size() << " stamps";
    // The table's columns hold what the file's would: the index key is the stamp's hour.
    EXPECT_EQ(fileRows[1].section(u'|', 19, 19), QStringLiteral("2019-12-25 08"));
}

TEST(ServerSchemaOnServer, TimesHeldAsTextAreReadAsTheFileReadsThem)
{
    PgServer server;
    SKIP_WITHOUT_SERVER(server);
    ASSERT_TRUE(server.running()) << server.error().toStdString();
    QString out;
    ASSERT_EQ(server.psql(createSql(), &out), 0) << out.toStdString();
    const QStringList stamps{"2024-02-29 13:45:07",
                             "2024-02-29",
                             "2024-02-29 1x:00:00",
                             "2024-02-29T13:45:07",
                             "2024-2-29",
                             "garbage",
                             "",
                             "NULL",
                             "2024-02-29 13:45:07.5 extra"};
    const QStringList patterns{"yyyy-mm-dd", "yyyy-MM", "yyyy", "hh:mm:ss dd", "nn", ""};
    QStringList fileForms;
    QStringList serverForms;
    for (const QString& p : patterns) {
        fileForms << QStringLiteral("format(?1,'%1')").arg(p);
        serverForms << QStringLiteral("k_format(s,'%1')").arg(p);
    }
    fileForms << QStringLiteral("format(?1,NULL)");
    serverForms << QStringLiteral("k_format(s,NULL)");
    QStringList values;
    for (qsizetype i = 0; i < stamps.size(); ++i)
        values << QStringLiteral("(%1, %2)")
                      .arg(i)
                      .arg(stamps[i] == QLatin1String("NULL") ? stamps[i] : u'\'' + stamps[i] + u'\'');
    ASSERT_EQ(server.psql(QStringLiteral("select %1 from (values %2) v(n, s) order by n")
                              .arg(serverForms.join(u','), values.join(u',')),
                          &out),
              0)
        << out.toStdString();
    EXPECT_EQ(out.split(u'\n'), fileValues(stamps, fileForms));
    // An interval the file does not know is an error on both.
    EXPECT_NE(server.psql("select k_datepart('qq', now()::timestamp)", &out), 0);
    EXPECT_TRUE(out.contains("datePart: unknown interval")) << out.toStdString();
}

} // namespace
