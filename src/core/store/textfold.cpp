#include "core/store/textfold.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace korvana {

QString foldText(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (auto it = text.cbegin(); it != text.cend(); ++it) {
        char32_t cp = it->unicode();
        if (it->isHighSurrogate() && it + 1 != text.cend() && (it + 1)->isLowSurrogate()) {
            cp = QChar::surrogateToUcs4(*it, *(it + 1));
            ++it;
        }
        cp = QChar::toLower(cp);
        if (cp == U'ё')
            cp = U'е';
        if (QChar::requiresSurrogates(cp)) {
            out.append(QChar(QChar::highSurrogate(cp)));
            out.append(QChar(QChar::lowSurrogate(cp)));
        } else {
            out.append(QChar(char16_t(cp)));
        }
    }
    return out;
}

namespace {

// The well-formed character at p: its length (0 when ill-formed) and code point.
int decodeChar(const unsigned char *p, const unsigned char *end, char32_t *cp)
{
    const unsigned char c = p[0];
    if (c < 0x80) {
        *cp = c;
        return 1;
    }
    int n;
    char32_t min;
    char32_t v;
    if (c >= 0xc2 && c <= 0xdf) {
        n = 2, min = 0x80, v = c & 0x1f;
    } else if (c >= 0xe0 && c <= 0xef) {
        n = 3, min = 0x800, v = c & 0x0f;
    } else if (c >= 0xf0 && c <= 0xf4) {
        n = 4, min = 0x10000, v = c & 0x07;
    } else {
        return 0;
    }
    if (end - p < n)
        return 0;
    for (int i = 1; i < n; ++i) {
        if ((p[i] & 0xc0) != 0x80)
            return 0;
        v = (v << 6) | (p[i] & 0x3f);
    }
    if (v < min || v > 0x10ffff || (v >= 0xd800 && v <= 0xdfff))
        return 0;
    *cp = v;
    return n;
}

void encodeChar(char32_t cp, std::string &out)
{
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xc0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3f));
    } else if (cp < 0x10000) {
        out += char(0xe0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3f));
        out += char(0x80 | (cp & 0x3f));
    } else {
        out += char(0xf0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3f));
        out += char(0x80 | ((cp >> 6) & 0x3f));
        out += char(0x80 | (cp & 0x3f));
    }
}

// foldText()'s mapping of one code point; the basic plane from a table.
char32_t foldChar(char32_t cp)
{
    auto fold = [](char32_t c) {
        const char32_t lower = QChar::toLower(c);
        return lower == U'ё' ? U'е' : lower;
    };
    static const std::vector<char32_t> table = [&] {
        std::vector<char32_t> t(0x10000);
        for (char32_t c = 0; c < 0x10000; ++c)
            t[c] = fold(c);
        return t;
    }();
    return cp < 0x10000 ? table[cp] : fold(cp);
}

} // namespace

bool foldUtf8(std::string_view text, std::string &out)
{
    const size_t start = out.size();
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    const auto *end = p + text.size();
    while (p < end) {
        if (*p < 0x80) {
            out += char(*p >= 'A' && *p <= 'Z' ? *p + ('a' - 'A') : *p);
            ++p;
            continue;
        }
        char32_t cp;
        const int n = decodeChar(p, end, &cp);
        if (n == 0) {
            out.resize(start);
            return false;
        }
        encodeChar(foldChar(cp), out);
        p += n;
    }
    return true;
}

bool isWellFormedUtf8(std::string_view text)
{
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    const auto *end = p + text.size();
    while (p < end) {
        // ASCII runs are the common case; skip them eight bytes at a time.
        while (end - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, 8);
            if (word & 0x8080808080808080ull)
                break;
            p += 8;
        }
        if (p == end)
            break;
        char32_t cp;
        const int n = decodeChar(p, end, &cp);
        if (n == 0)
            return false;
        p += n;
    }
    return true;
}

QString trimBlanks(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == u' ')
        ++begin;
    while (end > begin && text.at(end - 1) == u' ')
        --end;
    return text.mid(begin, end - begin);
}

static QString escapeGlob(const QString &text, bool keepWildcards)
{
    QString out;
    out.reserve(text.size() + 8);
    for (QChar c : text) {
        if (c == u'[')
            out += QStringLiteral("[[]");
        else if ((c == u'*' || c == u'?') && !keepWildcards)
            out += QStringLiteral("[") + c + QStringLiteral("]");
        else
            out += c;
    }
    return out;
}

QString globLiteral(const QString &text) { return escapeGlob(text, false); }

QString globWildcards(const QString &text) { return escapeGlob(text, true); }

} // namespace korvana
