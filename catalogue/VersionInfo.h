#pragma once

#include <QString>
#include <QStringList>

// One catalogue line "<HIC ID>_<version>;<description>", taken apart.
struct TVersionInfo
{
    QString HICID; // the file name up to its first "_", untrimmed
    QString version; // the file name after its first "_", trimmed
    QString descript; // after the first ";", trimmed, "\r\n" escapes expanded
    QString fileName; // the line up to its first ";", untrimmed
};

// Never fails: a line of any shape gives an entry.
TVersionInfo parseVersionInfo(const QString &line);

// The version texts of the lines for hicId (ASCII case folded), in file order;
// one per matching line, duplicates kept.
QStringList versionsFor(const QString &hicId, const QStringList &lines);

// The index in lines of the n-th (from 0) line for hicId, or -1 when fewer
// lines match.
int matchingLineIndex(int n, const QStringList &lines, const QString &hicId);

// The entries of the lines for hicId, in file order, duplicates kept: entry n
// is the line matchingLineIndex(n, …) names, parsed. One walk over the lines.
QList<TVersionInfo> entriesFor(const QString &hicId, const QStringList &lines);
