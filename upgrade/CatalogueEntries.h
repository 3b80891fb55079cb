#pragma once

#include "catalogue/VersionInfo.h"

#include <QList>
#include <QString>
#include <QStringList>

class THTTPClient;

// The firmware catalogue as one run or one window refresh sees it:
// downloaded on first use, within the catalogue's ceiling, and then kept.
class TCatalogue
{
public:
    explicit TCatalogue(THTTPClient &http);

    // The catalogue's lines, in file order. Raises the transport's error; a
    // later call then tries again.
    const QStringList &lines();

    // The entries for hicId (ASCII letters folded), in file order, duplicates
    // kept; one walk over the lines.
    QList<TVersionInfo> entriesFor(const QString &hicId);

private:
    THTTPClient &FHttp;
    QStringList FLines;
    bool FLoaded = false;
};

// The name of the package file an entry offers, as the download location
// serves it.
QString packageFileName(const TVersionInfo &entry);
