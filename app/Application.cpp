#include "app/Application.h"

#include "app/ApplicationEvents.h"
#include "app/wMain.h"

#include <QWidget>

#include <cstdio>

TApplication::TApplication(int &argc, char **argv)
    : QApplication(argc, argv)
{
}

bool TApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        TApplicationEvents::handleException(receiver, std::current_exception());
        return false;
    }
}

void TApplication::bringMainWindowToFront()
{
    // Lets the start-up tests see that a refused start reached this instance.
    if (qEnvironmentVariableIsSet("QV58LINK_TRACE_ACTIVATION")) {
        std::fputs("qv58link-upgrade: asked to come forward\n", stderr);
        std::fflush(stderr);
    }
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && qobject_cast<TfrmMain *>(widget)) {
            widget->setWindowState(widget->windowState() & ~Qt::WindowMinimized);
            widget->raise();
            widget->activateWindow();
        }
    }
    // A box open on top (the start-up error, a question) keeps the focus.
    if (QWidget *modal = QApplication::activeModalWidget()) {
        modal->raise();
        modal->activateWindow();
    }
}
