#include "app/Application.h"
#include "app/SingleInstance.h"
#include "app/WindowClock.h"
#include "app/wMain.h"
#include "common/ProcessStart.h"

int main(int argc, char **argv)
{
    prepareProcess();
    // The tool takes no arguments, not even Qt's own (-platform, -style, -reverse …).
    int appArgc = argc > 0 ? 1 : 0;
    char *appArgv[] = {argc > 0 ? argv[0] : nullptr, nullptr};
    TApplication app(appArgc, appArgv);
    // Lets desktops match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.quorvantix.qv58link_upgrade"));

    // Before any window: a refused start shows nothing and ends with 0.
    TSingleInstance instance;
    if (!instance.CheckSingleInstance())
        return 0;
    QObject::connect(&instance, &TSingleInstance::activateRequested, &app,
                     &TApplication::bringMainWindowToFront);

    // The waits of an upgrade keep the window painted and answering.
    TWindowClock windowClock;
    Clock::setInstance(&windowClock);

    // FormCreate runs inside: its errors are shown before the window is,
    // and the window comes up all the same.
    TfrmMain frmMain;
    frmMain.show();
    app.exec();
    Clock::setInstance(nullptr);
    return 0;
}
