#include "extract/TRegex.h"

#include "extract/GbkCodec.h"
#include "extract/TextOps.h"

#include <atomic>
#include <mutex>
#include <pcre2.h>
#include <unordered_map>

namespace {

std::atomic<unsigned> g_matchLimit{10'000'000};

// Per-thread match resources; released when the thread ends.
struct ThreadMatchState
{
    pcre2_match_data* data = pcre2_match_data_create(64, nullptr);
    pcre2_match_context* context = pcre2_match_context_create(nullptr);
    pcre2_jit_stack* stack = pcre2_jit_stack_create(64 * 1024, 8 * 1024 * 1024, nullptr);
    unsigned limit = 0;

    ThreadMatchState() { pcre2_jit_stack_assign(context, nullptr, stack); }
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

TRegex::TRegex(const std::string& prepared)
{
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
    pcre2_jit_compile(m_code, PCRE2_JIT_COMPLETE);
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
    if (!m_code || offset > subject.size())
        return std::nullopt;
    ThreadMatchState& state = matchState();
    int rc = pcre2_match(m_code, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), offset, 0,
                         state.data, state.context);
    // No match, the match limit, a JIT stack overflow: all mean "not found".
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
