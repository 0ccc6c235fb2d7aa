// Every statement of the three analyses, in each of its forms, through the server dialect on
// a real server with the server schema: each runs, and gives the rows it gives on the file.
#include "analysis/AnalysisKeys.h"
#include "analysis/AnalysisSql.h"
#include "store/PgDialect.h"
#include "store/PgServer.h"
#include "store/Schema.h"
#include "store/ServerSchema.h"
#include "store/SqlDialect.h"
#include "store/SqlFunctions.h"

#include <QHash>
#include <gtest/gtest.h>
#include <sqlite3.h>

using namespace analysis;

namespace {

struct Form
{
    QString name;
    QString sql;
    QString fileSql = {}; // what gives its rows on the file, when the file cannot run sql
};

// The ranking's groups, counts and sums in units as the tally must give them, in its order.
QString rankCounts(const RankRequest& r)
{
    const bool rated = isRated(r.range.pj);
    return QStringLiteral("select itemTitle,itemId,jg,count(itemId) as num,dian_id,sum(k_units(jg)) as units "
                          "from pjinfo where dian_id=:dianId and buyerOrSaler=%1 and %2 group by "
                          "itemTitle,itemId,jg,dian_id order by %3,itemTitle,itemId,jg")
        .arg(r.kind == TradeKind::Bought ? QStringLiteral("false") : QStringLiteral("true"),
             rated ? QStringLiteral("pj=:spj and pjsj>=:beginDate and pjsj<=:endDate")
                   : QStringLiteral("pjsj>:beginDate and pjsj<=:endDate"),
             rankOrder(r.byAmount, QStringLiteral("units"), QStringLiteral("num")));
}

std::vector<Form> analysisStatements()
{
    std::vector<Form> out;
    for (bool rated : {false, true}) {
        const QString r = rated ? QStringLiteral(" rated") : QStringLiteral("");
        for (bool byAmount : {false, true})
            for (TradeKind kind : {TradeKind::Any, TradeKind::Sold, TradeKind::Bought}) {
                RankRequest request;
                request.range.pj = rated ? QStringLiteral("好评") : QStringLiteral("不限");
                request.top = 10;
                request.byAmount = byAmount;
                request.kind = kind;
                const QString n =
                    QStringLiteral("rank%1 amount=%2 kind=%3").arg(r).arg(byAmount).arg(int(kind));
                out.push_back({n, analysis::rankSql(request)});
                out.push_back({n + QStringLiteral(" all rows"), rankSqlAllRows(request)});
                out.push_back({n + QStringLiteral(" keys"), keys::rankSql(request)});
                // Every way of reading the ends' months beside the server's tally.
                for (int plan = 0; plan < 3; ++plan) {
                    keys::TallyPlan p;
                    p.beginInside = plan != 0;
                    p.endInside = plan == 1;
                    out.push_back({n + QStringLiteral(" tally plan=%1").arg(plan),
                                   keys::serverRankTallySql(request, p), rankCounts(request)});
                }
            }
        for (TrendPeriod p : {TrendPeriod::Day, TrendPeriod::Week, TrendPeriod::Month, TrendPeriod::Quarter,
                              TrendPeriod::Year}) {
            const TrendStatements s = trendSql(p, rated);
            const QString n = QStringLiteral("trend%1 period=%2").arg(r).arg(int(p));
            out.push_back({n + QStringLiteral(" peak amount"), s.peakAmount});
            out.push_back({n + QStringLiteral(" peak count"), s.peakCount});
            out.push_back({n + QStringLiteral(" series"), s.series});
        }
        for (DistPeriod p : {DistPeriod::Hour, DistPeriod::Month, DistPeriod::Quarter})
            out.push_back({QStringLiteral("distribution%1 period=%2").arg(r).arg(int(p)), distSql(p, rated)});
        for (bool sellerOnly : {false, true})
            for (bool tally : {false, true})
                out.push_back(
                    {QStringLiteral("buckets%1 seller=%2 tally=%3").arg(r).arg(sellerOnly).arg(tally),
                     keys::bucketSql(rated, sellerOnly, tally),
                     tally ? keys::bucketSql(rated, sellerOnly) : QString()});
    }
    return out;
}

// The bucket statements group by the shop too, which the server needs for the selected
// dian_id.
QString groupedByShop(const QString& sql)
{
    return sql;
}

bool isBuckets(const Form& form)
{
    return form.name.startsWith(QLatin1String("buckets"));
}

QString value(const QString& name)
{
    if (name == QLatin1String("begindate"))
        return QStringLiteral("2024-01-01");
    if (name == QLatin1String("enddate"))
        return QStringLiteral("2024-12-31");
    if (name == QLatin1String("spj"))
        return QStringLiteral("好评");
    // The months of the range's ends for the server's tally.
    static const QHash<QString, QString> months{{"firstmonth", "2024-01"},
                                                {"firststart", "2024-01-01 00:00:00"},
                                                {"firstafter", "2024-02-01 00:00:00"},
                                                {"lastmonth", "2024-12"},
                                                {"laststart", "2024-12-01 00:00:00"},
                                                {"lastafter", "2025-01-01 00:00:00"},
                                                {"beginfrom", "2023-12-31 23:00:00"},
                                                {"beginnext", "2024-01-01 01:00:00"},
                                                {"endfrom", "2024-12-30 23:00:00"},
                                                {"endnext", "2024-12-31 01:00:00"}};
    if (months.contains(name))
        return months.value(name);
    return QStringLiteral("1");
}

QString quoted(const QString& text)
{
    return u'\'' + QString(text).replace(u'\'', QLatin1String("''")) + u'\'';
}

// PREPARE (typed as parameterTypes says, or left to the server) and EXECUTE.
QString serverRun(const QString& programSql, bool typed)
{
    const QString sql = dialect::rewrite(programSql);
    const pgdialect::Statement s = pgdialect::rewrite(sql);
    const QStringList types = pgdialect::parameterTypes(sql, s);
    QStringList values;
    QStringList declared;
    for (qsizetype i = 0; i < s.parameters.size(); ++i) {
        const QString v = value(s.parameters[i]);
        values << quoted(typed && types[i] == QLatin1String("timestamp") ? pgdialect::timestampValue(v) : v);
        declared << (types[i].isEmpty() ? QStringLiteral("unknown") : types[i]);
    }
    return QStringLiteral("PREPARE p%1 AS %2;\nEXECUTE p(%3)")
        .arg(typed ? u'(' + declared.join(u',') + u')' : QString(), s.sql, values.join(u','));
}

// Some ratings of shop 1 around the range 2024-01-01 .. 2024-12-31, its midnights included,
// and one of another shop.
const char kRatings[] = "insert into pjInfo(dian_id, pj, buyerOrSaler, pjsj, jg, itemId, itemTitle) values "
                        "(1, '好评', true, '2023-12-31 23:59:59', 1, 'i0', '旧'), "
                        "(1, '好评', true, '2024-01-01 00:00:00', 2, 'i1', '书'), "
                        "(1, '好评', true, '2024-01-01 00:30:00', 4, 'i1', '书'), "
                        "(1, '中评', true, '2024-01-06 23:00:00', 8, 'i2', '笔'), "
                        "(1, '好评', false, '2024-01-07 08:05:09', 16, 'i2', '笔'), "
                        "(1, '好评', true, '2024-05-06 07:08:09', 32.5, 'i3', '纸'), "
                        "(1, '好评', true, '2024-05-06 07:59:59', NULL, 'i3', '纸'), "
                        "(1, '坏评', true, '2024-09-30 23:59:59', 64, NULL, NULL), "
                        "(1, '好评', true, '2024-12-30 23:59:59', 128, 'i1', '书'), "
                        "(1, '好评', true, '2024-12-31 00:00:00', 256, 'i1', '书'), "
                        "(1, '好评', true, '2024-12-31 10:00:00', 512, 'i4', '墨'), "
                        "(2, '好评', true, '2024-06-01 12:00:00', 1024, 'i1', '书')";

// Each row '|'-joined, numbers in one form, NULL as "", sorted (ties may come in any order).
QStringList normalised(QStringList rows)
{
    for (QString& row : rows) {
        QStringList fields = row.split(u'|');
        for (QString& f : fields) {
            bool number = false;
            const double d = f.toDouble(&number);
            if (number)
                f = QString::number(d, 'g', 15);
        }
        row = fields.join(u'|');
    }
    rows.sort();
    return rows;
}

QStringList fileRows(sqlite3* db, const QString& programSql, QString* error)
{
    sqlite3_stmt* st = nullptr;
    QStringList rows;
    if (sqlite3_prepare_v2(db, dialect::rewrite(programSql).toUtf8().constData(), -1, &st, nullptr) !=
        SQLITE_OK) {
        *error = QString::fromUtf8(sqlite3_errmsg(db));
        return rows;
    }
    for (int i = 1; i <= sqlite3_bind_parameter_count(st); ++i) {
        const QByteArray v =
            value(QString::fromUtf8(sqlite3_bind_parameter_name(st, i)).mid(1).toLower()).toUtf8();
        sqlite3_bind_text(st, i, v.constData(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    }
    while (sqlite3_step(st) == SQLITE_ROW) {
        QStringList fields;
        for (int c = 0; c < sqlite3_column_count(st); ++c) {
            const unsigned char* t = sqlite3_column_text(st, c);
            fields << (t ? QString::fromUtf8(reinterpret_cast<const char*>(t)) : QString());
        }
        rows << fields.join(u'|');
    }
    sqlite3_finalize(st);
    return normalised(rows);
}

class AnalysisServerSql : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!server.skipReason().isEmpty())
            GTEST_SKIP() << server.skipReason().toStdString();
        ASSERT_TRUE(server.running()) << server.error().toStdString();
        QStringList schema;
        for (const serverschema::Piece& p : serverschema::objects())
            if (p.type != QLatin1String("column"))
                schema << p.sql;
        QString out;
        ASSERT_EQ(server.psql(schema.join(QStringLiteral(";\n")), &out), 0) << out.toStdString();
        ASSERT_EQ(server.psql(QString::fromUtf8(kRatings), &out), 0) << out.toStdString();
    }

