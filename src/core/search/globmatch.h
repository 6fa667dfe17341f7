#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvana {

// A GLOB pattern of the search, matched on the bytes of folded UTF-8
// values: "*" any run, "?" one character, "[c]" the character c itself,
// every other character literal. It answers exactly as SQLite's GLOB does
// for such a pattern on well-formed UTF-8, without decoding: literal runs
// are found with a substring search, "?" steps over one character.
class GlobPattern {
public:
    // nullopt for a pattern that this matcher does not read as SQLite
    // would: a class of several characters, a range or "[^", a NUL,
    // ill-formed UTF-8, or U+FFFD..U+FFFF (SQLite reads all three as one).
    static std::optional<GlobPattern> parse(std::string_view pattern);

    // `value` must be well-formed UTF-8 (see isWellFormedUtf8).
    bool matches(std::string_view value) const;

    // The literal that every matching value starts with ("" when none).
    std::string_view prefix() const;
    // The longest literal run that every matching value contains ("" when none).
    std::string_view needle() const;
    // Whether the pattern starts with "*" (else it is anchored at the start).
    bool floating() const { return m_leadingStar; }
    // Whether finding the needle (at the start, when not floating) is
    // enough: the pattern is one literal and a trailing "*".
    bool needleIsMatch() const;

private:
    // A run of literal bytes, or `any` single characters.
    struct Piece {
        std::string literal;
        int any = 0;
    };
    using Segment = std::vector<Piece>; // the part between two runs of "*"

    static bool matchAt(const Segment &s, const char *at, const char *end, const char **after);
    static bool matchEndingAt(const Segment &s, const char *from, const char *end);
    static bool findFirst(const Segment &s, const char *from, const char *end, const char **after);

    std::vector<Segment> m_segments;
    bool m_leadingStar = false;
    bool m_trailingStar = false;
};

} // namespace korvana
