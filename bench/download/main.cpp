// Downloads a 64 MiB file from qv58link-serve on loopback with the tool's
// client, progress lines on, and with the curl command-line client; prints
// both times and their ratio.

#include "catalogue/HTTPClient.h"
#include "common/Exceptions.h"
#include "common/FileIO.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

namespace {

constexpr qint64 FileSize = 64 * 1024 * 1024;
constexpr int Rounds = 5;
constexpr double Target = 1.5;

QByteArray makePackage()
{
    QByteArray data(FileSize, Qt::Uninitialized);
    quint32 x = 2463534242u;
    for (qsizetype i = 0; i < data.size(); ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        data[i] = char(x);
    }
    return data;
}

// The window rewrites the log's last line for every block; this does the
// same formatting and replacing so the comparison includes it.
struct TProgressLog
{
    QStringList lines{QStringLiteral("Download upgrade file from websuit ... ")};
    qint32 fileSize = 0;

    void begin(qint64 max)
    {
        fileSize = qint32(max);
        lines.last() = QString::asprintf("Download upgrade file from website... 0/%d Byte", fileSize);
    }
    void work(qint64 count)
    {
        lines.last() = QString::asprintf("Download upgrade file from website ... %lld/%d Byte", count, fileSize);
    }
};

double clientSeconds(const QString &url, const QByteArray &expectedHash)
{
    THTTPClient http;
    TProgressLog log;
    http.OnWorkBegin = [&](THTTPClient &, TWorkMode, qint64 max) { log.begin(max); };
    http.OnWork = [&](THTTPClient &, TWorkMode, qint64 count) { log.work(count); };
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    QElapsedTimer timer;
    timer.start();
    http.Get(url, buffer);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (QCryptographicHash::hash(buffer.data(), QCryptographicHash::Sha256) != expectedHash)
        throw Exception(QStringLiteral("the client's copy differs from the file"));
    return seconds;
}

double curlSeconds(const QString &curl, const QString &url, const QString &certificate)
{
    QProcess process;
    process.start(curl, {"-q", "--silent", "--show-error", "--fail", "--noproxy", "*", "--cacert", certificate,
                            "--output", "/dev/null", "--write-out", "%{time_total}", url});
    if (!process.waitForFinished(120000) || process.exitCode() != 0)
        throw Exception(QStringLiteral("curl failed: %1").arg(QString::fromLocal8Bit(process.readAllStandardError())));
    return process.readAllStandardOutput().trimmed().toDouble();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
    if (curl.isEmpty()) {
        std::fprintf(stderr, "bench_download: the curl command is not installed\n");
        return 1;
    }

    QTemporaryDir dir;
    QProcess server;
    try {
        const QByteArray package = makePackage();
        const QByteArray hash = QCryptographicHash::hash(package, QCryptographicHash::Sha256);
        writeWholeFile(dir.filePath("package.dat"), package);
        const QString certificate = dir.filePath("cert.pem");

        server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        server.start(QCoreApplication::applicationDirPath() + "/qv58link-serve",
            {"--root", dir.path(), "--cert-out", certificate});
        if (!server.waitForStarted(10000))
            throw Exception(QStringLiteral("qv58link-serve did not start"));
        while (!server.canReadLine()) {
            if (!server.waitForReadyRead(10000))
                throw Exception(QStringLiteral("qv58link-serve printed no URL"));
        }
        const QString url = QString::fromUtf8(server.readLine()).trimmed() + "package.dat";
        qputenv("SSL_CERT_FILE", certificate.toLocal8Bit());

        // Best of a few rounds each, alternating, so a busy moment on a
        // shared machine does not decide the result.
        double client = 1e9;
        double reference = 1e9;
        for (int round = 0; round < Rounds; ++round) {
            client = std::min(client, clientSeconds(url, hash));
            reference = std::min(reference, curlSeconds(curl, url, certificate));
        }
        const double ratio = client / reference;
        std::printf("64 MiB over HTTPS on loopback, best of %d\n", Rounds);
        std::printf("  THTTPClient with progress lines: %.3f s (%.0f MiB/s)\n", client, 64 / client);
        std::printf("  curl command line:               %.3f s (%.0f MiB/s)\n", reference, 64 / reference);
        std::printf("  ratio: %.2f (target at most %.1f: %s)\n", ratio, Target, ratio <= Target ? "met" : "missed");
    } catch (const Exception &e) {
        std::fprintf(stderr, "bench_download: %s\n", e.what());
        server.terminate();
        server.waitForFinished(10000);
        return 1;
    }
    server.terminate();
    server.waitForFinished(10000);
    return 0;
}
