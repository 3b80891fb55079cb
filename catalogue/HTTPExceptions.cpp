#include "catalogue/HTTPExceptions.h"

#include <QUrl>

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

namespace {

// The downloaded file as a text names it: the last part of the URL's path, in
// quotes. A name that the window's error handler would take for one of its
// network errors, or no name at all, is left out.
QString downloadNamed(const QString &url)
{
    const QString name = QUrl(url).fileName();
    if (name.isEmpty() || name.contains(QStringLiteral("404")) || name.contains(QStringLiteral("Host not found.")))
        return QStringLiteral("this download");
    return QStringLiteral("\"%1\"").arg(name);
}

} // namespace

EIdBodyTooLarge::EIdBodyTooLarge(const QString &text)
    : Exception(text)
{
}

EIdBodyTooLarge EIdBodyTooLarge::announced(const QString &url, qint64 limit)
{
    return EIdBodyTooLarge(QStringLiteral("Download too large: the server announced more than the %1 bytes allowed for %2.")
                               .arg(QString::number(limit), downloadNamed(url)));
}

EIdBodyTooLarge EIdBodyTooLarge::sent(const QString &url, qint64 limit)
{
    return EIdBodyTooLarge(QStringLiteral("Download too large: the server sent more than the %1 bytes allowed for %2.")
                               .arg(QString::number(limit), downloadNamed(url)));
}

EIdTooSlow::EIdTooSlow(int bytesPerSecond, int seconds)
    : Exception(QStringLiteral("Download too slow: the server sent less than %1 bytes a second for %2 seconds.")
                    .arg(QString::number(bytesPerSecond), QString::number(seconds)))
{
}
