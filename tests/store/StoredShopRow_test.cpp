// The shop rows the run records and the queue keep: read back field by field, those written now
// and those earlier versions wrote as the grid's texts joined by U+001F.
#include "store/RunRecords.h"
#include "store/ServerDatabase.h"
#include "store/ShopQueue.h"
#include "store/TQuery.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class StoredShopRow : public ::testing::TestWithParam<bool>
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        QString where = m_dir.filePath(QStringLiteral("quelmar2.mdb"));
        if (GetParam()) {
            SERVER_DATABASE(url);
            where = url;
        }
        ASSERT_TRUE(db.open(where)) << db.error().toStdString();
    }

    // Puts text in place of what the store wrote into the one row of table.
    void overwrite(const char* table, const QString& text)
    {
        TQuery q(&db, QStringLiteral("test"));
        q.SetSQL(QStringLiteral("update %1 set texts=:texts").arg(QLatin1String(table)));
        q.SetParam(QStringLiteral("texts"), text);
        ASSERT_EQ(q.ExecSQL(), 1) << q.lastError().toStdString();
    }

    QTemporaryDir m_dir;
    TConnection db;
};

TEST_P(StoredShopRow, RunRecordsAndQueueEntriesReadBackTheirShopWrittenNowOrByEarlierVersions)
{
    const QString address = QStringLiteral("http://127.0.0.1:9/shop/7.htm");
    const ShopRow rows[] = {
        {"掌柜", "小店", "女装", address, "12", "杭州", "不限"},
        // Texts that look like the stored forms themselves.
        {"{\"dianzhu\": \"x\"}", "a \"quoted\" \\ name", "line\nbreak", address, "", "", "{"},
        {"", "", "", address, "0", "", ""},
    };
    for (const ShopRow& row : rows) {
        for (const bool old : {false, true}) {
            SCOPED_TRACE(row.shopkeeper.toStdString() + (old ? " (joined by U+001F)" : ""));
            const QString joined = row.columns().join(QChar(0x1f));
            const qint64 run = runrecords::create(
                db, 1, 5000, false, {runrecords::Shop{1, 1, address, row, runrecords::ShopState::Pending, 0}},
                nullptr);
            ASSERT_GT(run, 0);
            ASSERT_GE(shopqueue::add(db, {shopqueue::Entry{address, row, 1, 5000, false}}, nullptr), 1);
            if (old) {
                overwrite("miningRunShop", joined);
                overwrite("shopQueue", joined);
            }
            const auto loaded = runrecords::load(db, run, nullptr);
            ASSERT_TRUE(loaded && loaded->shops.size() == 1);
            EXPECT_EQ(loaded->shops[0].row, row);
            const auto claim = shopqueue::claim(db, QStringLiteral("a:1"), 60, nullptr);
            ASSERT_TRUE(claim && claim->entry.row);
            EXPECT_EQ(*claim->entry.row, row);
            ASSERT_TRUE(db.exec(QStringLiteral("delete from miningRunShop")));
            ASSERT_TRUE(db.exec(QStringLiteral("delete from shopQueue")));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, StoredShopRow, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Server" : "File"; });

} // namespace
