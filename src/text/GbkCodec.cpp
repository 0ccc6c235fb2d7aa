#include "text/GbkCodec.h"

#include <algorithm>
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

} // namespace

std::string toUtf8(std::string_view gbkText)
{
    thread_local Converter conv("UTF-8", "GB18030");
    return conv.convert(gbkText, "\xEF\xBF\xBD", 1);
}

std::string fromUtf8(std::string_view utf8Text)
{
    // Invalid UTF-8 input: one '?' per bad byte (GB18030 can hold every valid character).
    thread_local Converter conv("GB18030", "UTF-8");
    return conv.convert(utf8Text, "?", 1);
}

} // namespace gbk
