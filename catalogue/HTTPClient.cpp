#include "catalogue/HTTPClient.h"

#include "catalogue/HTTPExceptions.h"
#include "catalogue/ProxyEnvironment.h"
#include "catalogue/SocketSystem.h"

#include <QScopeGuard>

#include <chrono>
#include <curl/curl.h>
#include <exception>
#include <new>
#include <utility>

namespace {

using SteadyClock = std::chrono::steady_clock;

const char *const AcceptTypes = "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";
const char *const UserAgent = "Mozilla/3.0 (compatible; Indy Library)";
constexpr long ReceiveBufferSize = 32768;
// Room is made for an announced body up to this size at once; a larger
// announcement is not trusted that far and the buffer grows as bytes come.
constexpr qint64 ReserveLimit = 256 * 1024 * 1024;

void ensureCurlInitialised()
{
    static const CURLcode rc = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (rc != CURLE_OK)
        throw EIdTransferError(QString::fromUtf8(curl_easy_strerror(rc)));
}

// One response header block as the header callback saw it.
struct TResponse
{
    QByteArray statusLine;
    int status = 0;
    qint64 contentLength = -1;
    bool chunked = false;
    bool hasLocation = false;
    bool complete = false; // the empty line after the final (non-1xx) block was seen
    bool bodyBegun = false;
    qint64 received = 0;

    bool isSuccess() const { return status >= 200 && status <= 299; }
    bool isRedirect() const { return status >= 300 && status <= 399 && status != 304 && hasLocation; }
    qint64 announcedLength() const { return chunked ? 0 : qMax<qint64>(contentLength, 0); }
    bool mayHaveBody() const
    {
        return status != 204 && status != 304 && (chunked || contentLength != 0);
    }
};

class TSlist
{
public:
    ~TSlist() { curl_slist_free_all(FList); }
    void append(const QByteArray &line)
    {
        curl_slist *grown = curl_slist_append(FList, line.constData());
        if (!grown)
            throw std::bad_alloc();
        FList = grown;
    }
    curl_slist *get() const { return FList; }

private:
    curl_slist *FList = nullptr;
};

} // namespace

struct THTTPClientPrivate
{
    explicit THTTPClientPrivate(THTTPClient &owner);
    ~THTTPClientPrivate() { curl_easy_cleanup(curl); }

    // One request, no redirect handling. Returns when a complete answer
    // header arrived; raises for every transport failure.
    void perform(const QByteArray &url, QBuffer &buffer);
    [[noreturn]] void raiseTransferError(CURLcode rc) const;
    void raiseProxyError(CURLcode rc, long osError) const;
    void touch() { lastActivity = SteadyClock::now(); }
    void markConnected();
    void received(size_t bytes);
    bool tooSlowNow(SteadyClock::time_point now);
    void reserve(qint64 bodySize);
    void beginBody();

