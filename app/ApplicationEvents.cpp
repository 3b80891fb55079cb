#include "app/ApplicationEvents.h"

#include "common/ErrorText.h"
#include "common/Exceptions.h"

#include <QList>
#include <QtGlobal>

#include <new>

namespace {

QList<TApplicationEvents *> gHooks;

void dispatch(QObject *sender, const std::exception &error)
{
    TApplicationEvents *hook = gHooks.isEmpty() ? nullptr : gHooks.last();
    if (hook && hook->OnException)
        hook->OnException(sender, error);
    else
        qCritical("%s", qUtf8Printable(userMessageOf(error)));
}

} // namespace

TApplicationEvents::TApplicationEvents(QObject *parent)
    : QObject(parent)
{
    gHooks.append(this);
}

TApplicationEvents::~TApplicationEvents()
{
    gHooks.removeOne(this);
}

void TApplicationEvents::handleException(QObject *sender, std::exception_ptr error) noexcept
{
    try {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception &e) {
            dispatch(sender, e);
        } catch (...) {
            dispatch(sender, Exception(QStringLiteral("Unknown error")));
        }
    } catch (const std::bad_alloc &) {
        qCritical("Error while reporting an error: Out of memory.");
    } catch (const std::exception &e) {
        qCritical("Error while reporting an error: %s", e.what());
    } catch (...) {
        qCritical("Error while reporting an error");
    }
}
