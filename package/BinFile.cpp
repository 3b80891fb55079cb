#include "package/BinFile.h"

#include "common/Exceptions.h"
#include "common/FileIO.h"

#include <QFile>
#include <cstring>
#include <filesystem>
#include <memory>
#include <openssl/evp.h>

namespace {

constexpr qint64 kChunkSize = 64 * 1024;

struct TMdContextFree
{
    void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
};

struct TMdFree
{
    void operator()(EVP_MD *md) const { EVP_MD_free(md); }
};

std::filesystem::path nativePath(const QString &fileName)
{
    return std::filesystem::path(QFile::encodeName(fileName).constData());
}

} // namespace

QString TBinFile::md5Stream(QIODevice &AMemoryStream)
{
    const std::unique_ptr<EVP_MD, TMdFree> md(EVP_MD_fetch(nullptr, "MD5", nullptr));
    const std::unique_ptr<EVP_MD_CTX, TMdContextFree> context(EVP_MD_CTX_new());
    if (!md || !context || EVP_DigestInit_ex2(context.get(), md.get(), nullptr) != 1)
        throw Exception(QStringLiteral("MD5 is not available"));

    QByteArray chunk(kChunkSize, Qt::Uninitialized);
    for (;;) {
        const qint64 got = AMemoryStream.read(chunk.data(), kChunkSize);
        if (got < 0)
            throw Exception(QStringLiteral("Stream read error"));
        if (got == 0)
            break;
        EVP_DigestUpdate(context.get(), chunk.constData(), size_t(got));
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context.get(), digest, &length);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest), length).toHex().toUpper());
}

QString TBinFile::md5File(const QString &AFileName)
{
    QFile file(AFileName);
    if (!file.open(QIODevice::ReadOnly))
        throw EFOpenError(AFileName, file.errorString());
    return md5Stream(file);
}

qint64 TBinFile::fileSize(const QString &AFileName)
{
    QFile file(AFileName);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    return file.size() & 0xFFFFFFFF;
}

bool TBinFile::loadFromFile(const QString &AFileName, void *AData, qint64 ASize)
{
    const QByteArray data = readWholeFile(AFileName);
    const qint64 count = qBound<qint64>(0, ASize, data.size());
    std::memcpy(AData, data.constData(), size_t(count));
    return true;
}

bool TBinFile::saveToFile(const QString &AFileName, const void *AData, qint64 ASize)
{
    TFileWriter writer(AFileName);
    writer.write(static_cast<const char *>(AData), qMax<qint64>(0, ASize));
    writer.close();
    return true;
}

bool TBinFile::copyFile(const QString &ASource, const QString &ATarget, bool AOverWrite)
{
    if (!AOverWrite) {
        // Refused by the system itself when the target exists, however
        // recently it came to be.
        std::error_code error;
        return std::filesystem::copy_file(nativePath(ASource), nativePath(ATarget),
                                          std::filesystem::copy_options::none, error)
            && !error;
    }
    // GCC 12's copy_file fails on Windows whenever the target exists, even
    // when told to overwrite it; reading and writing does the same everywhere.
    try {
        writeWholeFile(ATarget, readWholeFile(ASource));
        return true;
    } catch (const Exception &) {
        return false;
    }
}
