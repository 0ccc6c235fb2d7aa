#pragma once

#include <chrono>
#include <cstdint>
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
//
// The match limit bounds the work at one start position only; PCRE2 starts counting again
// at every position, so a page with many costly positions can still take minutes. A
// Deadline bounds the whole: matching on its thread stops counting as a match once it has
// passed.
class TRegex
{
public:
    // While alive, every match on this thread must finish before the deadline; a match
    // still running then, and every later one, gives no match. Nested deadlines keep the
    // earlier end.
    class Deadline
    {
    public:
        explicit Deadline(std::chrono::milliseconds budget);
        ~Deadline();
        Deadline(const Deadline&) = delete;
        Deadline& operator=(const Deadline&) = delete;
        // True once a match on this thread has been cut by the innermost live deadline.
        static bool passed();

    private:
        bool m_hadOuter;
        int64_t m_outerEnd;
        bool m_outerPassed;
    };

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
    bool m_jit = false;
    // The bytes a pattern without any syntax stands for; searched for directly.
    std::optional<std::string> m_literal;
    std::string m_error;
};
