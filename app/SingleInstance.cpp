#include "app/SingleInstance.h"

#include "platform/RuntimeFolder.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>

namespace {

// How long a refused start waits to hand its request to the running copy.
constexpr int HandOverTimeoutMs = 2000;

} // namespace

TSingleInstance::TSingleInstance(QObject *parent)
    : TSingleInstance(QCoreApplication::applicationFilePath(), sessionDirectory(), parent)
{
}

TSingleInstance::TSingleInstance(const QString &executablePath, const QString &sessionDirectory,
                                 QObject *parent)
    : QObject(parent)
    , FIdentity(identity(executablePath))
    , FSessionDirectory(sessionDirectory)
{
}

TSingleInstance::~TSingleInstance()
{
    if (FServer)
        FServer->close();
    releaseLock();
}

QString TSingleInstance::identity(const QString &executablePath)
{
    return (QStringLiteral("Jcl") + executablePath).toUpper().replace(QLatin1Char('/'), QLatin1Char('_'));
}

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

bool TSingleInstance::CheckSingleInstance()
{
    if (FLockHandle >= 0)
        return true;
    // Without a usable session folder there is nothing to guard with; the start goes on.
    if (FSessionDirectory.isEmpty())
        return true;

    switch (takeLock()) {
    case TLockResult::Taken:
        listen();
        return true;
    case TLockResult::Unguarded:
        return true;
    case TLockResult::HeldByOther:
        break;
    }

    QLocalSocket socket;
    socket.connectToServer(serverName());
    if (socket.waitForConnected(HandOverTimeoutMs)) {
        socket.write("activate\n");
        socket.waitForBytesWritten(HandOverTimeoutMs);
        socket.disconnectFromServer();
    }
    return false;
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
