#pragma once

#include "text/TRegex.h"

#include <chrono>
#include <cstddef>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

// The small steps the page parsers are written in.
namespace extract {

// A pattern written in UTF-8 in the source, compiled once; the cache keeps it alive.
inline const TRegex& pattern(std::string_view utf8, bool fold = false)
{
    return *TRegex::fromUtf8(utf8, fold);
}

// The leftmost match of re in s.
inline std::optional<std::string_view> findIn(const TRegex& re, std::string_view s)
{
    if (auto m = re.find(s))
        return m->text(s);
    return std::nullopt;
}

// Deletes every match of re from s.
inline std::string erase(const TRegex& re, std::string_view s)
{
    return re.replaceAll(s, {});
}

// Deletes every match of each pattern from text, one pattern after another.
inline std::string eraseAll(std::string text, std::initializer_list<const TRegex*> patterns)
{
    for (const TRegex* re : patterns)
        text = re->replaceAll(text, {});
    return text;
}

// The quotient a / b, plus 1 when a remainder is left (also a negative one); b > 0.
inline int quotientRoundedUp(int a, int b)
{
    return a / b + (a % b != 0 ? 1 : 0);
}

// The ceiling of a / b; b > 0.
inline int ceilDiv(int a, int b)
{
    return a / b + (a % b > 0 ? 1 : 0);
}

// The wall time one page may take in a parser. Legitimate pages need well under a tenth of
// it; a hostile one (many costly start positions) is cut here and gives defaults.
inline std::chrono::milliseconds pageBudget(size_t pageBytes)
{
    return std::chrono::milliseconds(500 + pageBytes / 4096);
}

} // namespace extract
