// The window under a real X server while a step waits for the probe: it must
// answer the desktop's liveness ping, ignore the user's input, and keep a
// close request until the step is over.
#include "app/Application.h"
#include "app/WindowClock.h"
#include "app/wMain.h"
#include "common/FileIO.h"
#include "package/PackageBuilder.h"
#include "support/ScriptedMessageBoxes.h"

#include <QBuffer>
#include <QDeadlineTimer>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

namespace {

using SteadyClock = std::chrono::steady_clock;

// The window's clock, telling when a long sleep (a settle wait) begins.
class ObservedClock final : public IClock
{
public:
    void sleep(quint32 ms) override
    {
        if (ms >= 1000) {
            if (++longSleeps == 1 && onWait)
                onWait();
        }
        FClock.sleep(ms);
    }
    // Runs on the window's thread as the first settle wait begins.
    std::function<void()> onWait;
    quint32 tickCount() override { return FClock.tickCount(); }

    std::atomic<int> longSleeps = 0;

private:
    TWindowClock FClock;
};

// Runs the event loop for ms, blocking in it as the application does when
// idle (the action states are brought up to date then).
void idle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

xcb_atom_t internAtom(xcb_connection_t *c, const char *name)
{
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, quint16(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

// Plays the window manager's part of _NET_WM_PING on a connection of its
// own: sends the ping to the window and waits for the answer on the root.
class PingingManager
{
public:
    explicit PingingManager(xcb_window_t window)
        : FWindow(window)
    {
        FConnection = xcb_connect(nullptr, nullptr);
        const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(FConnection)).data;
        FRoot = screen->root;
        const quint32 mask = XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(FConnection, FRoot, XCB_CW_EVENT_MASK, &mask);
        FProtocols = internAtom(FConnection, "WM_PROTOCOLS");
        FPing = internAtom(FConnection, "_NET_WM_PING");
        xcb_flush(FConnection);
    }
    ~PingingManager() { xcb_disconnect(FConnection); }

    // Milliseconds until the answer, or -1 when none came within limitMs.
    int ping(quint32 stamp, int limitMs)
    {
        xcb_client_message_event_t event;
        std::memset(&event, 0, sizeof event);
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = FWindow;
        event.type = FProtocols;
        event.data.data32[0] = FPing;
        event.data.data32[1] = stamp;
        event.data.data32[2] = FWindow;
        const auto sent = SteadyClock::now();
        xcb_send_event(FConnection, 0, FWindow, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&event));
        xcb_flush(FConnection);
        const auto limit = sent + std::chrono::milliseconds(limitMs);
        while (SteadyClock::now() < limit) {
            xcb_generic_event_t *got = xcb_poll_for_event(FConnection);
            if (!got) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                continue;
            }
            const bool answer = (got->response_type & 0x7f) == XCB_CLIENT_MESSAGE
                && reinterpret_cast<xcb_client_message_event_t *>(got)->data.data32[0] == FPing
                && reinterpret_cast<xcb_client_message_event_t *>(got)->data.data32[1] == stamp;
            std::free(got);
            if (answer)
                return int(std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - sent).count());
        }
        return -1;
    }

private:
    xcb_connection_t *FConnection = nullptr;
    xcb_window_t FWindow;
    xcb_window_t FRoot = 0;
    xcb_atom_t FProtocols = XCB_ATOM_NONE;
    xcb_atom_t FPing = XCB_ATOM_NONE;
};

class LivenessTest : public ::testing::Test
{
protected:
    LivenessTest()
    {
        QDir(dir.path()).mkpath(QStringLiteral("A"));
        writeWholeFile(dir.filePath("A/DETAILS.txt"),
                       "HIC ID: 51563270\r\nInterface Version: V1.9\r\nBootloader Version: V1.0\r\n");
        qputenv("QV58LINK_DRIVES", QFile::encodeName(dir.filePath("A")));
        Clock::setInstance(&clock);
        window = std::make_unique<TfrmMain>();
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        boxes.shown.clear();
        QBuffer *buffer = window->memoryStream();
        buffer->buffer() = buildPackage(":00000001FF\n", QStringLiteral("App"), QStringLiteral("V1.10"),
                                        QStringLiteral("QV58Link Mini"), QStringLiteral("2026-12-01 10:00"));
        buffer->seek(buffer->size());
    }
    ~LivenessTest() override
    {
        window.reset();
        Clock::setInstance(nullptr);
    }

    QStringList logLines() const
    {
        return window->findChild<QPlainTextEdit *>(QStringLiteral("logs"))->toPlainText().split(u'\n');
    }

