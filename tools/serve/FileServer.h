#pragma once

#include "common/Exceptions.h"

#include <QString>
#include <memory>

class TSelfSignedCertificate;

namespace httplib {
class SSLServer;
}

// The server could not start.
class EServeError : public Exception
{
public:
    explicit EServeError(const QString &what);
};

// Serves the files below one folder over HTTPS on 127.0.0.1: a file at
// <root>/a/b.txt is at the URL path /a/b.txt. Anything that does not lead to
// a regular file inside the folder, symbolic links followed, is 404.
class TFileServer
{
public:
    TFileServer(const QString &root, const TSelfSignedCertificate &certificate);
    ~TFileServer();
    TFileServer(const TFileServer &) = delete;
    TFileServer &operator=(const TFileServer &) = delete;

    // Binds 127.0.0.1 at port, or at a free port when port is 0, and returns
    // the port bound. Raises EServeError.
    quint16 bind(quint16 port);
    // Serves until stop(); returns false when serving failed.
    bool run();
    // True from shortly after run() starts until it ends; stop() has no
    // effect before.
    bool isRunning() const;
    // From any thread.
    void stop();

    // The file behind a decoded URL path, or an empty text when there is none
    // to serve.
    static QString resolve(const QString &root, const QString &urlPath);

private:
    QString FRoot;
    std::unique_ptr<httplib::SSLServer> FServer;
};
