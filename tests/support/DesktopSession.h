#pragma once

#include "support/TestSystem.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sys/stat.h>
#include <vector>

// Polls done every 20 ms until it holds or ms milliseconds have passed.
inline bool waitUntil(const std::function<bool()> &done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QThread::msleep(20);
    }
    return true;
}

// Real processes started in one private desktop session: their own runtime
// folder (where the single-instance lock and socket live) and an offscreen
// screen. Whatever is still running when the session goes is killed, so a
// failing test never leaves one behind.
class DesktopSession
{
public:
    DesktopSession()
    {
        ::chmod(QFile::encodeName(FRuntime.path()).constData(), 0700);
        env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), FRuntime.path());
    }
    ~DesktopSession()
    {
        for (auto &process : FProcesses) {
            process->kill();
            process->waitForFinished(5000);
        }
    }
    DesktopSession(const DesktopSession &) = delete;
    DesktopSession &operator=(const DesktopSession &) = delete;

    QString runtimePath() const { return FRuntime.path(); }

    QProcess &start(const QString &program, const QStringList &arguments = {},
                    QProcess::ProcessChannelMode channels = QProcess::SeparateChannels)
    {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(env);
        process->setProcessChannelMode(channels);
        endWithTheTest(*process);
        process->start(program, arguments);
        EXPECT_TRUE(process->waitForStarted(5000)) << program.toStdString();
        FProcesses.push_back(std::move(process));
        return *FProcesses.back();
    }

    // What every process started from now on gets.
    QProcessEnvironment env;

private:
    QTemporaryDir FRuntime;
    std::vector<std::unique_ptr<QProcess>> FProcesses;
};
