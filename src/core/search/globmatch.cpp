#include "core/search/globmatch.h"

#include "core/store/textfold.h"

#include <cstring>

namespace korvana {

namespace {

bool isContinuation(char c) { return (static_cast<unsigned char>(c) & 0xc0) == 0x80; }

// One character forwards or backwards; the text is well-formed.
const char *nextChar(const char *p, const char *end)
{
    ++p;
    while (p < end && isContinuation(*p))
        ++p;
    return p;
}

const char *previousChar(const char *p, const char *begin)
{
    --p;
    while (p > begin && isContinuation(*p))
        --p;
    return p;
}

} // namespace

std::optional<GlobPattern> GlobPattern::parse(std::string_view pattern)
{
    if (!isWellFormedUtf8(pattern))
        return std::nullopt;
    // SQLite reads U+FFFE and U+FFFF as U+FFFD: leave patterns with any of
    // the three to it.
    for (size_t i = 0; i + 2 < pattern.size(); ++i) {
        if (static_cast<unsigned char>(pattern[i]) == 0xef
            && static_cast<unsigned char>(pattern[i + 1]) == 0xbf
            && static_cast<unsigned char>(pattern[i + 2]) >= 0xbd)
            return std::nullopt;
    }
    GlobPattern g;
    std::vector<Segment> tokens(1);
    bool star = false;
    const char *p = pattern.data();
    const char *end = p + pattern.size();
    auto literal = [&](const char *from, const char *to) {
        Segment &s = tokens.back();
        if (s.empty() || s.back().any)
            s.push_back(Piece{});
        s.back().literal.append(from, to);
    };
    while (p < end) {
        const char c = *p;
        if (c == '*') {
            if (!star)
                tokens.emplace_back();
            star = true;
            ++p;
            continue;
        }
        star = false;
        if (c == '\0')
            return std::nullopt;
        if (c == '?') {
            Segment &s = tokens.back();
            if (s.empty() || !s.back().any)
                s.push_back(Piece{{}, 0});
            ++s.back().any;
            ++p;
        } else if (c == '[') {
            // Only a class of one character, "[[]" or "[*]", is a literal.
            const char *member = p + 1;
            if (member >= end || *member == '^')
                return std::nullopt;
            const char *close = nextChar(member, end);
            if (close >= end || *close != ']')
                return std::nullopt;
            literal(member, close);
            p = close + 1;
        } else {
            const char *q = nextChar(p, end);
            literal(p, q);
            p = q;
        }
    }
    g.m_leadingStar = !pattern.empty() && pattern.front() == '*';
    g.m_trailingStar = star;
    // The runs of "*" split the pattern; the parts before a leading and
    // after a trailing run are empty.
    if (g.m_trailingStar)
        tokens.pop_back();
    if (g.m_leadingStar && !tokens.empty())
        tokens.erase(tokens.begin());
    g.m_segments = std::move(tokens);
    return g;
}

bool GlobPattern::matchAt(const Segment &s, const char *at, const char *end, const char **after)
{
    const char *p = at;
    for (const Piece &piece : s) {
        if (piece.any) {
            for (int i = 0; i < piece.any; ++i) {
                if (p >= end)
                    return false;
                p = nextChar(p, end);
            }
        } else {
            const size_t n = piece.literal.size();
            if (size_t(end - p) < n || std::memcmp(p, piece.literal.data(), n) != 0)
                return false;
            p += n;
        }
    }
    *after = p;
    return true;
}

// The segment ends the value exactly and starts at `from` or after it.
bool GlobPattern::matchEndingAt(const Segment &s, const char *from, const char *end)
{
    const char *p = end;
    for (auto it = s.rbegin(); it != s.rend(); ++it) {
        if (it->any) {
            for (int i = 0; i < it->any; ++i) {
                if (p <= from)
                    return false;
                p = previousChar(p, from);
            }
        } else {
            const size_t n = it->literal.size();
            if (size_t(p - from) < n || std::memcmp(p - n, it->literal.data(), n) != 0)
                return false;
            p -= n;
        }
    }
    return true;
}

// The leftmost place at or after `from` where the segment matches; between
// two runs of "*" the leftmost place is always the right one.
bool GlobPattern::findFirst(const Segment &s, const char *from, const char *end, const char **after)
{
    int before = 0; // characters of "?" ahead of the first literal
    const Piece *first = nullptr;
    for (const Piece &piece : s) {
        if (!piece.any) {
            first = &piece;
            break;
        }
        before += piece.any;
    }
    if (!first)
        return matchAt(s, from, end, after);
    const char *q = from;
    for (int i = 0; i < before; ++i) {
        if (q >= end)
            return false;
        q = nextChar(q, end);
    }
    const std::string &needle = first->literal;
    while (q < end) {
        const void *hit = memmem(q, size_t(end - q), needle.data(), needle.size());
        if (!hit)
            return false;
        const char *h = static_cast<const char *>(hit);
        const char *start = h;
        for (int i = 0; i < before; ++i)
            start = previousChar(start, from);
        if (matchAt(s, start, end, after))
            return true;
        q = h + 1;
    }
    return false;
}

bool GlobPattern::matches(std::string_view value) const
{
    const char *p = value.data();
    const char *end = p + value.size();
    size_t i = 0;
    size_t last = m_segments.size();
    if (!m_leadingStar && !m_trailingStar && last == 1)
        return matchAt(m_segments[0], p, end, &p) && p == end;
    if (!m_leadingStar) { // then there is a first segment
        if (!matchAt(m_segments[0], p, end, &p))
            return false;
        i = 1;
    }
    if (!m_trailingStar) {
        if (last == i)
            return p == end;
        --last;
    }
    for (; i < last; ++i) {
        if (!findFirst(m_segments[i], p, end, &p))
            return false;
    }
    return m_trailingStar || matchEndingAt(m_segments.back(), p, end);
}

std::string_view GlobPattern::prefix() const
{
    if (m_leadingStar || m_segments.empty() || m_segments[0].empty() || m_segments[0][0].any)
        return {};
    return m_segments[0][0].literal;
}

bool GlobPattern::needleIsMatch() const
{
    return m_trailingStar && m_segments.size() == 1 && m_segments[0].size() == 1
        && !m_segments[0][0].any;
}

std::string_view GlobPattern::needle() const
{
    std::string_view best;
    for (const Segment &s : m_segments)
        for (const Piece &piece : s)
            if (!piece.any && piece.literal.size() > best.size())
                best = piece.literal;
    return best;
}

} // namespace korvana

