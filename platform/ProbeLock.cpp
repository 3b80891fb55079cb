#include "platform/ProbeLock.h"

#include "platform/RuntimeFolder.h"

#include <QCryptographicHash>

TProbeLock::TProbeLock(const QString &identity)
    : TProbeLock(identity, privateRuntimeFolder())
{
}

TProbeLock::TProbeLock(const QString &identity, const QString &folder)
{
    if (!folder.isEmpty()) {
        const QByteArray hash = QCryptographicHash::hash(identity.toUtf8(), QCryptographicHash::Sha256).toHex();
        FPath = folder + QStringLiteral("/qv58link-probe-") + QString::fromLatin1(hash) + QStringLiteral(".lock");
    }
}

TProbeLock::~TProbeLock()
{
    unlock();
}
