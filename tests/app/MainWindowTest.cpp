#include "AppTestSupport.h"
#include "WindowFixture.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

using MainWindowTest = WindowFixture;

TEST_F(MainWindowTest, FixedCentredDialogFrameWithCaptionAndFont)
{
    EXPECT_EQ(window->windowTitle(), QStringLiteral("QV58-Link Upgrade V1.01"));
    EXPECT_EQ(window->size(), QSize(562, 497));
    EXPECT_EQ(window->minimumSize(), QSize(562, 497));
    EXPECT_EQ(window->maximumSize(), QSize(562, 497));

    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(window->windowType(), Qt::Window);

    window->show();
    const QPoint screenCentre = window->screen()->availableGeometry().center();
    EXPECT_LE((window->geometry().center() - screenCentre).manhattanLength(), 1);

    for (const QWidget *w : {static_cast<QWidget *>(window.get()), child<QWidget>("logs"),
                             child<QWidget>("cmbVersions"), child<QWidget>("cxButton1")}) {
        SCOPED_TRACE(w->objectName().toStdString());
        EXPECT_EQ(w->font().family(), QStringLiteral("Courier New"));
        EXPECT_EQ(w->font().pixelSize(), 13);
        EXPECT_FALSE(w->font().bold());
        EXPECT_FALSE(w->font().italic());
    }
    EXPECT_TRUE(child<QWidget>("logs")->testAttribute(Qt::WA_SetFont)); // set on the box itself
}

