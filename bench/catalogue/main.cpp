// Time of `qv58link-flash versions` on catalogues of 10,000 and 100,000 lines
// for the probe's HIC ID, served over HTTPS by qv58link-serve on loopback, as
// a whole process each time; and of entriesFor alone on the same lines. Ten
// times the lines should cost about ten times as much, not a hundred: the
// goal is a ratio under 12.
//
// Usage: bench_catalogue [bin folder]   (default: the folder of this program)

#include "catalogue/VersionInfo.h"
#include "common/Exceptions.h"
#include "common/FileIO.h"
#include "common/TextFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int Rounds = 3;
constexpr double Goal = 12.0;
constexpr qint64 CatalogueLimit = 32 * 1024 * 1024;
const int Sizes[] = {10000, 100000};

// Every line for the probe's own HIC ID, each with a two-line description.
QByteArray makeCatalogue(int lines)
{
    QByteArray text;
    for (int i = 0; i < lines; ++i)
        text += "51563270_V1." + QByteArray::number(i) + ";Release " + QByteArray::number(i)
            + " of the probe firmware\\r\\nFaster flashing and fixes\r\n";
    return text;
}

struct TRun
{
    double seconds = 0;
    qsizetype lines = 0;
};

TRun versionsCommand(const QString &bin, const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    QElapsedTimer timer;
    timer.start();
    process.start(bin + QStringLiteral("/qv58link-flash"), {QStringLiteral("versions")});
    if (!process.waitForFinished(600000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw Exception(QStringLiteral("qv58link-flash versions failed: %1")
                            .arg(QString::fromLocal8Bit(process.readAllStandardError())));
    TRun run;
    run.seconds = double(timer.nsecsElapsed()) / 1e9;
    run.lines = process.readAllStandardOutput().count('\n');
    return run;
}

double entriesSeconds(const QStringList &lines)
{
    QElapsedTimer timer;
    timer.start();
    const QList<TVersionInfo> entries = entriesFor(QStringLiteral("51563270"), lines);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (entries.size() != lines.size())
        throw Exception(QStringLiteral("entriesFor found %1 of %2 entries").arg(entries.size()).arg(lines.size()));
    return seconds;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString bin = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QCoreApplication::applicationDirPath();
    QTemporaryDir dir;
    QProcess server;
    try {
        QDir(dir.path()).mkpath(QStringLiteral("drives/P"));
        writeWholeFile(dir.filePath("drives/P/DETAILS.txt"),
                       "HIC ID: 51563270\r\nQV58-LINK Mode: Interface\r\nInterface Version: V1.9\r\n");
        QList<QByteArray> catalogues;
        for (const int size : Sizes) {
            catalogues.append(makeCatalogue(size));
            if (catalogues.last().size() >= CatalogueLimit)
                throw Exception(QStringLiteral("the %1-line catalogue is over 32 MiB").arg(size));
            QDir(dir.path()).mkpath(QStringLiteral("site/%1").arg(size));
            writeWholeFile(dir.filePath(QStringLiteral("site/%1/filelist.txt").arg(size)), catalogues.last());
        }

        const QString certificate = dir.filePath("cert.pem");
        server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        server.start(bin + QStringLiteral("/qv58link-serve"),
                     {"--root", dir.filePath("site"), "--port", "0", "--cert-out", certificate});
        if (!server.waitForStarted(10000))
            throw Exception(QStringLiteral("qv58link-serve did not start"));
        while (!server.canReadLine()) {
            if (!server.waitForReadyRead(10000))
                throw Exception(QStringLiteral("qv58link-serve printed no URL"));
        }
        const QString url = QString::fromUtf8(server.readLine()).trimmed();

        std::printf("qv58link-flash versions, whole process, best of %d; entriesFor alone, best of %d\n", Rounds,
                    Rounds);
        double command[2] = {1e9, 1e9};
        double inProcess[2] = {1e9, 1e9};
        for (int i = 0; i < 2; ++i) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("QV58LINK_DRIVES"), dir.filePath("drives/P"));
            environment.insert(QStringLiteral("QV58LINK_DOWNLOAD_URL"), url + QString::number(Sizes[i]) + u'/');
            environment.insert(QStringLiteral("SSL_CERT_FILE"), certificate);
            environment.insert(QStringLiteral("NO_PROXY"), QStringLiteral("*"));
            for (int round = 0; round < Rounds; ++round) {
                const TRun run = versionsCommand(bin, environment);
                if (run.lines != Sizes[i])
                    throw Exception(QStringLiteral("versions listed %1 of %2 lines").arg(run.lines).arg(Sizes[i]));
                command[i] = std::min(command[i], run.seconds);
            }
            const QStringList lines = decodeTextLines(catalogues.at(i));
            for (int round = 0; round < Rounds; ++round)
                inProcess[i] = std::min(inProcess[i], entriesSeconds(lines));
            std::printf("  %6d lines (%5.2f MiB): versions %7.3f s   entriesFor %7.4f s\n", Sizes[i],
                        catalogues.at(i).size() / 1048576.0, command[i], inProcess[i]);
        }
        const double ratio = command[1] / command[0];
        std::printf("  versions ratio 100,000 / 10,000 lines: %.2fx (goal under %.0fx: %s)\n", ratio, Goal,
                    ratio < Goal ? "met" : "missed");
        std::printf("  entriesFor ratio:                     %.2fx\n", inProcess[1] / inProcess[0]);
    } catch (const Exception &e) {
        std::fprintf(stderr, "bench_catalogue: %s\n", e.what());
        server.terminate();
        server.waitForFinished(10000);
        return 1;
    }
    server.terminate();
    server.waitForFinished(10000);
    return 0;
}
