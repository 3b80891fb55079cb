#pragma once

#include <QList>
#include <QMessageBox>
#include <QString>

class QWidget;

// One box as the platform is asked to show it.
struct TMessageBoxRequest
{
    QWidget *owner = nullptr; // the window the box is modal to; none disables no window
    QString caption;
    QString text; // exactly as shown
    QList<QMessageBox::StandardButton> buttons; // in order; the first is the default
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Shows a modal box and returns the button that closed it (NoButton when none
// did). Every box of the tool goes through the installed presenter, so tests
// can answer boxes without a screen.
class IMessageBoxPresenter
{
public:
    virtual ~IMessageBoxPresenter() = default;
    virtual QMessageBox::StandardButton present(const TMessageBoxRequest &request) = 0;
};

class MessageBoxPresenter
{
public:
    static IMessageBoxPresenter &instance();
    // Replaces the presenter (nullptr restores the system's: QMessageBox, or
    // MessageBoxW on Windows). The caller keeps ownership.
    static void setInstance(IMessageBoxPresenter *presenter);
};

#ifdef Q_OS_WIN
// The system's own box (MessageBoxW), the one the tool shows on Windows.
IMessageBoxPresenter &systemMessageBoxPresenter();
// What shows that box, for tests: MessageBoxW's arguments and answer with
// the handle and flags as plain numbers; nullptr restores MessageBoxW.
using TSystemBoxFunction = int (*)(void *owner, const wchar_t *text, const wchar_t *caption, unsigned style);
void setSystemBoxFunction(TSystemBoxFunction function);
#endif
