#include "text/TextOps.h"

#include "text/GbkCodec.h"
#include "text/TRegex.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <utility>

namespace text {

namespace {

constexpr uint64_t kHighBits = 0x8080808080808080ull;

uint64_t load8(const char* p)
{
    uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
}

} // namespace

std::string foldAscii(std::string_view s)
{
    std::string out(s);
    char* const data = out.data();
    const size_t n = out.size();
    size_t i = 0;
    while (i < n) {
        // Eight ASCII bytes at a time: A-Z gain 0x20, the rest stay. No carry crosses a byte
        // because every byte is below 0x80.
        if (i + 8 <= n) {
            const uint64_t w = load8(data + i);
            if ((w & kHighBits) == 0) {
                const uint64_t atLeastA = w + 0x3F3F3F3F3F3F3F3Full;
                const uint64_t aboveZ = w + 0x2525252525252525ull;
                const uint64_t upper = atLeastA & ~aboveZ & kHighBits;
                const uint64_t folded = w | (upper >> 2);
                std::memcpy(data + i, &folded, 8);
                i += 8;
                continue;
            }
        }
        const unsigned char c = static_cast<unsigned char>(data[i]);
        if (gbk::isLeadByte(c)) {
            if (i + 1 < n && gbk::isTrailByte(static_cast<unsigned char>(data[i + 1])))
                ++i;
        } else if (c >= 'A' && c <= 'Z') {
            data[i] = static_cast<char>(c - 'A' + 'a');
        }
        ++i;
    }
    return out;
}

std::string removeWhitespaceRuns(std::string_view s)
{
    // Runs over every page, some twice, and markup has a blank every few bytes: so every
    // byte is written and the output position advances only for bytes that stay, without
    // branches. A blank stays when neither neighbour is one.
    static constexpr auto blank = [] {
        std::array<bool, 256> t{};
        for (unsigned char c : {' ', '\t', '\n', '\f', '\r'})
            t[c] = true;
        return t;
    }();
    const size_t n = s.size();
    std::string out(n, '\0');
    const auto* in = reinterpret_cast<const unsigned char*>(s.data());
    char* o = out.data();
    bool previous = false;
    bool current = n > 0 && blank[in[0]];
    for (size_t i = 0; i < n; ++i) {
        const bool next = i + 1 < n && blank[in[i + 1]];
        *o = static_cast<char>(in[i]);
        o += static_cast<size_t>((!current) | ((!previous) & (!next)));
        previous = current;
        current = next;
    }
    out.resize(static_cast<size_t>(o - out.data()));
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
    struct Entity
    {
        const TRegex& pattern;
        std::string replacement;
    };
    static const std::array<Entity, 10> table = {{
        {*TRegex::get("&lt;"), "<"},
        {*TRegex::get("&gt;"), ">"},
        {*TRegex::get("&amp;"), "&"},
        {*TRegex::get("&quot;"), "\""},
        {*TRegex::get("&reg;"), gbk::fromUtf8("注册")},
        {*TRegex::get("&copy;"), gbk::fromUtf8("版权")},
        {*TRegex::get("&trade;"), gbk::fromUtf8("商标")},
        {*TRegex::get("&ensp;"), " "},
        {*TRegex::get("&emsp;"), " "},
        {*TRegex::get("&nbsp;"), " "},
    }};
    std::string out = foldAscii(s);
    // Every entity starts with '&': without one there is nothing to replace (every shop name
    // of a result page goes through here).
    if (out.find('&') == std::string::npos)
        return out;
    for (const Entity& e : table)
        out = e.pattern.replaceAll(out, e.replacement);
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
