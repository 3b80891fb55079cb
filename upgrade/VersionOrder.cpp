#include "upgrade/VersionOrder.h"

namespace {

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

} // namespace

int compareVersions(const QString &a, const QString &b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a.at(i)) && isDigit(b.at(j))) {
            // Compare the digit runs as numbers of any length: skip leading
            // zeros, then the longer run is larger, else the first differing digit.
            qsizetype ia = i, jb = j;
            while (ia < a.size() && a.at(ia) == u'0')
                ++ia;
            while (jb < b.size() && b.at(jb) == u'0')
                ++jb;
            qsizetype ea = ia, eb = jb;
            while (ea < a.size() && isDigit(a.at(ea)))
                ++ea;
            while (eb < b.size() && isDigit(b.at(eb)))
                ++eb;
            if (ea - ia != eb - jb)
                return (ea - ia) < (eb - jb) ? -1 : 1;
            for (qsizetype k = 0; k < ea - ia; ++k) {
                if (a.at(ia + k) != b.at(jb + k))
                    return a.at(ia + k) < b.at(jb + k) ? -1 : 1;
            }
            i = ea;
            j = eb;
            continue;
        }
        if (a.at(i) != b.at(j))
            return a.at(i).unicode() < b.at(j).unicode() ? -1 : 1;
        ++i;
        ++j;
    }
    const bool aLeft = i < a.size();
    const bool bLeft = j < b.size();
    if (aLeft == bLeft)
        return 0;
    return aLeft ? 1 : -1;
}