    PgServer server;
};

TEST_F(AnalysisServerSql, EveryFormOfTheAnalysesRunsOnTheServer)
{
    QString out;
    for (const Form& form : analysisStatements()) {
        if (form.sql.contains(QLatin1String("substr(:beginDate"))) {
            // The time parameter is used as text in substr() before it meets pjsj:
            // left to the server it becomes text and cannot be compared with a time.
            EXPECT_NE(server.psql(serverRun(groupedByShop(form.sql), false), &out), 0)
                << form.name.toStdString();
            EXPECT_TRUE(out.contains(QLatin1String("timestamp without time zone"))) << out.toStdString();
            continue;
        }
        EXPECT_EQ(server.psql(serverRun(form.sql, false), &out), 0)
            << form.name.toStdString() << "\n  " << form.sql.toStdString() << "\n  " << out.toStdString();
    }
}

TEST_F(AnalysisServerSql, TypedParametersGiveTheFilesAnswersAtTheRangesMidnightsToo)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
    ASSERT_TRUE(sqlfunctions::registerAll(db));
    for (const QString& sql : schema::createStatements())
        ASSERT_EQ(sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr), SQLITE_OK)
            << sqlite3_errmsg(db);
    ASSERT_EQ(sqlite3_exec(db, kRatings, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    QString out;
    for (const Form& form : analysisStatements()) {
        const QString sql = isBuckets(form) ? groupedByShop(form.sql) : form.sql;
        QString error;
        const QStringList expected = fileRows(db, form.fileSql.isEmpty() ? sql : form.fileSql, &error);
        ASSERT_TRUE(error.isEmpty()) << form.name.toStdString() << ": " << error.toStdString();
        ASSERT_EQ(server.psql(serverRun(sql, true), &out), 0)
            << form.name.toStdString() << "\n  " << serverRun(sql, true).toStdString() << "\n  "
            << out.toStdString();
        QStringList got = normalised(out.split(u'\n', Qt::SkipEmptyParts));
        QStringList want = expected;
        // A peak is one row of the largest value; which of tied periods comes is the engine's
        // choice on both, and only the value is read.
        // Hour buckets are added up by their key, in whatever order they come.
        if (isBuckets(form)) {
            got.sort();
            want.sort();
        }
        if (form.name.contains(QLatin1String("peak")))
            for (QStringList* rows : {&got, &want})
                for (QString& row : *rows)
                    row = row.section(u'|', 0, 0);
        EXPECT_EQ(got.join(u'\n').toStdString(), want.join(u'\n').toStdString()) << form.name.toStdString();
    }
    sqlite3_close(db);
}

} // namespace
