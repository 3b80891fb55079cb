#pragma once

#include "app/wMain.h"
#include "support/ScriptedMessageBoxes.h"

#include <gtest/gtest.h>

#include <memory>

// A main window built as at start-up (no probe: the stub reports none), with
// every box answered by script. The start-up box is kept in startupBoxes and
// cleared from boxes.shown so each test sees only its own.
class WindowFixture : public ::testing::Test
{
protected:
    WindowFixture()
        : window(std::make_unique<TfrmMain>())
    {
        startupBoxes = boxes.shown;
        boxes.shown.clear();
    }

    template <typename T>
    T *child(const char *name) const
    {
        T *found = window->findChild<T *>(QLatin1String(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    ScriptedMessageBoxes boxes;
    std::unique_ptr<TfrmMain> window;
    QList<ScriptedMessageBoxes::Shown> startupBoxes;
};
