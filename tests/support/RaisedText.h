#pragma once

#include "common/Exceptions.h"

#include <QString>
#include <gtest/gtest.h>

#include <functional>
#include <typeinfo>

// The message of the E that action raises; a failure of the test when it
// raises another error or none.
template <class E>
QString raisedText(const std::function<void()> &action)
{
    try {
        action();
    } catch (const E &e) {
        return e.message();
    } catch (const Exception &e) {
        ADD_FAILURE() << "unexpected " << typeid(e).name() << ": " << e.what();
        return {};
    }
    ADD_FAILURE() << "no error raised";
    return {};
}
