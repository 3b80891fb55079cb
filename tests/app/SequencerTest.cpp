#include "AppTestSupport.h"
#include "WindowFixture.h"

#include "app/MessageBox.h"
#include "common/Exceptions.h"

#include <QAction>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

namespace {

// What the window looked like while one step ran.
struct StepCall
{
    int slot;
    int stepIndex;
    bool running;
    bool timerActive;
    QString log;
};

} // namespace

// Steps run on a 5 ms timer; each records the window's state as it saw it.
class SequencerTest : public WindowFixture
{
protected:
    SequencerTest()
    {
        timer = child<QTimer>("FTimer");
        logs = child<QPlainTextEdit>("logs");
        timer->setInterval(5);
        for (int slot = 0; slot < TfrmMain::StepCount; ++slot)
            setStep(slot, [] { return true; });
        window->setUpgradeFileName(QStringLiteral("qv58link_v2.dat"));
        runUntilIdle();
    }

    void setStep(int slot, std::function<bool()> body)
    {
        window->setFunc(slot, [this, slot, body] {
            calls.append({slot, window->stepIndex(), window->running(), timer->isActive(), logs->toPlainText()});
            window->addLog(QStringLiteral("step %1").arg(slot), false);
            return body();
        });
    }

    void startRun()
    {
        logs->setPlainText(QStringLiteral("old line"));
        child<QPushButton>("cxButton2")->click();
    }

    bool runEnded() { return spinUntil([this] { return !window->running(); }, 30000); }

    QList<int> slotsCalled() const
    {
        QList<int> result;
        for (const StepCall &call : calls)
            result.append(call.slot);
        return result;
    }

    QTimer *timer = nullptr;
    QPlainTextEdit *logs = nullptr;
    QList<StepCall> calls;
};

TEST_F(SequencerTest, TheStepTableIsBoundAtCreation)
{
    TfrmMain fresh;
    for (int slot = 0; slot < TfrmMain::StepCount; ++slot)
        EXPECT_TRUE(static_cast<bool>(fresh.funcs()[slot])) << slot;
    EXPECT_FALSE(static_cast<bool>(fresh.funcs()[4]));
    EXPECT_EQ(fresh.stepIndex(), 0);
    EXPECT_FALSE(fresh.running());
}

TEST_F(SequencerTest, ClickEmptiesTheLogAndArmsTheTimerWithoutRunningAStep)
{
    timer->setInterval(1000);
    startRun();
    EXPECT_TRUE(logs->toPlainText().isEmpty());
    EXPECT_TRUE(window->running());
    EXPECT_EQ(window->stepIndex(), 0);
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 1000);
    EXPECT_TRUE(calls.isEmpty());
}

TEST_F(SequencerTest, TicksRunTheStepsInOrderOneAtATime)
{
    // A step that reports failure still counts as done.
    setStep(1, [] { return false; });
    setStep(3, [] { return false; });
    startRun();
    ASSERT_TRUE(runEnded());

    EXPECT_EQ(slotsCalled(), (QList<int>{0, 1, 2, 3}));
    for (const StepCall &call : calls) {
        SCOPED_TRACE(call.slot);
        EXPECT_EQ(call.stepIndex, call.slot);
        EXPECT_TRUE(call.running);
        EXPECT_FALSE(call.timerActive);
    }
    EXPECT_EQ(calls[0].log, QString());
    EXPECT_EQ(logs->toPlainText(), QStringLiteral("step 0\nstep 1\nstep 2\nstep 3"));
    EXPECT_EQ(window->stepIndex(), 4);
    EXPECT_FALSE(timer->isActive());

    runUntilIdle();
    for (const char *action : {"actUpgrade", "actClose", "actRefersh"})
        EXPECT_TRUE(child<QAction>(action)->isEnabled()) << action;

    // Another press starts over from step 0.
    calls.clear();
    startRun();
    ASSERT_TRUE(runEnded());
    EXPECT_EQ(slotsCalled(), (QList<int>{0, 1, 2, 3}));
}