    static size_t onHeader(char *data, size_t size, size_t count, void *self);
    static size_t onBody(char *data, size_t size, size_t count, void *self);
    static int onProgress(void *self, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
    static int onSocketOpened(void *self, curl_socket_t socket, curlsocktype purpose);
    static int onRequestReady(void *self, char *, char *, int, int);

    THTTPClient &q;
    CURL *curl = nullptr;
    char errorText[CURL_ERROR_SIZE] = "";
    QByteArray defaultCaInfo;
    QString contentType;
    int readTimeoutMs = 30000;
    qint64 maxBodySize = downloadLimits::PackageBytes;
    int lowSpeedBytes = downloadLimits::LowSpeedBytesPerSecond;
    int lowSpeedSeconds = downloadLimits::LowSpeedSeconds;

    // State of the request in flight.
    TResponse response;
    QBuffer *target = nullptr;
    std::exception_ptr pending;
    curl_socket_t socket = CURL_SOCKET_BAD;
    bool connected = false;
    bool stalled = false;
    bool tooSlow = false;
    QString requestUrl; // as the caller named it, for the texts
    SteadyClock::time_point lastActivity;
    // The rate window: bytes taken in since it opened.
    SteadyClock::time_point windowStart;
    qint64 windowBytes = 0;
};

THTTPClientPrivate::THTTPClientPrivate(THTTPClient &owner)
    : q(owner)
{
    ensureCurlInitialised();
    curl = curl_easy_init();
    if (!curl)
        throw std::bad_alloc();

    char *caInfo = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_CAINFO, &caInfo) == CURLE_OK && caInfo)
        defaultCaInfo = caInfo;

    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    // Plain HTTP, also by redirect, would undo the server check below.
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    // Redirects are followed here, not by libcurl, so that every body read
    // along the way shows its own progress.
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_PATH_AS_IS, 1L);
    // An empty file name switches the cookie engine on without reading or
    // writing any file: cookies last as long as this handle.
    curl_easy_setopt(curl, CURLOPT_COOKIEFILE, "");
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, ReceiveBufferSize);
    curl_easy_setopt(curl, CURLOPT_IPRESOLVE, long(CURL_IPRESOLVE_V4));
    // No proxy is set here, so libcurl takes the one the environment names
    // (https_proxy, all_proxy, no_proxy, as the curl command does) and goes
    // direct without one. An https URL then travels through a CONNECT
    // tunnel, and the server's certificate and name are checked at its far
    // end, exactly as on a direct connection. The proxy's answer to CONNECT
    // is no answer of the server's and stays out of the header callback.
    curl_easy_setopt(curl, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(curl, CURLOPT_NETRC, long(CURL_NETRC_IGNORED));

    // The package decides what lands on the probe, so the server must prove
    // who it is.
    curl_easy_setopt(curl, CURLOPT_SSLVERSION, long(CURL_SSLVERSION_TLSv1_2));
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    // A mirror's certificate named by SSL_CERT_FILE may change between two
    // connections of one session.
    curl_easy_setopt(curl, CURLOPT_CA_CACHE_TIMEOUT, 0L);
#ifdef Q_OS_WIN
    // Windows keeps its trusted roots in its certificate store, which
    // libcurl reads beside any file (SSL_CERT_FILE) it is given.
    curl_easy_setopt(curl, CURLOPT_SSL_OPTIONS, long(CURLSSLOPT_NATIVE_CA));
#endif

    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &THTTPClientPrivate::onHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &THTTPClientPrivate::onBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &THTTPClientPrivate::onProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(curl, CURLOPT_SOCKOPTFUNCTION, &THTTPClientPrivate::onSocketOpened);
    curl_easy_setopt(curl, CURLOPT_SOCKOPTDATA, this);
    curl_easy_setopt(curl, CURLOPT_PREREQFUNCTION, &THTTPClientPrivate::onRequestReady);
    curl_easy_setopt(curl, CURLOPT_PREREQDATA, this);
}

void THTTPClientPrivate::perform(const QByteArray &url, QBuffer &buffer)
{
    // libcurl writes Host itself right after the request line and the
    // cookies before the headers given here; the rest keeps its order.
    TSlist headers;
    if (!contentType.isEmpty())
        headers.append("Content-Type: " + contentType.toUtf8());
    headers.append(QByteArray("Accept: ") + AcceptTypes);
    headers.append("Accept-Encoding: identity");
    headers.append(QByteArray("User-Agent: ") + UserAgent);

    // SSL_CERT_FILE takes the place of the system's bundle file; the system's
    // hashed certificate folder, libcurl's CA path, still applies.
    const QByteArray trusted = qgetenv("SSL_CERT_FILE");
    curl_easy_setopt(curl, CURLOPT_CAINFO,
        trusted.isEmpty() ? (defaultCaInfo.isEmpty() ? nullptr : defaultCaInfo.constData()) : trusted.constData());
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());

    response = TResponse();
    target = &buffer;
    pending = nullptr;
    socket = CURL_SOCKET_BAD;
    connected = false;
    stalled = false;
    tooSlow = false;
    errorText[0] = '\0';
    touch();

    const CURLcode rc = curl_easy_perform(curl);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
    target = nullptr;

    if (pending)
        std::rethrow_exception(std::exchange(pending, nullptr));
    if (stalled)
        throw EIdReadTimeout();
    if (tooSlow)
        throw EIdTooSlow(lowSpeedBytes, lowSpeedSeconds);
    if (rc == CURLE_OK && response.complete)
        return;
    // The status line of a redirect or an error answer is all that counts;
    // losing the rest of its body changes nothing.
    if (response.complete && !response.isSuccess())
        return;
    if (rc == CURLE_OK)
        throw EIdConnClosedGracefully();
    raiseTransferError(rc);
}

