#include "text/GbkCodec.h"
#include "text/TRegex.h"
#include "text/TextOps.h"

#include <gtest/gtest.h>
#include <random>

// The matcher's safety net (deadline, limit), its shortcuts (plain-text patterns) and the
// fast text passes, each against the straightforward behaviour.

namespace {

using namespace std::chrono_literals;

std::string hostileSubject()
{
    // Each "<li>" is a start position whose ".*" runs to the end of the line.
    std::string s;
    while (s.size() < 400000)
        s += "<li>xxxx";
    return s;
}

TEST(RegexDeadline, PassedDeadlineMeansNoMatchUntilTheScopeEnds)
{
    auto re = TRegex::get("(<li>.*</li>)?\\s*<li>[^<]+<span>");
    auto simple = TRegex::get("<li>x");
    const std::string subject = hostileSubject();
    {
        TRegex::Deadline deadline(20ms);
        EXPECT_FALSE(re->find(subject).has_value());
        EXPECT_TRUE(TRegex::Deadline::passed());
        EXPECT_FALSE(simple->contains("<li>x")) << "every later match fails too";
        EXPECT_FALSE(TRegex::get("plain")->contains("plain"));
    }
    EXPECT_FALSE(TRegex::Deadline::passed());
    EXPECT_TRUE(simple->contains("<li>x"));
    EXPECT_TRUE(re->contains("<li>a</li><li>b<span>"));
}

TEST(RegexDeadline, InnerDeadlineCannotOutliveTheOuterOne)
{
    auto re = TRegex::get("(<li>.*</li>)?\\s*<li>[^<]+<span>");
    const std::string subject = hostileSubject();
    TRegex::Deadline outer(20ms);
    {
        TRegex::Deadline inner(std::chrono::hours(1));
        EXPECT_FALSE(re->find(subject).has_value());
        EXPECT_TRUE(TRegex::Deadline::passed());
    }
    EXPECT_FALSE(TRegex::get("<li>")->contains("<li>")) << "the outer deadline has passed as well";
}

TEST(RegexShapes, GuardCalloutKeepsEveryPatternShapeWorking)
{
    // Leading literals, repeated literals, top-level alternatives, groups first, escapes.
    EXPECT_EQ(TRegex::get("ab*c")->find("xacx")->begin, 1u);
    EXPECT_EQ(TRegex::get("a{2}b")->find("xaab")->begin, 1u);
    EXPECT_EQ(TRegex::get("abc|def")->find("xxdef")->begin, 2u);
    EXPECT_EQ(TRegex::get("(x|y)z")->find("ayz")->begin, 1u);
    EXPECT_EQ(TRegex::get("\\(a\\)\\s+b")->find("(a)  b")->end, 6u);
    EXPECT_EQ(TRegex::get("currentpage\\s*(=|\\|)\\s*[0-9]+")->find("currentpage|12")->end, 14u);
    EXPECT_FALSE(TRegex::get("a(b")->valid());
}

TEST(RegexShapes, PlainTextPatternsMatchLikeTheMatcher)
{
    EXPECT_TRUE(TRegex::get("a\\.b")->contains("a.b"));
    EXPECT_FALSE(TRegex::get("a\\.b")->contains("axb"));
    EXPECT_FALSE(TRegex::get("a.b")->contains("a\nb"));
    EXPECT_TRUE(TRegex::get("a.b")->contains("axb"));
    EXPECT_EQ(TRegex::get("\\]</span>")->replaceAll("[1]</span>]</span>", ""), "[1");
    const std::string label = gbk::fromUtf8("买家：");
    EXPECT_EQ(TRegex::get(label)->replaceAll(label + "a" + label, ""), "a");
    EXPECT_EQ(TRegex::get("aa")->countMatches("aaaaa"), 2) << "matches do not overlap";
    EXPECT_EQ(TRegex::get("ab")->find("xxab", 3), std::nullopt);
}

// The byte-at-a-time forms of the fast passes.
std::string referenceFold(const std::string& s)
{
    std::string out = s;
    for (size_t i = 0; i < out.size(); ++i) {
        auto c = static_cast<unsigned char>(out[i]);
        if (gbk::isLeadByte(c)) {
            if (i + 1 < out.size() && gbk::isTrailByte(static_cast<unsigned char>(out[i + 1])))
                ++i;
        } else if (c >= 'A' && c <= 'Z') {
            out[i] = static_cast<char>(c + 32);
        }
    }
    return out;
}

std::string referenceRuns(const std::string& s)
{
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; };
    std::string out;
    for (size_t i = 0; i < s.size();) {
        size_t j = i;
        while (j < s.size() && blank(s[j]))
            ++j;
        if (j == i)
            out += s[i++];
        else if (j - i == 1)
            out += s[i++];
        else
            i = j;
    }
    return out;
}

TEST(FastTextPasses, AgreeWithTheByteAtATimeForms)
{
    // Mixed ASCII, capitals, GBK pairs with letter trail bytes and blanks at every offset.
    const char alphabet[] = {'A',    'Z',    'a',    'z',    '@',    '[',    ' ', ' ',
                             '\t',   '\r',   '\n',   '\f',   '\x0B', '<',    '>', '\x81',
                             '\xB0', '\xFE', '\x41', '\x5C', '\x80', '\xFF', '0'};
    std::mt19937 rng(4);
    for (int round = 0; round < 2000; ++round) {
        std::string s(rng() % 80, '\0');
        for (char& c : s)
            c = alphabet[rng() % sizeof alphabet];
        ASSERT_EQ(text::foldAscii(s), referenceFold(s)) << round;
        ASSERT_EQ(text::removeWhitespaceRuns(s), referenceRuns(s)) << round;
    }
}

} // namespace
