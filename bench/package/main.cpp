// Validating a 16 MiB package with TUpgradeFile against the floor set by
// OpenSSL itself: one des-ede ECB decryption of the payload plus MD5 of the
// result, in the same process on the same bytes. Prints both and the ratio.

#include "package/PackageBuilder.h"
#include "package/PackageFormat.h"
#include "package/UpgradeFile.h"
#include "package/cipher/Lb3DES.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>
#include <algorithm>
#include <functional>
#include <openssl/evp.h>

namespace {

constexpr qsizetype kImageSize = 16 * 1024 * 1024;
constexpr int kRounds = 5;

QByteArray makeImage()
{
    QByteArray image(kImageSize, Qt::Uninitialized);
    quint32 state = 0x2545F491u;
    for (char &byte : image) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = char(state);
    }
    return image;
}

QByteArray packageKey()
{
    TLb3DES cipher;
    cipher.GenerateKey(PackageFormat::passphrase());
    TKey128 key;
    cipher.GetKey(key);
    return QByteArray(reinterpret_cast<const char *>(key.data()), 16);
}

double milliseconds(const std::function<void()> &work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e6;
}

// Returns the digest so the work cannot be optimised away.
QByteArray opensslFloor(const QByteArray &payload, const QByteArray &key)
{
    QByteArray plain(payload.size(), Qt::Uninitialized);
    EVP_CIPHER *cipher = EVP_CIPHER_fetch(nullptr, "DES-EDE-ECB", nullptr);
    EVP_CIPHER_CTX *context = EVP_CIPHER_CTX_new();
    EVP_DecryptInit_ex2(context, cipher, reinterpret_cast<const unsigned char *>(key.constData()), nullptr, nullptr);
    EVP_CIPHER_CTX_set_padding(context, 0);
    int produced = 0;
    EVP_DecryptUpdate(context, reinterpret_cast<unsigned char *>(plain.data()), &produced,
                      reinterpret_cast<const unsigned char *>(payload.constData()), int(payload.size() / 8 * 8));
    EVP_CIPHER_CTX_free(context);
    EVP_CIPHER_free(cipher);

    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_MD *md = EVP_MD_fetch(nullptr, "MD5", nullptr);
    EVP_Digest(plain.constData(), size_t(produced), digest, &length, md, nullptr);
    EVP_MD_free(md);
    return QByteArray(reinterpret_cast<const char *>(digest), int(length));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);

    const QByteArray image = makeImage();
    QByteArray package = buildPackage(image, "App", "V9.9.9", "QV58-LINK-A", "bench");
    const QByteArray payload = package.mid(PackageFormat::HeaderSize);
    const QByteArray key = packageKey();

    bool valid = true;
    QByteArray digest;
    // Rounds alternate and the best of each side counts, so a burst of other
    // work on the machine does not land on one side only.
    double reader = 1e300, floor = 1e300;
    for (int round = 0; round < kRounds; ++round) {
        reader = std::min(reader, milliseconds([&] {
            QBuffer buffer(&package);
            buffer.open(QIODevice::ReadOnly);
            const TUpgradeFile file(buffer);
            valid = valid && file.valid() && file.image().size() == image.size();
        }));
        floor = std::min(floor, milliseconds([&] { digest = opensslFloor(payload, key); }));
    }

    if (!valid) {
        out << "bench_package: the package did not validate\n";
        return 1;
    }
    const double ratio = reader / floor;
    out << QString("package of %1 bytes, best of %2 rounds\n").arg(package.size()).arg(kRounds);
    out << QString("TUpgradeFile (validate):       %1 ms\n").arg(reader, 0, 'f', 1);
    out << QString("OpenSSL des-ede-ecb + MD5:     %1 ms\n").arg(floor, 0, 'f', 1);
    out << QString("ratio:                         %1 (target at most 1.3)\n").arg(ratio, 0, 'f', 3);
    return 0;
}
