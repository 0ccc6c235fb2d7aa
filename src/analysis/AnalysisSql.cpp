#include "analysis/AnalysisSql.h"

#include "store/SqlFunctions.h"

#include <cmath>

namespace analysis {

const QStringList& tradeKindChoices()
{
    static const QStringList c{QStringLiteral("不限"), QStringLiteral("卖"), QStringLiteral("买")};
    return c;
}

TradeKind tradeKindFromText(const QString& text)
{
    if (text == QStringLiteral("卖"))
        return TradeKind::Sold;
    if (text == QStringLiteral("买"))
        return TradeKind::Bought;
    return TradeKind::Any;
}

QString rangeCondition(bool rated, const QString& column, const QString& begin, const QString& end)
{
    return column + (rated ? QStringLiteral(">=") : QStringLiteral(">")) + begin + QStringLiteral(" and ") +
           column + QStringLiteral("<=") + end;
}

QString rankOrder(bool byAmount, const QString& amount, const QString& count)
{
    return byAmount ? amount + QStringLiteral(" desc,") + count + QStringLiteral(" desc")
                    : count + QStringLiteral(" desc,") + amount;
}

QString rankSql(const RankRequest& r)
{
    QString all = rankSqlAllRows(r);
    return all.insert(6, QStringLiteral(" top ") + QString::number(r.top));
}

QString rankSqlAllRows(const RankRequest& r)
{
    const bool rated = isRated(r.range.pj);
    const QString select = rated ? QStringLiteral(" sum(jg) as amount,itemTitle,itemid,jg,")
                                 : QStringLiteral(" sum(jg) as amount,itemTitle,itemId,jg,");
    // A chosen trade type replaces the fixed seller restriction, so "买" ranks what the shop
    // bought instead of contradicting the restriction and ranking nothing.
    const QString restriction =
        r.kind == TradeKind::Any ? QStringLiteral("buyerOrSaler=true and ") : QString();
    const QString where = QStringLiteral("count(itemId) as num,dian_id from pjinfo where ") + restriction +
                          rangeCondition(rated) + QStringLiteral(" and ");
    const QString shop =
        rated ? QStringLiteral("pj=:spj and dian_id=:dianId ") : QStringLiteral("dian_id=:dianId ");
    QString kind;
    if (r.kind == TradeKind::Sold)
        kind = QStringLiteral(" and buyerOrsaler =true ");
    else if (r.kind == TradeKind::Bought)
        kind = QStringLiteral(" and buyerOrSaler = false ");
    const QString order = QStringLiteral(" group by itemtitle,itemid,dian_id,jg order by ") +
                          rankOrder(r.byAmount, QStringLiteral("sum(jg)"), QStringLiteral("count(itemId)"));
    return QStringLiteral("select") + select + where + shop + kind + order;
}

QString rankTitle(bool byAmount)
{
    return byAmount ? QStringLiteral("商品销售额排名") : QStringLiteral("商品销售量排名");
}

QString rankFigure(bool byAmount)
{
    return byAmount ? QStringLiteral("销售额：") : QStringLiteral("销售量：");
}

QString rankLabel(int rank)
{
    return QStringLiteral("第") + QString::number(rank) + QStringLiteral("名");
}

const QStringList& trendPeriodChoices()
{
    static const QStringList c{QStringLiteral("按日统计"), QStringLiteral("按周统计"),
                               QStringLiteral("按月统计"), QStringLiteral("按季统计"),
                               QStringLiteral("按年统计")};
    return c;
}

namespace {

int digits(const QString& text, int from, int count)
{
    int out = 0;
    for (int i = from; i < from + count && i < text.size(); ++i)
        out = out * 10 + (text[i].unicode() - '0');
    return out;
}

QVariant day(const QString& hourKey)
{
    return hourKey.left(10);
}

QVariant week(const QString& hourKey)
{
    return QVariant(static_cast<qlonglong>(
        sqlfunctions::weekOfYear(digits(hourKey, 0, 4), digits(hourKey, 5, 2), digits(hourKey, 8, 2))));
}

QVariant month(const QString& hourKey)
{
    return hourKey.left(7);
}

QVariant quarter(const QString& hourKey)
{
    return QVariant(static_cast<qlonglong>((digits(hourKey, 5, 2) - 1) / 3 + 1));
}

QVariant year(const QString& hourKey)
{
    return hourKey.left(4);
}

QVariant hour(const QString& hourKey)
{
    // A time without its hour counts as midnight, as hour() reads it.
    return QVariant(static_cast<qlonglong>(hourKey.size() >= 13 ? digits(hourKey, 11, 2) : 0));
}

// Whole part of a key that may come back as a number or as text.
QString wholeNumber(const QVariant& key)
{
    bool ok = false;
    const double d = key.toString().trimmed().toDouble(&ok);
    return ok ? QString::number(static_cast<qlonglong>(std::floor(d))) : key.toString();
}
} // namespace

const Period& period(TrendPeriod p)
{
    static const Period periods[] = {{"format(pjsj,'yyyy-mm-dd')", true, day},
                                     {"datePart('ww',pjsj)", false, week},
                                     {"format(pjsj,'yyyy-mm')", true, month},
                                     {"datePart('q',pjsj)", false, quarter},
                                     {"format(pjsj,'yyyy')", true, year}};
    return periods[static_cast<int>(p)];
}

const Period& period(DistPeriod p)
{
    static const Period periods[] = {{"hour(pjsj)", false, hour},
                                     {"format(pjsj,'yyyy-mm')", true, month},
                                     {"datePart('q',pjsj)", false, quarter}};
    return periods[static_cast<int>(p)];
}

TrendStatements trendSql(TrendPeriod tp, bool rated)
{
    const Period& pk = period(tp);
    const QString k = QString::fromLatin1(pk.key);
    const QString p = pk.bracketed ? u'(' + k + u')' : k;
    const QString w = QStringLiteral(" from pjinfo where buyerOrSaler=true and ") + rangeCondition(rated) +
                      (rated ? QStringLiteral(" and pj=:spj and dian_id=:dianId ")
                             : QStringLiteral(" and dian_id=:dianId "));
    const QString top = rated ? QStringLiteral("select  top 1") : QStringLiteral("select top 1");
    TrendStatements s;
    s.peakAmount = top + QStringLiteral(" sum(jg) as totalAmount,") + p + w + QStringLiteral("\ngroup by ") +
                   p + QStringLiteral(" order by sum(jg) desc");
    s.peakCount = top + QStringLiteral(" count(*) as num,") + p + w + QStringLiteral("\ngroup by ") + p +
                  QStringLiteral(" order by count(*) desc");
    s.series = QStringLiteral("select  sum(jg) as totalAmount,count(itemId) as num,(") + k +
               QStringLiteral(") as time1") + w + QStringLiteral("\ngroup by ") + p +
               QStringLiteral(" order by ") + k;
    return s;
}

QString trendLabel(TrendPeriod period, const QVariant& key)
{
    switch (period) {
    case TrendPeriod::Week:
        return wholeNumber(key) + QStringLiteral("周");
    case TrendPeriod::Quarter:
        return key.toString() + QStringLiteral("季");
    default:
        return key.toString();
    }
}

namespace {
int wholeDigits(double v)
{
    return static_cast<int>(QString::number(static_cast<qlonglong>(std::trunc(std::fabs(v)))).size());
}
} // namespace

TrendMargins trendMargins(double amountPeak, double countPeak)
{
    TrendMargins m;
    const int dA = wholeDigits(amountPeak);
    const int dC = wholeDigits(countPeak);
    if (amountPeak > countPeak)
        m.countChart = dA - dC + 1;
    else
        m.amountChart = dC - dA + 1;
    return m;
}

const QStringList& distPeriodChoices()
{
    static const QStringList c{QStringLiteral("24小时"), QStringLiteral("12月"), QStringLiteral("四季")};
    return c;
}

QString distSql(DistPeriod dp, bool rated)
{
    const Period& pk = period(dp);
    const QString k = QString::fromLatin1(pk.key);
    const QString head = QStringLiteral("select  dian_id,sum(jg) as totalAmount,count(itemId) as num,(") + k +
                         QStringLiteral(") as time1 from pjinfo where ");
    if (!rated) {
        // The hour key is ordered bare, the month key in brackets, as the windows always sent it.
        const QString order = pk.bracketed ? QStringLiteral("(") + k + QStringLiteral(")") : k;
        return head + rangeCondition(false) + QStringLiteral(" and dian_id=:dianId group by dian_id,") + k +
               QStringLiteral("  order by ") + order;
    }
    // Rated, only the hour key is ordered bare.
    const QString order = dp == DistPeriod::Hour ? k : QStringLiteral("(") + k + QStringLiteral(")");
    return head + rangeCondition(true) +
           QStringLiteral(" and pj=:spj and dian_id=:dianId group by dian_id,") + k +
           QStringLiteral(" order by ") + order;
}

QString distTitle(DistPeriod period)
{
    return distPeriodChoices().at(static_cast<int>(period)) + QStringLiteral("分布");
}

QString distLabel(DistPeriod period, const QVariant& key)
{
    switch (period) {
    case DistPeriod::Hour:
        return wholeNumber(key) + QStringLiteral("点");
    case DistPeriod::Month:
        return key.toString() + QStringLiteral("月");
    case DistPeriod::Quarter:
        break;
    }
    return wholeNumber(key) + QStringLiteral("季");
}

double percentOf(double value, double total)
{
    return total > 0 ? value * 100.0 / total : 0.0;
}

QString sliceMark(const QString& label, double value, double total)
{
    QString pct = QString::number(percentOf(value, total), 'f', 2);
    while (pct.endsWith(u'0'))
        pct.chop(1);
    if (pct.endsWith(u'.'))
        pct.chop(1);
    return label + QStringLiteral(" ") + pct + QStringLiteral("%");
}

QString generalNumber(double value)
{
    return QString::number(value, 'g', 15);
}

int pointIndex(double horizontalValue)
{
    return static_cast<int>(std::floor(horizontalValue - 0.5));
}

} // namespace analysis
