// The program's statements as server text: each rewrite rule on its own, the result column
// names, and every statement the program sends prepared and run on a real server.
#include "store/PgDialect.h"
#include "store/PgServer.h"
#include "store/ServerSchema.h"
#include "store/SqlDialect.h"

#include <gtest/gtest.h>

namespace {

using pgdialect::rewrite;

QString sqlOf(const QString& text)
{
    return rewrite(text).sql;
}

TEST(PgDialect, ParametersBecomeNumberedPlaceholdersOnePerName)
{
    auto s = rewrite("update t set a=:Dian_Id, b=:x where c=:dian_id and d=? and e=?");
    EXPECT_EQ(s.sql, "update t set a=$1, b=$2 where c=$1 and d=$3 and e=$4");
    EXPECT_EQ(s.parameters, QStringList({"dian_id", "x", "", ""}));
    // Casts, colons in texts, quoted names and comments are not parameters.
    s = rewrite("select a::text, ':x', \"b:y\", '?' -- :z ?\n from t /* :w ? */ where c = :c");
    EXPECT_EQ(s.sql, "select a::text, ':x', \"b:y\", '?' -- :z ?\n from t /* :w ? */ where c = $1");
    EXPECT_EQ(s.parameters, QStringList({"c"}));
    // A doubled quote stays inside its text.
    s = rewrite("select 'it''s :no' from t where a=:yes");
    EXPECT_EQ(s.sql, "select 'it''s :no' from t where a=$1");
    EXPECT_EQ(s.parameters, QStringList({"yes"}));
    EXPECT_TRUE(rewrite("select 1").parameters.isEmpty());
}

TEST(PgDialect, LikeIgnoresCaseWithoutAnEscapeCharacter)
{
    EXPECT_EQ(sqlOf("select * from t where pjName like :p and a=1"),
              "select * from t where pjName ilike $1 ESCAPE '' and a=1");
    EXPECT_EQ(sqlOf("select * from t where a.x NOT LIKE '%a\\b%'"),
              "select * from t where a.x NOT ILIKE '%a\\b%' ESCAPE ''");
    EXPECT_EQ(sqlOf("select * from t where x like '%' || :p || '%' order by id"),
              "select * from t where x ilike '%' || $1 || '%' ESCAPE '' order by id");
    EXPECT_EQ(sqlOf("select * from t where x like lower(y) or x like (z)"),
              "select * from t where x ilike lower(y) ESCAPE '' or x ilike (z) ESCAPE ''");
    // A named escape character is kept.
    EXPECT_EQ(sqlOf("SELECT id FROM t WHERE pjName LIKE ? ESCAPE '\\' AND jg >= ?"),
              "SELECT id FROM t WHERE pjName ILIKE $1 ESCAPE '\\' AND jg >= $2");
    EXPECT_EQ(sqlOf("select 'a like b', likely from t"), "select 'a like b', likely from t");
}

TEST(PgDialect, DateAndRowFunctionsBecomeTheServerSchemasOwn)
{
    EXPECT_EQ(sqlOf("select (Format(pjsj,'yyyy-mm')) as time1, datePart ('ww',pjsj), HOUR(pjsj), hour "
                    "from pjinfo group by format(pjsj,'yyyy-mm')"),
              "select (k_format(pjsj,'yyyy-mm')) as time1, k_datepart ('ww',pjsj), k_hour(pjsj), hour "
              "from pjinfo group by k_format(pjsj,'yyyy-mm')");
    EXPECT_EQ(sqlOf("select last_insert_rowid()"), "select lastval()");
    EXPECT_EQ(sqlOf("select ifnull(a, 0), substr(pjsj,1,13), t.format(x), 'format(x)' from t"),
              "select coalesce(a, 0), substr(pjsj,1,13), t.format(x), 'format(x)' from t");
    EXPECT_EQ(sqlOf("SELECT itemId FROM pjInfo WHERE itemId IN (SELECT value FROM json_each(?))"),
              "SELECT itemId FROM pjInfo WHERE itemId IN (SELECT value FROM k_json_each($1))");
}

TEST(PgDialect, OrderByKeysPlaceNullsAsSqliteDoes)
{
    EXPECT_EQ(sqlOf("select a from t order by sum(jg) desc,count(itemId) desc"),
              "select a from t order by sum(jg) desc NULLS LAST,count(itemId) desc NULLS LAST");
    EXPECT_EQ(sqlOf("select a from t order by a, b ASC , c nulls last LIMIT 5"),
              "select a from t order by a NULLS FIRST, b ASC NULLS FIRST , c nulls last LIMIT 5");
    // Keys with brackets and commas inside, a subquery's own list, and the end of a list at
    // its bracket, at FOR UPDATE and at a semicolon.
    EXPECT_EQ(sqlOf("select x from (select a from t order by coalesce(a, 1) desc) s order by "
                    "(k_format(pjsj,'yyyy-mm'));"),
              "select x from (select a from t order by coalesce(a, 1) desc NULLS LAST) s order by "
              "(k_format(pjsj,'yyyy-mm')) NULLS FIRST;");
    EXPECT_EQ(
        sqlOf("update q set s=1 where id = (select id from q where s=0 order by added limit 1 for "
              "update skip locked)"),
        "update q set s=1 where id = (select id from q where s=0 order by added NULLS FIRST limit 1 for "
        "update skip locked)");
    // A primary key is never NULL and stays as written, so its index gives the order.
    EXPECT_EQ(sqlOf("SELECT id FROM pjInfo ORDER BY pjName DESC, id"),
              "SELECT id FROM pjInfo ORDER BY pjName DESC NULLS LAST, id");
    EXPECT_EQ(sqlOf("select * from t order by t.id desc"), "select * from t order by t.id desc");
    EXPECT_EQ(sqlOf("select rank() over (partition by a order by b) from t"),
              "select rank() over (partition by a order by b NULLS FIRST) from t");
    EXPECT_EQ(sqlOf("select 'order by x' from t -- order by y\n"),
              "select 'order by x' from t -- order by y\n");
}

TEST(PgDialect, GroupedRowsThatTieComeInTheOrderOfTheirGroups)
{
    EXPECT_EQ(sqlOf("select count(itemId) as num,itemTitle from pjinfo where x=:a group by itemtitle,itemid,"
                    "coalesce(jg, 1) order by count(itemId) desc,sum(jg) limit 5"),
              "select count(itemId) as num,itemTitle from pjinfo where x=$1 group by itemtitle,itemid,"
              "coalesce(jg, 1) order by count(itemId) desc NULLS LAST,sum(jg) NULLS FIRST,itemtitle NULLS "
              "FIRST,itemid NULLS FIRST,coalesce(jg, 1) NULLS FIRST limit 5");
    // Only the select that groups; a subquery's groups stay inside its brackets.
    EXPECT_EQ(sqlOf("select a from (select a from t group by a) s order by a"),
              "select a from (select a from t group by a) s order by a NULLS FIRST");
    EXPECT_EQ(
        sqlOf("select sum(jg) from t group by (format(pjsj,'yyyy')) having count(*) > 1 order by 1 desc"),
        "select sum(jg) from t group by (k_format(pjsj,'yyyy')) having count(*) > 1 order by 1 desc NULLS "
        "LAST,(k_format(pjsj,'yyyy')) NULLS FIRST");
}

TEST(PgDialect, AUnaryPlusIsDroppedAndEverythingElseStays)
{
    EXPECT_EQ(sqlOf("select a+b, a + +b from t where +pjsj>=:b and (+pjsj<=:e) and x = +1"),
              "select a+b, a + b from t where pjsj>=$1 and (pjsj<=$2) and x = +1");
    const QString plain =
        QStringLiteral("delete from pjinfo where itemId_pjsj  in \n (select itemId_pjsj from "
                       "pjinfo group by \n itemId_pjsj having count(*)>1)");
    EXPECT_EQ(sqlOf(plain), plain);
    const QString chinese = QStringLiteral("select * from t where pj = '好评' and \"列\" = 2");
    EXPECT_EQ(sqlOf(chinese), chinese);
    EXPECT_EQ(sqlOf("select $$it's :x$$, $q$?$q$ from t"), "select $$it's :x$$, $q$?$q$ from t");
}

TEST(PgDialect, ColumnNamesAreSqlitesNames)
{
    using pgdialect::columnNames;
    // Aliases as written, columns in their declared case without the table, expressions as
    // written.
    EXPECT_EQ(columnNames("select  sum(jg) as totalAmount,count(itemId) as num,(format(pjsj,'yyyy-mm-dd')) "
                          "as time1 from pjinfo",
                          {"totalamount", "num", "time1"}),
              QStringList({"totalAmount", "num", "time1"}));
    EXPECT_EQ(columnNames("select top 1 count(*) as num,(format(pjsj,'yyyy-mm-dd')) from pjinfo",
                          {"num", "k_format"}),
              QStringList({"num", "(format(pjsj,'yyyy-mm-dd'))"}));
    EXPECT_EQ(columnNames("select dian_id,sum(jg),count(itemId),count( * ), substr(pjsj,1,13) from pjinfo",
                          {"dian_id", "sum", "count", "count", "substr"}),
              QStringList({"dian_id", "sum(jg)", "count(itemId)", "count( * )", "substr(pjsj,1,13)"}));
    EXPECT_EQ(columnNames("select a.itemid, pjinfo.BUYERORSALER, x \"Quoted\", jg price, "
                          "case when a then b end from pjinfo a",
                          {"itemid", "buyerorsaler", "Quoted", "price", "case"}),
              QStringList({"itemId", "buyerOrSaler", "Quoted", "price", "case when a then b end"}));
    EXPECT_EQ(
        columnNames("select id, fromrecord, LeaseUntil from shopQueue", {"id", "fromrecord", "leaseuntil"}),
        QStringList({"id", "fromRecord", "leaseUntil"}));
    // Stars give each column in its declared case; unknown names stay.
    EXPECT_EQ(columnNames("select * from dianbase where webaddr=:w", {"id", "dianzhu", "buylevel", "extra"}),
              QStringList({"id", "dianzhu", "buylevel", "extra"}));
    EXPECT_EQ(columnNames("select 1 as one, p.*, 2 from pjinfo p", {"one", "itemid", "pjinfo", "?column?"}),
              QStringList({"one", "itemId", "pjInfo", "2"}));
    EXPECT_EQ(columnNames("with x as (select a, b from t) select x.a from x", {"a"}), QStringList({"a"}));
    EXPECT_EQ(columnNames("select (select max(id) from t), 'a,b' from t", {"max", "?column?"}),
              QStringList({"(select max(id) from t)", "'a,b'"}));
    // Lists that do not match the server's names, and statements without one.
    EXPECT_EQ(columnNames("select a, b from t", {"a"}), QStringList({"a"}));
    EXPECT_EQ(columnNames("select *, x, * from t", {"a", "x", "b"}), QStringList({"a", "x", "b"}));
    EXPECT_EQ(columnNames("update t set a=1 returning id", {"id"}), QStringList({"id"}));
}

TEST(PgDialect, TimeParametersAreTypedAndABareDateComparesAsOnTheFile)
{
    const QString sql =
        QStringLiteral("select substr(:beginDate,1,13) from pjinfo where +pjsj>:beginDate and "
                       "dian_id=:dianId and buyerOrSaler=:b and jg>=:low and pj=? and x=:other");
    const pgdialect::Statement s = rewrite(sql);
    EXPECT_EQ(pgdialect::parameterTypes(sql, s),
              QStringList({"timestamp", "bigint", "boolean", "double precision", "", ""}));
    // The instant before midnight: later than nothing of the day before, earlier than all of
    // the day itself, equal to no stored time.
    EXPECT_EQ(pgdialect::timestampValue("2024-03-01"), "2024-02-29 23:59:59.999999");
    EXPECT_EQ(pgdialect::timestampValue("2026-01-01"), "2025-12-31 23:59:59.999999");
    for (const char* kept : {"2024-03-01 10:00:00", "2024-3-1", "2024-02-30", "today", ""})
        EXPECT_EQ(pgdialect::timestampValue(kept), kept);
}

// ---- Every statement the program sends, on a server with the schema ----

struct Sent
{
    const char* where; // the program's source of the text
    const char* sql;
    QStringList values;   // one SQL literal per '?', in order
    const char* before{}; // run first, in the same session
};

// Literal values for the parameters, chosen by their names; '?' ones come in `Sent::values`.
QString valueFor(const QString& name)
{
    static const QHash<QString, QString> byName{
        {"begindate", "'2024-01-01'"},
        {"enddate", "'2024-12-31 23:59:59'"},
        {"pjsj", "'2024-05-06 07:08:09'"},
        {"updatedate", "'2024-05-06 07:08:09'"},
        {"spj", "'好评'"},
        {"pj", "'好评'"},
        {"buyerorsaler", "'1'"},
        {"webaddr", "'http://shop.example/1'"},
        {"state", "'waiting'"},
        {"jg", "'12.5'"},
        {"key", "'i1 2024-05-06 07:08:09'"},
        {"itemid_pjsj", "'i1 x'"},
        {"worker", "'w1'"},
        {"reason", "'gone'"},
        {"texts", "'a\tb'"},
        {"started", "'1700000000'"},
        {"ended", "'1700000100'"},
        {"error", "NULL"},
        {"createdate", "'2010-01-01'"},
        {"salergoodrate", "'99.1%'"},
        {"buyergoodrate", "'98%'"},
        {"dianzhu", "'掌柜'"},
        {"addr", "'城'"},
        {"dianming", "'店'"},
        {"loc", "'城'"},
        {"commoditykind", "'书'"},
        {"itemid", "'i1'"},
        {"itemtitle", "'书名'"},
        {"pjname", "'买家'"},
        {"pjinfo", "'好'"},
        {"pjjs", "'解释'"},
        {"trade_id", "'t1'"},
    };
    return byName.value(name, QStringLiteral("'1'"));
}

const std::vector<Sent>& sentStatements()
{
    static const std::vector<Sent> all{
        {"TfrmIndex/CmdInfo", "select count(*) as recordNum from dianBase", {}},
        {"TfrmIndex/CmdInfo",
         "select count(*) as recordNum from pjInfo inner join dianBase on pjInfo.dian_id=dianBase.id",
         {}},
        {"TfrmViewUser", "delete from pjInfo where dian_id=:dian_id", {}},
        {"TDM",
         "select top 5 dian_id,itemId,sum(jg) as totalAmount from pjinfo group by dian_id,itemId order by "
         "sum(jg) desc",
         {}},
        {"TSaveBarGain",
         "update dianBase set buyLevel=:buyLevel,buyerCredit=:buyerCredit,saleLevel=:saleLevel,"
         "salerCredit=:salerCredit,createDate=:createDate, buyerGood=:buyerGood,buyerNotBad=:buyerNotBad,"
         "buyerBad=:buyerBad,salerGood=:salerGood,salerNotBad=:salerNotBad,salerBad=:salerBad,"
         "salerGoodRate=:salerGoodRate,buyerGoodRate=:buyerGoodRate where id=:Id",
         {}},
        {"TSaveBarGain",
         "insert into "
         "pjinfo(dian_id,pj,buyerorSaler,pjsj,trade_id,itemid,itemtitle,pjName,jg,pjinfo,pjjs,itemId_pjsj)  "
         "values(:dianId,:pj,:buyerorSaler,:pjsj,:trade_id,:itemid,:itemtitle,:pjName,:jg,:pjinfo,:pjjs,:"
         "itemId_"
         "pjsj)",
         {}},
        {"TSaveBarGain",
         "delete from pjinfo where itemId_pjsj  in \n"
         " (select itemId_pjsj from pjinfo where dian_id=:dian_id1 group by \n"
         " itemId_pjsj having count(*)>1)  and id \n"
         " not in (select min(id) from pjinfo where  dian_id=:dian_id2 group by itemId_pjsj\n"
         "  having count(*)>1) and dian_id=:dian_id3 ",
         {}},
        {"TMiningRun", "select count(*) from dianbase where id=:id", {}},
        {"TMiningRun/CmdWork/CmdSearch", "select * from dianbase where webaddr=:webaddr", {}},
        {"TMiningRun",
         "update dianbase set dianzhu=:dianzhu,addr=:addr,dianming=:dianming,"
         "commodityNum=:commodityNum,loc=:loc,updateDate=:updateDate,"
         "commodityKind=:commodityKind where webaddr=:webaddr",
         {}},
        {"TMiningRun",
         "insert into dianbase(dianzhu,addr,dianming,commodityNum,loc,updateDate,"
         "commodityKind,webaddr) values(:dianzhu,:addr,:dianming,:commodityNum,:loc,"
         ":updateDate,:commodityKind,:webaddr)",
         {}},
        {"TMiningRun", "select id from dianbase where webaddr=:webaddr", {}},
        {"TMiningRun", "select count(distinct itemId_pjsj) from pjinfo where dian_id=:dianId", {}},
        {"TMiningRun", "select count(*) from pjinfo where dian_id=:dianId and itemId_pjsj=:key", {}},
        {"CmdAnalyze", "select id from dianBase where id=:id", {}},
        {"AnalysisRun",
         "SELECT itemId, id FROM pjInfo WHERE dian_id = ? AND itemId IN (SELECT value FROM json_each(?))",
         {"'1'", "'[\"i1\",\"i2\"]'"}},
        {"ShopQueue",
         "update shopQueue set state='claimed', worker=:worker, claimed=:claimed, leaseUntil=:leaseUntil, "
         "attempt=attempt+1 where id = (select id from shopQueue where state='waiting' or (state='claimed' "
         "and "
         "leaseUntil<=:expired) order by id limit 1 for update skip locked) returning id, attempt, webaddr, "
         "texts, fromRecord, toRecord, newOnly",
         {}},
        {"ShopQueue",
         "select id, attempt, webaddr, texts, fromRecord, toRecord, newOnly from shopQueue where "
         "state='waiting' or (state='claimed' and leaseUntil<=:expired) order by id limit 1",
         {}},
        {"ShopQueue",
         "update shopQueue set state='claimed', worker=:worker, claimed=:claimed, leaseUntil=:leaseUntil, "
         "attempt=:attempt where id=:id",
         {}},
        {"ShopQueue",
         "insert into shopQueue(webaddr, texts, fromRecord, toRecord, newOnly, state, attempt, added, "
         "stored) "
         "values(:webaddr, :texts, :fromRecord, :toRecord, :newOnly, 'waiting', 0, :added, 0) on conflict do "
         "nothing",
         {}},
        {"ShopQueue",
         "update shopQueue set leaseUntil=:leaseUntil where id=:id and attempt=:attempt and worker=:worker "
         "and state='claimed'",
         {}},
        {"ShopQueue",
         "update shopQueue set state='done', finished=:finished, stored=:stored, leaseUntil=NULL, "
         "reason=NULL "
         "where id=:id and attempt=:attempt and worker=:worker and state='claimed'",
         {}},
        {"ShopQueue",
         "update shopQueue set state='failed', finished=:finished, leaseUntil=NULL, reason=:reason where "
         "id=:id and attempt=:attempt and worker=:worker and state='claimed'",
         {}},
        {"ShopQueue",
         "update shopQueue set state='waiting', worker=NULL, claimed=NULL, leaseUntil=NULL where id=:id and "
         "attempt=:attempt and worker=:worker and state='claimed'",
         {}},
        {"ShopQueue", "select id, webaddr from shopQueue where state='failed' order by id", {}},
        {"ShopQueue",
         "select count(*) from shopQueue where webaddr=:webaddr and state in ('waiting', 'claimed')",
         {}},
        {"ShopQueue",
         "update shopQueue set state='waiting', worker=NULL, claimed=NULL, leaseUntil=NULL, finished=NULL, "
         "reason=NULL where id=:id",
         {}},
        {"ShopQueue", "delete from shopQueue where id=:id", {}},
        {"ShopQueue",
         "select state, count(*) from shopQueue where state in ('waiting', 'done') group by state",
         {}},
        {"ShopQueue",
         "select id, webaddr, worker, claimed, leaseUntil from shopQueue where state='claimed' order by id",
         {}},
        {"ShopQueue", "select id, webaddr, reason from shopQueue where state='failed' order by id", {}},
        {"RunRecords",
         "insert into miningRun(started, state, fromRecord, toRecord, newOnly) values(:started, :state, "
         ":fromRecord, :toRecord, :newOnly)",
         {}},
        {"RunRecords",
         "select last_insert_rowid()",
         {},
         "insert into miningRun(started, state) values ('1', 'running');"},
        {"RunRecords",
         "insert into miningRunShop(run_id, position, dian_id, webaddr, texts, state) values(:run, "
         ":position, "
         ":shop, :webaddr, :texts, :state)",
         {}},
        {"RunRecords",
         "update miningRunShop set state=:state, stored=:stored where run_id=:run and position=:position",
         {}},
        {"RunRecords", "update miningRun set state=:state, ended=:ended, error=:error where id=:run", {}},
        {"RunRecords",
         "select position, dian_id, webaddr, texts, state, stored from miningRunShop where run_id=:run order "
         "by "
         "position",
         {}},
        {"RunRecords",
         "select id, started, state, fromRecord, toRecord, newOnly, error from miningRun where id=:run order "
         "by id",
         {}},
        {"RunRecords",
         "select id, started, state, fromRecord, toRecord, newOnly, error from miningRun  order by id",
         {}},
        // The browser's cursors: keys in order under a filter, rows by key, a delete and an edit.
        {"TTable/FilterText",
         "SELECT id FROM dianBaseSort WHERE dianzhu LIKE ? ESCAPE '\\' AND buyLevel > ? ORDER BY dianming "
         "DESC, id",
         {"'%掌\\_柜%'", "'3'"}},
        {"TTable/FilterText",
         "SELECT id FROM pjInfo WHERE dian_id = ? AND pjName LIKE ? ESCAPE '\\' AND pj = ? AND buyerOrSaler "
         "= ? "
         "AND jg >= ? AND jg <= ? AND itemTitle LIKE ? ESCAPE '\\' ORDER BY pjsj DESC, id",
         {"'1'", "'%a%'", "'好评'", "'1'", "'100'", "'200.5'", "'%书%'"}},
        {"TTable", "SELECT id FROM pjInfo WHERE pjsj IS NULL AND itemId = ? ORDER BY id", {"'i1'"}},
        {"TTable",
         "SELECT "
         "id,dianzhu,zhuce,addr,dianming,webaddr,updateDate,buylevel,buyerCredit,salelevel,salerCredit,"
         "commodityKind,loc,buyerBad,buyerNotBad,buyerGood,salerBad,salerNotBad,salerGood,commodityNum,"
         "createDate,salerGoodRate,buyerGoodRate FROM dianBaseSort WHERE id IN (?,?,?)",
         {"'1'", "'2'", "'3'"}},
        {"TTable", "DELETE FROM dianBaseSort WHERE id = ?", {"'1'"}},
        {"TTable", "UPDATE dianBaseSort SET dianming = ?, buylevel = ? WHERE id = ?", {"'店'", "'2'", "'1'"}},
        {"TExportJob",
         "SELECT id,dian_id,pj,buyerOrSaler,pjName,itemId,itemTitle,pjsj,jg,pjInfo,pjjs,trade_id "
         "FROM pjInfo WHERE id IN (?,?)",
         {"'1'", "'2'"}},
    };
    return all;
}

QString createSchemaSql()
{
    QStringList statements;
    for (const serverschema::Piece& p : serverschema::objects())
        if (p.type != QLatin1String("column"))
            statements << p.sql;
    return statements.join(QStringLiteral(";\n"));
}

// PREPARE and EXECUTE in a transaction that is rolled back; "" when both worked, else the
// server's message.
QString prepareAndRun(const PgServer& server, const QString& programSql, const QStringList& questionValues,
                      const char* before)
{
    const pgdialect::Statement s = rewrite(dialect::rewrite(programSql));
    QStringList values;
    qsizetype question = 0;
    for (const QString& name : s.parameters)
        values << (name.isEmpty() ? questionValues.value(question++, QStringLiteral("'1'")) : valueFor(name));
    QString run = QStringLiteral("BEGIN; ") + QString::fromUtf8(before ? before : "") +
                  QStringLiteral(" PREPARE p AS ") + s.sql + QStringLiteral(";\nEXECUTE p");
    if (!values.isEmpty())
        run += u'(' + values.join(u',') + u')';
    run += QStringLiteral("; ROLLBACK");
    QString out;
    return server.psql(run, &out) == 0 ? QString() : out;
}

TEST(PgDialectServer, EveryStatementTheProgramSendsRunsOnTheServerSchema)
{
    PgServer server;
    if (!server.skipReason().isEmpty())
        GTEST_SKIP() << server.skipReason().toStdString();
    ASSERT_TRUE(server.running()) << server.error().toStdString();
    QString out;
    ASSERT_EQ(server.psql(createSchemaSql(), &out), 0) << out.toStdString();
    // Rows for the statements to find, so each plan is also run over data.
    ASSERT_EQ(
        server.psql("insert into dianBase(dianzhu, webaddr, buylevel, updateDate) values ('掌柜', "
                    "'http://shop.example/1', 5, '2024-01-02 03:04:05');"
                    "insert into pjInfo(dian_id, pj, buyerOrSaler, pjsj, jg, itemId, itemTitle, itemId_pjsj) "
                    "values (1, '好评', true, '2024-05-06 07:08:09', 150, 'i1', '书名', 'i1 x'), "
                    "(1, '好评', true, NULL, NULL, 'i1', NULL, 'i1 x')",
                    &out),
        0)
        << out.toStdString();
    for (const Sent& sent : sentStatements()) {
        const QString error = prepareAndRun(server, QString::fromUtf8(sent.sql), sent.values, sent.before);
        EXPECT_TRUE(error.isEmpty())
            << sent.where << ": " << sent.sql << "\n  as "
            << rewrite(dialect::rewrite(QString::fromUtf8(sent.sql))).sql.toStdString() << "\n  "
            << error.toStdString();
    }
}

} // namespace
