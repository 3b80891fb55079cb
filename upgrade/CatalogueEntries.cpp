#include "upgrade/CatalogueEntries.h"

#include "catalogue/Catalogue.h"
#include "catalogue/DownloadLocation.h"

TCatalogue::TCatalogue(THTTPClient &http)
    : FHttp(http)
{
}

const QStringList &TCatalogue::lines()
{
    if (!FLoaded) {
        downloadLines(FHttp, fileListUrl(), FLines);
        FLoaded = true;
    }
    return FLines;
}

QList<TVersionInfo> TCatalogue::entriesFor(const QString &hicId)
{
    return ::entriesFor(hicId, lines());
}

QString packageFileName(const TVersionInfo &entry)
{
    return entry.fileName + QStringLiteral(".dat");
}
