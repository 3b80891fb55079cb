#pragma once

#include <QApplication>

// The application object: the last net under every event, so that an error
// no entry point caught still reaches the window's error handler instead of
// unwinding through Qt's event loop.
class TApplication : public QApplication
{
    Q_OBJECT

public:
    TApplication(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;

    // Answers a refused second start: restores and raises the main window, or,
    // while the window is not shown yet, the box that keeps it waiting.
    static void bringMainWindowToFront();
};
