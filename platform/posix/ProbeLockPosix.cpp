#include "platform/ProbeLock.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A holder that lets go removes the file; a rival that opened it just before
// may then lock the removed file, sees that, and tries again.
constexpr int OpenAttempts = 64;

int lockNonBlocking(int handle)
{
    int result;
    do {
        result = ::flock(handle, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    return result;
}

// Whether the path still names the very file the handle has open.
bool stillNamed(int handle, const QByteArray &path)
{
    struct stat opened {};
    struct stat named {};
    if (::fstat(handle, &opened) != 0 || ::lstat(path.constData(), &named) != 0)
        return false;
    return opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

} // namespace

TProbeLock::TState TProbeLock::tryLock()
{
    if (FState == Held || FState == Unguarded)
        return FState;
    FState = Unguarded;
    if (FPath.isEmpty())
        return FState;
    const QByteArray path = QFile::encodeName(FPath);
    for (int attempt = 0; attempt < OpenAttempts; ++attempt) {
        const int handle = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (handle < 0)
            return FState;
        if (lockNonBlocking(handle) != 0) {
            const bool busy = errno == EWOULDBLOCK;
            ::close(handle);
            FState = busy ? Busy : Unguarded;
            return FState;
        }
        if (stillNamed(handle, path)) {
            FHandle = handle;
            FState = Held;
            return FState;
        }
        ::close(handle);
    }
    // The name keeps changing hands: someone is busy with the probe.
    FState = Busy;
    return FState;
}

void TProbeLock::unlock()
{
    if (FHandle >= 0) {
        // Removed while still held, so no one can take the name's file in between.
        ::unlink(QFile::encodeName(FPath).constData());
        ::close(FHandle);
        FHandle = -1;
    }
    FState = Free;
}
