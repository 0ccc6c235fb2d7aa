#include "mining/SearchCriteria.h"
#include "text/GbkCodec.h"

#include <gtest/gtest.h>

namespace {

std::string path(const SearchCriteria& c)
{
    std::string url = c.firstPageUrl("127.0.0.1:8631");
    EXPECT_EQ(url.rfind("http://127.0.0.1:8631", 0), 0u);
    return url.substr(std::string("http://127.0.0.1:8631").size());
}

TEST(SearchCriteria, OnlyNameKeeperBusinessOrCategoryStartASearch)
{
    SearchCriteria c;
    EXPECT_FALSE(c.acceptable());
    c.loc = "杭州";
    c.levels[2] = true;
    EXPECT_FALSE(c.acceptable()); // location and levels alone are not enough
    c.keybiz = " ";
    EXPECT_TRUE(c.acceptable()); // a blank counts as typed
    SearchCriteria byCategory;
    byCategory.category = 1;
    EXPECT_TRUE(byCategory.acceptable());
}

TEST(SearchCriteria, AddressesKeepKeyOrderLevelsAndTextsAsTyped)
{
    SearchCriteria c;
    c.category = 1;
    EXPECT_EQ(path(c), "/browse/shop-13.htm?sort=&");

    SearchCriteria d;
    d.sellername = "Y";
    d.loc = "Z";
    d.levels[0] = d.levels[2] = true;
    EXPECT_EQ(path(d), "/browse/shop-.htm?sort=&sellername=Y&loc=Z&ratesum=1,3,");

    SearchCriteria e;
    e.shopname = "A&B C";
    e.sellername = "店主";
    e.keybiz = "女装";
    e.loc = "上海";
    e.category = 5;
    e.levels[13] = e.levels[14] = true;
    EXPECT_EQ(path(e), "/browse/shop-12.htm?sort=&shopname=A%26B C&sellername=" + gbk::fromUtf8("店主") +
                           "&keybiz=" + gbk::fromUtf8("女装") + "&loc=" + gbk::fromUtf8("上海") +
                           "&ratesum=14,15");
    EXPECT_EQ(SearchCriteria::furtherPageUrl("http://h/x?sort=&", 3), "http://h/x?sort=&&page=3");
    // The two pairs of categories that share a text keep their own codes.
    EXPECT_STREQ(SearchCriteria::categories()[16].code, "1105");
    EXPECT_STREQ(SearchCriteria::categories()[18].code, "1106");
    EXPECT_EQ(QString::fromUtf16(SearchCriteria::categories()[5].text), "MP3\\MP4\\iPod\\录音笔");
}

// A text stays one value: the characters that would split it, end the query or be decoded
// by the server are escaped in every text, and nothing else is (blanks, quotes and GBK bytes
// go as typed).
TEST(SearchCriteria, StructureCharactersInTextsAreEscapedAndNothingElse)
{
    SearchCriteria c;
    c.shopname = "小&levels=99";
    c.sellername = "a#b";
    c.keybiz = "100%+1";
    c.loc = " =&";
    EXPECT_EQ(path(c), "/browse/shop-.htm?sort=&shopname=" + gbk::fromUtf8("小") +
                           "%26levels%3D99&sellername=a%23b&keybiz=100%25%2B1&loc= %3D%26&");

    SearchCriteria untouched;
    untouched.shopname = "A B\"'<>?/;:@$,[]{}|\\^`~!*()";
    untouched.keybiz = "数码配件";
    EXPECT_EQ(path(untouched), "/browse/shop-.htm?sort=&shopname=A B\"'<>?/;:@$,[]{}|\\^`~!*()&keybiz=" +
                                   gbk::fromUtf8("数码配件") + "&");

    // A double-byte character whose second byte looks like an ASCII sign goes whole, and so
    // does a four-byte one (digits as its second and fourth bytes).
    SearchCriteria trail;
    trail.shopname = "乗丂\U0001F600"; // second bytes "\\" and "@"
    EXPECT_EQ(path(trail), "/browse/shop-.htm?sort=&shopname=" + gbk::fromUtf8("乗丂\U0001F600") + "&");
}

TEST(SearchCriteria, LogLines)
{
    SearchCriteria c;
    c.shopname = "好店";
    c.levels[0] = c.levels[1] = c.levels[2] = true;
    c.requested = 0;
    c.category = 14;
    EXPECT_EQ(c.logLines(2, QTime(9, 5, 7)),
              (QStringList{"第2次搜索条件:", "店铺名：好店", "掌柜名：", "主营项目：", "所在地：",
                           "类别：女装/女士精品", "掌柜级别：1、2、3、", "需搜索数：0个",
                           "开始搜索时间：9:05:07"}));
    SearchCriteria only15;
    only15.levels[14] = true;
    only15.category = 1;
    EXPECT_EQ(only15.logLines(1, QTime(10, 0)).at(6), "掌柜级别：15、");
    EXPECT_NE(only15.firstPageUrl("h").find("&ratesum=15"), std::string::npos);
}

} // namespace
