#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct pcre2_real_code_8;

// A compiled, JIT-compiled pattern over GBK bytes, shared through a process-wide cache.
// Matching is thread-safe (each thread has its own match data and JIT stack).
//
// Conventions: case-sensitive, '.' stops at CR and LF, '\s' is exactly space, tab, LF, FF
// and CR. Every non-ASCII byte of the pattern is escaped as \xHH before compiling, because a
// GBK trail byte may be '[', '\', '|', '{' or '}'. A match that runs into the match limit
// counts as no match, so a hostile page cannot stall a parser.
class TRegex
{
public:
    struct Match
    {
        size_t begin = 0;
        size_t end = 0;
        std::string_view text(std::string_view subject) const { return subject.substr(begin, end - begin); }
    };

    // The compiled form of a GBK pattern; folded first when fold is true. Never null; an
    // invalid pattern gives an object whose valid() is false and which never matches.
    static std::shared_ptr<const TRegex> get(std::string_view gbkPattern, bool fold = false);

    // A pattern written in UTF-8 in the source, turned into GBK.
    static std::shared_ptr<const TRegex> fromUtf8(std::string_view utf8Pattern, bool fold = false);

    ~TRegex();
    TRegex(const TRegex&) = delete;
    TRegex& operator=(const TRegex&) = delete;

    bool valid() const { return m_code != nullptr; }
    const std::string& error() const { return m_error; }

    // Leftmost match starting at or after offset.
    std::optional<Match> find(std::string_view subject, size_t offset = 0) const;
    bool contains(std::string_view subject) const { return find(subject).has_value(); }
    // Every non-overlapping match, left to right, replaced by the literal replacement.
    std::string replaceAll(std::string_view subject, std::string_view replacement) const;
    int countMatches(std::string_view subject) const;

    // The limit on backtracking steps of one match attempt (process-wide).
    static void setMatchLimit(unsigned limit);
    static unsigned matchLimit();

    // The byte text handed to PCRE2 for a GBK pattern (escapes applied); for tests.
    static std::string prepare(std::string_view gbkPattern);

private:
    explicit TRegex(const std::string& prepared);

    pcre2_real_code_8* m_code = nullptr;
    std::string m_error;
};