    // Runs the event loop until the first settle wait has begun.
    void untilFirstWait()
    {
        QDeadlineTimer deadline(30000);
        while (clock.longSleeps == 0 && !deadline.hasExpired())
            idle(20);
    }

    QTemporaryDir dir;
    ScriptedMessageBoxes boxes;
    ObservedClock clock;
    std::unique_ptr<TfrmMain> window;
};

} // namespace

// A whole run through the window's timer: while the probe is waited for, the
// pings are answered at once, and a close request waits for the run's end.
TEST_F(LivenessTest, PingsAnsweredDuringTheWaitAndCloseKeptUntilTheRunIsOver)
{
    window->setFunc(0, [] { return true; }); // the package is already in memory
    window->setUpgradeFileName(QStringLiteral("51563270_V1.10.dat"));
    idle(50); // the action states follow once the loop is idle
    const xcb_window_t id = xcb_window_t(window->winId());

    std::vector<int> answers;
    std::atomic<bool> pinged = false;
    std::atomic<bool> stop = false;
    std::thread manager([&] {
        while (clock.longSleeps == 0 && !stop)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (stop)
            return;
        PingingManager wm(id);
        for (quint32 stamp = 1; stamp <= 3; ++stamp) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            answers.push_back(wm.ping(stamp, 1500));
        }
        pinged = true;
    });

    // The desktop's close box during the first wait.
    clock.onWait = [this] {
        QTimer::singleShot(100, window.get(), [this] { window->close(); });
    };
    window->findChild<QPushButton *>(QStringLiteral("cxButton2"))->click();
    untilFirstWait();
    if (clock.longSleeps == 0) {
        stop = true;
        manager.join();
        FAIL() << "no wait began: " << logLines().join(u'|').toStdString() << " / "
               << boxes.texts().join(u'|').toStdString();
    }
    QDeadlineTimer deadline(60000);
    while (window->running() && !deadline.hasExpired()) {
        idle(20);
        if (window->running()) {
            EXPECT_TRUE(window->isVisible()) << "closed halfway through the run";
        }
    }
    manager.join();
    ASSERT_TRUE(pinged);

    ASSERT_EQ(answers.size(), 3u);
    for (const int ms : answers) {
        EXPECT_GE(ms, 0) << "a ping got no answer";
        EXPECT_LT(ms, 500);
    }
    EXPECT_EQ(clock.longSleeps, 2);
    EXPECT_EQ(logLines().last().left(27), QStringLiteral("Upgrade QV58-Link fireware "));
    // The run is over: the kept close request has been carried out.
    idle(20);
    EXPECT_FALSE(window->isVisible());
}

// Clicks and keys that arrive while a step waits do nothing, even on buttons
// that would act at any other moment.
TEST_F(LivenessTest, InputDuringAWaitDoesNothing)
{
    window->setUpgradeFileName(QStringLiteral("51563270_V1.10.dat"));
    idle(50); // the action states follow once the loop is idle
    auto *refresh = window->findChild<QPushButton *>(QStringLiteral("cxButton3"));
    auto *upgrade = window->findChild<QPushButton *>(QStringLiteral("cxButton2"));
    ASSERT_TRUE(refresh->isEnabled());
    ASSERT_TRUE(upgrade->isEnabled());
    int clicked = 0;
    QObject::connect(refresh, &QPushButton::clicked, [&] { ++clicked; });
    QObject::connect(upgrade, &QPushButton::clicked, [&] { ++clicked; });

    clock.onWait = [&] {
      QTimer::singleShot(500, window.get(), [&] {
        QTest::mouseClick(refresh, Qt::LeftButton);
        QTest::mouseClick(upgrade, Qt::LeftButton);
        QTest::keyClick(upgrade, Qt::Key_Space);
        QTest::keyClick(window.get(), Qt::Key_U, Qt::AltModifier);
      });
    };
    window->stepUpgrade();

    EXPECT_EQ(clock.longSleeps, 2);
    EXPECT_EQ(clicked, 0);
    EXPECT_FALSE(window->running());
    EXPECT_TRUE(boxes.shown.isEmpty()) << boxes.texts().join(u'|').toStdString();
    EXPECT_TRUE(logLines().contains(QStringLiteral("Upgrade File Info:")));

    // The same click outside a wait does act: the test would see it.
    QTest::mouseClick(refresh, Qt::LeftButton);
    EXPECT_EQ(clicked, 1);
}

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    TApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
