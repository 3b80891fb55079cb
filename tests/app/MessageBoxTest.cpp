#include "app/MessageBox.h"

#include "support/ScriptedMessageBoxes.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

#include <functional>

using Buttons = QList<QMessageBox::StandardButton>;

TEST(MessageBoxTest, ButtonSetsInOrderWithOutOfRangeShowingOkAlone)
{
    const struct
    {
        int set;
        Buttons shown;
    } cases[] = {
        {btAbortRetryIgnore, {QMessageBox::Abort, QMessageBox::Retry, QMessageBox::Ignore}},
        {btOK, {QMessageBox::Ok}},
        {btOKCancel, {QMessageBox::Ok, QMessageBox::Cancel}},
        {btRetryCancel, {QMessageBox::Retry, QMessageBox::Cancel}},
        {btYesNo, {QMessageBox::Yes, QMessageBox::No}},
        {btYesNoCancel, {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel}},
        {6, {QMessageBox::Ok}},
        {-1, {QMessageBox::Ok}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.set);
        ScriptedMessageBoxes boxes;
        showMessageBox(nullptr, static_cast<TMsgButtons>(c.set), icNone, QStringLiteral("t"), QStringLiteral("c"));
        ASSERT_EQ(boxes.shown.size(), 1);
        EXPECT_EQ(boxes.shown[0].buttons, c.shown);
    }
}

TEST(MessageBoxTest, IconsWithOutOfRangeShowingNone)
{
    const struct
    {
        int icon;
        QMessageBox::Icon shown;
    } cases[] = {
        {icNone, QMessageBox::NoIcon},         {icWarning, QMessageBox::Warning},
        {icInformation, QMessageBox::Information}, {icQuestion, QMessageBox::Question},
        {icError, QMessageBox::Critical},      {5, QMessageBox::NoIcon},
        {-3, QMessageBox::NoIcon},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.icon);
        ScriptedMessageBoxes boxes;
        showMessageBox(nullptr, btOK, static_cast<TMsgIcon>(c.icon), QString(), QString());
        ASSERT_EQ(boxes.shown.size(), 1);
        EXPECT_EQ(boxes.shown[0].icon, c.shown);
    }
}

TEST(MessageBoxTest, AnswersTranslateAndAnythingElseCountsAsYes)
{
    const struct
    {
        QMessageBox::StandardButton answer;
        TMsgResult result;
    } cases[] = {
        {QMessageBox::Abort, rsAbort},     {QMessageBox::Cancel, rsCancel}, {QMessageBox::Ignore, rsIgnore},
        {QMessageBox::No, rsNo},           {QMessageBox::Ok, rsOK},         {QMessageBox::Retry, rsRetry},
        {QMessageBox::Yes, rsYes},         {QMessageBox::NoButton, rsYes},  {QMessageBox::Close, rsYes},
        {QMessageBox::Help, rsYes},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.answer));
        ScriptedMessageBoxes boxes;
        boxes.answers = {c.answer};
        EXPECT_EQ(showMessageBox(nullptr, btYesNoCancel, icQuestion, QString(), QString()), c.result);
    }
}

TEST(MessageBoxTest, TextGetsFourSpacesAndCaptionAndOwnerPassThrough)
{
    ScriptedMessageBoxes boxes;
    QWidget owner;
    showMessageBox(&owner, btOK, icInformation, QStringLiteral("Line one\r\nline two"), QStringLiteral("Cap"));
    showMessageBox(nullptr, btOK, icInformation, QString(), QString());

    ASSERT_EQ(boxes.shown.size(), 2);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Line one\r\nline two    "));
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Cap"));
    EXPECT_EQ(boxes.shown[0].owner, &owner);
    EXPECT_EQ(boxes.shown[1].text, QStringLiteral("    "));
    EXPECT_FALSE(boxes.shown[1].hadOwner);
}

