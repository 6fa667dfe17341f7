#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace korvana {

// The comparison form of directory text: lower case for every script
// (one code point in, one out, so "?" still means one character) and
// ё read as е, as Russian directories file them.
QString foldText(const QString &text);

// foldText() on UTF-8 bytes, without a round trip through QString: the
// folded bytes are appended to `out`. False, and nothing appended, when the
// text is not well-formed UTF-8 (foldText() then decides what it means).
bool foldUtf8(std::string_view text, std::string &out);

// Well-formed UTF-8: no stray or missing continuation bytes, no overlong
// forms, no surrogates, nothing above U+10FFFF.
bool isWellFormedUtf8(std::string_view text);

// Removes space characters (code 32 only) at both ends, as the search
// criteria and the house/flat comparison do; other white space stays.
QString trimBlanks(const QString &text);

// A GLOB pattern that matches `text` literally (every GLOB special escaped).
QString globLiteral(const QString &text);

// A GLOB pattern in which "*" and "?" keep their wildcard meaning and every
// other character is literal.
QString globWildcards(const QString &text);

} // namespace korvana
