#include "app/MessageBoxPresenter.h"

#include <QWidget>

#include <atomic>
#include <string>

#include <windows.h>

namespace {

UINT buttonsOf(const QList<QMessageBox::StandardButton> &buttons)
{
    using B = QMessageBox::StandardButton;
    static const struct
    {
        QList<B> buttons;
        UINT style;
    } sets[] = {
        {{B::Abort, B::Retry, B::Ignore}, MB_ABORTRETRYIGNORE},
        {{B::Ok, B::Cancel}, MB_OKCANCEL},
        {{B::Retry, B::Cancel}, MB_RETRYCANCEL},
        {{B::Yes, B::No}, MB_YESNO},
        {{B::Yes, B::No, B::Cancel}, MB_YESNOCANCEL},
    };
    for (const auto &set : sets) {
        if (set.buttons == buttons)
            return set.style;
    }
    return MB_OK;
}

UINT iconOf(QMessageBox::Icon icon)
{
    switch (icon) {
    case QMessageBox::Warning:
        return MB_ICONWARNING;
    case QMessageBox::Information:
        return MB_ICONINFORMATION;
    case QMessageBox::Question:
        return MB_ICONQUESTION;
    case QMessageBox::Critical:
        return MB_ICONERROR;
    default:
        return 0;
    }
}

// The answer that goes ahead with nothing: a box the system could not show
// (no desktop, no memory) must not count as a yes to any question.
QMessageBox::StandardButton declined(const QList<QMessageBox::StandardButton> &buttons)
{
    for (const auto button : {QMessageBox::Cancel, QMessageBox::No, QMessageBox::Abort})
        if (buttons.contains(button))
            return button;
    return QMessageBox::Ok;
}

// NoButton for an answer outside the table.
QMessageBox::StandardButton answerOf(int answer)
{
    switch (answer) {
    case IDABORT:
        return QMessageBox::Abort;
    case IDCANCEL:
        return QMessageBox::Cancel;
    case IDIGNORE:
        return QMessageBox::Ignore;
    case IDNO:
        return QMessageBox::No;
    case IDOK:
        return QMessageBox::Ok;
    case IDRETRY:
        return QMessageBox::Retry;
    case IDYES:
        return QMessageBox::Yes;
    default:
        return QMessageBox::NoButton;
    }
}

// The system's box: its own buttons, icons and sounds. Its modal loop goes
// on dispatching the thread's messages, so the window still paints and its
// timer still runs while the box waits.
class TWin32MessageBoxPresenter final : public IMessageBoxPresenter
{
public:
    QMessageBox::StandardButton present(const TMessageBoxRequest &request) override
    {
        // A box without owner disables no window.
        const HWND owner = request.owner ? reinterpret_cast<HWND>(request.owner->window()->winId()) : nullptr;
        const UINT style = buttonsOf(request.buttons) | iconOf(request.icon) | MB_DEFBUTTON1;
        const std::wstring text = request.text.toStdWString();
        const std::wstring caption = request.caption.toStdWString();
        const TSystemBoxFunction show = FShow.load();
        const int answer = show ? show(owner, text.c_str(), caption.c_str(), style)
                                : ::MessageBoxW(owner, text.c_str(), caption.c_str(), style);
        if (answer == 0)
            return declined(request.buttons);
        return answerOf(answer);
    }

    std::atomic<TSystemBoxFunction> FShow{nullptr};
};

TWin32MessageBoxPresenter &presenter()
{
    static TWin32MessageBoxPresenter instance;
    return instance;
}

} // namespace

void setSystemBoxFunction(TSystemBoxFunction function)
{
    presenter().FShow = function;
}

IMessageBoxPresenter &systemMessageBoxPresenter()
{
    return presenter();
}
