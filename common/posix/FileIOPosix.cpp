#include "common/FileIO.h"

#include "common/Exceptions.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QByteArray nativePath(const QString &fileName)
{
    return QFile::encodeName(fileName);
}

// Empty for a regular file.
QString notRegularReason(const struct stat &info)
{
    if (S_ISREG(info.st_mode))
        return {};
    return S_ISDIR(info.st_mode) ? fileReason::folder() : fileReason::special();
}

// Closes the handle on every way out of a read.
class THandleGuard
{
public:
    explicit THandleGuard(int handle)
        : FHandle(handle)
    {
    }
    ~THandleGuard() { ::close(FHandle); }
    THandleGuard(const THandleGuard &) = delete;
    THandleGuard &operator=(const THandleGuard &) = delete;

private:
    int FHandle;
};

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

QByteArray readWholeFile(const QString &fileName, qint64 maxBytes)
{
    // Non-blocking, so that opening a pipe nobody writes to returns at once
    // and is then refused; no controlling terminal from a tty device either.
    const int fd = ::open(nativePath(fileName).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        throw EFOpenError(fileName, systemReason(errno));
    return readRegularFile(fileName, fd, maxBytes);
}

QByteArray readRegularFile(const QString &fileName, int handle, qint64 maxBytes)
{
    const THandleGuard guard(handle);
    struct stat info {};
    if (::fstat(handle, &info) != 0)
        throw EFOpenError(fileName, systemReason(errno));
    const QString refusal = notRegularReason(info);
    if (!refusal.isEmpty())
        throw EFOpenError(fileName, refusal);

    // The size fstat gives is only a hint: the bound holds for the bytes
    // that really come, one more than allowed proving the file too large.
    const qint64 limit = qMax<qint64>(maxBytes, 0) + 1;
    QByteArray data;
    data.reserve(qsizetype(qBound<qint64>(0, qint64(info.st_size), limit)));
    char chunk[16384];
    while (data.size() < limit) {
        const ssize_t got = ::read(handle, chunk, size_t(qMin<qint64>(qint64(sizeof chunk), limit - data.size())));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw EFOpenError(fileName, systemReason(errno));
        }
        if (got == 0)
            break;
        data.append(chunk, got);
    }
    if (data.size() >= limit)
        throw EFOpenError(fileName, fileReason::tooLarge(maxBytes));
    return data;
}

TFileWriter::TFileWriter(const QString &fileName)
    : FFileName(fileName)
{
    FHandle = ::open(nativePath(fileName).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (FHandle < 0)
        throw EFCreateError(fileName, systemReason(errno));
}

TFileWriter::TFileWriter(const QString &fileName, int handle)
    : FFileName(fileName)
    , FHandle(handle)
{
    // The destructor does not run for a constructor that raises.
    const auto refuse = [this](const QString &reason) {
        ::close(std::exchange(FHandle, -1));
        throw EFCreateError(FFileName, reason);
    };
    struct stat info {};
    if (::fstat(FHandle, &info) != 0)
        refuse(systemReason(errno));
    const QString refusal = notRegularReason(info);
    if (!refusal.isEmpty())
        refuse(refusal);
    // A FAT volume has no hard links; on a folder standing in for a drive a
    // second name could be a file of the user's elsewhere on the same disk.
    if (info.st_nlink > 1)
        refuse(fileReason::otherNames());
    if (::ftruncate(FHandle, 0) != 0)
        refuse(systemReason(errno));
}

TFileWriter::~TFileWriter()
{
    if (FHandle >= 0)
        ::close(FHandle);
}

qint64 TFileWriter::writeAll(const char *data, qint64 size)
{
    qint64 done = 0;
    while (done < size) {
        const ssize_t put = ::write(FHandle, data + done, size_t(size - done));
        if (put < 0) {
            if (errno == EINTR)
                continue;
            throw EFWriteError(FFileName, systemReason(errno));
        }
        if (put == 0)
            break;
        done += put;
    }
    return done;
}

void TFileWriter::close()
{
    if (FHandle < 0)
        return;
    const int fd = std::exchange(FHandle, -1);
    // Devices and read-only file systems that cannot sync have nothing pending.
    int error = 0;
    if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0)
        throw EFWriteError(FFileName, systemReason(error));
}
