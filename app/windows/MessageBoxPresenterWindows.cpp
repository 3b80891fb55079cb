#include "app/MessageBoxPresenter.h"

#include <QWidget>

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

// NoButton for a failed call or an answer outside the table.
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
        const int answer = ::MessageBoxW(owner, request.text.toStdWString().c_str(),
                                         request.caption.toStdWString().c_str(),
                                         buttonsOf(request.buttons) | iconOf(request.icon) | MB_DEFBUTTON1);
        return answerOf(answer);
    }
};

} // namespace

IMessageBoxPresenter &systemMessageBoxPresenter()
{
    static TWin32MessageBoxPresenter presenter;
    return presenter;
}
