#pragma once

#include <optional>
#include <string>
#include <string_view>

// The text operations every extractor shares. All work on GBK bytes and are thread-safe.
namespace text {

// Lowers A-Z only; both bytes of a double-byte character are left alone (a trail byte may
// be an ASCII letter).
std::string foldAscii(std::string_view s);

// Deletes every run of two or more whitespace characters entirely; a single one stays.
std::string removeWhitespaceRuns(std::string_view s);

// Replaces every match of the pattern by the literal replacement; with fold, subject and
// pattern are folded first.
std::string RegexReplace(std::string_view pattern, std::string_view subject, std::string_view replacement,
                         bool fold);

// Folds the text, then replaces the ten entities one after another, each once over the
// whole text, so "&amp;lt;" becomes "&lt;".
std::string DecodeEntities(std::string_view s);

// Folds both and counts the successive matches.
int CountMatches(std::string_view pattern, std::string_view subject);

// The leftmost match of pattern in subject, or nothing.
std::optional<std::string> findFirst(std::string_view pattern, std::string_view subject);

// Strips leading and trailing characters up to and including the blank (whitespace and
// control characters).
std::string_view trim(std::string_view s);

// Decimal integer conversion: leading blanks, an optional sign, then decimal digits or a
// hexadecimal number after "$" or "0x", and nothing after. Anything else, an empty text or
// a value outside 32 bits does not convert.
std::optional<int> toInt(std::string_view s);

// toInt with a fallback for texts that do not convert.
inline int toIntDef(std::string_view s, int fallback)
{
    return toInt(s).value_or(fallback);
}

} // namespace text