void THTTPClientPrivate::raiseTransferError(CURLcode rc) const
{
    const QString detail = errorText[0] ? QString::fromUtf8(errorText) : QString::fromUtf8(curl_easy_strerror(rc));
    long osError = 0;
    curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &osError);
    raiseProxyError(rc, osError);

    switch (rc) {
    case CURLE_COULDNT_RESOLVE_HOST:
        throw EIdSocketError(EIdSocketError::HostNotFound, QStringLiteral("Host not found."));
    case CURLE_GOT_NOTHING:
        throw EIdConnClosedGracefully();
    case CURLE_PARTIAL_FILE:
        throw EIdIncompleteBody(detail);
    case CURLE_RECV_ERROR:
        // After a success header every failed read loses part of the body.
        if (response.complete)
            throw EIdIncompleteBody(detail);
        if (osError)
            throw EIdSocketError(int(osError), socketSystem::errorText(int(osError)));
        throw EIdConnClosedGracefully();
    case CURLE_COULDNT_CONNECT:
    case CURLE_SEND_ERROR:
        if (osError)
            throw EIdSocketError(int(osError), socketSystem::errorText(int(osError)));
        break;
    case CURLE_OUT_OF_MEMORY:
        throw std::bad_alloc();
    case CURLE_UNSUPPORTED_PROTOCOL:
        throw EIdTransferError(QStringLiteral("Only HTTPS downloads are allowed.\r\n") + detail);
    case CURLE_OPERATION_TIMEDOUT: {
        const int timedOut = socketSystem::timedOutError();
        throw EIdSocketError(timedOut, socketSystem::errorText(timedOut));
    }
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
        throw EIdOSSLConnectError(detail);
    default:
        break;
    }
    throw EIdTransferError(detail);
}

// A failure on the way to the proxy, or the proxy's refusal, in words that
// name the proxy; nothing when the request went direct.
void THTTPClientPrivate::raiseProxyError(CURLcode rc, long osError) const
{
    long tunnelStatus = 0;
    curl_easy_getinfo(curl, CURLINFO_HTTP_CONNECTCODE, &tunnelStatus);
    char *url = nullptr;
    curl_easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &url);
    const QString proxy = url ? environmentProxyHost(QString::fromUtf8(url)) : QString();
    if (tunnelStatus != 0 && (tunnelStatus < 200 || tunnelStatus > 299))
        throw EIdProxyError::refused(proxy, int(tunnelStatus));
    if (rc == CURLE_COULDNT_RESOLVE_PROXY)
        throw EIdProxyError::unknownHost(proxy);
    if (rc == CURLE_COULDNT_CONNECT && osError && !proxy.isEmpty())
        throw EIdProxyError::unreachable(proxy, socketSystem::errorText(int(osError)));
}

void THTTPClientPrivate::reserve(qint64 bodySize)
{
    // One allocation instead of a growing copy per block.
    QByteArray &bytes = target->buffer();
    const qint64 needed = target->pos() + bodySize;
    if (needed <= bytes.capacity())
        return;
    bytes.reserve(needed);
    socketSystem::adviseLargeBuffer(bytes.data(), bytes.capacity());
}

void THTTPClientPrivate::markConnected()
{
    connected = true;
    touch();
    windowStart = lastActivity;
    windowBytes = 0;
}

