#pragma once

#include <QString>
#include <QStringList>

class THTTPClient;

// Fetches url and replaces lines with the text lines of the answer (byte-order
// mark or the host's code page, CR LF / CR / LF). The answer may hold up to
// downloadLimits::CatalogueBytes. Returns true; every failure is the
// transport's exception, and lines then stay as they were.
bool downloadLines(THTTPClient &http, const QString &url, QStringList &lines);
