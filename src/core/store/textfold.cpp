#include "core/store/textfold.h"

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
