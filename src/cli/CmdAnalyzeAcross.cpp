#include "analysis/MarketRanking.h"
#include "analysis/ShopCompare.h"
#include "analysis/charts/AnalysisCharts.h"
#include "cli/AnalyzeAcross.h"
#include "cli/CliDatabase.h"
#include "cli/JsonOut.h"
#include "store/TDM.h"

#include <QChart>
#include <QChartView>
#include <QLegend>
#include <QLineSeries>
#include <QVBoxLayout>
#include <QValueAxis>
#include <QWidget>
#include <cstdio>

namespace analyzecli {

int fail(const QString& text, int status)
{
    std::fprintf(stderr, "kestrova-cli analyze: %s\n", qPrintable(text));
    return status;
}

bool parse(const QStringList& args, Common& c,
           const std::function<bool(const QString&, const QString&)>& other, QString& problem)
{
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& opt = args[i];
        if (i + 1 >= args.size()) {
            problem = QStringLiteral("%1 wants a value").arg(opt);
            return false;
        }
        const QString value = args[++i];
        if (opt == QLatin1String("--from") || opt == QLatin1String("--to")) {
            const QDate d = QDate::fromString(value, Qt::ISODate);
            if (!d.isValid()) {
                problem = QStringLiteral("bad value for %1: %2").arg(opt, value);
                return false;
            }
            (opt == QLatin1String("--from") ? c.begin : c.end) = d;
        } else if (opt == QLatin1String("--png")) {
            c.png = value;
        } else if (opt == QLatin1String("--svg")) {
            c.svg = value;
        } else if (!other(opt, value)) {
            if (problem.isEmpty())
                problem = QStringLiteral("unknown option %1").arg(opt);
            return false;
        }
    }
    return true;
}

bool rangeOk(const Common& c, QString& problem)
{
    // Such a range selects nothing: an empty answer would look like a shop without sales.
    if (c.end < c.begin) {
        problem = QStringLiteral("the end date %1 is before the begin date %2")
                      .arg(c.end.toString(Qt::ISODate), c.begin.toString(Qt::ISODate));
        return false;
    }
    return true;
}

std::optional<bool> rankOption(const QString& opt, const QString& value, analysis::RankRequest& rank)
{
    if (opt == QLatin1String("--top")) {
        bool ok = false;
        rank.top = value.toInt(&ok);
        return ok && rank.top >= 1 && rank.top <= 50;
    }
    if (opt == QLatin1String("--by")) {
        rank.byAmount = value == QLatin1String("amount");
        return value == QLatin1String("count") || rank.byAmount;
    }
    if (opt == QLatin1String("--pj")) {
        rank.range.pj = value;
        return analysis::ratingChoices().contains(value);
    }
    return std::nullopt;
}

void printRows(const analysis::Result& result)
{
    for (int r = 0; r < result.rowCount(); ++r) {
        QStringList pieces;
        for (int c = 0; c < result.columns.size(); ++c)
            pieces << jsonout::string(result.columns[c]) + QStringLiteral(": ") +
                          jsonout::value(result.rows[r].value(c));
        pieces << QStringLiteral("\"label\": ") + jsonout::string(result.labels.value(r));
        std::printf("{%s}\n", pieces.join(QStringLiteral(", ")).toUtf8().constData());
    }
    std::fflush(stdout);
}

QChartView* chartView(QChart* chart, QWidget* parent)
{
    auto* view = new QChartView(chart, parent);
    view->setRenderHint(QPainter::Antialiasing);
    return view;
}

int savePictures(QWidget* panel, QSize size, const Common& c)
{
    for (const auto& [file, asSvg] : {std::pair{c.png, false}, std::pair{c.svg, true}}) {
        if (file.isEmpty())
            continue;
        QString error;
        if (!charts::savePicture(panel, size, file, asSvg, &error))
            return fail(error, 1);
    }
    return 0;
}

} // namespace analyzecli

using namespace analyzecli;

