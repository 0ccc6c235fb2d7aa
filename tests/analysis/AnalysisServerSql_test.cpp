// Every statement of the three analyses, in each of its forms, prepared and run on a real
// server with the server schema, through the server dialect.
#include "analysis/AnalysisKeys.h"
#include "analysis/AnalysisSql.h"
#include "store/PgDialect.h"
#include "store/PgServer.h"
#include "store/ServerSchema.h"
#include "store/SqlDialect.h"

#include <gtest/gtest.h>

using namespace analysis;

namespace {

struct Form
{
    QString name;
    QString sql;
};

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
            out.push_back({QStringLiteral("buckets%1 seller=%2").arg(r).arg(sellerOnly),
                           keys::bucketSql(rated, sellerOnly)});
    }
    return out;
}

QString literal(const QString& name)
{
    if (name == QLatin1String("begindate"))
        return QStringLiteral("'2024-01-01'");
    if (name == QLatin1String("enddate"))
        return QStringLiteral("'2024-12-31'");
    if (name == QLatin1String("spj"))
        return QStringLiteral("'好评'");
    return QStringLiteral("'1'");
}

TEST(AnalysisServerSql, EveryFormOfTheAnalysesRunsOnTheServer)
{
    PgServer server;
    if (!server.skipReason().isEmpty())
        GTEST_SKIP() << server.skipReason().toStdString();
    ASSERT_TRUE(server.running()) << server.error().toStdString();
    QStringList schema;
    for (const serverschema::Piece& p : serverschema::objects())
        if (p.type != QLatin1String("column"))
            schema << p.sql;
    QString out;
    ASSERT_EQ(server.psql(schema.join(QStringLiteral(";\n")), &out), 0) << out.toStdString();
    ASSERT_EQ(server.psql("insert into pjInfo(dian_id, pj, buyerOrSaler, pjsj, jg, itemId, itemTitle) values "
                          "(1, '好评', true, '2024-05-06 07:08:09', 150, 'i1', '书'), "
                          "(1, '好评', false, '2024-05-06 07:30:00', NULL, 'i2', '笔'), "
                          "(1, '中评', true, '2024-12-31 00:00:00', 20, NULL, NULL)",
                          &out),
              0)
        << out.toStdString();
    for (const Form& form : analysisStatements()) {
        const pgdialect::Statement s = pgdialect::rewrite(dialect::rewrite(form.sql));
        QStringList values;
        for (const QString& name : s.parameters)
            values << literal(name);
        const QString run = QStringLiteral("PREPARE p AS %1;\nEXECUTE p(%2)").arg(s.sql, values.join(u','));
        EXPECT_EQ(server.psql(run, &out), 0)
            << form.name.toStdString() << "\n  " << form.sql.toStdString() << "\n  as " << s.sql.toStdString()
            << "\n  " << out.toStdString();
    }
}

} // namespace
