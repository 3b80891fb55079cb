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

namespace {

// "the proxy server NAME", or without a name where none is known.
QString proxyServer(const QString &name)
{
    return name.isEmpty() ? QStringLiteral("the proxy server") : QStringLiteral("the proxy server ") + name;
}

} // namespace

EIdProxyError::EIdProxyError(const QString &text)
    : Exception(text)
{
}

EIdProxyError EIdProxyError::refused(const QString &proxy, int status)
{
    if (status == 407)
        return EIdProxyError(QStringLiteral("Proxy error: %1 asks for a user name and password (it answered 407).")
                                 .arg(proxyServer(proxy)));
    return EIdProxyError(
        QStringLiteral("Proxy error: %1 refused the connection to the download server (it answered %2).")
            .arg(proxyServer(proxy), QString::number(status)));
}

EIdProxyError EIdProxyError::unreachable(const QString &proxy, const QString &text)
{
    return EIdProxyError(QStringLiteral("Proxy error: cannot connect to %1.\r\n%2").arg(proxyServer(proxy), text));
}

EIdProxyError EIdProxyError::unknownHost(const QString &proxy)
{
    return EIdProxyError(QStringLiteral("Proxy error: the name of %1 cannot be resolved.").arg(proxyServer(proxy)));
}
