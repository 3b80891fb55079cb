#pragma once

#include "package/UpgradeFile.h"
#include "upgrade/UpgradeReport.h"

#include <QByteArray>
#include <QString>

#include <map>
#include <memory>

class QBuffer;
class THTTPClient;

// A package ready to flash: its bytes and the reader that deciphered them,
// once. Nothing changes it once made, so probes flashed on several threads
// may share one.
class TUpgradePackage
{
public:
    // Raises "Invalid upgrade file!" unless bytes are a valid package, or the
    // reader's own error for one cut short.
    explicit TUpgradePackage(const QByteArray &bytes);

    const QByteArray &bytes() const { return FBytes; }
    const TUpgradeFile &file() const { return FFile; }

private:
    QByteArray FBytes;
    TUpgradeFile FFile;
};

using TPackage = std::shared_ptr<const TUpgradePackage>;

// Downloads the package at url into buffer (emptied first), within the
// package ceiling. The announce line, and each body's start and blocks as
// Download steps with their lines, go to report; the client's own progress
// handlers still run first, and are its only ones again when it returns.
void downloadPackage(THTTPClient &http, const QString &url, QBuffer &buffer, IUpgradeReport &report);

// Checks and deciphers bytes (see TUpgradePackage), reporting the Validate step.
TPackage validatePackage(const QByteArray &bytes, IUpgradeReport &report);

// A package file of the host's, read within the package ceiling; a pipe, a
// device or a folder is refused before anything is read. Then as
// validatePackage.
TPackage readPackage(const QString &path, IUpgradeReport &report);

// The packages of one run by where they came from, each downloaded or read,
// and deciphered, once however many probes take it. One that failed is tried
// again when asked for again. For one thread.
class TPackageShelf
{
public:
    explicit TPackageShelf(THTTPClient &http);

    // The catalogue's package fileName (as packageFileName gives it).
    TPackage fromCatalogue(const QString &fileName, IUpgradeReport &report);
    TPackage fromFile(const QString &path, IUpgradeReport &report);

private:
    THTTPClient &FHttp;
    std::map<QString, TPackage> FDownloaded;
    std::map<QString, TPackage> FRead;
};
