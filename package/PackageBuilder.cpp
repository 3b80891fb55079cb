#include "package/PackageBuilder.h"

#include "common/TextFile.h"
#include "package/BinFile.h"
#include "package/PackageFormat.h"
#include "package/UpgradeInfo4R.h"
#include "package/cipher/Lb3DES.h"

#include <QBuffer>

namespace {

template <std::size_t N>
void putText(char (&field)[N], const QString &name, const QString &value)
{
    const QByteArray bytes = ansiEncode(value);
    // The reader stops at the first zero byte, so it would read another text.
    if (bytes.contains('\0'))
        throw EPackageBuildError(QStringLiteral("The %1 text holds a zero character").arg(name));
    if (bytes.size() > qsizetype(N))
        throw EPackageBuildError(QStringLiteral("The %1 text \"%2\" is longer than %3 bytes").arg(name, value).arg(N));
    TUpgradeInfo4R::setText(field, value);
}

} // namespace

EPackageBuildError::EPackageBuildError(const QString &message)
    : Exception(message)
{
}

QByteArray encryptPayload(const QByteArray &image)
{
    TLb3DES cipher;
    cipher.GenerateKey(PackageFormat::passphrase());
    cipher.setCipherMode(cmECB);
    return cipher.EncryptBuffer(image);
}

QByteArray buildPackage(const QByteArray &image, const QString &mode, const QString &version,
                        const QString &partName, const QString &date)
{
    TUpgradeInfo4R info = TUpgradeInfo4R::fromBytes(QByteArray());
    TUpgradeInfo4R::setText(info.id, PackageFormat::magic());
    info.fileVer = PackageFormat::FileVersion;
    putText(info.mode, QStringLiteral("mode"), mode);
    putText(info.version, QStringLiteral("version"), version);
    putText(info.partName, QStringLiteral("part name"), partName);
    putText(info.date, QStringLiteral("date"), date);
    QBuffer imageStream;
    imageStream.setData(image);
    imageStream.open(QIODevice::ReadOnly);
    TUpgradeInfo4R::setText(info.md5, TBinFile::md5Stream(imageStream));

    QByteArray package = info.toBytes();
    package.append(PackageFormat::HeaderSize - package.size(), '\0');
    package.append(encryptPayload(image));
    return package;
}
