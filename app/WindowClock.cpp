#include "app/WindowClock.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>
#include <chrono>

namespace {

bool isUserInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::TabletMove:
    case QEvent::InputMethod:
        return true;
    default:
        return false;
    }
}

} // namespace

TInputBlocker::TInputBlocker()
{
    if (QCoreApplication *app = QCoreApplication::instance())
        app->installEventFilter(this);
}

TInputBlocker::~TInputBlocker()
{
    if (QCoreApplication *app = QCoreApplication::instance())
        app->removeEventFilter(this);
}

bool TInputBlocker::eventFilter(QObject *watched, QEvent *event)
{
    Q_UNUSED(watched);
    return isUserInput(event->type());
}

void TInputBlocker::processPending()
{
    const TInputBlocker blocker;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TWindowClock::sleep(quint32 ms)
{
    const TInputBlocker blocker;
    QEventLoop loop;
    QTimer::singleShot(std::chrono::milliseconds(ms), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

quint32 TWindowClock::tickCount()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return quint32(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}
