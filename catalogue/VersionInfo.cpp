#include "catalogue/VersionInfo.h"

#include "common/StrUtils.h"

#include <utility>

namespace {

// The catalogue writes a line break inside a description as the four
// characters \r\n; the letters may be in either case.
QString expandLineBreaks(const QString &text)
{
    QString result;
    result.reserve(text.size());
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        if (i + 3 < n && text.at(i) == u'\\' && (text.at(i + 1) == u'r' || text.at(i + 1) == u'R')
            && text.at(i + 2) == u'\\' && (text.at(i + 3) == u'n' || text.at(i + 3) == u'N')) {
            result += QStringLiteral("\r\n");
            i += 4;
        } else {
            result += text.at(i);
            ++i;
        }
    }
    return result;
}

} // namespace

TVersionInfo parseVersionInfo(const QString &line)
{
    const SplitParts entry = splitAtFirst(line, QStringLiteral(";"));
    const SplitParts name = splitAtFirst(entry.head, QStringLiteral("_"));
    return {name.head, name.tail, expandLineBreaks(entry.tail), entry.head};
}

QStringList versionsFor(const QString &hicId, const QStringList &lines)
{
    QStringList versions;
    for (const QString &line : lines) {
        const TVersionInfo info = parseVersionInfo(line);
        if (sameText(info.HICID, hicId))
            versions.append(info.version);
    }
    return versions;
}

int matchingLineIndex(int n, const QStringList &lines, const QString &hicId)
{
    if (n < 0)
        return -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (sameText(parseVersionInfo(lines.at(i)).HICID, hicId)) {
            if (n == 0)
                return int(i);
            --n;
        }
    }
    return -1;
}

QList<TVersionInfo> entriesFor(const QString &hicId, const QStringList &lines)
{
    QList<TVersionInfo> entries;
    for (const QString &line : lines) {
        TVersionInfo info = parseVersionInfo(line);
        if (sameText(info.HICID, hicId))
            entries.append(std::move(info));
    }
    return entries;
}
