// Each mining leaves a row of the shop's history; "changes" compares the last two with the
// ratings stored in between, and "changes --alerts" names the shops that cross a rule.
#include "MarketFixture.h"
#include "browser/ShopDelete.h"
#include "store/ServerDatabase.h"
#include "store/TTable.h"

#include <QProcess>

namespace {

class History : public MarketFixture, public ::testing::WithParamInterface<bool>
{
protected:
    void SetUp() override
    {
        if (GetParam()) {
            SERVER_DATABASE(url);
            m_url = url;
        }
    }

    struct Result
    {
        int exit = -1;
        QList<QJsonObject> lines;
        QString err;
    };
    Result run(const QStringList& args)
    {
        QStringList all{"--data-dir", m_dir.path()};
        if (!m_url.isEmpty())
            all << "--database" << m_url;
        QProcess p;
        p.start(QStringLiteral(KESTROVA_BIN_DIR "/kestrova-cli"), all + args);
        Result r;
        if (!p.waitForFinished(120000))
            return r;
        r.exit = p.exitCode();
        for (const QByteArray& line : p.readAllStandardOutput().split('\n'))
            if (!line.isEmpty())
                r.lines << QJsonDocument::fromJson(line).object();
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }

    // Replaces the [Watch] section of the configuration.
    void setRules(const QByteArray& rules)
    {
        QFile config(m_dir.filePath("config.ini"));
        ASSERT_TRUE(config.open(QIODevice::ReadOnly));
        QByteArray text = config.readAll();
        config.close();
        if (const qsizetype at = text.indexOf("[Watch]"); at >= 0)
            text.truncate(at);
        ASSERT_TRUE(config.open(QIODevice::WriteOnly | QIODevice::Truncate));
        config.write(text + "[Watch]\r\n" + rules);
    }

    static qlonglong units(const QString& price) { return qRound64(price.toDouble() * 10000); }

