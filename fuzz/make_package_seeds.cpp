// Writes the seeds of fuzz_upgrade_file and fuzz_decrypt_stream with the
// tool's own package builder:
//   make_package_seeds fuzz/corpus/fuzz_upgrade_file fuzz/corpus/fuzz_decrypt_stream

#include "common/FileIO.h"
#include "package/PackageBuilder.h"

#include <QDir>

#include <cstdio>

namespace {

void save(const QString &folder, const char *name, const QByteArray &bytes)
{
    writeWholeFile(QDir(folder).filePath(QString::fromLatin1(name)), bytes);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fputs("usage: make_package_seeds <package seed folder> <payload seed folder>\n", stderr);
        return 2;
    }
    const QString packages = QString::fromLocal8Bit(argv[1]);
    const QString payloads = QString::fromLocal8Bit(argv[2]);

    const QByteArray image = ":020000040800F2\r\n:10000000000102030405060708090A0B0C0D0E0F78\r\n:00000001FF\r\n";
    const QByteArray package = buildPackage(image, QStringLiteral("App"), QStringLiteral("V1.2.0"),
                                            QStringLiteral("QV58Link Mini"), QStringLiteral("2024-05-01 12:00:00"));
    save(packages, "valid", package);
    save(packages, "valid-empty-image",
         buildPackage(QByteArray(), QStringLiteral("Boot"), QStringLiteral("B0.9"), QStringLiteral("QV58Link Max"),
                      QString()));
    QByteArray lower = package;
    for (int i = 68; i < 100; ++i)
        lower[i] = char(QChar::toLower(char32_t(uchar(lower[i]))));
    save(packages, "valid-lower-digest", lower);
    save(packages, "valid-trailing-bytes", package + "abc");
    save(packages, "header-only", package.left(256));
    save(packages, "magic-only", package.left(13));
    save(packages, "one-block", package.left(264));

    save(payloads, "empty-image", encryptPayload(QByteArray()));
    save(payloads, "seven", encryptPayload("1234567"));
    save(payloads, "eight", encryptPayload("12345678"));
    save(payloads, "image", encryptPayload(image));
    save(payloads, "image-trailing-bytes", encryptPayload(image) + "xyz");
    return 0;
}
