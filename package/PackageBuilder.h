#pragma once

#include "common/Exceptions.h"

#include <QByteArray>
#include <QString>

// A header text that a package cannot hold.
class EPackageBuildError : public Exception
{
public:
    explicit EPackageBuildError(const QString &message);
};

// Builds a package that TUpgradeFile accepts: the header with the magic, the
// texts (each at most its field's width in bytes, zero-filled) and the MD5 of
// the image, then the enciphered image. Raises EPackageBuildError for a text
// that does not fit or holds a zero character.
QByteArray buildPackage(const QByteArray &image, const QString &mode, const QString &version,
                        const QString &partName, const QString &date);

// The image enciphered with the package key: the payload of a package.
QByteArray encryptPayload(const QByteArray &image);