TEST(MessageBoxTest, WrappersPickButtonsIconAndArgumentOrder)
{
    ScriptedMessageBoxes boxes;
    QWidget owner;
    EXPECT_EQ(showWarning(&owner, QStringLiteral("Caption"), QStringLiteral("Text")), rsOK);
    boxes.answers = {QMessageBox::No};
    EXPECT_EQ(askYesNo(nullptr, QStringLiteral("Message"), QStringLiteral("Go on?")), rsNo);
    // Unanswered, the box takes its default (first) button.
    EXPECT_EQ(askYesNo(nullptr, QStringLiteral("Message"), QStringLiteral("Go on?")), rsYes);

    ASSERT_EQ(boxes.shown.size(), 3);
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Caption"));
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Text    "));
    EXPECT_EQ(boxes.shown[0].buttons, Buttons{QMessageBox::Ok});
    EXPECT_EQ(boxes.shown[0].icon, QMessageBox::Warning);
    EXPECT_EQ(boxes.shown[0].owner, &owner);
    EXPECT_EQ(boxes.shown[1].caption, QStringLiteral("Message"));
    EXPECT_EQ(boxes.shown[1].text, QStringLiteral("Go on?    "));
    EXPECT_EQ(boxes.shown[1].buttons, (Buttons{QMessageBox::Yes, QMessageBox::No}));
    EXPECT_EQ(boxes.shown[1].icon, QMessageBox::Question);
    EXPECT_FALSE(boxes.shown[1].hadOwner);
}

// The Qt presenter; the Windows one (MessageBoxW) has tests of its own.
#ifndef Q_OS_WIN
namespace {

// Once the real box is open, runs answer on it from inside the box's own event
// loop. A box still open ten seconds later is closed without an answer, so a
// box that ignores what answer did fails the test instead of hanging it.
class TRealBox
{
public:
    explicit TRealBox(std::function<void(QMessageBox *)> answer)
        : FAnswer(std::move(answer))
    {
        FPoll.setInterval(10);
        QObject::connect(&FPoll, &QTimer::timeout, [this] { poll(); });
        FPoll.start();
    }

    QString text; // of the label that shows the message
    Qt::TextFormat format = Qt::AutoText;
    bool seen = false;

private:
    void poll()
    {
        QMessageBox *box = nullptr;
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *candidate = qobject_cast<QMessageBox *>(widget); candidate && candidate->isVisible())
                box = candidate;
        if (!box)
            return;
        if (!seen) {
            seen = true;
            for (QLabel *label : box->findChildren<QLabel *>())
                if (label->text() == box->text()) {
                    text = label->text();
                    format = label->textFormat();
                }
            FGiveUp.setRemainingTime(10000);
            FAnswer(box);
        } else if (FGiveUp.hasExpired()) {
            box->done(QDialog::Rejected);
        }
    }

    std::function<void(QMessageBox *)> FAnswer;
    QTimer FPoll;
    QDeadlineTimer FGiveUp;
};

} // namespace

// The presenter every user sees, not the scripted one.
TEST(RealMessageBoxTest, MarkupInTheTextIsShownAsItIs)
{
    TRealBox box([](QMessageBox *shown) { QTest::keyClick(shown, Qt::Key_Return); });
    EXPECT_EQ(showWarning(nullptr, QStringLiteral("Message"), QStringLiteral("<b>x</b>")), rsOK);

    ASSERT_TRUE(box.seen);
    EXPECT_EQ(box.text, QStringLiteral("<b>x</b>    "));
    EXPECT_EQ(box.format, Qt::PlainText);
}

TEST(RealMessageBoxTest, EscapeOrTheCloseButtonAnswersTheVersionQuestionWithNo)
{
    const struct
    {
        const char *name;
        std::function<void(QMessageBox *)> dismiss;
    } cases[] = {
        {"Escape", [](QMessageBox *shown) { QTest::keyClick(shown, Qt::Key_Escape); }},
        // What the title bar's close button sends.
        {"close button", [](QMessageBox *shown) { shown->close(); }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TRealBox box(c.dismiss);
        EXPECT_EQ(askYesNo(nullptr, QStringLiteral("Message"), QStringLiteral("Downgrade?")), rsNo);
        EXPECT_TRUE(box.seen);
    }
}
#endif
