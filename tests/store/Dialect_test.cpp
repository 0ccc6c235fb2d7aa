#include "store/SqlDialect.h"
#include "store/SqlFunctions.h"
#include "store/SqlValue.h"

#include <gtest/gtest.h>

namespace {

TEST(Dialect, TopBecomesALimitAtTheEnd)
{
    EXPECT_EQ(dialect::rewrite("select top 5 a from t order by a desc"),
              "select a from t order by a desc LIMIT 5");
    EXPECT_EQ(dialect::rewrite("select  TOP 1 sum(jg) from t\ngroup by x order by 1 desc  "),
              "select  sum(jg) from t\ngroup by x order by 1 desc LIMIT 1");
    EXPECT_EQ(dialect::rewrite("select topic from t"), "select topic from t");
    EXPECT_EQ(dialect::rewrite("delete from t"), "delete from t");
}

TEST(Dialect, ParametersMeetTheirColumns)
{
    auto cols = dialect::parameterColumns(
        "insert into pjinfo(dian_id,pj,pjsj)  values(:dianId,:pj,:pjsj); update x set jg=:Price where "
        "a.pjsj>=:Begin and pjsj<=:end and itemId like :t");
    EXPECT_EQ(cols.value("dianid"), "dian_id");
    EXPECT_EQ(cols.value("pjsj"), "pjsj");
    EXPECT_EQ(cols.value("price"), "jg");
    EXPECT_EQ(cols.value("begin"), "a.pjsj");
    EXPECT_EQ(cols.value("end"), "pjsj");
    EXPECT_EQ(cols.value("t"), "itemId");
    EXPECT_EQ(schema::columnType(cols.value("begin")), schema::ColumnType::DateTime);
}

TEST(Dialect, WeeksStartOnSundayAndWeekOneHoldsNewYear)
{
    // 2026-01-01 is a Thursday; Sunday 4 January opens week 2.
    EXPECT_EQ(sqlfunctions::weekOfYear(2026, 1, 1), 1);
    EXPECT_EQ(sqlfunctions::weekOfYear(2026, 1, 3), 1);
    EXPECT_EQ(sqlfunctions::weekOfYear(2026, 1, 4), 2);
    EXPECT_EQ(sqlfunctions::weekOfYear(2026, 12, 31), 53);
    // 2023-01-01 is a Sunday.
    EXPECT_EQ(sqlfunctions::weekOfYear(2023, 1, 7), 1);
    EXPECT_EQ(sqlfunctions::weekOfYear(2023, 1, 8), 2);
}

TEST(Dialect, DateTextsReachTheStoredForm)
{
    EXPECT_EQ(sqlvalue::storedDateTime("2026-3-1"), "2026-03-01 00:00:00");
    EXPECT_EQ(sqlvalue::storedDateTime("2026.03.01 8:05"), "2026-03-01 08:05:00");
    EXPECT_EQ(sqlvalue::storedDateTime(" 2026/03/01 23:59:59 "), "2026-03-01 23:59:59");
    for (const char* bad :
         {"", "2026-13-01", "2026-02-29", "01-03-2026", "2026-03-01 24:00:00", "2026-03-01x"})
        EXPECT_FALSE(sqlvalue::storedDateTime(bad).has_value()) << bad;
}

} // namespace
