// The catalogue as downloaded: decoded into lines, every line taken apart, and
// the version list with its way back from a list position to a line.

#include "FuzzCheck.h"

#include "catalogue/VersionInfo.h"
#include "common/StrUtils.h"
#include "common/TextFile.h"

#include <QStringList>

namespace {

// Positions checked for their way back to a line; checking them all would
// make a long catalogue quadratic in the fuzzer, not in the tool.
constexpr int CheckedPositions = 16;

bool hasLineBreakOrNul(const QString &line)
{
    return line.contains(QChar(u'\r')) || line.contains(QChar(u'\n')) || line.contains(QChar(u'\0'));
}

void checkVersionList(const QStringList &lines, const QString &hicId)
{
    const QStringList versions = versionsFor(hicId, lines);
    int previous = -1;
    for (int n = 0; n < versions.size(); ++n) {
        if (n >= CheckedPositions && n != versions.size() - 1)
            continue;
        const int index = matchingLineIndex(n, lines, hicId);
        FUZZ_CHECK(index > previous && index < lines.size());
        const TVersionInfo info = parseVersionInfo(lines.at(index));
        FUZZ_CHECK(sameText(info.HICID, hicId));
        FUZZ_CHECK(info.version == versions.at(n));
        previous = index;
    }
    FUZZ_CHECK(matchingLineIndex(int(versions.size()), lines, hicId) == -1);
    FUZZ_CHECK(matchingLineIndex(-1, lines, hicId) == -1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QStringList lines = decodeTextLines(fuzzBytes(data, size));

    for (const QString &line : lines) {
        FUZZ_CHECK(!hasLineBreakOrNul(line));
        const TVersionInfo info = parseVersionInfo(line);
        FUZZ_CHECK(line.startsWith(info.fileName));
        FUZZ_CHECK(info.fileName.startsWith(info.HICID));
        FUZZ_CHECK(!info.fileName.contains(QChar(u';')));
        FUZZ_CHECK(!info.HICID.contains(QChar(u'_')));
        FUZZ_CHECK(Trim(info.version) == info.version);
        // Expanding escapes only ever shortens: four characters become two.
        FUZZ_CHECK(info.descript.size() <= line.size() - info.fileName.size());
    }

    // The probe of the first line, and a probe with an empty HIC ID, which
    // blank and malformed lines match.
    if (!lines.isEmpty())
        checkVersionList(lines, parseVersionInfo(lines.first()).HICID);
    checkVersionList(lines, QString());
    return 0;
}
