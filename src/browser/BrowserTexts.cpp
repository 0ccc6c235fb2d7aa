#include "browser/BrowserTexts.h"

#include "extract/RatingWord.h"

#include <optional>

namespace browsertexts {
namespace {

void append(QString& filter, const QString& condition)
{
    if (!filter.isEmpty())
        filter += QStringLiteral(" and ");
    filter += condition;
}

// A price bound as typed: only a whole number above 0 is a bound.
std::optional<qlonglong> bound(const QString& text)
{
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok);
    if (text.isEmpty() || !ok || value <= 0)
        return std::nullopt;
    return value;
}

} // namespace

QStringList levelItems()
{
    QStringList items{QStringLiteral("不限")};
    for (int n = 1; n <= 15; ++n)
        items << QStringLiteral("大于%1级").arg(n);
    return items;
}

QStringList ratingWords()
{
    return {QStringLiteral("不限"), QStringLiteral("好评"), QStringLiteral("中评"), QStringLiteral("坏评")};
}

QStringList buyerItems()
{
    return {QStringLiteral("不限"), QStringLiteral("买家"), QStringLiteral("卖家")};
}

QString shopFilter(const ShopFilterInput& in)
{
    QString f;
    if (!in.zg.isEmpty())
        append(f, QStringLiteral("dianzhu like %") + in.zg + u'%');
    if (!in.dp.isEmpty())
        append(f, QStringLiteral("dianming like %") + in.dp + u'%');
    if (!in.addr.isEmpty())
        append(f, QStringLiteral("addr like %") + in.addr + u'%');
    if (in.buyLevel > 0)
        append(f, QStringLiteral("buyLevel >") + QString::number(in.buyLevel));
    if (in.saleLevel > 0)
        append(f, QStringLiteral("saleLevel >") + QString::number(in.saleLevel));
    return f;
}

QString tradeConditions(const TradeFilterInput& in)
{
    QString f;
    if (!in.pjr.isEmpty())
        append(f, QStringLiteral("pjName like %") + in.pjr + u'%');
    const QStringList words = ratingWords();
    if (in.pjIndex > 0 && in.pjIndex < words.size())
        append(f, QStringLiteral("pj = '") + storedRatingWord(words[in.pjIndex]) + u'\'');
    if (in.buyerIndex == 1)
        append(f, QStringLiteral("buyerOrSaler = true"));
    else if (in.buyerIndex == 2)
        append(f, QStringLiteral("buyerOrSaler = false"));
    if (auto low = bound(in.jg1))
        append(f, QStringLiteral("jg >=") + QString::number(*low));
    if (auto high = bound(in.jg2))
        append(f, QStringLiteral("jg <=") + QString::number(*high));
    if (!in.sp.isEmpty())
        append(f, QStringLiteral("itemTitle like %") + in.sp + u'%');
    return f;
}

QString tradeFilter(qlonglong shopId, const QString& conditions)
{
    QString f = QStringLiteral("dian_id =") + QString::number(shopId);
    if (!conditions.isEmpty())
        f += QStringLiteral(" and ") + conditions;
    return f;
}

QString nextSort(const QString& current, const QString& field, bool* ascending)
{
    const bool up = current == field + QStringLiteral(" DESC ");
    if (ascending)
        *ascending = up;
    return up ? field : field + QStringLiteral(" DESC ");
}

QString stripArrow(const QString& title)
{
    if (title.startsWith(QChar(kUpArrow)) || title.startsWith(QChar(kDownArrow)))
        return title.mid(1);
    return title;
}

QString dataInfo(int shops)
{
    return QStringLiteral("目前共有") + QString::number(shops) + QStringLiteral("个掌柜数据!");
}

QString tradeCount(int ratings, bool bang)
{
    return QStringLiteral("掌柜共有") + QString::number(ratings) + QStringLiteral("条交易记录") +
           (bang ? QStringLiteral("!") : QString());
}

QString initialTradeCount()
{
    return QStringLiteral("掌柜共有0条交易!");
}

QString confirmMineAll(int shops)
{
    return QStringLiteral("将重新挖掘列表中的全部%1个掌柜，这需要较长时间。确定要开始吗?").arg(shops);
}

QString exportDone(qlonglong rows, int sheets, const QString& file)
{
    QString text = QStringLiteral("已导出%1条记录到 %2").arg(rows).arg(file);
    if (sheets > 0)
        text += QStringLiteral("，共%1个工作表").arg(sheets);
    return text + QStringLiteral("。");
}

} // namespace browsertexts
