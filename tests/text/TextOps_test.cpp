#include "text/GbkCodec.h"
#include "text/TRegex.h"
#include "text/TextOps.h"

#include <gtest/gtest.h>

namespace {

std::string g(const char* utf8)
{
    return gbk::fromUtf8(utf8);
}

TEST(GbkCodec, RoundTripsChineseAndKeepsCharactersOutsideGbk)
{
    const std::string utf8 = "店铺 Shop 好评 \xF0\x9F\x98\x80"; // ends with an emoji
    std::string bytes = gbk::fromUtf8(utf8);
    EXPECT_EQ(bytes.substr(0, 4), "\xB5\xEA\xC6\xCC"); // 店铺 in GBK
    EXPECT_EQ(gbk::toUtf8(bytes), utf8);
}

TEST(GbkCodec, InvalidBytesBecomeReplacementCharactersNotALostText)
{
    // A lone lead byte in the middle and a cut-off one at the end.
    std::string bytes = std::string("ab\xFF") + "cd" + "\xB5";
    std::string utf8 = gbk::toUtf8(bytes);
    EXPECT_EQ(utf8.substr(0, 2), "ab");
    EXPECT_NE(utf8.find("cd"), std::string::npos);
    EXPECT_NE(utf8.find("\xEF\xBF\xBD"), std::string::npos);
    EXPECT_EQ(gbk::toUtf8(""), "");
}

// Short pieces cut at character boundaries go through iconv itself: the code page keeps no
// state, so their bytes joined are what the whole text must give.
std::string throughIconv(const std::string& utf8)
{
    std::string out;
    size_t at = 0;
    while (at < utf8.size()) {
        size_t n = std::min<size_t>(1000, utf8.size() - at);
        while (at + n < utf8.size() && (static_cast<unsigned char>(utf8[at + n]) & 0xC0) == 0x80)
            ++n;
        out += gbk::fromUtf8(utf8.substr(at, n));
        at += n;
    }
    return out;
}

TEST(GbkCodec, ALongTextGivesTheBytesOfItsPiecesThroughIconv)
{
    // Every character below U+10000 but the surrogates, an emoji, and ASCII.
    QString text;
    for (char32_t c = 1; c < 0x10000; ++c)
        if (c < 0xD800 || c > 0xDFFF)
            text += QChar(static_cast<char16_t>(c));
    text += QString::fromUtf8("\xF0\x9F\x98\x80 end");
    const std::string utf8 = text.toStdString();
    ASSERT_GE(utf8.size(), 4096u);
    EXPECT_EQ(gbk::fromUtf8(utf8), throughIconv(utf8));
    const std::string sentence = std::string(3000, 'x') + "质量好，发货快 \xF0\x9F\x98\x80 下次再来";
    EXPECT_EQ(gbk::toUtf8(gbk::fromUtf8(sentence)), sentence);
    // Bytes that are not UTF-8 anywhere in a long text: one '?' each, as before.
    const std::string bad =
        std::string(5000, 'a') + "\xFF\xC3" + "好评" + "\xED\xA0\x80" + "\xF0\x80\x80\x80";
    EXPECT_EQ(gbk::fromUtf8(bad), std::string(5000, 'a') + "??" + g("好评") + "???????");
}

TEST(TextOps, FoldLowersAsciiOnlyAndSkipsDoubleByteCharacters)
{
    // 0x81 0x41 is a double-byte character whose trail byte is 'A'.
    std::string in = "ABC\x81"
                     "A"
                     "Z\xD6\xD0";
    EXPECT_EQ(text::foldAscii(in), "abc\x81"
                                   "A"
                                   "z\xD6\xD0");
}

TEST(TextOps, WhitespaceRunsVanishSingleBlanksStay)
{
    EXPECT_EQ(text::removeWhitespaceRuns("one  two\r\nthree four\t"), "onetwothree four\t");
    EXPECT_EQ(text::removeWhitespaceRuns(" \t \n"), "");
    EXPECT_EQ(text::removeWhitespaceRuns("a\x0B\x0B"
                                         "b"),
              "a\x0B\x0B"
              "b"); // VT is not whitespace here
}

TEST(TextOps, DecodeEntitiesReplacesEachEntityOnceInOrder)
{
    EXPECT_EQ(text::DecodeEntities("&amp;lt;"), "&lt;");
    EXPECT_EQ(text::DecodeEntities("A&nbsp;B&quot;&gt;"), "a b\">");
    EXPECT_EQ(text::DecodeEntities("x&reg;&copy;&trade;&ensp;&emsp;"), "x" + g("注册版权商标") + "  ");
}

TEST(TextOps, RegexReplaceIsLiteralAndFoldsOnRequest)
{
    EXPECT_EQ(text::RegexReplace("<[^>]+>", "<B>bold</B> text", "", false), "bold text");
    EXPECT_EQ(text::RegexReplace("<B>", "<B>x<b>", "$1", true), "$1x$1");
    EXPECT_EQ(text::RegexReplace("<B>", "<B>x<b>", "", false), "x<b>");
    EXPECT_EQ(text::CountMatches("<LI>", "<li>a</li><LI>b"), 2);
    EXPECT_EQ(text::CountMatches("x*", "ab"), 3); // empty matches move on
}

TEST(TextOps, DecimalConversionAcceptsOnlyTheWholeText)
{
    EXPECT_EQ(text::toInt("42"), 42);
    EXPECT_EQ(text::toInt("  -7"), -7);
    EXPECT_EQ(text::toInt("+5"), 5);
    EXPECT_EQ(text::toInt("$1F"), 31);
    EXPECT_EQ(text::toInt("0x10"), 16);
    EXPECT_EQ(text::toInt("$FFFFFFFF"), -1);
    EXPECT_EQ(text::toInt("2147483647"), 2147483647);
    for (const char* bad : {"", " ", "12 ", "1,000", "x", "0x", "$", "-", "2147483648", "1.5", "\t3"})
        EXPECT_FALSE(text::toInt(bad).has_value()) << bad;
    EXPECT_EQ(text::toIntDef("abc", -1), -1);
    EXPECT_EQ(text::trim(" \t\r\n 12 \x01"), "12");
}

TEST(TRegex, ChineseLiteralsWithSyntaxTrailBytesMatchLiterally)
{
    // 癨 is 0xB0 0x5B in GBK (trail '['), 誠 0x9A 0x7C (trail '|'), 乗 0x81 0x5C (trail '\').
    for (const char* word : {"癨", "乗", "店"}) {
        std::string pattern = g("<b>") + g(word) + "</b>";
        auto re = TRegex::get(pattern);
        ASSERT_TRUE(re->valid()) << re->error();
        EXPECT_TRUE(re->contains("xx" + pattern + "yy")) << word;
        EXPECT_FALSE(re->contains("<b>x</b>"));
    }
    auto fromSource = TRegex::fromUtf8("信用评价[^<]*");
    EXPECT_EQ(fromSource->find(g("a信用评价b<"))->text(g("a信用评价b<")), g("信用评价b"));
}

TEST(TRegex, FoldedPatternKeepsDoubleByteTrailLetters)
{
    // 丂 (0x81 0x40) and a character whose trail byte is 'A' must survive folding.
    std::string word = "\x81\x41";
    auto re = TRegex::get("<SPAN>" + word, true);
    EXPECT_TRUE(re->contains("<span>" + word));
    EXPECT_FALSE(re->contains("<span>\x81\x61"));
}

TEST(TRegex, DefaultOptionsOfTheExtractors)
{
    EXPECT_FALSE(TRegex::get("abc")->contains("ABC"));  // case-sensitive
    EXPECT_FALSE(TRegex::get("a.b")->contains("a\nb")); // dot stops at LF
    EXPECT_FALSE(TRegex::get("a.b")->contains("a\rb")); // and at CR
    EXPECT_TRUE(TRegex::get("a\\s\\s\\s\\s\\sb")->contains("a \t\n\f\rb"));
    EXPECT_FALSE(TRegex::get("a\\sb")->contains("a\x0B"
                                                "b")); // vertical tab is no blank
    EXPECT_TRUE(TRegex::get("a[^\\s]b")
                    ->contains("a\x0B"
                               "b"));
    EXPECT_FALSE(TRegex::get("a[\\s]b")->contains("a\x0B"
                                                  "b"));
    EXPECT_EQ(TRegex::get("<a.*>")->find("<a><b>x")->end, 6u); // greedy
    EXPECT_FALSE(TRegex::get("(unclosed")->valid());
    EXPECT_FALSE(TRegex::get("(unclosed")->contains("(unclosed"));
}

TEST(TRegex, MatchLimitHitCountsAsNoMatch)
{
    const unsigned saved = TRegex::matchLimit();
    std::string hostile(20000, 'a');
    auto re = TRegex::get("(a|aa)*(a|aa)*c");
    TRegex::setMatchLimit(10000);
    EXPECT_FALSE(re->contains(hostile));
    TRegex::setMatchLimit(saved);
    EXPECT_TRUE(re->contains("aaac"));
}

} // namespace
