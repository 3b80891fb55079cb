#include "package/PackageBuilder.h"
#include "package/PackageFormat.h"
#include "package/cipher/Lb3DES.h"

#include <QCryptographicHash>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {

QByteArray field(const QByteArray &package, int offset, int width)
{
    return package.mid(offset, width);
}

QByteArray zeroFilled(const QByteArray &text, int width)
{
    return text + QByteArray(width - text.size(), '\0');
}

} // namespace

TEST(PackageBuilder, LaysOutTheHeaderAndEnciphersTheImage)
{
    const QByteArray image = "line one\r\nline two\r\n:00000001FF\r\n";
    const QByteArray package = buildPackage(image, "Boot", "V1.02", "QV58-LINK-B", "2023-11-30");

    ASSERT_EQ(package.size(), 256 + image.size() / 8 * 8 + 8);
    EXPECT_EQ(field(package, 0, 16), zeroFilled("ID:Quorvantix", 16));
    EXPECT_EQ(qFromLittleEndian<quint32>(package.constData() + 16), quint32(PackageFormat::FileVersion));
    EXPECT_EQ(field(package, 20, 16), zeroFilled("Boot", 16));
    EXPECT_EQ(field(package, 36, 16), zeroFilled("V1.02", 16));
    EXPECT_EQ(field(package, 52, 16), zeroFilled("QV58-LINK-B", 16));
    EXPECT_EQ(field(package, 68, 32), QCryptographicHash::hash(image, QCryptographicHash::Md5).toHex().toUpper());
    EXPECT_EQ(field(package, 100, 32), zeroFilled("2023-11-30", 32));
    EXPECT_EQ(field(package, 132, 124), QByteArray(124, '\0'));

    TLb3DES cipher;
    cipher.GenerateKey("Tavrel Onyx Ledger");
    EXPECT_EQ(cipher.DecryptBuffer(package.mid(256)), image);
}

TEST(PackageBuilder, RefusesTextsTheHeaderCannotHold)
{
    const QString s16(16, 'm'), s17(17, 'm'), s32(32, 'd'), s33(33, 'd');
    EXPECT_NO_THROW(buildPackage("x", s16, s16, s16, s32));

    struct Case
    {
        const char *name;
        QString mode, version, partName, date;
    };
    const Case cases[] = {
        {"mode too long", s17, "v", "p", "d"},
        {"version too long", "m", s17, "p", "d"},
        {"part name too long", "m", "v", s17, "d"},
        {"date too long", "m", "v", "p", s33},
        {"zero character", "m", QString::fromLatin1("v\0x", 3), "p", "d"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_THROW(buildPackage("x", c.mode, c.version, c.partName, c.date), EPackageBuildError);
    }
}
