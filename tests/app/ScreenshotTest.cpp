#include "AppTestSupport.h"
#include "WindowFixture.h"

#include <QComboBox>
#include <QDir>
#include <QPlainTextEdit>

// Writes a picture of the window as a user sees it during an upgrade, for a
// person to look at: to $QV58_SCREENSHOT_DIR, or screenshots/ beside bin/.
using ScreenshotTest = WindowFixture;

TEST_F(ScreenshotTest, WindowPictureIsWritten)
{
    QString folder = qEnvironmentVariable("QV58_SCREENSHOT_DIR");
    if (folder.isEmpty())
        folder = QStringLiteral(QV58_BIN_DIR "/../screenshots");
    ASSERT_TRUE(QDir().mkpath(folder));

    auto *versions = child<QComboBox>("cmbVersions");
    versions->addItems({QStringLiteral("V2.05"), QStringLiteral("V2.04")});
    child<QPlainTextEdit>("txtDescript")
        ->setPlainText(QStringLiteral("Fixes the target power switch and speeds up flash downloads on "
                                      "long SWD cables."));
    window->setUpgradeFileName(QStringLiteral("qv58link_v205.dat"));
    window->addLog(QStringLiteral("Downloading qv58link_v205.dat"), false);
    window->addLog(QStringLiteral("  Download 100%"), false);
    window->addLog(QStringLiteral("Model: QV58-LINK  Interface: V2.04  Bootloader: V1.10"), false);
    window->addLog(QStringLiteral("A long line that is wider than the log box wraps at the box's width instead of "
                                  "scrolling sideways."),
                   false);
    window->show();
    runUntilIdle();

    const QImage picture = window->grab().toImage();
    const QString path = QDir(folder).absoluteFilePath(QStringLiteral("wMain.png"));
    ASSERT_TRUE(picture.save(path)) << path.toStdString();
    EXPECT_EQ(picture.size() / picture.devicePixelRatio(), QSize(562, 497));
    std::printf("window picture: %s\n", qPrintable(QDir::cleanPath(path)));
}
