#pragma once

#include <QDate>
#include <QString>
#include <QStringList>
#include <QVariant>

// The statements of the three analyses, built from their inputs exactly as the windows send
// them, and the row-to-label rules the charts use. Shared by the views and the command line.
// Thread-safe (pure functions).
namespace analysis {

// The rating filter: "不限" (none), "好评", "中评", "坏评" (which finds the word of the rating
// pages, extract/RatingWord.h).
inline const QStringList& ratingChoices()
{
    static const QStringList c{QStringLiteral("不限"), QStringLiteral("好评"), QStringLiteral("中评"),
                               QStringLiteral("坏评")};
    return c;
}
inline bool isRated(const QString& pj)
{
    return !pj.isEmpty() && pj != ratingChoices().first();
}

// Which ratings of the range every analysis takes: with a rating chosen the begin date's
// midnight counts, without one it does not, as the windows always sent it. column is the
// time as the statement names it; begin and end the range's parameters.
QString rangeCondition(bool rated, const QString& column = QStringLiteral("pjsj"),
                       const QString& begin = QStringLiteral(":beginDate"),
                       const QString& end = QStringLiteral(":endDate"));

// Inputs common to every analysis: the shop, the date range and the rating.
struct Range
{
    qlonglong shop = 0;
    QDate begin;
    QDate end;
    QString pj = QStringLiteral("不限");
};

// ---- Ranking ----

enum class TradeKind
{
    Any,    // "不限": the shop's sales
    Sold,   // "卖": the same
    Bought, // "买": the shop's purchases
};
const QStringList& tradeKindChoices(); // "不限", "卖", "买"
TradeKind tradeKindFromText(const QString& text);

struct RankRequest
{
    Range range;
    int top = 1; // 1 to 50
    bool byAmount = false;
    TradeKind kind = TradeKind::Any;
};

// The ranking's order of its groups: by count down and then amount up, or by amount down and
// then count down, written over the given figures. Among equal figures the groups keep their
// order.
QString rankOrder(bool byAmount, const QString& amount, const QString& count);

// One line: "select top N" + select + where + shop + trade-type + order pieces.
QString rankSql(const RankRequest& request);
// The same statement without its "top N": every ranked row, for cutting with ties kept.
QString rankSqlAllRows(const RankRequest& request);
QString rankTitle(bool byAmount);  // "商品销售量排名" / "商品销售额排名"
QString rankFigure(bool byAmount); // "销售量：" / "销售额："
QString rankLabel(int rank);       // "第3名"

// ---- Trend ----

enum class TrendPeriod
{
    Day,
    Week,
    Month,
    Quarter,
    Year,
};
const QStringList& trendPeriodChoices(); // "按日统计" ... "按年统计"

// A period of the trend or the distribution, stated once: its key as the window's statement
// writes it, and the same key read from an hour key ("yyyy-MM-dd HH") of the hour tally,
// which is what the analyses add up instead of running the statement. Keys are texts for
// days, months and years and whole numbers for weeks, quarters and hours, as the statement's
// functions give them.
struct Period
{
    const char* key;
    bool bracketed; // the trend groups by it, and the distribution without a rating orders by it, in brackets
    QVariant (*fromHour)(const QString& hourKey);
};
const Period& period(TrendPeriod period);

struct TrendStatements
{
    QString peakAmount;
    QString peakCount;
    QString series;
};
TrendStatements trendSql(TrendPeriod period, bool rated);
// The point label of a row's period key: "2026-03-18", "12周", "2026-03", "2季", "2026".
QString trendLabel(TrendPeriod period, const QVariant& key);

// Left margins that line up the two trend charts' plot areas: the chart whose value labels
// have fewer digits gets the difference plus one; the other keeps the base margin of 1.
struct TrendMargins
{
    int countChart = 1;  // Chart3, the line of counts
    int amountChart = 1; // Chart4, the bars of amounts
};
TrendMargins trendMargins(double amountPeak, double countPeak);

// ---- Distribution ----

enum class DistPeriod
{
    Hour,
    Month,
    Quarter,
};
const QStringList& distPeriodChoices(); // "24小时", "12月", "四季"

const Period& period(DistPeriod period);

QString distSql(DistPeriod period, bool rated);
QString distTitle(DistPeriod period);                      // "24小时分布", ...
QString distLabel(DistPeriod period, const QVariant& key); // "13点", "2026-03月", "2季"
// A slice's share of the whole in percent; 0 when the whole is not positive.
double percentOf(double value, double total);
// The slice mark: label and percentage with up to two decimals, e.g. "13点 12.5%".
QString sliceMark(const QString& label, double value, double total);

// A number as the read-out shows it: up to 15 significant digits, no separators.
QString generalNumber(double value);

// The cross-hair's point index for a horizontal value under the mouse, the points standing at
// 1, 2, 3 ...: floor(value - 0.5); -1 below 0.5, N at N + 0.5 and beyond.
int pointIndex(double horizontalValue);

} // namespace analysis
