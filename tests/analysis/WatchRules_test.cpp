// The [Watch] rules: which values turn a rule on, and which changes cross it.
#include "analysis/ShopChanges.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TEST(WatchRules, ValuesAreWholeNumbersOrPercentagesAndABadOneIsNamedAndLeavesItsRuleOff)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("config.ini");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[Net]\r\nBadRatings=9\r\n[Watch]\r\nBadRatings= 2 \r\nSalesChangePercent=12.5%\r\n"
            "CreditDrop=-4\r\nGoodRateDrop=half\r\n");
    f.close();
    QStringList problems;
    const WatchSettings w = WatchSettings::read(path, &problems);
    EXPECT_EQ(w.BadRatings, 2);
    EXPECT_EQ(w.SalesChangePercent, 12.5);
    EXPECT_FALSE(w.CreditDrop);
    EXPECT_FALSE(w.GoodRateDrop);
    EXPECT_EQ(problems, (QStringList{"[Watch] CreditDrop=-4 is not a whole number; the rule is off",
                                     "[Watch] GoodRateDrop=half is not a percentage; the rule is off"}));
    EXPECT_FALSE(WatchSettings::read(dir.filePath("missing.ini")).any());
}

TEST(WatchRules, AChangeCrossesTheRulesItReaches)
{
    shopchanges::Change base;
    base.before = "2026-01-01 00:00:00";
    base.from = "2026-01-11 00:00:00"; // ten days before
    base.to = "2026-01-16 00:00:00";   // five days since
    base.salerGoodRate = "98.50%";
    base.salerGoodRateBefore = "98.75%";
    WatchSettings all;
    all.BadRatings = 2;
    all.SalesChangePercent = 50;
    all.CreditDrop = 3;
    all.GoodRateDrop = 0.25;
    const struct
    {
        qlonglong bad, credit, sales;
        std::optional<qlonglong> salesBefore;
        QStringList crossed;
    } cases[] = {
        // 10 a day before; 15 a day is +50%, 5 a day -50%, 14 a day +40%.
        {0, 0, 75, 100, {"SalesChangePercent", "GoodRateDrop"}},
        {0, 0, 25, 100, {"SalesChangePercent", "GoodRateDrop"}},
        {2, -3, 70, 100, {"BadRatings", "CreditDrop", "GoodRateDrop"}},
        {1, -2, 70, std::nullopt, {"GoodRateDrop"}},
        {0, 0, 1, 0, {"SalesChangePercent", "GoodRateDrop"}}, // from nothing to anything
        {0, 0, 0, 0, {"GoodRateDrop"}},
    };
    for (const auto& c : cases) {
        shopchanges::Change ch = base;
        ch.bad = c.bad;
        ch.salerCreditDelta = c.credit;
        ch.sales = c.sales;
        ch.salesBefore = c.salesBefore;
        EXPECT_EQ(shopchanges::crossedRules(ch, all), c.crossed) << c.sales;
    }
    shopchanges::Change loud = base;
    loud.bad = 100;
    EXPECT_TRUE(shopchanges::crossedRules(loud, WatchSettings()).isEmpty()) << "every rule off";
    all.GoodRateDrop = 0.26;
    EXPECT_TRUE(shopchanges::crossedRules(base, all).isEmpty()) << "a drop of 0.25 points";
}

TEST(WatchRules, AmountsAreShownAsDecimals)
{
    for (const auto& [units, text] : std::initializer_list<std::pair<qlonglong, const char*>>{
             {0, "0"}, {99000, "9.9"}, {12880000, "1288"}, {1, "0.0001"}, {-125000, "-12.5"}})
        EXPECT_EQ(shopchanges::amountText(units), text);
}

} // namespace
