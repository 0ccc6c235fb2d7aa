#include "analysis/AnalysisRun.h"
#include "analysis/RatingSpan.h"
#include "analysis/charts/AnalysisCharts.h"
#include "cli/AnalyzeAcross.h"
#include "cli/CliCommand.h"
#include "cli/CliDatabase.h"
#include "store/TDM.h"

#include <QChart>
#include <QChartView>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdio>
#include <memory>

using namespace analyzecli;

namespace {

constexpr char kUsage[] = "analyze rank|trend|dist --shop ID [--from DATE] [--to DATE] [OPTIONS]   "
                          "one shop's sales analysis as JSON lines, optionally drawn";

constexpr char kHelp[] = R"(--shop ID          the shop's id (dianBase.id)
--from DATE        begin date, yyyy-MM-dd (default: 1 January of this year)
--to DATE          end date (default: today)
--pj WORD          only ratings with this word: 好评, 中评 or 坏评 (default: 不限)
--kind WORD        rank: 卖 (sales) or 买 (purchases; default: 不限, sales)
--period NAME      trend: day, week, month, quarter, year (default: day);
                   dist: hour, month, quarter (default: hour)
--top N            rank: number of items, 1 to 50 (default: 1)
--by count|amount  rank: by number of trades or by summed price (default: count)
--png FILE         draw the chart into a PNG picture
--svg FILE         draw the chart into an SVG picture
Each result row is printed as one JSON object with its columns and its chart label.

Across shops:
analyze compare --shops ID,ID,... --measure count|amount|bad|credit --period day|week|month
                   [--from DATE] [--to DATE] [--png FILE|--svg FILE]
                   2 to 8 shops side by side: one line per period and shop (period, shopId,
                   value): sales count or amount by the trend's rules, new 差评, or the seller
                   credit the last mining of the period read
analyze market [--filter TEXT] [--top N] [--by count|amount] [--pj WORD] [--from DATE]
                   [--to DATE] [--png FILE]
                   the ranking over every stored shop (or those the shop filter selects),
                   each row with its shop's dianming)";

// An empty answer on its own looks like a broken command: say where the shop's ratings lie.
void tellWhenEmpty(TDM& dm, const analysis::Range& range)
{
    const analysis::RatingSpan span = analysis::readRatingSpan(dm.adoCn, range.shop);
    QString where;
    if (!span.error.isEmpty())
        where = span.error;
    else if (!span.any())
        where = QStringLiteral("the shop has no ratings");
    else
        where = QStringLiteral("the shop's ratings run from %1 to %2").arg(span.first, span.last);
    std::fprintf(stderr, "kestrova-cli analyze: no ratings from %s to %s; %s\n",
                 qPrintable(range.begin.toString(Qt::ISODate)), qPrintable(range.end.toString(Qt::ISODate)),
                 qPrintable(where));
}

int runAnalyze(const QStringList& args)
{
    if (args.isEmpty())
        return fail(QStringLiteral("name the analysis: rank, trend, dist, compare or market"));
    const QString kind = args.first();
    if (kind == QLatin1String("compare"))
        return runAnalyzeCompare(args);
    if (kind == QLatin1String("market"))
        return runAnalyzeMarket(args);
    if (kind != QLatin1String("rank") && kind != QLatin1String("trend") && kind != QLatin1String("dist"))
        return fail(QStringLiteral("unknown analysis %1").arg(kind));

    Common common;
    analysis::RankRequest rank;
    analysis::Range& range = rank.range;
    bool haveShop = false;
    QString period, problem;
    const bool parsed = parse(
        args, common,
        [&](const QString& opt, const QString& value) {
            std::optional<bool> ok = rankOption(opt, value, rank);
            if (opt == QLatin1String("--shop")) {
                range.shop = value.toLongLong(&haveShop);
                ok = haveShop;
            } else if (opt == QLatin1String("--kind")) {
                ok = analysis::tradeKindChoices().contains(value);
                rank.kind = analysis::tradeKindFromText(value);
            } else if (opt == QLatin1String("--period")) {
                period = value;
                ok = true;
            }
            if (ok == false)
                problem = QStringLiteral("bad value for %1: %2").arg(opt, value);
            return ok.value_or(false);
        },
        problem);
    if (!parsed)
        return fail(problem);
    if (!haveShop)
        return fail(QStringLiteral("--shop ID is required"));
    if (!rangeOk(common, problem))
        return fail(problem);
    range.begin = common.begin;
    range.end = common.end;

    static const QStringList trendPeriods{"day", "week", "month", "quarter", "year"};
    static const QStringList distPeriods{"hour", "month", "quarter"};
    int periodIndex = 0;
    if (!period.isEmpty()) {
        periodIndex = static_cast<int>(kind == QLatin1String("trend")  ? trendPeriods.indexOf(period)
                                       : kind == QLatin1String("dist") ? distPeriods.indexOf(period)
                                                                       : -1);
        if (periodIndex < 0)
            return fail(QStringLiteral("bad --period %1 for %2").arg(period, kind));
    }

    TDM dm;
    if (!openCliDatabase(dm))
        return 1;
    TQuery* known = dm.adoq1;
    known->SetSQL(QStringLiteral("select id from dianBase where id=:id"));
    known->SetParam(QStringLiteral("id"), range.shop);
    if (!known->Open())
        return fail(known->lastError(), 1);
    const bool shopKnown = known->RecordCount() > 0;
    known->Close();
    if (!shopKnown)
        return fail(QStringLiteral("no shop with id %1 in %2").arg(range.shop).arg(dm.adoCn.path()));

    analysis::Result result;
    QWidget panel;
    panel.setAttribute(Qt::WA_DontShowOnScreen);
    auto* layout = new QVBoxLayout(&panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    QSize size(800, 500);
    if (kind == QLatin1String("rank")) {
        result = analysis::runRank(dm.adoCn, rank);
        auto* chart = new QChart;
        charts::setupRank(chart);
        if (result.ok())
            charts::fillRank(chart, analysis::rankTitle(rank.byAmount), result.labels, result.values);
        layout->addWidget(chartView(chart, &panel));
    } else if (kind == QLatin1String("trend")) {
        const auto p = static_cast<analysis::TrendPeriod>(periodIndex);
        result = analysis::runTrend(dm.adoCn, range, p);
        auto* counts = new QChart;
        auto* amounts = new QChart;
        charts::setupTrend(counts, amounts);
        if (result.ok() && result.complete) {
            charts::applyTrendMargins(counts, amounts,
                                      analysis::trendMargins(result.amountPeak, result.countPeak));
            charts::fillTrend(counts, amounts, result.labels, result.counts, result.values);
        }
        layout->addWidget(chartView(counts, &panel));
        layout->addWidget(chartView(amounts, &panel));
        size = QSize(800, 600);
    } else {
        const auto p = static_cast<analysis::DistPeriod>(periodIndex);
        result = analysis::runDist(dm.adoCn, range, p);
        auto* chart = new QChart;
        charts::setupDist(chart);
        if (result.ok())
            charts::fillDist(chart, analysis::distTitle(p), result.labels, result.values);
        layout->addWidget(chartView(chart, &panel));
    }
    if (!result.ok())
        return fail(result.error, 1);
    if (result.complete)
        printRows(result);
    if (!result.complete || result.rowCount() == 0)
        tellWhenEmpty(dm, range);

    return savePictures(&panel, size, common);
}

const CliRegistration registration{
    {QStringLiteral("analyze"), QString::fromUtf8(kUsage), runAnalyze, QString::fromUtf8(kHelp), true}};

} // namespace
