#include "tools/serve/FileServer.h"

#include "tools/serve/SelfSignedCertificate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <httplib.h>

namespace {

const char *contentTypeOf(const QString &path)
{
    return path.endsWith(QStringLiteral(".txt"), Qt::CaseInsensitive) ? "text/plain" : "application/octet-stream";
}

void notFound(httplib::Response &res)
{
    res.status = 404;
    res.set_content("404 Not Found\n", "text/plain");
}

} // namespace

EServeError::EServeError(const QString &what)
    : Exception(what)
{
}

TFileServer::TFileServer(const QString &root, const TSelfSignedCertificate &certificate)
    : FRoot(QFileInfo(root).canonicalFilePath())
    , FServer(std::make_unique<httplib::SSLServer>(certificate.certificate(), certificate.privateKey()))
{
    if (FRoot.isEmpty() || !QFileInfo(FRoot).isDir())
        throw EServeError(QStringLiteral("Not a folder: %1").arg(root));
    if (!FServer->is_valid())
        throw EServeError(QStringLiteral("The TLS server could not be set up."));

    FServer->set_keep_alive_max_count(1000);
    // A worker waiting on an idle kept connection holds up stop() for this
    // long; clients simply reconnect after a longer pause.
    FServer->set_keep_alive_timeout(1);
    FServer->Get(".*", [this](const httplib::Request &req, httplib::Response &res) {
        const QString path = resolve(FRoot, QString::fromStdString(req.path));
        if (path.isEmpty())
            return notFound(res);
        auto file = std::make_shared<QFile>(path);
        if (!file->open(QIODevice::ReadOnly))
            return notFound(res);
        const qint64 size = file->size();
        res.set_content_provider(size_t(size), contentTypeOf(path),
            [file](size_t offset, size_t length, httplib::DataSink &sink) {
                if (!file->seek(qint64(offset)))
                    return false;
                const QByteArray block = file->read(qint64(qMin<size_t>(length, 256 * 1024)));
                // A file that shrank while being sent ends the connection
                // rather than sending a short body as if it were whole.
                return !block.isEmpty() && sink.write(block.constData(), size_t(block.size()));
            });
    });
    FServer->set_logger([](const httplib::Request &req, const httplib::Response &res) {
        std::fprintf(stderr, "%s %s %d\n", req.method.c_str(), req.path.c_str(), res.status);
    });
}

TFileServer::~TFileServer() = default;

quint16 TFileServer::bind(quint16 port)
{
    const bool bound = port == 0 ? (port = quint16(FServer->bind_to_any_port("127.0.0.1")), port > 0)
                                 : FServer->bind_to_port("127.0.0.1", port);
    if (!bound)
        throw EServeError(QStringLiteral("Cannot listen on 127.0.0.1 port %1.").arg(port));
    return port;
}

bool TFileServer::run()
{
    return FServer->listen_after_bind();
}

bool TFileServer::isRunning() const
{
    return FServer->is_running();
}

void TFileServer::stop()
{
    FServer->stop();
}

QString TFileServer::resolve(const QString &root, const QString &urlPath)
{
    if (!urlPath.startsWith(u'/') || urlPath.contains(QChar(u'\0')))
        return {};
    if (urlPath.split(u'/').contains(QStringLiteral("..")))
        return {};
    const QString canonicalRoot = QFileInfo(root).canonicalFilePath();
    const QFileInfo target(canonicalRoot + urlPath);
    // Symbolic links may point anywhere; only where they end up counts.
    const QString real = target.canonicalFilePath();
    if (canonicalRoot.isEmpty() || real.isEmpty() || !real.startsWith(canonicalRoot + u'/'))
        return {};
    return QFileInfo(real).isFile() ? real : QString();
}
