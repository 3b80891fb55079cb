#pragma once

#include "catalogue/DownloadLimits.h"

#include <QBuffer>
#include <QString>
#include <functional>
#include <memory>

enum TWorkMode { wmRead, wmWrite };

struct THTTPClientPrivate;

// The download client: blocking HTTPS GETs on the calling thread over one
// kept connection, with the server's cookies kept in memory for the client's
// lifetime. Failures raise the exceptions of catalogue/HTTPExceptions.h.
class THTTPClient
{
public:
    THTTPClient();
    ~THTTPClient();
    THTTPClient(const THTTPClient &) = delete;
    THTTPClient &operator=(const THTTPClient &) = delete;

    // Fetches url, following redirects, and writes the final body at the
    // buffer's current position (a closed buffer is opened read-write). On
    // return the position is at the end of that body. Raises on any failure;
    // the buffer may then hold part of a body.
    void Get(const QString &url, QBuffer &buffer);
    // The same with its own body limit (see setMaxBodySize) for this request
    // alone.
    void Get(const QString &url, QBuffer &buffer, qint64 maxBodySize);

    // Sent as "Content-Type" on every later request once set non-empty.
    void setContentType(const QString &value);
    QString contentType() const;

    // Longest silence from the server, in milliseconds, before a request
    // fails with "Read timed out.".
    void setReadTimeout(int ms);
    int readTimeout() const;

    // Most body bytes one answer may bring, 0 for no limit; the package
    // ceiling until set. A success answer that announces more fails before
    // its body is read, one without a length as soon as it goes past; either
    // raises EIdBodyTooLarge and nothing past the limit is kept. A redirect
    // whose body goes past the limit fails the same way; an error answer is
    // read up to the limit and then raises its status line as usual.
    void setMaxBodySize(qint64 bytes);
    qint64 maxBodySize() const;

    // A request fails with EIdTooSlow when a window of this many seconds
    // brings less than bytesPerSecond a second; 0 for either switches it off.
    // A window without any byte is the read timeout's to judge.
    void setLowSpeed(int bytesPerSecond, int seconds);
    int lowSpeedLimit() const;
    int lowSpeedTime() const;

    // Raised on the calling thread inside Get, for every body the client
    // reads (redirect and error bodies too): OnWorkBegin once with the
    // announced length (0 when none is announced), then OnWork per block
    // received with this body's byte count so far. An answer that announces
    // no body (Content-Length 0, 204, 304) raises neither. The handlers may
    // throw; Get then stops and rethrows.
    std::function<void(THTTPClient &ASender, TWorkMode AWorkMode, qint64 AWorkCountMax)> OnWorkBegin;
    std::function<void(THTTPClient &ASender, TWorkMode AWorkMode, qint64 AWorkCount)> OnWork;

    // Raised on the calling thread again and again while a request is in
    // flight, also while the server sends nothing (about once a second then),
    // so the caller can keep its own work alive. It may throw, as above.
    std::function<void(THTTPClient &ASender)> OnIdle;

    // Reaching this many redirect answers in one Get raises "Too many redirects.".
    static constexpr int RedirectMaximum = 15;

private:
    std::unique_ptr<THTTPClientPrivate> d;
};
