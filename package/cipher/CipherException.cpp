#include "package/cipher/CipherException.h"

ECipherException::ECipherException(const QString &message)
    : Exception(message)
{
}

ECipherException ECipherException::invalidFileFormat()
{
    return ECipherException(QStringLiteral("Invalid file format"));
}
