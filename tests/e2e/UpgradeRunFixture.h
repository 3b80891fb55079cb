#pragma once

#include "ToolProcess.h"

#include "app/wMain.h"
#include "common/FileIO.h"
#include "support/ScriptedMessageBoxes.h"

#include <QAction>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>

// The whole tool with its real neighbours: packages made by qv58link-pack,
// served by qv58link-serve over HTTPS, a probe played by qv58link-probe-sim
// on folders named by QV58LINK_DRIVES, and the window driven by its buttons.
class UpgradeRunFixture : public ::testing::Test
{
protected:
    UpgradeRunFixture()
    {
        QDir base(FDir.path());
        base.mkpath(QStringLiteral("site/Download/qv58link"));
        base.mkpath(QStringLiteral("cwd"));
        base.mkpath(QStringLiteral("drives"));
        FOldCwd = QDir::currentPath();
        // Anything written outside the probe's folders would show up here.
        QDir::setCurrent(path(QStringLiteral("cwd")));
    }

    ~UpgradeRunFixture() override
    {
        window.reset();
        probe.reset();
        server.reset();
        QDir::setCurrent(FOldCwd);
    }

    QString path(const QString &relative) const { return FDir.filePath(relative); }
    QString drive(const QString &name) const { return path(QStringLiteral("drives/") + name); }

    // A firmware image the simulated probe accepts, and its package on the site.
    QByteArray publish(const QString &fileName, const QString &version, const QString &partName,
                       const QString &mode = QStringLiteral("App"))
    {
        const QString imagePath = path(QStringLiteral("images/") + fileName + QStringLiteral(".hex"));
        QDir(FDir.path()).mkpath(QStringLiteral("images"));
        EXPECT_EQ(run("qv58link-probe-sim",
                      {"--write-image", imagePath, "--image-bytes", "6000", "--image-seed", fileName}),
                  0);
        EXPECT_EQ(run("qv58link-pack", {"build", "--image", imagePath, "--mode", mode, "--version", version,
                                        "--part", partName, "--date", "2026-12-01 10:00", "-o",
                                        sitePath(fileName + QStringLiteral(".dat"))}),
                  0);
        return readWholeFile(imagePath);
    }

    QString sitePath(const QString &name) const { return path(QStringLiteral("site/Download/qv58link/") + name); }
    void writeCatalogue(const QByteArray &text) const { writeWholeFile(sitePath(QStringLiteral("filelist.txt")), text); }

    void startServer()
    {
        server = std::make_unique<ToolProcess>(
            QStringLiteral("qv58link-serve"),
            QStringList{"--root", path("site"), "--port", "0", "--cert-out", path("cert.pem")});
        const QString url = server->waitFor(QStringLiteral("https://"));
        ASSERT_FALSE(url.isEmpty()) << server->transcript().toStdString();
        qputenv("QV58LINK_DOWNLOAD_URL", (url.trimmed() + QStringLiteral("Download/qv58link/")).toUtf8());
        qputenv("SSL_CERT_FILE", QFile::encodeName(path("cert.pem")));
    }

    // Plays the probe on drives/A (or as told); the tool sees drives/A and drives/B.
    void startProbe(const QStringList &options)
    {
        QStringList arguments{"--drive", drive("A"), "--restart-ms", "600"};
        arguments += options;
        probe = std::make_unique<ToolProcess>(QStringLiteral("qv58link-probe-sim"), arguments);
        ASSERT_FALSE(probe->waitFor(QStringLiteral("present ")).isEmpty()) << probe->transcript().toStdString();
        qputenv("QV58LINK_DRIVES", (drive("A") + u':' + drive("B")).toUtf8());
    }

    void openWindow()
    {
        window = std::make_unique<TfrmMain>();
        window->show();
    }

    // Presses Upgrade and lets the event loop run until the run is over:
    // after its last step, or once a failed step has been reported.
    void upgrade(int ms = 60000)
    {
        button("cxButton2")->click();
        QDeadlineTimer deadline(ms);
        bool started = false;
        while (!deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            started = started || window->running();
            if (started && !window->running())
                break;
        }
        ASSERT_FALSE(window->running()) << logLines().join(u'\n').toStdString();
        // One idle moment so the update rules have run.
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents();
    }

    QPushButton *button(const char *name) const { return window->findChild<QPushButton *>(QLatin1String(name)); }
    bool actionEnabled(const char *name) const { return window->findChild<QAction *>(QLatin1String(name))->isEnabled(); }
    QStringList logLines() const
    {
        return window->findChild<QPlainTextEdit *>(QStringLiteral("logs"))->toPlainText().split(u'\n');
    }

    // Files the tool may have written outside the probe's folders.
    QStringList strayFiles() const
    {
        return QDir(path(QStringLiteral("cwd"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }

    static QString md5Of(const QByteArray &bytes)
    {
        return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex().toUpper());
    }

    static int run(const QString &tool, const QStringList &arguments)
    {
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        endWithTheTest(process);
        process.start(QStringLiteral(QV58_BIN_DIR "/") + tool, arguments);
        if (!process.waitForFinished(30000))
            return -1;
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    ScriptedMessageBoxes boxes;
    std::unique_ptr<ToolProcess> server;
    std::unique_ptr<ToolProcess> probe;
    std::unique_ptr<TfrmMain> window;

private:
    QTemporaryDir FDir;
    QString FOldCwd;
};
