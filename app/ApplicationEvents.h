#pragma once

#include <QObject>

#include <exception>
#include <functional>

// The application-wide hook for errors nothing else handles. Event handlers,
// timer ticks and window creation run through guarded(), and the application
// object catches whatever still escapes an event, so no exception ever crosses
// Qt's event loop. The newest hook alive receives the errors.
class TApplicationEvents : public QObject
{
    Q_OBJECT

public:
    using TExceptionEvent = std::function<void(QObject *Sender, const std::exception &E)>;

    explicit TApplicationEvents(QObject *parent = nullptr);
    ~TApplicationEvents() override;

    TExceptionEvent OnException;

    // Passes the error to the current hook. Never throws: an error without a
    // hook, or one raised by the hook itself, is written to stderr.
    static void handleException(QObject *sender, std::exception_ptr error) noexcept;
};

// Runs one entry point from the event loop and hands any error it raises to
// the application-wide hook.
template <typename F>
void guarded(QObject *sender, F &&entryPoint) noexcept
{
    try {
        entryPoint();
    } catch (...) {
        TApplicationEvents::handleException(sender, std::current_exception());
    }
}
