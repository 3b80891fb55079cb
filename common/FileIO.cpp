#include "common/FileIO.h"

#include "common/Exceptions.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace {

TFileWriter::WriteLimiter &writeLimiter()
{
    static TFileWriter::WriteLimiter limiter;
    return limiter;
}

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QByteArray nativePath(const QString &fileName)
{
    return QFile::encodeName(fileName);
}

} // namespace

QByteArray readWholeFile(const QString &fileName)
{
    const int fd = ::open(nativePath(fileName).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw EFOpenError(fileName, systemReason(errno));
    QByteArray data;
    char chunk[65536];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            ::close(fd);
            throw EFOpenError(fileName, systemReason(error));
        }
        if (got == 0)
            break;
        data.append(chunk, got);
    }
    ::close(fd);
    return data;
}

TFileWriter::TFileWriter(const QString &fileName)
    : FFileName(fileName)
{
    FHandle = ::open(nativePath(fileName).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (FHandle < 0)
        throw EFCreateError(fileName, systemReason(errno));
}

TFileWriter::~TFileWriter()
{
    if (FHandle >= 0)
        ::close(FHandle);
}

void TFileWriter::write(const char *data, qint64 size)
{
    qint64 allowed = size;
    if (writeLimiter())
        allowed = qBound<qint64>(0, writeLimiter()(FFileName, size), size);
    qint64 done = 0;
    while (done < allowed) {
        const ssize_t put = ::write(FHandle, data + done, size_t(allowed - done));
        if (put < 0) {
            if (errno == EINTR)
                continue;
            throw EWriteError();
        }
        if (put == 0)
            break;
        done += put;
    }
    if (done != size)
        throw EWriteError();
}

void TFileWriter::close()
{
    if (FHandle < 0)
        return;
    const int fd = std::exchange(FHandle, -1);
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
    const bool closed = ::close(fd) == 0;
    if (!synced || !closed)
        throw EWriteError();
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
