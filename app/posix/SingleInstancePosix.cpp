#include "app/SingleInstance.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <utility>

TSingleInstance::TLockResult TSingleInstance::takeLock()
{
    const QByteArray lockPath = QFile::encodeName(lockFilePath());
    const int handle = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (handle < 0)
        return TLockResult::Unguarded;

    int locked;
    do {
        locked = ::flock(handle, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);

    if (locked == 0) {
        FLockHandle = handle;
        return TLockResult::Taken;
    }
    const bool heldByOther = errno == EWOULDBLOCK;
    ::close(handle);
    return heldByOther ? TLockResult::HeldByOther : TLockResult::Unguarded;
}

void TSingleInstance::releaseLock()
{
    if (FLockHandle >= 0)
        ::close(std::exchange(FLockHandle, -1));
}
