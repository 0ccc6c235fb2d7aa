#include "extract/TextOps.h"

#include "extract/GbkCodec.h"
#include "extract/TRegex.h"

#include <array>
#include <cstdint>
#include <utility>

namespace text {

std::string foldAscii(std::string_view s)
{
    std::string out(s);
    for (size_t i = 0; i < out.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(out[i]);
        if (gbk::isLeadByte(c)) {
            if (i + 1 < out.size() && gbk::isTrailByte(static_cast<unsigned char>(out[i + 1])))
                ++i;
        } else if (c >= 'A' && c <= 'Z') {
            out[i] = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

} // namespace

std::string removeWhitespaceRuns(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        if (!isSpace(s[i])) {
            out += s[i++];
            continue;
        }
        size_t j = i;
        while (j < s.size() && isSpace(s[j]))
            ++j;
        if (j - i == 1)
            out += s[i];
        i = j;
    }
    return out;
}

std::string RegexReplace(std::string_view pattern, std::string_view subject, std::string_view replacement,
                         bool fold)
{
    auto re = TRegex::get(pattern, fold);
    if (fold)
        return re->replaceAll(foldAscii(subject), replacement);
    return re->replaceAll(subject, replacement);
}

std::string DecodeEntities(std::string_view s)
{
    static const std::array<std::pair<std::string, std::string>, 10> table = {{
        {"&lt;", "<"},
        {"&gt;", ">"},
        {"&amp;", "&"},
        {"&quot;", "\""},
        {"&reg;", gbk::fromUtf8("注册")},
        {"&copy;", gbk::fromUtf8("版权")},
        {"&trade;", gbk::fromUtf8("商标")},
        {"&ensp;", " "},
        {"&emsp;", " "},
        {"&nbsp;", " "},
    }};
    std::string out = foldAscii(s);
    for (const auto& [entity, replacement] : table)
        out = TRegex::get(entity)->replaceAll(out, replacement);
    return out;
}

int CountMatches(std::string_view pattern, std::string_view subject)
{
    return TRegex::get(pattern, true)->countMatches(foldAscii(subject));
}

std::optional<std::string> findFirst(std::string_view pattern, std::string_view subject)
{
    if (auto m = TRegex::get(pattern)->find(subject))
        return std::string(m->text(subject));
    return std::nullopt;
}

std::string_view trim(std::string_view s)
{
    size_t b = 0;
    size_t e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ')
        ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ')
        --e;
    return s.substr(b, e - b);
}

std::optional<int> toInt(std::string_view s)
{
    size_t i = 0;
    while (i < s.size() && s[i] == ' ')
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        negative = s[i++] == '-';
    int base = 10;
    if (i < s.size() && s[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == s.size())
        return std::nullopt;
    long long value = 0;
    for (; i < s.size(); ++i) {
        char c = s[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        value = value * base + digit;
        if (value > 0xFFFFFFFFLL)
            return std::nullopt;
    }
    if (base == 10) {
        long long v = negative ? -value : value;
        if (v < INT32_MIN || v > INT32_MAX)
            return std::nullopt;
        return static_cast<int>(v);
    }
    // A hexadecimal text names the 32-bit pattern, as "$FFFFFFFF" is -1.
    int v = static_cast<int>(static_cast<uint32_t>(value));
    return negative ? -v : v;
}

} // namespace text
