#include "app/SingleInstance.h"

#include <QCoreApplication>
#include <QLocalServer>

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

bool TSingleInstance::CheckSingleInstance()
{
    if (lockTaken())
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
    askRunningCopyForward();
    return false;
}
