#include "AppTestSupport.h"
#include "WindowFixture.h"

#include "app/Application.h"
#include "probe/QV58LinkConfig.h"

#include <QAction>
#include <QBuffer>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

TEST(StartupTest, NoProbeShowsTheNotDetectedBoxBeforeTheWindowThenAnEmptyWindow)
{
    ScriptedMessageBoxes boxes;
    bool visibleWhileShown = true;
    boxes.whileShown = [&](const ScriptedMessageBoxes::Shown &box) {
        visibleWhileShown = box.owner && box.owner->isVisible();
    };
    TfrmMain window;

    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("QV58-Link not detected, please check if it is connected    "));
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Message"));
    EXPECT_EQ(boxes.shown[0].icon, QMessageBox::Warning);
    EXPECT_EQ(boxes.shown[0].owner, &window);
    EXPECT_FALSE(visibleWhileShown);

    // Creation finished all the same.
    ASSERT_NE(window.qv58LinkConfig(), nullptr);
    EXPECT_TRUE(window.qv58LinkConfig()->HICID().isEmpty());
    ASSERT_NE(window.memoryStream(), nullptr);
    EXPECT_TRUE(window.memoryStream()->isOpen());
    EXPECT_TRUE(window.memoryStream()->isReadable());
    EXPECT_TRUE(window.memoryStream()->isWritable());
    EXPECT_EQ(window.memoryStream()->size(), 0);
    EXPECT_TRUE(window.fileList().isEmpty());
    EXPECT_EQ(window.fileSize(), 0);
    EXPECT_FALSE(window.running());
    EXPECT_EQ(window.stepIndex(), 0);
    EXPECT_TRUE(window.upgradeFileName().isEmpty());

    window.show();
    runUntilIdle();
    EXPECT_EQ(window.findChild<QComboBox *>(QStringLiteral("cmbVersions"))->count(), 0);
    EXPECT_TRUE(window.findChild<QPlainTextEdit *>(QStringLiteral("txtDescript"))->toPlainText().isEmpty());
    EXPECT_FALSE(window.findChild<QAction *>(QStringLiteral("actUpgrade"))->isEnabled());
    EXPECT_TRUE(window.findChild<QAction *>(QStringLiteral("actClose"))->isEnabled());
    EXPECT_TRUE(window.findChild<QAction *>(QStringLiteral("actRefersh"))->isEnabled());
}

using StartedWindowTest = WindowFixture;

TEST_F(StartedWindowTest, AFailedRefreshKeepsTheChosenPackage)
{
    window->setUpgradeFileName(QStringLiteral("qv58link_v2.dat"));
    child<QPushButton>("cxButton3")->click();
    runUntilIdle();
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(window->upgradeFileName(), QStringLiteral("qv58link_v2.dat"));
    EXPECT_TRUE(child<QAction>("actUpgrade")->isEnabled());
}

TEST_F(StartedWindowTest, ObjectsAreRecreatedAndFreed)
{
    window->memoryStream()->write("package bytes");
    window->setRunning(true);
    window->createObjects();
    EXPECT_EQ(window->memoryStream()->size(), 0);
    EXPECT_FALSE(window->running());
    window->freeObjects();
    EXPECT_EQ(window->memoryStream(), nullptr);
    EXPECT_EQ(window->qv58LinkConfig(), nullptr);
}

TEST_F(StartedWindowTest, ARefusedStartBringsTheWindowBackFromTheTaskBar)
{
    window->show();
    window->showMinimized();
    ASSERT_TRUE(window->isMinimized());
    TApplication::bringMainWindowToFront();
    EXPECT_FALSE(window->isMinimized());
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
}
