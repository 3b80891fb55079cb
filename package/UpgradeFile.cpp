#include "package/UpgradeFile.h"

#include "common/Exceptions.h"
#include "common/FileIO.h"
#include "common/StrUtils.h"
#include "package/BinFile.h"
#include "package/PackageFormat.h"
#include "package/cipher/Lb3DES.h"

TUpgradeFile::TUpgradeFile(QBuffer &AMemoryStream)
{
    const QByteArray data = AMemoryStream.data();
    if (AMemoryStream.isOpen())
        AMemoryStream.seek(AMemoryStream.size());
    read(data);
}

TUpgradeFile::TUpgradeFile(const QString &AFileName)
    : FFileName(AFileName)
{
    read(readWholeFile(AFileName));
}

void TUpgradeFile::read(const QByteArray &AData)
{
    FUpgradeInfo4R = TUpgradeInfo4R::fromBytes(AData);
    if (TUpgradeInfo4R::text(FUpgradeInfo4R.id) != PackageFormat::magic())
        return;
    if (AData.size() < PackageFormat::HeaderSize)
        throw ERangeError();

    QBuffer payload;
    payload.setData(QByteArray::fromRawData(AData.constData() + PackageFormat::HeaderSize,
                                            AData.size() - PackageFormat::HeaderSize));
    payload.open(QIODevice::ReadOnly);

    QByteArray plain;
    plain.reserve(payload.size());
    {
        QBuffer out(&plain);
        out.open(QIODevice::WriteOnly);
        TLb3DES cipher;
        cipher.GenerateKey(PackageFormat::passphrase());
        cipher.setCipherMode(cmECB);
        cipher.DecryptStream(payload, out);
    }

    QBuffer check(&plain);
    check.open(QIODevice::ReadOnly);
    if (sameText(md5(), TBinFile::md5Stream(check))) {
        FMemoryStream = plain;
        FValid = true;
    }
}

void TUpgradeFile::saveFile(const QString &AFileName) const
{
    TFileWriter writer(AFileName);
    saveFile(writer);
}

void TUpgradeFile::saveFile(TFileWriter &writer) const
{
    writer.write(FMemoryStream);
    writer.close();
}
