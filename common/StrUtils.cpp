#include "common/StrUtils.h"

QString Trim(const QString &text)
{
    qsizetype first = 0;
    qsizetype last = text.size() - 1;
    while (first <= last && text.at(first).unicode() <= 32)
        ++first;
    while (last >= first && text.at(last).unicode() <= 32)
        --last;
    return text.mid(first, last - first + 1);
}

static char16_t foldAscii(char16_t c)
{
    return (c >= u'a' && c <= u'z') ? char16_t(c - (u'a' - u'A')) : c;
}

bool sameText(const QString &a, const QString &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (foldAscii(a.at(i).unicode()) != foldAscii(b.at(i).unicode()))
            return false;
    }
    return true;
}

SplitParts splitAtFirst(const QString &text, const QString &separator)
{
    const qsizetype at = text.indexOf(separator);
    if (at < 0)
        return {text, QString()};
    return {text.left(at), Trim(text.mid(at + separator.size()))};
}