TEST_F(MainWindowTest, EveryControlHasItsParentGeometryAndText)
{
    const int comboHeight = child<QComboBox>("cmbVersions")->sizeHint().height();
    const struct
    {
        const char *name;
        const char *parent;
        QRect geometry;
        QString text;
    } cases[] = {
        {"GroupBox1", "frmMain", {24, 24, 513, 153}, QStringLiteral(" Choose Version ")},
        {"Label2", "GroupBox1", {17, 25, 56, 16}, QStringLiteral("Version")},
        {"Label3", "GroupBox1", {9, 54, 64, 16}, QStringLiteral("Descript")},
        {"cmbVersions", "GroupBox1", {79, 22, 186, comboHeight}, QString()},
        {"txtDescript", "GroupBox1", {79, 54, 418, 83}, QString()},
        {"cxButton2", "GroupBox1", {402, 23, 95, 25}, QStringLiteral("&Upgrade")},
        {"cxButton3", "GroupBox1", {263, 22, 24, 24}, QString()},
        {"GroupBox2", "frmMain", {24, 192, 513, 241}, QStringLiteral(" Upgrade Logs ")},
        {"logs", "GroupBox2", {17, 25, 480, 202}, QString()},
        {"Bevel1", "frmMain", {-19, 446, 597, 2}, QString()},
        {"cxButton1", "frmMain", {442, 460, 95, 25}, QStringLiteral("&Close")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QWidget *w = child<QWidget>(c.name);
        ASSERT_NE(w, nullptr);
        ASSERT_NE(w->parentWidget(), nullptr);
        EXPECT_EQ(w->parentWidget()->objectName(), QLatin1String(c.parent));
        EXPECT_EQ(w->geometry(), c.geometry);
        QString text;
        if (auto *box = qobject_cast<QGroupBox *>(w))
            text = box->title();
        else if (auto *label = qobject_cast<QLabel *>(w))
            text = label->text();
        else if (auto *button = qobject_cast<QPushButton *>(w))
            text = button->text();
        else if (auto *edit = qobject_cast<QPlainTextEdit *>(w))
            text = edit->toPlainText();
        else if (auto *combo = qobject_cast<QComboBox *>(w))
            text = combo->currentText();
        EXPECT_EQ(text, c.text);
    }
    EXPECT_GT(comboHeight, 0);
    auto *bevel = child<QFrame>("Bevel1");
    EXPECT_EQ(bevel->frameShape(), QFrame::HLine);
    EXPECT_EQ(bevel->frameShadow(), QFrame::Sunken);
}

TEST_F(MainWindowTest, ControlSettings)
{
    auto *combo = child<QComboBox>("cmbVersions");
    EXPECT_FALSE(combo->isEditable());
    EXPECT_EQ(combo->count(), 0);

    const struct
    {
        const char *name;
        bool readOnly;
    } boxesToCheck[] = {{"txtDescript", true}, {"logs", false}};
    for (const auto &c : boxesToCheck) {
        SCOPED_TRACE(c.name);
        auto *edit = child<QPlainTextEdit>(c.name);
        EXPECT_EQ(edit->isReadOnly(), c.readOnly);
        EXPECT_EQ(edit->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        EXPECT_EQ(edit->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        EXPECT_EQ(edit->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    }

    for (const char *name : {"cxButton1", "cxButton2", "cxButton3"}) {
        SCOPED_TRACE(name);
        auto *button = child<QPushButton>(name);
        EXPECT_FALSE(button->isDefault());
        EXPECT_FALSE(button->autoDefault());
    }
    EXPECT_EQ(child<QPushButton>("cxButton3")->focusPolicy(), Qt::NoFocus);
    EXPECT_NE(child<QPushButton>("cxButton2")->focusPolicy(), Qt::NoFocus);

    auto *timer = child<QTimer>("FTimer");
    EXPECT_FALSE(timer->isActive());
    EXPECT_EQ(timer->interval(), 1000);
}

TEST_F(MainWindowTest, TabWalksTheControlsInOrderAndSkipsTheRefreshButton)
{
    window->setUpgradeFileName(QStringLiteral("a.dat")); // a disabled button takes no focus
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    runUntilIdle();

    auto *logs = child<QPlainTextEdit>("logs");
    logs->setPlainText(QStringLiteral("typed"));
    child<QWidget>("cmbVersions")->setFocus();
    const char *order[] = {"txtDescript", "cxButton2", "logs", "cxButton1", "cmbVersions"};
    for (const char *next : order) {
        SCOPED_TRACE(next);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_NE(QApplication::focusWidget(), nullptr);
        EXPECT_EQ(QApplication::focusWidget()->objectName(), QLatin1String(next));
    }
    // Tab moved on instead of landing in the log's text.
    EXPECT_EQ(logs->toPlainText(), QStringLiteral("typed"));
}

TEST_F(MainWindowTest, ActionsCarryCaptionsImagesAndButtonsFollowThem)
{
    auto *upgrade = child<QAction>("actUpgrade");
    auto *close = child<QAction>("actClose");
    auto *refresh = child<QAction>("actRefersh");
    EXPECT_EQ(upgrade->text(), QStringLiteral("&Upgrade"));
    EXPECT_EQ(close->text(), QStringLiteral("&Close"));
    EXPECT_TRUE(refresh->text().isEmpty());
    EXPECT_TRUE(close->icon().isNull());

    for (QAction *action : {upgrade, refresh}) {
        SCOPED_TRACE(action->objectName().toStdString());
        const QImage image = action->icon().pixmap(16, 16).toImage();
        ASSERT_EQ(image.size(), QSize(16, 16));
        EXPECT_TRUE(image.hasAlphaChannel());
        int opaque = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                opaque += qAlpha(image.pixel(x, y)) == 255;
        EXPECT_GT(opaque, 10);
        EXPECT_LT(opaque, 16 * 16);
    }

    auto *upgradeButton = child<QPushButton>("cxButton2");
    auto *refreshButton = child<QPushButton>("cxButton3");
    auto *closeButton = child<QPushButton>("cxButton1");
    EXPECT_EQ(upgradeButton->shortcut(), QKeySequence(Qt::ALT | Qt::Key_U));
    EXPECT_EQ(closeButton->shortcut(), QKeySequence(Qt::ALT | Qt::Key_C));
    EXPECT_FALSE(upgradeButton->icon().isNull());
    EXPECT_FALSE(refreshButton->icon().isNull());
    EXPECT_TRUE(refreshButton->text().isEmpty());

    // Later changes of an action reach its button.
    close->setText(QStringLiteral("&Quit"));
    close->setEnabled(false);
    EXPECT_EQ(closeButton->text(), QStringLiteral("&Quit"));
    EXPECT_FALSE(closeButton->isEnabled());
}

TEST_F(MainWindowTest, EnabledStatesFollowTheRulesWhenIdle)
{
    const struct
    {
        bool running;
        const char *fileName;
        bool upgrade;
        bool closeAndRefresh;
    } cases[] = {
        {false, "", false, true},
        {false, "qv58link_v2.dat", true, true},
        {true, "", false, false},
        {true, "qv58link_v2.dat", false, false},
        {false, "qv58link_v2.dat", true, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.running << " '" << c.fileName << "'");
        window->setRunning(c.running);
        window->setUpgradeFileName(QString::fromUtf8(c.fileName));
        runUntilIdle();
        EXPECT_EQ(child<QAction>("actUpgrade")->isEnabled(), c.upgrade);
        EXPECT_EQ(child<QAction>("actClose")->isEnabled(), c.closeAndRefresh);
        EXPECT_EQ(child<QAction>("actRefersh")->isEnabled(), c.closeAndRefresh);
        EXPECT_EQ(child<QPushButton>("cxButton2")->isEnabled(), c.upgrade);
        EXPECT_EQ(child<QPushButton>("cxButton1")->isEnabled(), c.closeAndRefresh);
        EXPECT_EQ(child<QPushButton>("cxButton3")->isEnabled(), c.closeAndRefresh);
    }
}

TEST_F(MainWindowTest, StateIsCheckedAgainJustBeforeAnActionRuns)
{
    window->show();
    window->setUpgradeFileName(QStringLiteral("a.dat"));
    runUntilIdle();
    auto *upgradeButton = child<QPushButton>("cxButton2");
    ASSERT_TRUE(upgradeButton->isEnabled());

    // The buttons still look enabled: nothing went idle since the run started.
    window->setRunning(true);
    child<QPlainTextEdit>("logs")->setPlainText(QStringLiteral("kept"));
    upgradeButton->click();
    child<QPushButton>("cxButton3")->click();
    child<QPushButton>("cxButton1")->click();
    EXPECT_FALSE(window->executeAction(child<QAction>("actClose")));

    EXPECT_EQ(child<QPlainTextEdit>("logs")->toPlainText(), QStringLiteral("kept"));
    EXPECT_FALSE(child<QTimer>("FTimer")->isActive());
    EXPECT_TRUE(boxes.shown.isEmpty());
    EXPECT_TRUE(window->isVisible());
}

TEST_F(MainWindowTest, AcceleratorsPressTheirButtons)
{
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    window->setUpgradeFileName(QStringLiteral("a.dat"));
    runUntilIdle();

    // A mnemonic presses its button with a short animation, so the click comes a little later.
    QTest::keyClick(window.get(), Qt::Key_U, Qt::AltModifier);
    EXPECT_TRUE(spinUntil([this] { return window->running(); }, 2000));
    EXPECT_TRUE(child<QTimer>("FTimer")->isActive());

    window->setRunning(false);
    child<QTimer>("FTimer")->stop();
    runUntilIdle();
    QTest::keyClick(window.get(), Qt::Key_C, Qt::AltModifier);
    EXPECT_TRUE(spinUntil([this] { return !window->isVisible(); }, 2000));
}

TEST_F(MainWindowTest, AddLogAppendsOrReplacesTheLastLine)
{
    const struct
    {
        const char *before;
        const char *text;
        bool replaceLast;
        const char *after;
    } cases[] = {
        {"", "a", false, "a"},
        {"", "a", true, "a"},
        {"x", "a", false, "x\na"},
        {"x", "a", true, "a"},
        {"x\ny", "a", false, "x\ny\na"},
        {"x\ny", "a", true, "x\na"},
        {"x\ny", "", false, "x\ny\n"},
        {"x\n", "", true, "\n"},
        {"x\ny", "  Download 50%", true, "x\n  Download 50%"},
        // Typed text ending in Enter: the empty place after it is no line of its own.
        {"typed\n", "a", false, "typed\na\n"},
        {"typed\n", "a", true, "a\n"},
        {"x\n\n", "a", true, "x\na\n"},
        {"\n", "a", true, "a\n"},
    };
    auto *logs = child<QPlainTextEdit>("logs");
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << '"' << c.before << "\" + \"" << c.text << "\" " << c.replaceLast);
        logs->setPlainText(QString::fromUtf8(c.before));
        window->addLog(QString::fromUtf8(c.text), c.replaceLast);
        EXPECT_EQ(logs->toPlainText(), QString::fromUtf8(c.after));
    }
}

TEST_F(MainWindowTest, ProgressLinesReplaceEachOtherAndTheLogKeepsItsNewestLineInView)
{
    auto *logs = child<QPlainTextEdit>("logs");
    window->show();
    for (int i = 0; i < 40; ++i)
        window->addLog(QStringLiteral("line %1").arg(i), false);
    window->addLog(QStringLiteral("Download 0%"), false);
    for (int p = 10; p <= 100; p += 10)
        window->addLog(QStringLiteral("Download %1%").arg(p), true);

    EXPECT_EQ(logs->document()->blockCount(), 41);
    EXPECT_EQ(logs->document()->lastBlock().text(), QStringLiteral("Download 100%"));
    const QRect last = logs->cursorRect(QTextCursor(logs->document()->lastBlock()));
    EXPECT_TRUE(logs->viewport()->rect().contains(last.center()));
}
