#pragma once

#include "common/FileIO.h"
#include "tools/serve/FileServer.h"
#include "tools/serve/SelfSignedCertificate.h"

#include <QDir>
#include <QTemporaryDir>
#include <QThread>

#include <memory>
#include <thread>

// A download location on this machine: files below a temporary folder served
// over HTTPS on 127.0.0.1, the certificate trusted through SSL_CERT_FILE and
// the tool pointed at it through QV58LINK_DOWNLOAD_URL for the site's lifetime.
class LocalSite
{
public:
    LocalSite()
        : FServer(std::make_unique<TFileServer>(FRoot.path(), FCertificate))
    {
        QDir(FRoot.path()).mkpath(QStringLiteral("Download/qv58link"));
        writeWholeFile(FRoot.filePath(QStringLiteral("cert.pem")), FCertificate.certificatePem());
        FPort = FServer->bind(0);
        FThread = std::thread([this] { FServer->run(); });
        while (!FServer->isRunning())
            QThread::msleep(5);
        FOldUrl = qgetenv("QV58LINK_DOWNLOAD_URL");
        FOldCert = qgetenv("SSL_CERT_FILE");
        qputenv("QV58LINK_DOWNLOAD_URL", baseUrl().toUtf8());
        qputenv("SSL_CERT_FILE", QFile::encodeName(FRoot.filePath(QStringLiteral("cert.pem"))));
    }

    ~LocalSite()
    {
        stop();
        qputenv("QV58LINK_DOWNLOAD_URL", FOldUrl);
        qputenv("SSL_CERT_FILE", FOldCert);
    }

    QString baseUrl() const { return QStringLiteral("https://localhost:%1/Download/qv58link/").arg(FPort); }

    // Puts a file at the download location.
    void put(const QString &name, const QByteArray &content) const
    {
        writeWholeFile(FRoot.filePath(QStringLiteral("Download/qv58link/") + name), content);
    }
    void remove(const QString &name) const { QFile::remove(FRoot.filePath(QStringLiteral("Download/qv58link/") + name)); }

    void stop()
    {
        if (FThread.joinable()) {
            FServer->stop();
            FThread.join();
        }
    }

private:
    QTemporaryDir FRoot;
    TSelfSignedCertificate FCertificate;
    std::unique_ptr<TFileServer> FServer;
    quint16 FPort = 0;
    std::thread FThread;
    QByteArray FOldUrl;
    QByteArray FOldCert;
};
