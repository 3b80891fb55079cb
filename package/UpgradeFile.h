#pragma once

#include "package/UpgradeInfo4R.h"

#include <QBuffer>
#include <QByteArray>
#include <QString>

class TFileWriter;

// Reads an upgrade package: a package is valid when its header has the magic
// text and the MD5 of its deciphered payload equals the header's digits. The
// header texts are offered whatever the outcome.
//
// Construction raises ERangeError "Range check error" for a package with the
// magic but fewer than 256 bytes, and ECipherException "Invalid file format"
// for a payload shorter than one block or with a damaged final block.
class TUpgradeFile
{
public:
    // Reads all of the buffer whatever its position, and leaves it at its end.
    explicit TUpgradeFile(QBuffer &AMemoryStream);
    // Raises EFOpenError when the file cannot be read.
    explicit TUpgradeFile(const QString &AFileName);

    bool valid() const { return FValid; }
    QString fileName() const { return FFileName; }
    QString mode() const { return TUpgradeInfo4R::text(FUpgradeInfo4R.mode); }
    QString version() const { return TUpgradeInfo4R::text(FUpgradeInfo4R.version); }
    QString partName() const { return TUpgradeInfo4R::text(FUpgradeInfo4R.partName); }
    // The header's digits, not a computed digest.
    QString md5() const { return TUpgradeInfo4R::text(FUpgradeInfo4R.md5); }
    QString crDate() const { return TUpgradeInfo4R::text(FUpgradeInfo4R.date); }
    const TUpgradeInfo4R &upgradeInfo() const { return FUpgradeInfo4R; }

    // The deciphered image; empty unless valid.
    const QByteArray &image() const { return FMemoryStream; }

    // Creates or empties the file and writes the image: an empty file for a
    // package that is not valid. Raises EFCreateError or EFWriteError.
    void saveFile(const QString &AFileName) const;
    // The same through a writer the caller has opened; closes it. Raises
    // EFWriteError.
    void saveFile(TFileWriter &writer) const;

private:
    void read(const QByteArray &AData);

    TUpgradeInfo4R FUpgradeInfo4R = TUpgradeInfo4R::fromBytes(QByteArray());
    QByteArray FMemoryStream;
    QString FFileName;
    bool FValid = false;
};