void THTTPClientPrivate::received(size_t bytes)
{
    touch();
    windowBytes += qint64(bytes);
}

// Judged once per window, which then starts afresh. A window that brought
// nothing is left to the read timeout, so a silent server keeps its own text.
bool THTTPClientPrivate::tooSlowNow(SteadyClock::time_point now)
{
    if (lowSpeedBytes <= 0 || lowSpeedSeconds <= 0 || now - windowStart < std::chrono::seconds(lowSpeedSeconds))
        return false;
    if (windowBytes > 0 && windowBytes < qint64(lowSpeedBytes) * lowSpeedSeconds)
        return true;
    windowStart = now;
    windowBytes = 0;
    return false;
}

void THTTPClientPrivate::beginBody()
{
    response.bodyBegun = true;
    if (q.OnWorkBegin)
        q.OnWorkBegin(q, wmRead, response.announcedLength());
}

size_t THTTPClientPrivate::onHeader(char *data, size_t size, size_t count, void *self)
{
    auto *d = static_cast<THTTPClientPrivate *>(self);
    const size_t total = size * count;
    d->received(total);
    try {
        QByteArray line(data, qsizetype(total));
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        TResponse &r = d->response;
        if (line.startsWith("HTTP/")) {
            // A new block: an interim 1xx answer is replaced by what follows it.
            r = TResponse();
            r.statusLine = line;
            const QList<QByteArray> parts = line.split(' ');
            r.status = parts.size() > 1 ? parts.at(1).toInt() : 0;
        } else if (r.complete) {
            // Trailer fields after a chunked body.
        } else if (line.isEmpty()) {
            if (r.status >= 200) {
                r.complete = true;
                if (r.isSuccess() && !r.chunked && d->maxBodySize > 0 && r.contentLength > d->maxBodySize)
                    throw EIdBodyTooLarge::announced(d->requestUrl, d->maxBodySize);
                if (r.isSuccess() && !r.chunked && r.contentLength > 0 && r.contentLength <= ReserveLimit)
                    d->reserve(r.contentLength);
                if (r.mayHaveBody())
                    d->beginBody();
            }
        } else {
            const qsizetype colon = line.indexOf(':');
            if (colon > 0) {
                const QByteArray name = line.left(colon).trimmed().toLower();
                const QByteArray value = line.mid(colon + 1).trimmed();
                if (name == "content-length") {
                    bool ok = false;
                    const qint64 length = value.toLongLong(&ok);
                    r.contentLength = ok && length >= 0 ? length : -1;
                } else if (name == "transfer-encoding") {
                    r.chunked = value.toLower().contains("chunked");
                } else if (name == "location") {
                    r.hasLocation = !value.isEmpty();
                }
            }
        }
    } catch (...) {
        d->pending = std::current_exception();
        return 0;
    }
    return total;
}

size_t THTTPClientPrivate::onBody(char *data, size_t size, size_t count, void *self)
{
    auto *d = static_cast<THTTPClientPrivate *>(self);
    const size_t total = size * count;
    d->received(total);
    try {
        TResponse &r = d->response;
        if (!r.bodyBegun)
            d->beginBody();
        if (d->maxBodySize > 0 && r.received + qint64(total) > d->maxBodySize) {
            // A redirect can only be followed once its answer is complete.
            if (r.isSuccess() || r.isRedirect())
                throw EIdBodyTooLarge::sent(d->requestUrl, d->maxBodySize);
            // An error answer is read for its status line alone; an endless
            // body behind it is not waited for.
            return 0;
        }
        // Only the final answer's body belongs to the caller; redirect and
        // error bodies are read and counted, then dropped.
        if (r.isSuccess() && d->target->write(data, qint64(total)) != qint64(total))
            throw EWriteError();
        r.received += qint64(total);
        if (d->q.OnWork)
            d->q.OnWork(d->q, wmRead, r.received);
    } catch (...) {
        d->pending = std::current_exception();
        return 0;
    }
    return total;
}

