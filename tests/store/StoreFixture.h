#pragma once

#include "store/TDM.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

// A fresh database in a temporary folder, with helpers that write rows through the same
// statements the mining run and the rating saver send.
class StoreFixture : public ::testing::Test
{
protected:
    static constexpr const char* kShopInsert =
        "insert into dianbase(dianzhu,addr,dianming,commodityNum,loc,updateDate,commodityKind,webaddr) "
        "values(:dianzhu,:addr,:dianming,:commodityNum,:loc,:updateDate,:commodityKind,:webaddr)";
    static constexpr const char* kRatingInsert =
        "insert into pjinfo(dian_id,pj,buyerorSaler,pjsj,trade_id,itemid,itemtitle,pjName,jg,pjinfo,pjjs,"
        "itemId_pjsj)  "
        "values(:dianId,:pj,:buyerorSaler,:pjsj,:trade_id,:itemid,:itemtitle,:pjName,:jg,:pjinfo,"
        ":pjjs,:itemId_pjsj)";

    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(dm.DataModuleCreate(path())) << dm.OpenError().toStdString();
    }

    QString path() const { return m_dir.filePath(QStringLiteral("quelmar2.mdb")); }

    // Adds a shop and returns its id.
    qlonglong addShop(const QString& keeper, const QString& webaddr, int goods = 10,
                      const QString& location = QStringLiteral("杭州"))
    {
        TQuery* q = dm.adoq1;
        q->SetSQL(QString::fromLatin1(kShopInsert));
        q->SetParam("dianzhu", keeper);
        q->SetParam("addr", location);
        q->SetParam("dianming", keeper + QStringLiteral("的小店"));
        q->SetParam("commodityNum", QString::number(goods));
        q->SetParam("loc", QStringLiteral("女装"));
        q->SetParam("updateDate", QStringLiteral("2026-12-01 9:30:00"));
        q->SetParam("commodityKind", QStringLiteral("服饰"));
        q->SetParam("webaddr", webaddr);
        EXPECT_EQ(q->ExecSQL(), 1) << q->lastError().toStdString();
        q->SetSQL("select id from dianbase where webaddr=:webaddr");
        EXPECT_TRUE(q->Open());
        return q->FieldByName("id").asInteger();
    }

    // Adds a rating through the saver's statement; all values are texts, as the saver has them.
    bool addRating(qlonglong shop, const QString& pj, const QString& buyer, const QString& when,
                   const QString& item, const QString& price, const QString& comment = QStringLiteral("很好"),
                   const QVariant& trade = QStringLiteral("T1"))
    {
        TQuery* q = dm.ADOQuery2;
        q->SetSQL(QString::fromLatin1(kRatingInsert));
        q->SetParam("dianId", QString::number(shop));
        q->SetParam("pj", pj);
        q->SetParam("buyerorSaler", buyer);
        q->SetParam("pjsj", when);
        q->SetParam("trade_id", trade);
        q->SetParam("itemid", item);
        q->SetParam("itemtitle", QStringLiteral("商品") + item);
        q->SetParam("pjName", QStringLiteral("买家甲"));
        q->SetParam("jg", price);
        q->SetParam("pjinfo", comment);
        q->SetParam("pjjs", QString());
        q->SetParam("itemId_pjsj", item + when);
        return q->ExecSQL() == 1;
    }

    // Rows of a query as "a|b|c" texts, for compact comparisons.
    static QStringList rows(TCursor* c)
    {
        QStringList out;
        for (c->First(); !c->Eof(); c->Next()) {
            QStringList cells;
            for (const QString& name : c->FieldNames())
                cells << c->FieldByName(name).asString();
            out << cells.join(u'|');
        }
        return out;
    }

    QTemporaryDir m_dir;
    TDM dm;
};
