#pragma once

#include <QString>

// The download location: QV58LINK_DOWNLOAD_URL when set and not empty (a
// mirror, a local test server), else the location built into the tool.
QString baseUrl();
// The catalogue's URL.
QString fileListUrl();
// A package's URL; upgradeFileName is appended as it is, without encoding.
QString upgradeFileUrl(const QString &upgradeFileName);
