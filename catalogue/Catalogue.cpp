#include "catalogue/Catalogue.h"

#include "catalogue/HTTPClient.h"
#include "common/TextFile.h"

#include <QBuffer>

bool downloadLines(THTTPClient &http, const QString &url, QStringList &lines)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadWrite);
    http.Get(url, buffer, downloadLimits::CatalogueBytes);
    lines = decodeTextLines(data);
    return true;
}
