#include "app/MessageBox.h"

#include "app/MessageBoxPresenter.h"

namespace {

QList<QMessageBox::StandardButton> buttonsOf(TMsgButtons buttons)
{
    switch (buttons) {
    case btAbortRetryIgnore:
        return {QMessageBox::Abort, QMessageBox::Retry, QMessageBox::Ignore};
    case btOK:
        break;
    case btOKCancel:
        return {QMessageBox::Ok, QMessageBox::Cancel};
    case btRetryCancel:
        return {QMessageBox::Retry, QMessageBox::Cancel};
    case btYesNo:
        return {QMessageBox::Yes, QMessageBox::No};
    case btYesNoCancel:
        return {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel};
    }
    return {QMessageBox::Ok};
}

QMessageBox::Icon iconOf(TMsgIcon icon)
{
    switch (icon) {
    case icNone:
        break;
    case icWarning:
        return QMessageBox::Warning;
    case icInformation:
        return QMessageBox::Information;
    case icQuestion:
        return QMessageBox::Question;
    case icError:
        return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

TMsgResult resultOf(QMessageBox::StandardButton answer)
{
    switch (answer) {
    case QMessageBox::Abort:
        return rsAbort;
    case QMessageBox::Cancel:
        return rsCancel;
    case QMessageBox::Ignore:
        return rsIgnore;
    case QMessageBox::No:
        return rsNo;
    case QMessageBox::Ok:
        return rsOK;
    case QMessageBox::Retry:
        return rsRetry;
    default:
        return rsYes;
    }
}

} // namespace

TMsgResult showMessageBox(QWidget *owner, TMsgButtons buttons, TMsgIcon icon, const QString &text,
                          const QString &caption)
{
    TMessageBoxRequest request;
    request.owner = owner;
    request.caption = caption;
    request.text = text + QStringLiteral("    ");
    request.buttons = buttonsOf(buttons);
    request.icon = iconOf(icon);
    return resultOf(MessageBoxPresenter::instance().present(request));
}

TMsgResult showWarning(QWidget *owner, const QString &caption, const QString &text)
{
    return showMessageBox(owner, btOK, icWarning, text, caption);
}

TMsgResult askYesNo(QWidget *owner, const QString &caption, const QString &text)
{
    return showMessageBox(owner, btYesNo, icQuestion, text, caption);
}
