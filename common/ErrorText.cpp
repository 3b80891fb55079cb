#include "common/ErrorText.h"

#include "common/Exceptions.h"

#include <new>
#include <stdexcept>

QString userMessageOf(const std::exception &error)
{
    if (const auto *own = dynamic_cast<const Exception *>(&error))
        return own->message();
    // A literal's text is static data: this needs no memory of its own.
    if (dynamic_cast<const std::bad_alloc *>(&error) || dynamic_cast<const std::length_error *>(&error))
        return QStringLiteral("Out of memory.");
    return QString::fromUtf8(error.what());
}

QString userMessageOf(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception &e) {
        return userMessageOf(e);
    } catch (...) {
        return QStringLiteral("Unknown error.");
    }
}
