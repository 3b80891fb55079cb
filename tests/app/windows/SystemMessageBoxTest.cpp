// The Windows presenter: what MessageBoxW is asked to show for each box, and
// what its answers become. MessageBoxW itself is stood in for, as a test
// cannot press its buttons.
#include "app/MessageBox.h"
#include "app/MessageBoxPresenter.h"
#include "support/TestSystem.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace {

struct TShown
{
    std::wstring text, caption;
    unsigned style = 0;
};
TShown lastShown;
int nextAnswer = 0;

int standIn(void *, const wchar_t *text, const wchar_t *caption, unsigned style)
{
    lastShown = {text, caption, style};
    return nextAnswer;
}

// Shows boxes through the system presenter with the stand-in in place.
class SystemBox : public ::testing::Test
{
protected:
    SystemBox()
    {
        setSystemBoxFunction(standIn);
        MessageBoxPresenter::setInstance(&systemMessageBoxPresenter());
    }
    ~SystemBox() override
    {
        MessageBoxPresenter::setInstance(nullptr);
        setSystemBoxFunction(nullptr);
    }
};

} // namespace

TEST_F(SystemBox, EachButtonSetAndIconIsTheSystemsOwn)
{
    const struct
    {
        TMsgButtons buttons;
        TMsgIcon icon;
        unsigned style;
    } cases[] = {
        {btOK, icWarning, MB_OK | MB_ICONWARNING},
        {btOKCancel, icInformation, MB_OKCANCEL | MB_ICONINFORMATION},
        {btAbortRetryIgnore, icError, MB_ABORTRETRYIGNORE | MB_ICONERROR},
        {btYesNoCancel, icQuestion, MB_YESNOCANCEL | MB_ICONQUESTION},
        {btYesNo, icNone, MB_YESNO},
        {btRetryCancel, icQuestion, MB_RETRYCANCEL | MB_ICONQUESTION},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(int(c.buttons));
        nextAnswer = IDOK;
        showMessageBox(nullptr, c.buttons, c.icon, QStringLiteral("Text"), QStringLiteral("Message"));
        EXPECT_EQ(lastShown.style, c.style | MB_DEFBUTTON1);
        EXPECT_EQ(lastShown.caption, L"Message");
        EXPECT_EQ(lastShown.text, L"Text    ");
    }
}

TEST_F(SystemBox, AnswersComeBackAndABoxThatCouldNotShowDeclines)
{
    const struct
    {
        TMsgButtons buttons;
        int answer;
        TMsgResult result;
    } cases[] = {
        {btYesNo, IDYES, rsYes},
        {btYesNo, IDNO, rsNo},
        {btOKCancel, IDCANCEL, rsCancel},
        {btAbortRetryIgnore, IDIGNORE, rsIgnore},
        {btRetryCancel, IDRETRY, rsRetry},
        // MessageBoxW answers 0 when it cannot show the box at all: never a
        // yes to the version question.
        {btYesNo, 0, rsNo},
        {btYesNoCancel, 0, rsCancel},
        {btOKCancel, 0, rsCancel},
        {btAbortRetryIgnore, 0, rsAbort},
        {btOK, 0, rsOK},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.buttons) << " answered " << c.answer);
        nextAnswer = c.answer;
        EXPECT_EQ(showMessageBox(nullptr, c.buttons, icQuestion, QString(), QString()), c.result);
    }
}
