#include "text/TRegex.h"

#include "text/GbkCodec.h"
#include "text/TextOps.h"

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstring>
#include <ctime>
#include <mutex>
#include <pcre2.h>
#include <unordered_map>

namespace {

// A legitimate page needs about one unit per '<' that a greedy ".*" backtracks over: the
// breadcrumb pattern on a result page without line breaks runs to the end of the page, so a
// page of 1 MB needs some 50000 (up to 700000 in markup made of nothing but tags). Two
// million keeps such pages right up to several megabytes, and far beyond at usual density,
// while a hostile page whose first costly position exceeds it gives up in milliseconds.
// Pages with many costly positions below it are stopped by a Deadline instead.
std::atomic<unsigned> g_matchLimit{2'000'000};

// The coarse monotonic clock in nanoseconds: a few milliseconds of resolution are plenty
// for a budget of half a second and more, and it is cheaper to read than the precise one.
int64_t coarseNow()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// The deadline of the innermost TRegex::Deadline alive on this thread.
struct DeadlineState
{
    bool active = false;
    bool passed = false;
    int64_t end = 0;
    unsigned ticks = 0;
};

thread_local DeadlineState t_deadline;

// Checked at every match and every costly start position; the clock is read at every 16th
// check only, since one check is cheap work apart (the match limit bounds a position).
bool deadlinePassed()
{
    DeadlineState& d = t_deadline;
    if (!d.active || d.passed)
        return d.passed && d.active;
    if ((++d.ticks & 15) != 0)
        return false;
    d.passed = coarseNow() >= d.end;
    return d.passed;
}

// Every compiled pattern carries one callout (see guardPosition); a negative answer ends
// the match at once.
int guardCallout(pcre2_callout_block*, void*)
{
    return deadlinePassed() ? PCRE2_ERROR_CALLOUT : 0;
}

// Per-thread match resources; released when the thread ends.
struct ThreadMatchState
{
    pcre2_match_data* data = pcre2_match_data_create(64, nullptr);
    pcre2_match_context* context = pcre2_match_context_create(nullptr);
    pcre2_jit_stack* stack = pcre2_jit_stack_create(64 * 1024, 8 * 1024 * 1024, nullptr);
    unsigned limit = 0;

    ThreadMatchState()
    {
        pcre2_jit_stack_assign(context, nullptr, stack);
        pcre2_set_callout(context, guardCallout, nullptr);
    }
    ~ThreadMatchState()
    {
        pcre2_jit_stack_free(stack);
        pcre2_match_context_free(context);
        pcre2_match_data_free(data);
    }
};

ThreadMatchState& matchState()
{
    thread_local ThreadMatchState state;
    unsigned limit = g_matchLimit.load(std::memory_order_relaxed);
    if (state.limit != limit) {
        pcre2_set_match_limit(state.context, limit);
        state.limit = limit;
    }
    return state;
}

const char kWhitespace[] = "\\t\\n\\f\\r ";

bool isHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// Where the deadline callout goes in a prepared pattern: after its leading plain literals,
// so that the many start positions failing on them pay nothing; at the start when the
// pattern has a top-level alternative, which would bypass it. Every start position that
// gets past the literals passes the callout, so no costly position escapes the check.
size_t guardPosition(const std::string& p)
{
    int depth = 0;
    bool inClass = false;
    for (size_t i = 0; i < p.size(); ++i) {
        char c = p[i];
        if (c == '\\') {
            ++i;
        } else if (inClass) {
            inClass = c != ']';
        } else if (c == '[') {
            inClass = true;
            if (i + 1 < p.size() && p[i + 1] == '^')
                ++i;
            if (i + 1 < p.size() && p[i + 1] == ']')
                ++i;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')') {
            --depth;
        } else if (c == '|' && depth == 0) {
            return 0;
        }
    }
    size_t end = 0;
    while (end < p.size()) {
        size_t next = end + 1;
        char c = p[end];
        if (c == '\\') {
            if (end + 1 >= p.size())
                break;
            char e = p[end + 1];
            if (e == 'x' && end + 3 < p.size() && isHex(p[end + 2]) && isHex(p[end + 3]))
                next = end + 4;
            else if (!std::isalnum(static_cast<unsigned char>(e)))
                next = end + 2;
            else
                break;
        } else if (std::strchr("^$.|?*+()[]{}", c)) {
            break;
        }
        // A literal that is repeated is not fixed text.
        if (next < p.size() && std::strchr("?*+{", p[next]))
            break;
        end = next;
    }
    return end;
}

// The bytes a prepared pattern matches when it is plain text (letters, escaped bytes and
// escaped punctuation only); nothing otherwise, or for the empty pattern.
std::optional<std::string> literalText(const std::string& p)
{
    std::string out;
    for (size_t i = 0; i < p.size(); ++i) {
        char c = p[i];
        if (c == '\\') {
            if (i + 1 >= p.size())
                return std::nullopt;
            char e = p[i + 1];
            if (e == 'x' && i + 3 < p.size() && isHex(p[i + 2]) && isHex(p[i + 3])) {
                out += static_cast<char>(std::stoi(p.substr(i + 2, 2), nullptr, 16));
                i += 3;
            } else if (!std::isalnum(static_cast<unsigned char>(e))) {
                out += e;
                ++i;
            } else {
                return std::nullopt;
            }
        } else if (std::strchr("^$.|?*+()[]{}", c) || c == '\0') {
            return std::nullopt;
        } else {
            out += c;
        }
    }
    if (out.empty())
        return std::nullopt;
    return out;
}

} // namespace