int THTTPClientPrivate::onProgress(void *self, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    auto *d = static_cast<THTTPClientPrivate *>(self);
    if (d->pending)
        return 1;
    if (d->q.OnIdle) {
        try {
            d->q.OnIdle(d->q);
        } catch (...) {
            d->pending = std::current_exception();
            return 1;
        }
    }
    if (!d->connected) {
        // The silence limit starts once the server has accepted the
        // connection; an unanswered connect is the system's to time out.
        if (!socketSystem::hasPeer(d->socket))
            return 0;
        d->markConnected();
        return 0;
    }
    const SteadyClock::time_point now = SteadyClock::now();
    if (now - d->lastActivity >= std::chrono::milliseconds(d->readTimeoutMs)) {
        d->stalled = true;
        return 1;
    }
    if (d->tooSlowNow(now)) {
        d->tooSlow = true;
        return 1;
    }
    return 0;
}

int THTTPClientPrivate::onSocketOpened(void *self, curl_socket_t socket, curlsocktype purpose)
{
    auto *d = static_cast<THTTPClientPrivate *>(self);
    if (purpose == CURLSOCKTYPE_IPCXN)
        d->socket = socket;
    return CURL_SOCKOPT_OK;
}

int THTTPClientPrivate::onRequestReady(void *self, char *, char *, int, int)
{
    auto *d = static_cast<THTTPClientPrivate *>(self);
    // Also reached for a kept connection, where no socket is opened.
    if (!d->connected)
        d->markConnected();
    return CURL_PREREQFUNC_OK;
}

THTTPClient::THTTPClient()
    : d(std::make_unique<THTTPClientPrivate>(*this))
{
}

THTTPClient::~THTTPClient() = default;

void THTTPClient::Get(const QString &url, QBuffer &buffer)
{
    if (!buffer.isOpen() && !buffer.open(QIODevice::ReadWrite))
        throw EWriteError();
    // A space cannot travel in a request line, and a package name may hold one.
    QByteArray current = url.toUtf8().replace(' ', "%20");
    d->requestUrl = url;
    int redirects = 0;
    for (;;) {
        d->perform(current, buffer);
        const TResponse &r = d->response;
        if (r.isSuccess())
            return;
        char *location = nullptr;
        curl_easy_getinfo(d->curl, CURLINFO_REDIRECT_URL, &location);
        if (r.status >= 300 && r.status <= 399 && r.status != 304 && location && *location) {
            if (++redirects >= RedirectMaximum)
                throw EIdRedirectLimit();
            current = location;
            continue;
        }
        throw EIdHTTPProtocolException(r.status, QString::fromLatin1(r.statusLine));
    }
}

void THTTPClient::Get(const QString &url, QBuffer &buffer, qint64 maxBodySize)
{
    const auto restore = qScopeGuard([this, usual = d->maxBodySize] { d->maxBodySize = usual; });
    setMaxBodySize(maxBodySize);
    Get(url, buffer);
}

void THTTPClient::setContentType(const QString &value)
{
    d->contentType = value;
}

QString THTTPClient::contentType() const
{
    return d->contentType;
}

void THTTPClient::setReadTimeout(int ms)
{
    d->readTimeoutMs = ms;
}

int THTTPClient::readTimeout() const
{
    return d->readTimeoutMs;
}

void THTTPClient::setMaxBodySize(qint64 bytes)
{
    d->maxBodySize = qMax<qint64>(bytes, 0);
}

qint64 THTTPClient::maxBodySize() const
{
    return d->maxBodySize;
}

void THTTPClient::setLowSpeed(int bytesPerSecond, int seconds)
{
    d->lowSpeedBytes = bytesPerSecond;
    d->lowSpeedSeconds = seconds;
}

int THTTPClient::lowSpeedLimit() const
{
    return d->lowSpeedBytes;
}

int THTTPClient::lowSpeedTime() const
{
    return d->lowSpeedSeconds;
}
