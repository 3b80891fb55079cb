#include "app/MessageBox.h"

#include "support/ScriptedMessageBoxes.h"

#include <QWidget>
#include <gtest/gtest.h>

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
