#include "StoreFixture.h"

#include "store/FilterText.h"

#include <QFile>
#include <QSignalSpy>

namespace {

class Cursors : public StoreFixture
{
protected:
    void SetUp() override
    {
        StoreFixture::SetUp();
        a = addShop("alice", "http://h/a", 5, "北京");
        b = addShop("bob", "http://h/b", 50, "上海");
        c = addShop("carol%_", "http://h/c", 500, "北京");
    }
    QStringList keepers()
    {
        QStringList out;
        TTable* t = dm.tb_dianbase;
        for (t->First(); !t->Eof(); t->Next())
            out << t->FieldByName("dianzhu").asString();
        return out;
    }
    qlonglong a = 0, b = 0, c = 0;
};

TEST_F(Cursors, WalkBookmarksAndTypedReads)
{
    TTable* t = dm.tb_dianbase;
    EXPECT_EQ(t->RecordCount(), 0); // closed
    ASSERT_TRUE(t->Open());
    EXPECT_EQ(t->RecordCount(), 3);
    EXPECT_EQ(t->RecNo(), 1);
    t->Next();
    EXPECT_EQ(t->RecNo(), 2);
    const TCursor::Bookmark mark = t->GetBookmark();
    t->Last();
    EXPECT_EQ(t->FieldByName("dianzhu").asString(), "carol%_");
    t->Next();
    EXPECT_TRUE(t->Eof());
    ASSERT_TRUE(t->GotoBookmark(mark));
    EXPECT_EQ(t->FieldByName("dianzhu").asString(), "bob");
    EXPECT_EQ(t->FieldByName("commodityNum").asInteger(), 50);
    EXPECT_DOUBLE_EQ(t->FieldByName("commodityNum").asFloat(), 50.0);
    EXPECT_TRUE(t->FieldByName("salerCredit").isNull()); // never written
    EXPECT_EQ(t->FieldByName("salerCredit").asString(), "");
    EXPECT_FALSE(t->FieldByName("commodityNum").isNull());
    EXPECT_EQ(t->FieldByName("updateDate").asString(), "2026-12-01 9:30:00");
    EXPECT_EQ(t->FieldByName("no such column").asString(), "");

    // A static snapshot: rows added later show only after reopening.
    addShop("dave", "http://h/d");
    EXPECT_EQ(t->RecordCount(), 3);
    ASSERT_TRUE(t->Refresh());
    EXPECT_EQ(t->RecordCount(), 4);
    EXPECT_EQ(t->FieldByName("dianzhu").asString(), "bob"); // refresh keeps the current row
}

TEST_F(Cursors, DeleteThroughTheViewAndEditPost)
{
    TTable* t = dm.tb_dianbase;
    ASSERT_TRUE(t->Open());
    t->Next(); // bob
    ASSERT_TRUE(t->Delete()) << t->lastError().toStdString();
    EXPECT_EQ(t->RecordCount(), 2);
    EXPECT_EQ(t->FieldByName("dianzhu").asString(), "carol%_");
    ASSERT_TRUE(t->Edit());
    t->SetFieldValue("salerCredit", "77");
    t->SetFieldValue("updateDate", "2027-01-02");
    ASSERT_TRUE(t->Post()) << t->lastError().toStdString();
    // A value that does not fit the column is refused and nothing is written.
    ASSERT_TRUE(t->Edit());
    t->SetFieldValue("salerCredit", "lots");
    EXPECT_FALSE(t->Post());

    TQuery* q = dm.ADOQuery1;
    q->SetSQL("select dianzhu, salerCredit, updateDate from dianBase order by id");
    ASSERT_TRUE(q->Open());
    EXPECT_EQ(rows(q), (QStringList{"alice||2026-12-01 9:30:00", "carol%_|77|2027-01-02 0:00:00"}));
}

TEST_F(Cursors, FiltersOfEveryFormAndSortTexts)
{
    TTable* t = dm.tb_dianbase;
    ASSERT_TRUE(t->Open());
    ASSERT_TRUE(t->SetFilter("addr like %北京% and commodityNum >=100"));
    EXPECT_EQ(t->RecordCount(), 3); // filtering still off
    ASSERT_TRUE(t->SetFiltered(true));
    EXPECT_EQ(keepers(), QStringList{"carol%_"});

    struct Case
    {
        QString filter;
        QStringList expected;
    } cases[] = {
        {"", {"alice", "bob", "carol%_"}},
        {"id =" + QString::number(b), {"bob"}},
        {"commodityNum >5", {"bob", "carol%_"}},
        {"commodityNum <=50 and commodityNum >=5.5", {"bob"}},
        {"dianzhu like %O%", {"bob", "carol%_"}}, // contains, ASCII case ignored
        {"dianzhu = 'alice'", {"alice"}},
        {"dianzhu like %%%", {"carol%_"}}, // a percent sign is a letter here
        {"dianzhu like %_%", {"carol%_"}}, // and so is an underscore
        {"dianzhu like %%", {"alice", "bob", "carol%_"}},
    };
    for (const Case& k : cases) {
        ASSERT_TRUE(t->SetFilter(k.filter)) << k.filter.toStdString() << t->lastError().toStdString();
        EXPECT_EQ(keepers(), k.expected) << k.filter.toStdString();
    }

    ASSERT_TRUE(t->SetFilter(""));
    ASSERT_TRUE(t->SetSort("commodityNum DESC "));
    EXPECT_EQ(t->Sort(), "commodityNum DESC "); // read back exactly, blanks included
    EXPECT_EQ(keepers(), (QStringList{"carol%_", "bob", "alice"}));
    ASSERT_TRUE(t->SetSort("addr"));
    EXPECT_EQ(keepers(), (QStringList{"bob", "alice", "carol%_"})); // 上海 sorts before 北京 in UTF-8
    EXPECT_FALSE(t->SetSort("addr; drop table dianBase"));
    EXPECT_EQ(t->Sort(), "addr");
}

TEST_F(Cursors, FilterTextsNeverBecomeSql)
{
    TTable* t = dm.tb_dianbase;
    ASSERT_TRUE(t->Open());
    ASSERT_TRUE(t->SetFiltered(true));
    // User texts with quotes, keywords and " and " inside: matched as texts, nothing else.
    ASSERT_TRUE(t->SetFilter("dianzhu like %' or 1=1 --%"));
    EXPECT_EQ(t->RecordCount(), 0);
    ASSERT_TRUE(t->SetFilter("dianzhu like %x and 1=1% and commodityNum >1"));
    EXPECT_EQ(t->RecordCount(), 0);
    ASSERT_TRUE(t->SetFilter("dianzhu = 'a' or 'x'='x'"));
    EXPECT_EQ(t->RecordCount(), 0);
    // Texts that are none of the accepted forms are errors and leave the rows as they were.
    ASSERT_TRUE(t->SetFilter("commodityNum >5"));
    for (const char* bad : {"commodityNum >5; delete from dianBase", "1=1", "nosuch =1", "dianzhu like x",
                            "commodityNum > 5 or 1=1", "buyLevel >", "dianzhu = true)"}) {
        EXPECT_FALSE(t->SetFilter(bad)) << bad;
        EXPECT_FALSE(t->lastError().isEmpty());
        EXPECT_EQ(t->Filter(), "commodityNum >5");
    }
    EXPECT_EQ(t->RecordCount(), 2);
    dm.ADOQuery1->SetSQL("select count(*) as n from dianBase");
    ASSERT_TRUE(dm.ADOQuery1->Open());
    EXPECT_EQ(dm.ADOQuery1->FieldByName("n").asInteger(), 3);
}

TEST_F(Cursors, RatingFiltersOnBooleansTextsAndPrices)
{
    ASSERT_TRUE(addRating(a, "好评", "True", "2026-03-01 08:00:00", "I1", "12.5"));
    ASSERT_TRUE(addRating(a, "中评", "False", "2026-03-02 08:00:00", "I2", "99.99"));
    ASSERT_TRUE(addRating(b, "好评", "True", "2026-03-03 08:00:00", "I3", "1", "", QVariant()));
    TTable* t = dm.tb_pjinfo;
    ASSERT_TRUE(t->Open());
    ASSERT_TRUE(t->SetFiltered(true));
    auto items = [&] {
        QStringList out;
        for (t->First(); !t->Eof(); t->Next())
            out << t->FieldByName("itemId").asString();
        return out;
    };
    ASSERT_TRUE(t->SetFilter("dian_id =" + QString::number(a) + " and buyerOrSaler = true"));
    EXPECT_EQ(items(), QStringList{"I1"});
    EXPECT_EQ(t->FieldByName("buyerOrSaler").asString(), "True");
    EXPECT_TRUE(t->FieldByName("buyerOrSaler").asBoolean());
    ASSERT_TRUE(t->SetFilter("buyerOrSaler = false and pj = '中评' and jg >=99.99 and jg <=100"));
    EXPECT_EQ(items(), QStringList{"I2"});
    EXPECT_EQ(t->FieldByName("jg").asString(), "99.99");
    ASSERT_TRUE(t->SetFilter("dian_id =" + QString::number(b)));
    EXPECT_TRUE(t->FieldByName("trade_id").isNull());
}

TEST_F(Cursors, DisabledControlsSignalOnceAtTheEnd)
{
    TTable* t = dm.tb_dianbase;
    ASSERT_TRUE(t->Open());
    QSignalSpy resets(t, &TCursor::dataReset);
    QSignalSpy moves(t, &TCursor::currentChanged);
    t->DisableControls();
    t->DisableControls();
    for (t->First(); !t->Eof(); t->Next()) {
    }
    t->Refresh();
    t->EnableControls();
    EXPECT_EQ(resets.count() + moves.count(), 0);
    t->EnableControls();
    EXPECT_EQ(resets.count(), 1);
    EXPECT_EQ(moves.count(), 1);
    t->First();
    EXPECT_EQ(moves.count(), 2);
}

TEST_F(Cursors, RankingDetailShowsLongCommentsCut)
{
    const QString longComment = QString(60, QChar(u'好')) + "end"; // 120 bytes in the page code page
    ASSERT_TRUE(addRating(a, "好评", "True", "2026-03-01 08:00:00", "I1", "1", "a" + longComment));
    ASSERT_TRUE(dm.tb_pjinfo->Open());
    ASSERT_TRUE(dm.pj_fx1->Open()); // the detail follows the ranking's current row
    ASSERT_TRUE(dm.pj_fx1_detail->Open());
    const int col = dm.pj_fx1_detail->FieldIndex("pjinfo");
    // One ASCII letter, then 49 double-byte characters: the 50th would pass the 100th byte.
    EXPECT_EQ(dm.pj_fx1_detail->DisplayText(0, col), "a" + QString(49, QChar(u'好')));
    EXPECT_EQ(dm.pj_fx1_detail->FieldByName("pjInfo").asString(), "a" + longComment); // stored whole
    EXPECT_EQ(dm.tb_pjinfo->DisplayText(0, dm.tb_pjinfo->FieldIndex("pjinfo")), "a" + longComment);
}

TEST_F(Cursors, DetailShowsRowsReadElsewhereUntilTheSourceDeclines)
{
    for (const char* when : {"2026-03-01 08:00:00", "2026-03-02 08:00:00", "2026-03-03 08:00:00"})
        ASSERT_TRUE(addRating(a, "好评", "True", when, "I1", "1"));
    ASSERT_TRUE(dm.pj_fx1->Open()); // select* from pjinfo: the first rating's shop and item
    ASSERT_TRUE(dm.pj_fx1_detail->Open());
    ASSERT_EQ(dm.pj_fx1_detail->RecordCount(), 3);
    const qlonglong first = dm.pj_fx1_detail->FieldByName("id").asInteger();

    std::optional<std::vector<qlonglong>> given = std::vector<qlonglong>{first + 2, first};
    dm.pj_fx1_detail->SetKeySource([&given] { return given; });
    dm.pj_fx1->Next(); // the master moves: the given rows, in the given order, without a query
    EXPECT_EQ(dm.pj_fx1_detail->RecordCount(), 2);
    EXPECT_EQ(dm.pj_fx1_detail->FieldByName("id").asInteger(), first + 2);
    EXPECT_EQ(dm.pj_fx1_detail->FieldByName("pjsj").asString().left(10), "2026-03-03");
    given = std::vector<qlonglong>();
    ASSERT_TRUE(dm.pj_fx1_detail->Refresh());
    EXPECT_EQ(dm.pj_fx1_detail->RecordCount(), 0);
    // Filtered, or when the source has no answer, the table reads its rows itself.
    given = std::nullopt;
    dm.pj_fx1->First();
    EXPECT_EQ(dm.pj_fx1_detail->RecordCount(), 3);
    dm.pj_fx1_detail->SetKeySource({});
}

TEST(Store, DamagedFileIsReportedAndEveryActionFailsCleanly)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("quelmar2.mdb");
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(8192, 'x'));
    }
    TDM dm;
    EXPECT_FALSE(dm.DataModuleCreate(path));
    EXPECT_FALSE(dm.OpenError().isEmpty());
    dm.ADOQuery1->SetSQL("select count(*) from dianBase");
    EXPECT_FALSE(dm.ADOQuery1->Open());
    EXPECT_FALSE(dm.ADOQuery1->lastError().isEmpty());
    EXPECT_EQ(dm.ADOQuery1->ExecSQL(), -1);
    EXPECT_FALSE(dm.tb_dianbase->Open());
    EXPECT_EQ(dm.tb_dianbase->RecordCount(), 0);
    EXPECT_FALSE(dm.tb_dianbase->Delete());
}