std::string TRegex::prepare(std::string_view gbkPattern)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(gbkPattern.size() * 2);
    bool inClass = false;
    auto escapeByte = [&](unsigned char b) {
        out += "\\x";
        out += hex[b >> 4];
        out += hex[b & 15];
    };
    for (size_t i = 0; i < gbkPattern.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(gbkPattern[i]);
        if (c >= 0x80) {
            escapeByte(c);
            // The trail byte of a double-byte character is never syntax.
            if (gbk::isLeadByte(c) && i + 1 < gbkPattern.size() &&
                gbk::isTrailByte(static_cast<unsigned char>(gbkPattern[i + 1])))
                escapeByte(static_cast<unsigned char>(gbkPattern[++i]));
            continue;
        }
        if (c == '\\' && i + 1 < gbkPattern.size()) {
            char next = gbkPattern[++i];
            if (next == 's') {
                // PCRE2's \s also takes vertical tab; ours is exactly these five.
                out += inClass ? std::string(kWhitespace) : std::string("[") + kWhitespace + "]";
            } else if (next == 'S' && !inClass) {
                out += std::string("[^") + kWhitespace + "]";
            } else {
                out += '\\';
                out += next;
            }
            continue;
        }
        if (!inClass && c == '[') {
            inClass = true;
            out += '[';
            // A ']' right after '[' or '[^' is a literal member.
            if (i + 1 < gbkPattern.size() && gbkPattern[i + 1] == '^')
                out += gbkPattern[++i];
            if (i + 1 < gbkPattern.size() && gbkPattern[i + 1] == ']')
                out += gbkPattern[++i];
            continue;
        }
        if (inClass && c == ']')
            inClass = false;
        out += static_cast<char>(c);
    }
    return out;
}

TRegex::TRegex(const std::string& preparedPattern) : m_literal(literalText(preparedPattern))
{
    std::string prepared = preparedPattern;
    prepared.insert(guardPosition(prepared), "(?C1)");
    pcre2_compile_context* cctx = pcre2_compile_context_create(nullptr);
    pcre2_set_newline(cctx, PCRE2_NEWLINE_ANYCRLF);
    int errorCode = 0;
    PCRE2_SIZE errorOffset = 0;
    m_code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(prepared.data()), prepared.size(), 0, &errorCode,
                           &errorOffset, cctx);
    pcre2_compile_context_free(cctx);
    if (!m_code) {
        PCRE2_UCHAR buffer[256];
        pcre2_get_error_message(errorCode, buffer, sizeof buffer);
        m_error = reinterpret_cast<const char*>(buffer);
        m_error += " at offset " + std::to_string(errorOffset);
        return;
    }
    m_jit = pcre2_jit_compile(m_code, PCRE2_JIT_COMPLETE) == 0;
}

