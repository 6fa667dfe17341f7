#pragma once

#include <QString>

namespace korvana {

// The comparison form of directory text: lower case for every script
// (one code point in, one out, so "?" still means one character) and
// ё read as е, as Russian directories file them.
QString foldText(const QString &text);

// Removes space characters (code 32 only) at both ends, as the search
// criteria and the house/flat comparison do; other white space stays.
QString trimBlanks(const QString &text);

// A GLOB pattern that matches `text` literally (every GLOB special escaped).
QString globLiteral(const QString &text);

// A GLOB pattern in which "*" and "?" keep their wildcard meaning and every
// other character is literal.
QString globWildcards(const QString &text);

} // namespace korvana
