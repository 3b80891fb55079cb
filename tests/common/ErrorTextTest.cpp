#include "common/ErrorText.h"
#include "common/Exceptions.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>

// What the user reads for each kind of error, whether it is handed over as
// it is or caught in flight: never a C++ type name.
TEST(UserMessage, EachKindOfErrorHasItsText)
{
    const struct
    {
        const char *name;
        std::function<void()> raise;
        QString text;
    } cases[] = {
        {"own", [] { throw Exception(QStringLiteral("Invalid upgrade file!")); }, "Invalid upgrade file!"},
        {"own, derived", [] { throw ERangeError(); }, "Range check error"},
        {"bad_alloc", [] { throw std::bad_alloc(); }, "Out of memory."},
        {"length_error", [] { throw std::length_error("vector::reserve"); }, "Out of memory."},
        {"other standard", [] { throw std::runtime_error("Broken pipe"); }, "Broken pipe"},
        {"not a std::exception", [] { throw 42; }, "Unknown error."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        try {
            c.raise();
            ADD_FAILURE() << "nothing raised";
        } catch (const std::exception &e) {
            EXPECT_EQ(userMessageOf(e), c.text);
            EXPECT_EQ(userMessageOf(std::current_exception()), c.text);
        } catch (...) {
            EXPECT_EQ(userMessageOf(std::current_exception()), c.text);
        }
    }
}
