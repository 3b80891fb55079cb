#pragma once

#include "support/TestSystem.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QStringList>
#include <QCoreApplication>

// One of the companion commands run as its own process, its output lines
// collected as they come. Stopped with SIGTERM when it goes, and killed
// with the test should the test die first.
class ToolProcess
{
public:
    ToolProcess(const QString &name, const QStringList &arguments)
    {
        FProcess.setProgram(QStringLiteral(QV58_BIN_DIR "/") + name);
        FProcess.setArguments(arguments);
        FProcess.setProcessChannelMode(QProcess::MergedChannels);
        QObject::connect(&FProcess, &QProcess::readyRead, [this] { collect(); });
        endWithTheTest(FProcess);
        FProcess.start();
        FProcess.waitForStarted(5000);
    }

    ~ToolProcess()
    {
        if (FProcess.state() != QProcess::NotRunning) {
            FProcess.terminate();
            if (!FProcess.waitForFinished(5000))
                FProcess.kill();
            FProcess.waitForFinished(2000);
        }
    }

    // The first line at or after the current read position that starts with
    // prefix, or an empty text after ms milliseconds. Runs the event loop
    // meanwhile, so a window in the same process keeps going.
    QString waitFor(const QString &prefix, int ms = 15000)
    {
        QDeadlineTimer deadline(ms);
        for (;;) {
            while (FNext < FLines.size()) {
                const QString line = FLines.at(FNext++);
                if (line.startsWith(prefix))
                    return line;
            }
            if (deadline.hasExpired() || FProcess.state() == QProcess::NotRunning)
                return QString();
            FProcess.waitForReadyRead(20);
            QCoreApplication::processEvents();
            collect();
        }
    }

    // Every line so far, read position untouched.
    QStringList lines()
    {
        collect();
        return FLines;
    }
    QString transcript() { return lines().join(u'\n'); }

private:
    void collect()
    {
        FPartial += QString::fromUtf8(FProcess.readAll());
        qsizetype end;
        while ((end = FPartial.indexOf(u'\n')) >= 0) {
            FLines.append(FPartial.left(end));
            FPartial.remove(0, end + 1);
        }
    }

    QProcess FProcess;
    QStringList FLines;
    QString FPartial;
    qsizetype FNext = 0;
};
