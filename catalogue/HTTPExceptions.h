#pragma once

#include "common/Exceptions.h"

// Failures of a download. The window's error handler looks for "Host not
// found." and for the status code in these texts, so they are fixed.

// The final answer carried an error status; the text is its status line as received.
class EIdHTTPProtocolException : public Exception
{
public:
    EIdHTTPProtocolException(int errorCode, const QString &statusLine);
    int errorCode() const { return FErrorCode; }

private:
    int FErrorCode;
};

// "Socket Error # <number>" CR LF <text>.
class EIdSocketError : public Exception
{
public:
    EIdSocketError(int lastError, const QString &text);
    int lastError() const { return FLastError; }

    // The error number and text used when a host name cannot be resolved.
    static constexpr int HostNotFound = 11001;

private:
    int FLastError;
};

// The server closed the connection before sending any answer.
class EIdConnClosedGracefully : public Exception
{
public:
    EIdConnClosedGracefully();
};

// The server sent nothing for longer than the client's stall limit.
class EIdReadTimeout : public Exception
{
public:
    EIdReadTimeout();
};

// The TLS handshake failed or the server's certificate was refused:
// "Error connecting with SSL." CR LF the TLS library's text.
class EIdOSSLConnectError : public Exception
{
public:
    explicit EIdOSSLConnectError(const QString &detail);
};

// A redirect came when the redirect limit had been used up.
class EIdRedirectLimit : public Exception
{
public:
    EIdRedirectLimit();
};

// The connection ended before the whole body had arrived, or the body's
// chunked framing was broken.
class EIdIncompleteBody : public Exception
{
public:
    explicit EIdIncompleteBody(const QString &detail);
};

// The proxy named by the environment could not be reached, or would not open
// a tunnel to the server. Its texts name the proxy and say what it answered,
// and never contain a status code of the server's.
class EIdProxyError : public Exception
{
public:
    // The proxy answered the tunnel request with this status.
    static EIdProxyError refused(const QString &proxy, int status);
    // The connection to the proxy failed; text is the system's, as in EIdSocketError.
    static EIdProxyError unreachable(const QString &proxy, const QString &text);
    // The proxy's own name could not be resolved.
    static EIdProxyError unknownHost(const QString &proxy);

private:
    explicit EIdProxyError(const QString &text);
};

// A body larger than the request allows. Its texts name the file and the
// limit, but never a number of the server's choosing: the window's error
// handler must not mistake them for a missing file.
class EIdBodyTooLarge : public Exception
{
public:
    // The answer announced a length above the limit; none of the body was read.
    static EIdBodyTooLarge announced(const QString &url, qint64 limit);
    // An answer without a length (chunked, or until the connection closes) went past the limit.
    static EIdBodyTooLarge sent(const QString &url, qint64 limit);

private:
    explicit EIdBodyTooLarge(const QString &text);
};

// The server kept sending, but too slowly for too long.
class EIdTooSlow : public Exception
{
public:
    EIdTooSlow(int bytesPerSecond, int seconds);
};

// Any other failure of the transfer (for example a malformed URL).
class EIdTransferError : public Exception
{
public:
    explicit EIdTransferError(const QString &detail);
};