TRegex::~TRegex()
{
    pcre2_code_free(m_code);
}

std::shared_ptr<const TRegex> TRegex::get(std::string_view gbkPattern, bool fold)
{
    static std::mutex mutex;
    static std::unordered_map<std::string, std::shared_ptr<const TRegex>> cache;
    std::string key = fold ? text::foldAscii(gbkPattern) : std::string(gbkPattern);
    std::lock_guard lock(mutex);
    auto it = cache.find(key);
    if (it != cache.end())
        return it->second;
    std::shared_ptr<const TRegex> compiled(new TRegex(prepare(key)));
    cache.emplace(std::move(key), compiled);
    return compiled;
}

std::shared_ptr<const TRegex> TRegex::fromUtf8(std::string_view utf8Pattern, bool fold)
{
    return get(gbk::fromUtf8(utf8Pattern), fold);
}

std::optional<TRegex::Match> TRegex::find(std::string_view subject, size_t offset) const
{
    if (!m_code || offset > subject.size() || deadlinePassed())
        return std::nullopt;
    // Most deletions of the extractors are plain text: a direct search finds the same
    // leftmost match without the cost of starting the matcher.
    if (m_literal) {
        size_t at = subject.find(*m_literal, offset);
        if (at == std::string_view::npos)
            return std::nullopt;
        return Match{at, at + m_literal->size()};
    }
    ThreadMatchState& state = matchState();
    // The JIT entry skips the checks of the general one, which show on short subjects.
    auto match = m_jit ? pcre2_jit_match : pcre2_match;
    int rc = match(m_code, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), offset, 0,
                   state.data, state.context);
    // No match, the match limit, a JIT stack overflow, the deadline: all mean "not found".
    if (rc < 0)
        return std::nullopt;
    PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(state.data);
    return Match{ovector[0], ovector[1]};
}

std::string TRegex::replaceAll(std::string_view subject, std::string_view replacement) const
{
    std::string out;
    size_t pos = 0;
    size_t copied = 0;
    while (auto m = find(subject, pos)) {
        out.append(subject, copied, m->begin - copied);
        out.append(replacement);
        copied = m->end;
        // An empty match moves on by one byte, which is kept.
        if (m->end == m->begin) {
            if (m->end >= subject.size())
                break;
            out += subject[m->end];
            copied = pos = m->end + 1;
        } else {
            pos = m->end;
        }
    }
    out.append(subject, std::min(copied, subject.size()));
    return out;
}

int TRegex::countMatches(std::string_view subject) const
{
    int count = 0;
    size_t pos = 0;
    while (auto m = find(subject, pos)) {
        ++count;
        pos = m->end == m->begin ? m->end + 1 : m->end;
        if (pos > subject.size())
            break;
    }
    return count;
}

void TRegex::setMatchLimit(unsigned limit)
{
    g_matchLimit.store(limit);
}

unsigned TRegex::matchLimit()
{
    return g_matchLimit.load();
}

TRegex::Deadline::Deadline(std::chrono::milliseconds budget)
    : m_hadOuter(t_deadline.active), m_outerEnd(t_deadline.end), m_outerPassed(t_deadline.passed)
{
    int64_t end = coarseNow() + std::chrono::nanoseconds(budget).count();
    if (m_hadOuter && m_outerEnd < end)
        end = m_outerEnd;
    t_deadline.active = true;
    t_deadline.end = end;
    t_deadline.passed = m_outerPassed;
}

TRegex::Deadline::~Deadline()
{
    // An inner deadline cut short to the outer end has passed the outer one as well.
    const bool outerEndPassed = t_deadline.passed && t_deadline.end >= m_outerEnd;
    t_deadline.active = m_hadOuter;
    t_deadline.end = m_outerEnd;
    t_deadline.passed = m_hadOuter && (m_outerPassed || outerEndPassed);
}

bool TRegex::Deadline::passed()
{
    return t_deadline.active && t_deadline.passed;
}
