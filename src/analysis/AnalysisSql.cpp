#include "analysis/AnalysisSql.h"

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
                          (rated ? QStringLiteral("pjsj>=:beginDate and pjsj<=:endDate and ")
                                 : QStringLiteral("pjsj>:beginDate and pjsj<=:endDate and "));
    const QString shop =
        rated ? QStringLiteral("pj=:spj and dian_id=:dianId ") : QStringLiteral("dian_id=:dianId ");
    QString kind;
    if (r.kind == TradeKind::Sold)
        kind = QStringLiteral(" and buyerOrsaler =true ");
    else if (r.kind == TradeKind::Bought)
        kind = QStringLiteral(" and buyerOrSaler = false ");
    const QString order =
        r.byAmount
            ? QStringLiteral(" group by itemtitle,itemid,dian_id,jg order by sum(jg) desc,count(itemId) desc")
            : QStringLiteral(" group by itemtitle,itemid,dian_id,jg order by count(itemId) desc,sum(jg)");
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
struct PeriodKey
{
    const char* key;
    const char* group;
};

PeriodKey trendKey(TrendPeriod p)
{
    switch (p) {
    case TrendPeriod::Day:
        return {"format(pjsj,'yyyy-mm-dd')", "(format(pjsj,'yyyy-mm-dd'))"};
    case TrendPeriod::Week:
        return {"datePart('ww',pjsj)", "datePart('ww',pjsj)"};
    case TrendPeriod::Month:
        return {"format(pjsj,'yyyy-mm')", "(format(pjsj,'yyyy-mm'))"};
    case TrendPeriod::Quarter:
        return {"datePart('q',pjsj)", "datePart('q',pjsj)"};
    case TrendPeriod::Year:
        break;
    }
    return {"format(pjsj,'yyyy')", "(format(pjsj,'yyyy'))"};
}

// Whole part of a key that may come back as a number or as text.
QString wholeNumber(const QVariant& key)
{
    bool ok = false;
    const double d = key.toString().trimmed().toDouble(&ok);
    return ok ? QString::number(static_cast<qlonglong>(std::floor(d))) : key.toString();
}
} // namespace

TrendStatements trendSql(TrendPeriod period, bool rated)
{
    const PeriodKey pk = trendKey(period);
    const QString k = QString::fromLatin1(pk.key);
    const QString p = QString::fromLatin1(pk.group);
    const QString w = rated ? QStringLiteral(" from pjinfo where buyerOrSaler=true and pjsj>=:beginDate and "
                                             "pjsj<=:endDate and pj=:spj and dian_id=:dianId ")
                            : QStringLiteral(" from pjinfo where buyerOrSaler=true and pjsj>:beginDate and "
                                             "pjsj<=:endDate and dian_id=:dianId ");
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

QString distSql(DistPeriod period, bool rated)
{
    const char* key = period == DistPeriod::Hour    ? "hour(pjsj)"
                      : period == DistPeriod::Month ? "format(pjsj,'yyyy-mm')"
                                                    : "datePart('q',pjsj)";
    const QString k = QString::fromLatin1(key);
    const QString head = QStringLiteral("select  dian_id,sum(jg) as totalAmount,count(itemId) as num,(") + k +
                         QStringLiteral(") as time1 from pjinfo where ");
    if (!rated) {
        // The hour key is ordered bare, the month key in brackets, as the windows always sent it.
        const QString order = period == DistPeriod::Month ? QStringLiteral("(") + k + QStringLiteral(")") : k;
        return head +
               QStringLiteral("pjsj>:beginDate and pjsj<=:endDate and dian_id=:dianId group by dian_id,") +
               k + QStringLiteral("  order by ") + order;
    }
    const QString order = period == DistPeriod::Hour ? k : QStringLiteral("(") + k + QStringLiteral(")");
    return head +
           QStringLiteral(
               "pjsj>=:beginDate and pjsj<=:endDate and pj=:spj and dian_id=:dianId group by dian_id,") +
           k + QStringLiteral(" order by ") + order;
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
