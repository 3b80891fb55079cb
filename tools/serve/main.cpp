#include "ProjectVersion.h"
#include "common/FileIO.h"
#include "tools/serve/FileServer.h"
#include "tools/serve/SelfSignedCertificate.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <thread>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qv58link-serve"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QV58_PROJECT_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Serves the files below a folder over HTTPS on 127.0.0.1, with a self-signed certificate for\n"
        "localhost and 127.0.0.1 made at each start. The first line written is the base URL served.\n"
        "Trust the certificate with SSL_CERT_FILE=<cert-out file>.\n"
        "Exit codes: 0 after SIGINT or SIGTERM, 1 when serving fails, 2 on bad options."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption rootOption(QStringLiteral("root"), QStringLiteral("Folder to serve."),
        QStringLiteral("DIR"));
    const QCommandLineOption portOption(QStringLiteral("port"),
        QStringLiteral("Port on 127.0.0.1; 0 picks a free one (default)."), QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption certOption(QStringLiteral("cert-out"),
        QStringLiteral("Where to write the certificate, as PEM."), QStringLiteral("FILE"));
    parser.addOptions({rootOption, portOption, certOption});

    const auto usageError = [&](const QString &text) {
        std::fprintf(stderr, "qv58link-serve: %s\n", qPrintable(text));
        std::fputs(qPrintable(parser.helpText()), stderr);
        return 2;
    };
    // An unknown option is a bad command line like any other: code 2, not Qt's 1.
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    // Qt lists its own options itself.
    if (parser.isSet(QStringLiteral("help-all")))
        parser.process(app);
    if (parser.isSet(helpOption)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(versionOption)) {
        std::printf("qv58link-serve %s\n", QV58_PROJECT_VERSION);
        return 0;
    }

    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    if (!parser.isSet(rootOption) || !QFileInfo(parser.value(rootOption)).isDir())
        return usageError(QStringLiteral("--root must name a folder."));
    if (!parser.isSet(certOption) || parser.value(certOption).isEmpty())
        return usageError(QStringLiteral("--cert-out is required."));
    if (!portOk || port > 65535)
        return usageError(QStringLiteral("--port must be a number from 0 to 65535."));

    // Handled by waiting for them below; every thread started later inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    // A client that hangs up mid-file must not end the server.
    std::signal(SIGPIPE, SIG_IGN);

    try {
        TSelfSignedCertificate certificate;
        writeWholeFile(parser.value(certOption), certificate.certificatePem());
        TFileServer server(parser.value(rootOption), certificate);
        const quint16 bound = server.bind(quint16(port));

        const pthread_t mainThread = pthread_self();
        std::atomic<bool> failed{false};
        std::atomic<bool> finished{false};
        std::thread serving([&] {
            failed = !server.run();
            finished = true;
            if (failed)
                pthread_kill(mainThread, SIGTERM);
        });
        // Announce only a server that a stop request can reach.
        while (!server.isRunning() && !finished)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::printf("https://localhost:%u/\n", unsigned(bound));
        std::fflush(stdout);

        int signal = 0;
        sigwait(&stopSignals, &signal);
        server.stop();
        serving.join();
        return failed ? 1 : 0;
    } catch (const Exception &e) {
        std::fprintf(stderr, "qv58link-serve: %s\n", e.what());
        return 1;
    }
}
