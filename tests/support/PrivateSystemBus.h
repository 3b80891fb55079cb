#pragma once

#include "support/TestSystem.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>

// Ends a process the test started, at once, and reaps it.
inline void endProcess(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.kill();
    process.waitForFinished(30000);
}

// Reads the process's standard output until a whole line has come, or the
// deadline has passed; empty then.
inline QByteArray readLine(QProcess &process, QDeadlineTimer deadline)
{
    while (!process.canReadLine()) {
        if (process.state() == QProcess::NotRunning || deadline.hasExpired())
            return {};
        process.waitForReadyRead(int(std::clamp<qint64>(deadline.remainingTime(), 1, 1000)));
    }
    return process.readLine().trimmed();
}

// A D-Bus daemon of its own on a unix socket in a temporary folder, open to
// everyone and everything, to stand in for the system bus. Killed when the
// object goes, or with the test process.
class TPrivateSystemBus
{
public:
    explicit TPrivateSystemBus(const QString &daemon = QStringLiteral("dbus-daemon"))
    {
        const QString socket = FDir.filePath(QStringLiteral("system_bus_socket"));
        const QString config = FDir.filePath(QStringLiteral("bus.conf"));
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly))
            return;
        file.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                   " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                   "<busconfig>\n"
                   "  <listen>unix:path="
                   + QFile::encodeName(socket)
                   + "</listen>\n"
                     "  <auth>EXTERNAL</auth>\n"
                     "  <policy context=\"default\">\n"
                     "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                     "    <allow eavesdrop=\"true\"/>\n"
                     "    <allow own=\"*\"/>\n"
                     "  </policy>\n"
                     "</busconfig>\n");
        file.close();

        endWithTheTest(FDaemon);
        FDaemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        FDaemon.start(daemon, {QStringLiteral("--config-file=") + config, QStringLiteral("--print-address"),
                               QStringLiteral("--nofork")});
        // The daemon prints its address once it listens.
        FAddress = QString::fromUtf8(readLine(FDaemon, QDeadlineTimer(30000)));
    }
    ~TPrivateSystemBus() { endProcess(FDaemon); }
    TPrivateSystemBus(const TPrivateSystemBus &) = delete;
    TPrivateSystemBus &operator=(const TPrivateSystemBus &) = delete;

    // Empty when the daemon did not start.
    QString address() const { return FAddress; }

private:
    QTemporaryDir FDir;
    QProcess FDaemon;
    QString FAddress;
};
