#pragma once

#include "tools/serve/SelfSignedCertificate.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <atomic>
#include <deque>
#include <mutex>
#include <openssl/ssl.h>
#include <thread>

// One scripted answer: raw bytes sent after a request's header block, and
// what happens to the connection afterwards.
struct TScriptedAnswer
{
    enum TAfter {
        KeepOpen, // wait for the next request on the same connection
        Close, // TLS close_notify, then close
        Drop, // close the socket without close_notify
        Stall, // send the bytes, then nothing more until the client goes away
    };
    QByteArray bytes;
    TAfter after = KeepOpen;
    // Sent again and again after bytes until the client goes away.
    QByteArray endless;
    // With a piece size, bytes go out in pieces of it with a pause between
    // two, ended early by the client going away.
    int pieceSize = 0;
    int pauseMs = 0;
};

struct TScriptedServerOptions
{
    TCertificateRequest certificate;
    bool tls10Only = false;
    // Accept connections but never take part in the TLS handshake.
    bool silentHandshake = false;
};

// A TLS server on 127.0.0.1 for transport tests: it records every request
// header block exactly as received and answers from a script, one answer
// per request, in order. With the script used up it closes the connection.
class TScriptedTlsServer
{
public:
    explicit TScriptedTlsServer(const TScriptedServerOptions &options = {});
    ~TScriptedTlsServer();

    void answer(const QByteArray &bytes, TScriptedAnswer::TAfter after = TScriptedAnswer::KeepOpen);
    void answer(const TScriptedAnswer &answer);

    quint16 port() const { return FPort; }
    // "https://localhost:<port>" followed by path.
    QString url(const QString &path) const;
    QByteArray certificatePem() const { return FCertificate.certificatePem(); }

    QList<QByteArray> requests() const;
    // The number of the connection (from 0) each request arrived on.
    QList<int> requestConnections() const;
    int connections() const { return FConnections; }
    // Answer bytes written into connections so far.
    qint64 bytesSent() const { return FBytesSent; }

private:
    void run();
    void serve(SSL *ssl, int connection);
    bool nextAnswer(TScriptedAnswer &answer);
    bool send(SSL *ssl, const TScriptedAnswer &answer);
    void setActive(int fd);

    TSelfSignedCertificate FCertificate;
    TScriptedServerOptions FOptions;
    SSL_CTX *FContext = nullptr;
    int FListener = -1;
    quint16 FPort = 0;
    std::atomic<bool> FStopping{false};
    std::atomic<int> FConnections{0};
    std::atomic<qint64> FBytesSent{0};
    mutable std::mutex FLock;
    std::deque<TScriptedAnswer> FScript;
    QList<QByteArray> FRequests;
    QList<int> FRequestConnections;
    int FActive = -1;
    std::thread FThread;
};

// Makes the client trust one certificate (besides the system's) through
// SSL_CERT_FILE while it lives; the previous setting comes back after.
class TTrustedCertificate
{
public:
    TTrustedCertificate();
    ~TTrustedCertificate();
    TTrustedCertificate(const TTrustedCertificate &) = delete;
    TTrustedCertificate &operator=(const TTrustedCertificate &) = delete;

    void trust(const QByteArray &pem);

private:
    QTemporaryDir FDir;
    QByteArray FOld;
    bool FHadOld;
    int FFiles = 0;
};

// "HTTP/1.1 <status line tail>" with Content-Length and the given extra header lines.
QByteArray httpAnswer(const QByteArray &status, const QByteArray &body, const QByteArray &extraHeaders = {});
