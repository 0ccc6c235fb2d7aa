#pragma once

#include "store/TDM.h"

#include <QTemporaryDir>
#include <QVariantHash>

// The two shops and three ratings the browser tests share: blanks, commas, line breaks, a
// character outside GBK, an address without digits, a rating without trade number and texts
// that a spreadsheet program would take for formulas.
namespace browserdata {

inline const QString kSnapHost = QStringLiteral("http://snap.test:81");

// Inserts a row of the given columns; returns its id (0 on failure).
inline qlonglong insert(TDM& dm, const QString& table, const QVariantHash& values)
{
    QStringList names, marks;
    for (auto it = values.begin(); it != values.end(); ++it) {
        names << it.key();
        marks << u':' + it.key();
    }
    TQuery* q = dm.ADOQuery1;
    q->SetSQL(QStringLiteral("insert into %1(%2) values(%3)").arg(table, names.join(u','), marks.join(u',')));
    for (auto it = values.begin(); it != values.end(); ++it)
        q->SetParam(it.key(), it.value());
    if (q->ExecSQL() != 1)
        return 0;
    q->SetSQL(QStringLiteral("select max(id) as id from ") + table);
    return q->Open() ? q->FieldByName(QStringLiteral("id")).asInteger() : 0;
}

inline qlonglong addShopA(TDM& dm)
{
    return insert(dm, QStringLiteral("dianBase"),
                  {{"dianzhu", QStringLiteral(" 店主甲 ")},
                   {"dianming", QStringLiteral("甲的小店")},
                   {"addr", QStringLiteral("杭州, 西湖")},
                   {"webaddr", QStringLiteral("http://127.0.0.1:8631/shop/view_shop-5678.htm")},
                   {"updateDate", QStringLiteral("2026-12-01 9:30:00")},
                   {"buylevel", 3},
                   {"buyerCredit", 120},
                   {"salelevel", 11},
                   {"salerCredit", 5000},
                   {"commodityKind", QStringLiteral("服饰")},
                   {"loc", QStringLiteral("女装")},
                   {"buyerBad", 0},
                   {"buyerNotBad", 1},
                   {"buyerGood", 100},
                   {"salerBad", 2},
                   {"salerNotBad", 3},
                   {"salerGood", 4000},
                   {"commodityNum", 42},
                   {"createDate", QStringLiteral("2020-05-06")},
                   {"salerGoodRate", QStringLiteral("98.50%")},
                   {"buyerGoodRate", QStringLiteral("99.00%")}});
}

inline qlonglong addShopB(TDM& dm)
{
    return insert(
        dm, QStringLiteral("dianBase"),
        {{"dianzhu", QStringLiteral("乙")}, {"webaddr", QStringLiteral("http://shop.example/abc/")}});
}

inline qlonglong addRating(TDM& dm, qlonglong shop, const QString& pj, bool buyer, const QString& name,
                           const QString& price, const QString& when, const QString& item,
                           const QString& title, const QString& comment, const QString& explanation,
                           const QVariant& trade)
{
    return insert(dm, QStringLiteral("pjInfo"),
                  {{"dian_id", shop},
                   {"pj", pj},
                   {"buyerOrSaler", buyer},
                   {"pjName", name},
                   {"jg", price},
                   {"pjsj", when},
                   {"itemId", item},
                   {"itemTitle", title},
                   {"pjInfo", comment},
                   {"pjjs", explanation},
                   {"trade_id", trade},
                   {"itemId_pjsj", item + when}});
}

// Shop A with two ratings (the second without trade number), shop B with one.
struct Sample
{
    qlonglong shopA = 0, shopB = 0;
    qlonglong r1 = 0, r2 = 0, r3 = 0;
};

inline Sample addSample(TDM& dm)
{
    Sample s;
    s.shopA = addShopA(dm);
    s.shopB = addShopB(dm);
    s.r1 = addRating(dm, s.shopA, QStringLiteral("好评"), true, QStringLiteral("买家,甲"),
                     QStringLiteral("128.5"), QStringLiteral("2026-11-02 08:05:09"), QStringLiteral("I100"),
                     QStringLiteral("=SUM(A1)"), QStringLiteral("质量好, 发货快\r\n下次再来😀"), QString(),
                     QStringLiteral("T1"));
    s.r2 =
        addRating(dm, s.shopA, QStringLiteral("中评"), false, QStringLiteral("卖家乙"), QStringLiteral("30"),
                  QStringLiteral("2026-01-15 23:00:00"), QStringLiteral("I200"), QStringLiteral("+86 电话"),
                  QStringLiteral("一般"), QStringLiteral("已处理 谢谢"), QVariant());
    s.r3 = addRating(dm, s.shopB, QStringLiteral("坏评"), true, QStringLiteral("丙"), QStringLiteral("100"),
                     QStringLiteral("2026-03-01 10:00:00"), QStringLiteral("I300"), QStringLiteral("杯子"),
                     QStringLiteral("碎了"), QString(), QStringLiteral("T3"));
    return s;
}

} // namespace browserdata

// Readable failure messages for texts.
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}
