#include "common/FileIO.h"

#include "common/Exceptions.h"

#include <utility>

namespace {

TFileWriter::WriteLimiter &writeLimiter()
{
    static TFileWriter::WriteLimiter limiter;
    return limiter;
}

} // namespace

namespace fileReason {

QString otherNames()
{
    return QStringLiteral("It has other names (hard links); only a file of its own is written on the probe's drive.");
}

QString folder()
{
    return QStringLiteral("It is a folder, not a regular file.");
}

QString special()
{
    return QStringLiteral("It is a device, pipe or socket, not a regular file.");
}

QString tooLarge(qint64 maxBytes)
{
    return QStringLiteral("It is larger than %1 bytes, more than this file may hold.").arg(maxBytes);
}

} // namespace fileReason

TFileWriter::TFileWriter(TFileWriter &&other) noexcept
    : FFileName(std::move(other.FFileName))
    , FHandle(std::exchange(other.FHandle, NoFileHandle))
{
}

void TFileWriter::write(const char *data, qint64 size)
{
    qint64 allowed = size;
    if (writeLimiter())
        allowed = qBound<qint64>(0, writeLimiter()(FFileName, size), size);
    const qint64 done = writeAll(data, allowed);
    if (done != size)
        throw EFWriteError(FFileName, QStringLiteral("The device took only %1 of %2 bytes.").arg(done).arg(size));
}

void TFileWriter::setWriteLimiter(WriteLimiter limiter)
{
    writeLimiter() = std::move(limiter);
}

void writeWholeFile(const QString &fileName, const QByteArray &data)
{
    TFileWriter writer(fileName);
    writer.write(data);
    writer.close();
}
