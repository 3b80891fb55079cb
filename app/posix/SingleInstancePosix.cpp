#include "app/SingleInstance.h"

#include "platform/RuntimeFolder.h"

#include <QCryptographicHash>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <utility>

namespace {

// How long a refused start waits to hand its request to the running copy.
constexpr int HandOverTimeoutMs = 2000;

} // namespace

QString TSingleInstance::sessionDirectory()
{
    return privateRuntimeFolder();
}

QString TSingleInstance::pathFor(const QString &suffix) const
{
    const QByteArray hash = QCryptographicHash::hash(FIdentity.toUtf8(), QCryptographicHash::Sha1).toHex();
    return FSessionDirectory + QStringLiteral("/qv58link-") + QString::fromLatin1(hash) + suffix;
}

QString TSingleInstance::lockFilePath() const
{
    return pathFor(QStringLiteral("_Otx.lock"));
}

QString TSingleInstance::serverName() const
{
    return pathFor(QStringLiteral("_All"));
}

bool TSingleInstance::lockTaken() const
{
    return FLockHandle >= 0;
}

void TSingleInstance::listen()
{
    const QString name = serverName();
    // Holding the lock makes any socket left at this name a dead copy's.
    QLocalServer::removeServer(name);
    FServer = new QLocalServer(this);
    FServer->setSocketOptions(QLocalServer::UserAccessOption);
    connect(FServer, &QLocalServer::newConnection, this, [this] {
        // The connection itself is the request; nothing is read from it.
        while (QLocalSocket *socket = FServer->nextPendingConnection())
            socket->deleteLater();
        emit activateRequested();
    });
    FServer->listen(name);
}

void TSingleInstance::askRunningCopyForward()
{
    QLocalSocket socket;
    socket.connectToServer(serverName());
    if (socket.waitForConnected(HandOverTimeoutMs)) {
        socket.write("activate\n");
        socket.waitForBytesWritten(HandOverTimeoutMs);
        socket.disconnectFromServer();
    }
}

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