TEST_F(Cursors, ParametersAreMatchedWithoutCaseAndCheckedByColumnType)
{
    TQuery* q = dm.ADOQuery1;
    q->SetSQL("select dianzhu from dianBase where ID=:Shop and commodityNum>=:MIN");
    q->SetParam("shop", QString::number(b));
    q->SetParam("min", "50");
    ASSERT_TRUE(q->Open()) << q->lastError().toStdString();
    EXPECT_EQ(rows(q), QStringList{"bob"});

    q->ClearParams();
    q->SetParam("shop", 1);
    EXPECT_FALSE(q->Open()); // :MIN has no value
    EXPECT_TRUE(q->lastError().contains("min"));

    // Texts that do not fit their column fail the statement and write nothing.
    EXPECT_FALSE(addRating(a, "好评", "True", "yesterday", "I9", "1"));
    EXPECT_FALSE(addRating(a, "好评", "True", "2026-02-30 10:00:00", "I9", "1"));
    EXPECT_FALSE(addRating(a, "好评", "maybe", "2026-02-01 10:00:00", "I9", "1"));
    EXPECT_FALSE(addRating(a, "好评", "True", "2026-02-01 10:00:00", "I9", "12,50"));
    EXPECT_FALSE(dm.ADOQuery2->lastError().isEmpty());
    q->SetSQL("select count(*) as n from pjInfo");
    ASSERT_TRUE(q->Open());
    EXPECT_EQ(q->FieldByName("n").asInteger(), 0);
}