TEST_F(SequencerTest, ActionsStayLockedBetweenSteps)
{
    // After the first step the next tick is an hour away, however slowly the
    // machine lets this test go on.
    setStep(0, [this] {
        timer->setInterval(3600 * 1000);
        return true;
    });
    startRun();
    ASSERT_TRUE(spinUntil([this] { return calls.size() == 1; }, 30000));
    runUntilIdle();
    EXPECT_EQ(calls.size(), 1);
    for (const char *action : {"actUpgrade", "actClose", "actRefersh"})
        EXPECT_FALSE(child<QAction>(action)->isEnabled()) << action;
    EXPECT_TRUE(window->running());
    EXPECT_TRUE(timer->isActive());
}

TEST_F(SequencerTest, AStepWaitingInAModalBoxGetsNoSecondTick)
{
    int ticksWhileAsked = -1;
    boxes.whileShown = [&](const ScriptedMessageBoxes::Shown &) {
        // A real box keeps the event loop going for as long as the user takes.
        const qsizetype before = calls.size();
        spinFor(100);
        ticksWhileAsked = static_cast<int>(calls.size() - before);
    };
    setStep(2, [] { return askYesNo(nullptr, QStringLiteral("Message"), QStringLiteral("Go on?")) == rsYes; });
    startRun();
    ASSERT_TRUE(runEnded());

    EXPECT_EQ(ticksWhileAsked, 0);
    EXPECT_EQ(slotsCalled(), (QList<int>{0, 1, 2, 3}));
}

TEST_F(SequencerTest, ARaisingStepEndsTheRunAfterItsErrorIsShown)
{
    const struct
    {
        int slot;
        const char *error;
        const char *shown;
    } cases[] = {
        {0, "Socket Error # 11001\r\nHost not found.", "Host not found, please check you network!"},
        {1, "Invalid upgrade file!", "Invalid upgrade file!"},
        {3, "Cannot create file \"/media/x/upgrade.Hex\". Read-only file system",
         "Cannot create file \"/media/x/upgrade.Hex\". Read-only file system"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.slot);
        calls.clear();
        boxes.shown.clear();
        for (int slot = 0; slot < TfrmMain::StepCount; ++slot)
            setStep(slot, [] { return true; });
        const QString error = QString::fromUtf8(c.error);
        setStep(c.slot, [error]() -> bool { throw Exception(error); });
        bool runningWhileShown = false;
        boxes.whileShown = [&](const ScriptedMessageBoxes::Shown &) { runningWhileShown = window->running(); };

        startRun();
        ASSERT_TRUE(runEnded());
        spinFor(30); // would be time for several more ticks

        ASSERT_EQ(boxes.shown.size(), 1);
        EXPECT_EQ(boxes.shown[0].text, QString::fromUtf8(c.shown) + QStringLiteral("    "));
        EXPECT_EQ(boxes.shown[0].owner, window.get());
        EXPECT_TRUE(runningWhileShown);
        EXPECT_EQ(slotsCalled().size(), c.slot + 1);
        EXPECT_EQ(window->stepIndex(), c.slot);
        EXPECT_FALSE(timer->isActive());
        // The failed step's own log lines stay.
        EXPECT_TRUE(logs->toPlainText().endsWith(QStringLiteral("step %1").arg(c.slot)));

        runUntilIdle();
        for (const char *action : {"actUpgrade", "actClose", "actRefersh"})
            EXPECT_TRUE(child<QAction>(action)->isEnabled()) << action;
    }
}

TEST_F(SequencerTest, ATickWithNoStepLeftIsAnErrorNotACrash)
{
    window->setStepIndex(4);
    window->setRunning(true);
    timer->start();
    ASSERT_TRUE(runEnded());
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Range check error    "));
    EXPECT_TRUE(calls.isEmpty());
    EXPECT_FALSE(timer->isActive());
}
