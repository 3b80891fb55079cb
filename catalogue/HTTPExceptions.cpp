#include "catalogue/HTTPExceptions.h"

EIdHTTPProtocolException::EIdHTTPProtocolException(int errorCode, const QString &statusLine)
    : Exception(statusLine)
    , FErrorCode(errorCode)
{
}

EIdSocketError::EIdSocketError(int lastError, const QString &text)
    : Exception(QStringLiteral("Socket Error # %1\r\n%2").arg(QString::number(lastError), text))
    , FLastError(lastError)
{
}

EIdConnClosedGracefully::EIdConnClosedGracefully()
    : Exception(QStringLiteral("Connection Closed Gracefully."))
{
}

EIdReadTimeout::EIdReadTimeout()
    : Exception(QStringLiteral("Read timed out."))
{
}

EIdOSSLConnectError::EIdOSSLConnectError(const QString &detail)
    : Exception(QStringLiteral("Error connecting with SSL.\r\n%1").arg(detail))
{
}

EIdRedirectLimit::EIdRedirectLimit()
    : Exception(QStringLiteral("Too many redirects."))
{
}

EIdIncompleteBody::EIdIncompleteBody(const QString &detail)
    : Exception(QStringLiteral("Download incomplete: the server's answer was cut short.\r\n%1")
                    .arg(detail))
{
}

EIdTransferError::EIdTransferError(const QString &detail)
    : Exception(detail)
{
}