TEST_F(Cursors, TransactionsAndASecondConnection)
{
    auto saver = dm.OpenSecondConnection();
    ASSERT_TRUE(saver);
    TQuery insert(saver.get(), "ADOQuery2");
    insert.SetSQL(kRatingInsert);
    const QStringList names = {"dianId",    "pj",     "buyerorSaler", "pjsj",   "trade_id", "itemid",
                               "itemtitle", "pjName", "jg",           "pjinfo", "pjjs",     "itemId_pjsj"};
    auto fill = [&](const QString& item) {
        for (const QString& n : names)
            insert.SetParam(n, "1");
        insert.SetParam("pjsj", "2026-05-05 05:05:05");
        insert.SetParam("itemid", item);
        insert.SetParam("itemId_pjsj", item);
    };
    auto count = [&] {
        dm.ADOQuery1->SetSQL("select count(*) as n from pjinfo");
        EXPECT_TRUE(dm.ADOQuery1->Open());
        return dm.ADOQuery1->FieldByName("n").asInteger();
    };
    ASSERT_TRUE(saver->beginTransaction());
    fill("X1");
    ASSERT_EQ(insert.ExecSQL(), 1);
    EXPECT_EQ(count(), 0); // the window reads on while the saver writes
    ASSERT_TRUE(saver->commit());
    EXPECT_EQ(count(), 1);
    ASSERT_TRUE(saver->beginTransaction());
    fill("X2");
    ASSERT_EQ(insert.ExecSQL(), 1);
    ASSERT_TRUE(saver->rollback());
    EXPECT_FALSE(saver->inTransaction());
    EXPECT_EQ(count(), 1);
}

} // namespace