    QString m_url;
};

TEST_P(History, TwoMiningsWithGrowthGiveTwoRowsAndTheTruthsDifferencesAndAlertsFollowTheRules)
{
    constexpr int kShops = 4, kBase = 50, kNewer = 30;
    startMarket({"--shops", QString::number(kShops), "--ratings", QString::number(kBase), "--seed", "29"});
    if (!m_url.isEmpty()) {
        ASSERT_TRUE(dm.DataModuleCreate(m_url));
    }
    QStringList addresses;
    for (int i = 0; i < kShops; ++i)
        addresses << shop(i)["address"].toString();
    Result r = run(QStringList{"mine"} + addresses);
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    const QJsonArray before = shops();
    EXPECT_EQ(run({"changes"}).lines.size(), 0) << "one row per shop: nothing to compare";

    restartMarket({"--shops", QString::number(kShops), "--ratings", QString::number(kBase), "--seed", "29",
                   "--newer", QString::number(kNewer)});
    r = run({"mine", "--stored"});
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_EQ(count("select count(*) from dianHistory"), 2 * kShops);
    EXPECT_EQ(count(QString("select count(*) from dianHistory where ratings=%1 and totalRatings=%1")
                        .arg(kBase + kNewer)),
              kShops);

    // What each shop's change must be, from the two truths.
    QHash<QString, QJsonObject> expected;
    QHash<QString, QStringList> crossing; // rule -> ids of the shops crossing it
    for (int i = 0; i < kShops; ++i) {
        const QJsonObject now = shop(i), then = before.at(i).toObject();
        qlonglong amount = 0, bad = 0, neutral = 0;
        for (int k = 0; k < kNewer; ++k) {
            const QJsonObject rating = now["ratings"].toArray().at(k).toObject();
            amount += units(rating["price"].toString());
            bad += rating["pj"].toString() == "差评";
            neutral += rating["pj"].toString() == "中评";
        }
        const QString name = QString::number(i + 1); // mined in this order
        const qlonglong creditDelta = now["sellerCredit"].toInt() - then["sellerCredit"].toInt();
        expected[name] = QJsonObject{{"newRatings", kNewer},
                                     {"sales", kNewer},
                                     {"amount", double(amount) / 10000},
                                     {"bad", bad},
                                     {"neutral", neutral},
                                     {"salerCreditDelta", creditDelta},
                                     {"buyerCreditDelta", 0},
                                     {"salerGoodRate", now["sellerGoodRate"].toString()},
                                     {"salerGoodRateBefore", then["sellerGoodRate"].toString()}};
        if (bad >= 1)
            crossing["BadRatings"] << name;
        if (creditDelta <= -1)
            crossing["CreditDrop"] << name;
        if (now["sellerGoodRate"].toString().remove('%').toDouble() <
            then["sellerGoodRate"].toString().remove('%').toDouble())
            crossing["GoodRateDrop"] << name;
    }
    ASSERT_FALSE(crossing.value("BadRatings").isEmpty()) << "the seed should give a shop new bad ratings";
    r = run({"changes"});
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    ASSERT_EQ(r.lines.size(), kShops);
    for (qsizetype i = 0; i < r.lines.size(); ++i) {
        const QJsonObject& line = r.lines[i];
        const QJsonObject want = expected.value(QString::number(line["shopId"].toInt()));
        ASSERT_FALSE(want.isEmpty()) << line["shopId"].toInt();
        for (auto it = want.begin(); it != want.end(); ++it)
            EXPECT_EQ(line[it.key()], it.value()) << it.key().toStdString() << " of shop " << i;
        if (i > 0) {
            EXPECT_GE(r.lines[i - 1]["bad"].toInt(), line["bad"].toInt()) << "equal sales: bad ones first";
        }
    }
    EXPECT_EQ(run({"changes", "--filter", "id =2"}).lines.size(), 1);
    // Against the last mining before a date that lies between the two.
    dm.ADOQuery1->SetSQL(
        QString("update dianHistory set minedAt='2020-01-01 00:00:00' where ratings=%1").arg(kBase));
    ASSERT_EQ(dm.ADOQuery1->ExecSQL(), kShops);
    EXPECT_EQ(run({"changes", "--since", "2021-01-01"}).lines.size(), kShops);
    EXPECT_EQ(run({"changes", "--since", "2019-12-31"}).lines.size(), 0);
    // Side by side, the credit is what the last mining of the period read.
    const QString today = QDate::currentDate().toString(Qt::ISODate);
    r = run({"analyze", "compare", "--shops", "1,2", "--measure", "credit", "--from", today, "--to", today});
    ASSERT_EQ(r.lines.size(), 2) << r.err.toStdString();
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(r.lines[i]["value"].toInt(), shop(i)["sellerCredit"].toInt()) << i;

    const struct
    {
        QByteArray rules;
        QStringList shops;
        const char* warning;
    } cases[] = {
        {"", {}, nullptr},
        {"BadRatings=1\r\n", crossing.value("BadRatings"), nullptr},
        {"BadRatings=1000\r\nCreditDrop=100000\r\n", {}, nullptr},
        {"CreditDrop=1\r\n", crossing.value("CreditDrop"), nullptr},
        {"GoodRateDrop=0.01%\r\n", crossing.value("GoodRateDrop"), nullptr},
        {"BadRatings=many\r\nGoodRateDrop=x\r\n", {}, "[Watch] BadRatings=many"},
    };
    for (const auto& c : cases) {
        setRules(c.rules);
        r = run({"changes", "--alerts"});
        EXPECT_EQ(r.exit, c.shops.isEmpty() ? 0 : 3) << c.rules.data() << r.err.toStdString();
        QStringList named;
        for (const QJsonObject& line : r.lines)
            named << QString::number(line["shopId"].toInt());
        named.sort();
        QStringList want = c.shops;
        want.sort();
        EXPECT_EQ(named, want) << c.rules.data();
        if (c.warning) {
            EXPECT_EQ(r.err.count(c.warning), 1) << r.err.toStdString();
        }
    }

    // Every road of a delete takes the shop's history along: the browser's, and statements on
    // the view and on the table.
    TTable& browse = *dm.tb_dianbase;
    ASSERT_TRUE(browse.SetFilter("id =1") && browse.SetFiltered(true) && browse.Open());
    QString error;
    ASSERT_TRUE(shopdelete::deleteCurrent(dm.adoCn, browse, &error)) << error.toStdString();
    ASSERT_EQ(run({"sql", "delete from dianBaseSort where id=2"}).exit, 0);
    ASSERT_EQ(run({"sql", "delete from dianBase where id=3"}).exit, 0);
    EXPECT_EQ(count("select count(*) from dianHistory"), 2);
    EXPECT_EQ(count("select count(*) from dianHistory where dian_id=4"), 2);
}

INSTANTIATE_TEST_SUITE_P(Engines, History, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Server" : "File"; });

} // namespace