namespace {

// One chart alone, drawn into c's pictures.
int saveChart(QChart* chart, const Common& c)
{
    QWidget panel;
    panel.setAttribute(Qt::WA_DontShowOnScreen);
    auto* layout = new QVBoxLayout(&panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(chartView(chart, &panel));
    return savePictures(&panel, QSize(800, 500), c);
}

// The shops the filter selects; every stored shop without one.
std::optional<QSet<qlonglong>> filtered(TDM& dm, const QString& filter, int& status)
{
    status = 0;
    if (filter.isEmpty())
        return std::nullopt;
    TTable* shops = dm.tb_dianbase;
    if (!cliFilterUnderstood(*shops, filter)) {
        status = 2;
        return std::nullopt;
    }
    if (!shops->SetFilter(filter) || !shops->SetFiltered(true) || !shops->Open()) {
        status = fail(shops->lastError(), 1);
        return std::nullopt;
    }
    QSet<qlonglong> ids;
    for (shops->First(); !shops->Eof(); shops->Next())
        ids.insert(shops->FieldByName(QStringLiteral("id")).asInteger());
    return ids;
}

} // namespace

int runAnalyzeCompare(const QStringList& args)
{
    Common common;
    QList<qlonglong> shops;
    QString measureText, periodText = QStringLiteral("day"), problem;
    const bool parsed = parse(
        args, common,
        [&](const QString& opt, const QString& value) {
            if (opt == QLatin1String("--shops")) {
                for (const QString& id : value.split(u',')) {
                    bool ok = false;
                    shops << id.trimmed().toLongLong(&ok);
                    if (!ok) {
                        problem = QStringLiteral("--shops: %1 is not a shop id").arg(id);
                        return false;
                    }
                }
                return true;
            }
            if (opt == QLatin1String("--measure"))
                measureText = value;
            else if (opt == QLatin1String("--period"))
                periodText = value;
            else
                return false;
            return true;
        },
        problem);
    if (!parsed || !rangeOk(common, problem))
        return fail(problem);
    static const QStringList measures{"count", "amount", "bad", "credit"};
    static const QStringList periods{"day", "week", "month"};
    if (shops.size() < 2 || shops.size() > 8)
        return fail(QStringLiteral("--shops takes 2 to 8 shop ids, not %1").arg(shops.size()));
    if (!measures.contains(measureText))
        return fail(QStringLiteral("--measure is count, amount, bad or credit, not \"%1\"").arg(measureText));
    if (!periods.contains(periodText))
        return fail(QStringLiteral("--period is day, week or month, not \"%1\"").arg(periodText));

    TDM dm;
    if (!openCliDatabase(dm))
        return 1;
    TQuery* known = dm.adoq1;
    known->SetSQL(QStringLiteral("select id from dianBase where id=:id"));
    for (qlonglong id : shops) {
        known->SetParam(QStringLiteral("id"), id);
        if (!known->Open())
            return fail(known->lastError(), 1);
        const bool there = known->RecordCount() > 0;
        known->Close();
        if (!there)
            return fail(QStringLiteral("--shops: no shop with id %1").arg(id));
    }
    static const analysis::TrendPeriod kPeriods[] = {analysis::TrendPeriod::Day, analysis::TrendPeriod::Week,
                                                     analysis::TrendPeriod::Month};
    QString error;
    const auto rows = analysis::runCompare(
        dm.adoCn, shops, static_cast<analysis::CompareMeasure>(measures.indexOf(measureText)),
        kPeriods[periods.indexOf(periodText)], common.begin, common.end, &error);
    if (!rows)
        return fail(error, 1);
    QHash<qlonglong, QLineSeries*> lines;
    auto* chart = new QChart;
    QStringList labels;
    for (const analysis::CompareRow& r : *rows) {
        std::printf("{\"period\": %s, \"shopId\": %lld, \"value\": %s}\n",
                    qPrintable(jsonout::string(r.period)), r.shop, qPrintable(jsonout::value(r.value)));
        if (labels.isEmpty() || labels.last() != r.period)
            labels << r.period;
        QLineSeries*& line = lines[r.shop];
        if (!line) {
            line = new QLineSeries;
            line->setName(QString::number(r.shop));
        }
        if (!r.value.isNull())
            line->append(labels.size(), r.value.toDouble());
    }
    std::fflush(stdout);
    if (common.png.isEmpty() && common.svg.isEmpty()) {
        qDeleteAll(lines);
        delete chart;
        return 0;
    }
    for (qlonglong id : shops)
        chart->addSeries(lines.value(id) ? lines.value(id) : new QLineSeries);
    chart->createDefaultAxes();
    chart->legend()->setVisible(true);
    return saveChart(chart, common);
}

int runAnalyzeMarket(const QStringList& args)
{
    Common common;
    analysis::RankRequest rank;
    QString filter, problem;
    const bool parsed = parse(
        args, common,
        [&](const QString& opt, const QString& value) {
            if (opt == QLatin1String("--filter")) {
                filter = value;
                return true;
            }
            const std::optional<bool> ok = rankOption(opt, value, rank);
            if (ok == false)
                problem = QStringLiteral("bad value for %1: %2").arg(opt, value);
            return ok.value_or(false);
        },
        problem);
    if (!parsed || !rangeOk(common, problem))
        return fail(problem);
    if (!common.svg.isEmpty())
        return fail(QStringLiteral("unknown option --svg"));
    rank.range.begin = common.begin;
    rank.range.end = common.end;
    TDM dm;
    if (!openCliDatabase(dm))
        return 1;
    int status = 0;
    const std::optional<QSet<qlonglong>> shops = filtered(dm, filter, status);
    if (status != 0)
        return status;
    const analysis::Result result = analysis::runMarketRank(dm.adoCn, rank, shops);
    if (!result.ok())
        return fail(result.error, 1);
    printRows(result);
    if (common.png.isEmpty())
        return 0;
    auto* chart = new QChart;
    charts::setupRank(chart);
    charts::fillRank(chart, analysis::rankTitle(rank.byAmount), result.labels, result.values);
    return saveChart(chart, common);
}
