#include "text/GbkCodec.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <iconv.h>

namespace gbk {
namespace {

// One converter per direction and thread: iconv descriptors carry shift state.
class Converter
{
public:
    Converter(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Converter()
    {
        if (m_cd != reinterpret_cast<iconv_t>(-1))
            iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts in; on a byte sequence the source code page cannot hold, writes
    // `replacement` and skips `skip` input bytes, then carries on.
    std::string convert(std::string_view in, std::string_view replacement, size_t skip)
    {
        std::string out;
        if (m_cd == reinterpret_cast<iconv_t>(-1)) {
            out.assign(in);
            return out;
        }
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        out.resize(in.size() * 2 + 16);
        char* src = const_cast<char*>(in.data());
        size_t srcLeft = in.size();
        size_t written = 0;
        while (srcLeft > 0) {
            char* dst = out.data() + written;
            size_t dstLeft = out.size() - written;
            size_t rc = iconv(m_cd, &src, &srcLeft, &dst, &dstLeft);
            written = out.size() - dstLeft;
            if (rc != static_cast<size_t>(-1))
                continue;
            if (errno == E2BIG) {
                out.resize(out.size() * 2 + 16);
            } else {
                // EILSEQ or a cut-off sequence at the end (EINVAL): replace and go on.
                size_t n = std::min(skip, srcLeft);
                if (errno == EILSEQ || errno == EINVAL) {
                    if (out.size() - written < replacement.size())
                        out.resize(out.size() * 2 + replacement.size());
                    out.replace(written, replacement.size(), replacement);
                    written += replacement.size();
                    src += n;
                    srcLeft -= n;
                } else {
                    break;
                }
            }
        }
        out.resize(written);
        return out;
    }

private:
    iconv_t m_cd;
};

std::string iconvFromUtf8(std::string_view utf8Text)
{
    // Invalid UTF-8 input: one '?' per bad byte (GB18030 can hold every valid character).
    thread_local Converter conv("GB18030", "UTF-8");
    return conv.convert(utf8Text, "?", 1);
}

// Texts shorter than this are converted by iconv directly: the table costs milliseconds to
// fill, which only long texts repay.
constexpr size_t kTableFrom = 4096;

// The code page's bytes of every character below U+10000, as iconv gives them. Converting a
// text character by character gives the same bytes as converting it whole: GB18030 keeps no
// state between characters.
struct Table
{
    struct Bytes
    {
        unsigned char size = 0; // 0: not in the table (a surrogate)
        char bytes[4] = {};
    };
    std::array<Bytes, 0x10000> unit;

    Table()
    {
        for (char32_t c = 0x80; c < 0x10000; ++c) {
            if (c >= 0xD800 && c <= 0xDFFF)
                continue;
            char utf8[3];
            size_t n;
            if (c < 0x800) {
                utf8[0] = static_cast<char>(0xC0 | (c >> 6));
                utf8[1] = static_cast<char>(0x80 | (c & 0x3F));
                n = 2;
            } else {
                utf8[0] = static_cast<char>(0xE0 | (c >> 12));
                utf8[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
                utf8[2] = static_cast<char>(0x80 | (c & 0x3F));
                n = 3;
            }
            const std::string b = iconvFromUtf8(std::string_view(utf8, n));
            if (b.empty() || b.size() > 4)
                continue;
            unit[c].size = static_cast<unsigned char>(b.size());
            std::copy(b.begin(), b.end(), unit[c].bytes);
        }
    }
};

const Table& table()
{
    static const Table t; // filled once, thread-safe
    return t;
}

bool continuation(unsigned char b)
{
    return (b & 0xC0) == 0x80;
}

} // namespace

std::string fromUtf8(std::string_view in)
{
    if (in.size() < kTableFrom)
        return iconvFromUtf8(in);
    const Table& t = table();
    std::string out;
    out.reserve(in.size());
    const auto* p = reinterpret_cast<const unsigned char*>(in.data());
    const auto* end = p + in.size();
    while (p < end) {
        const unsigned char b = *p;
        if (b < 0x80) {
            // ASCII is the same in both: a run in one append.
            const auto* run = p;
            while (p < end && *p < 0x80)
                ++p;
            out.append(reinterpret_cast<const char*>(run), static_cast<size_t>(p - run));
            continue;
        }
        char32_t c = 0;
        if (b >= 0xC2 && b < 0xE0 && end - p >= 2 && continuation(p[1])) {
            c = (char32_t(b & 0x1F) << 6) | (p[1] & 0x3F);
            p += 2;
        } else if (b >= 0xE0 && b < 0xF0 && end - p >= 3 && continuation(p[1]) && continuation(p[2])) {
            c = (char32_t(b & 0x0F) << 12) | (char32_t(p[1] & 0x3F) << 6) | (p[2] & 0x3F);
            if (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))
                return iconvFromUtf8(in); // not valid UTF-8: the converter's own way
            p += 3;
        } else if (b >= 0xF0 && b < 0xF5 && end - p >= 4 && continuation(p[1]) && continuation(p[2]) &&
                   continuation(p[3])) {
            const char32_t c4 = (char32_t(b & 0x07) << 18) | (char32_t(p[1] & 0x3F) << 12) |
                                (char32_t(p[2] & 0x3F) << 6) | (p[3] & 0x3F);
            if (c4 < 0x10000 || c4 > 0x10FFFF)
                return iconvFromUtf8(in);
            // Beyond the table: this character alone through the converter.
            const std::string four = iconvFromUtf8(std::string_view(reinterpret_cast<const char*>(p), 4));
            out += four;
            p += 4;
            continue;
        } else {
            return iconvFromUtf8(in);
        }
        const Table::Bytes& bytes = t.unit[c];
        if (bytes.size == 0)
            return iconvFromUtf8(in);
        out.append(bytes.bytes, bytes.size);
    }
    return out;
}

std::string toUtf8(std::string_view gbkText)
{
    thread_local Converter conv("UTF-8", "GB18030");
    return conv.convert(gbkText, "\xEF\xBF\xBD", 1);
}

} // namespace gbk
