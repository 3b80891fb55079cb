#include "common/Exceptions.h"

#include <utility>

Exception::Exception(QString message)
    : FMessage(std::move(message))
    , FWhat(FMessage.toUtf8())
{
}

EFOpenError::EFOpenError(const QString &fileName, const QString &reason)
    : Exception(QStringLiteral("Cannot open file \"%1\". %2").arg(fileName, reason))
{
}

EFCreateError::EFCreateError(const QString &fileName, const QString &reason)
    : Exception(QStringLiteral("Cannot create file \"%1\". %2").arg(fileName, reason))
{
}

EWriteError::EWriteError()
    : Exception(QStringLiteral("Stream write error"))
{
}

EFWriteError::EFWriteError(const QString &fileName, const QString &reason)
    : Exception(QStringLiteral("Cannot write file \"%1\". %2").arg(fileName, reason))
{
}

ERangeError::ERangeError()
    : Exception(QStringLiteral("Range check error"))
{
}
