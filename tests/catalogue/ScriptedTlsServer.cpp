#include "ScriptedTlsServer.h"

#include "LoopbackListener.h"

#include "common/FileIO.h"

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

TScriptedTlsServer::TScriptedTlsServer(const TScriptedServerOptions &options)
    : FCertificate(options.certificate)
    , FOptions(options)
{
    // A client that hangs up mid-answer must not kill the test process.
    std::signal(SIGPIPE, SIG_IGN);

    FContext = SSL_CTX_new(TLS_server_method());
    if (!FContext)
        throw std::runtime_error("SSL_CTX_new");
    SSL_CTX_use_certificate(FContext, FCertificate.certificate());
    SSL_CTX_use_PrivateKey(FContext, FCertificate.privateKey());
    if (options.tls10Only) {
        SSL_CTX_set_security_level(FContext, 0);
        SSL_CTX_set_cipher_list(FContext, "DEFAULT:@SECLEVEL=0");
        SSL_CTX_set_min_proto_version(FContext, TLS1_VERSION);
        SSL_CTX_set_max_proto_version(FContext, TLS1_VERSION);
    }

    FListener = listenOnLoopback(FPort);
    FThread = std::thread([this] { run(); });
}

TScriptedTlsServer::~TScriptedTlsServer()
{
    FStopping = true;
    shutdown(FListener, SHUT_RDWR);
    {
        std::lock_guard lock(FLock);
        if (FActive >= 0)
            shutdown(FActive, SHUT_RDWR);
    }
    FThread.join();
    close(FListener);
    SSL_CTX_free(FContext);
}

void TScriptedTlsServer::answer(const QByteArray &bytes, TScriptedAnswer::TAfter after)
{
    TScriptedAnswer scripted;
    scripted.bytes = bytes;
    scripted.after = after;
    answer(scripted);
}

void TScriptedTlsServer::answer(const TScriptedAnswer &answer)
{
    std::lock_guard lock(FLock);
    FScript.push_back(answer);
}

QString TScriptedTlsServer::url(const QString &path) const
{
    return QStringLiteral("https://localhost:%1%2").arg(FPort).arg(path);
}

QList<QByteArray> TScriptedTlsServer::requests() const
{
    std::lock_guard lock(FLock);
    return FRequests;
}

QList<int> TScriptedTlsServer::requestConnections() const
{
    std::lock_guard lock(FLock);
    return FRequestConnections;
}

bool TScriptedTlsServer::nextAnswer(TScriptedAnswer &answer)
{
    std::lock_guard lock(FLock);
    if (FScript.empty())
        return false;
    answer = FScript.front();
    FScript.pop_front();
    return true;
}

void TScriptedTlsServer::setActive(int fd)
{
    std::lock_guard lock(FLock);
    FActive = fd;
    if (fd >= 0 && FStopping)
        shutdown(fd, SHUT_RDWR);
}

void TScriptedTlsServer::run()
{
    while (!FStopping) {
        const int fd = accept(FListener, nullptr, nullptr);
        if (fd < 0) {
            if (FStopping)
                break;
            continue;
        }
        const int connection = FConnections++;
        setActive(fd);
        if (FOptions.silentHandshake) {
            char sink[256];
            while (recv(fd, sink, sizeof sink, 0) > 0) {
            }
        } else {
            SSL *ssl = SSL_new(FContext);
            SSL_set_fd(ssl, fd);
            if (SSL_accept(ssl) == 1)
                serve(ssl, connection);
            SSL_free(ssl);
        }
        setActive(-1);
        close(fd);
    }
}

void TScriptedTlsServer::serve(SSL *ssl, int connection)
{
    QByteArray received;
    char chunk[4096];
    for (;;) {
        qsizetype end;
        while ((end = received.indexOf("\r\n\r\n")) < 0) {
            const int n = SSL_read(ssl, chunk, sizeof chunk);
            if (n <= 0)
                return;
            received.append(chunk, n);
        }
        {
            std::lock_guard lock(FLock);
            FRequests.append(received.left(end + 4));
            FRequestConnections.append(connection);
        }
        received.remove(0, end + 4);

        TScriptedAnswer answer;
        if (!nextAnswer(answer)) {
            SSL_shutdown(ssl);
            return;
        }
        if (!send(ssl, answer))
            return;
        switch (answer.after) {
        case TScriptedAnswer::KeepOpen:
            break;
        case TScriptedAnswer::Close:
            SSL_shutdown(ssl);
            return;
        case TScriptedAnswer::Drop:
            return;
        case TScriptedAnswer::Stall:
            while (SSL_read(ssl, chunk, sizeof chunk) > 0) {
            }
            return;
        }
    }
}

// False once the client has gone away.
bool TScriptedTlsServer::send(SSL *ssl, const TScriptedAnswer &answer)
{
    const auto write = [&](const char *data, qsizetype size) {
        for (qsizetype sent = 0; sent < size;) {
            const int n = SSL_write(ssl, data + sent, int(size - sent));
            if (n <= 0)
                return false;
            sent += n;
            FBytesSent += n;
        }
        return true;
    };
    const qsizetype total = answer.bytes.size();
    const qsizetype piece = answer.pieceSize > 0 ? answer.pieceSize : qMax<qsizetype>(total, 1);
    for (qsizetype at = 0; at < total; at += piece) {
        if (at > 0 && answer.pauseMs > 0) {
            // Whatever a client sends in the middle of an answer is its leaving.
            pollfd peer{SSL_get_fd(ssl), POLLIN, 0};
            if (poll(&peer, 1, answer.pauseMs) != 0 || FStopping)
                return false;
        }
        if (!write(answer.bytes.constData() + at, qMin(piece, total - at)))
            return false;
    }
    if (answer.endless.isEmpty())
        return true;
    while (!FStopping && write(answer.endless.constData(), answer.endless.size())) {
    }
    return false;
}

QByteArray httpAnswer(const QByteArray &status, const QByteArray &body, const QByteArray &extraHeaders)
{
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n" + extraHeaders
        + "\r\n" + body;
}

TTrustedCertificate::TTrustedCertificate()
    : FOld(qgetenv("SSL_CERT_FILE"))
    , FHadOld(qEnvironmentVariableIsSet("SSL_CERT_FILE"))
{
}

TTrustedCertificate::~TTrustedCertificate()
{
    if (FHadOld)
        qputenv("SSL_CERT_FILE", FOld);
    else
        qunsetenv("SSL_CERT_FILE");
}

void TTrustedCertificate::trust(const QByteArray &pem)
{
    // A new file each time: a client must never see a half-written one.
    const QString path = FDir.filePath(QStringLiteral("trusted%1.pem").arg(++FFiles));
    writeWholeFile(path, pem);
    qputenv("SSL_CERT_FILE", path.toLocal8Bit());
}
