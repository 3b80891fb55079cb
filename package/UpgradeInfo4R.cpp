#include "package/UpgradeInfo4R.h"

#include "common/Exceptions.h"
#include "common/TextFile.h"

#include <QtEndian>
#include <cstring>

TUpgradeInfo4R TUpgradeInfo4R::fromBytes(const QByteArray &bytes)
{
    TUpgradeInfo4R info;
    std::memset(&info, 0, sizeof info);
    std::memcpy(&info, bytes.constData(), size_t(qMin<qsizetype>(bytes.size(), sizeof info)));
    info.fileVer = qFromLittleEndian(info.fileVer);
    return info;
}

QByteArray TUpgradeInfo4R::toBytes() const
{
    TUpgradeInfo4R copy = *this;
    copy.fileVer = qToLittleEndian(fileVer);
    return QByteArray(reinterpret_cast<const char *>(&copy), sizeof copy);
}

QString TUpgradeInfo4R::fieldText(const char *field, qsizetype width)
{
    const void *zero = std::memchr(field, 0, size_t(width));
    const qsizetype length = zero ? static_cast<const char *>(zero) - field : width;
    return ansiDecode(QByteArray(field, length));
}

void TUpgradeInfo4R::setFieldText(char *field, qsizetype width, const QString &value)
{
    const QByteArray bytes = ansiEncode(value);
    if (bytes.size() > width)
        throw ERangeError();
    std::memset(field, 0, size_t(width));
    std::memcpy(field, bytes.constData(), size_t(bytes.size()));
}
