#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <cstddef>

// The first 132 bytes of a package, field by field, without gaps.
struct TUpgradeInfo4R
{
    char id[16];
    quint32 fileVer; // little-endian in the package, host order here
    char mode[16];
    char version[16];
    char partName[16];
    char md5[32];
    char date[32];

    // Reads as many of the 132 bytes as bytes holds; the rest stays zero.
    static TUpgradeInfo4R fromBytes(const QByteArray &bytes);
    QByteArray toBytes() const;

    // A field's text ends at its first zero byte or at the field's end, in
    // the host's 8-bit code page; nothing is trimmed.
    template <std::size_t N>
    static QString text(const char (&field)[N])
    {
        return fieldText(field, qsizetype(N));
    }

    // Raises ERangeError when the text's bytes do not fit the field.
    template <std::size_t N>
    static void setText(char (&field)[N], const QString &value)
    {
        setFieldText(field, qsizetype(N), value);
    }

private:
    static QString fieldText(const char *field, qsizetype width);
    static void setFieldText(char *field, qsizetype width, const QString &value);
};

static_assert(sizeof(TUpgradeInfo4R) == 132);
static_assert(offsetof(TUpgradeInfo4R, fileVer) == 16);
static_assert(offsetof(TUpgradeInfo4R, mode) == 20);
static_assert(offsetof(TUpgradeInfo4R, version) == 36);
static_assert(offsetof(TUpgradeInfo4R, partName) == 52);
static_assert(offsetof(TUpgradeInfo4R, md5) == 68);
static_assert(offsetof(TUpgradeInfo4R, date) == 100);
