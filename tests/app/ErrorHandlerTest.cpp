#include "WindowFixture.h"

#include "app/ApplicationEvents.h"
#include "catalogue/DownloadLimits.h"
#include "catalogue/HTTPExceptions.h"
#include "common/Exceptions.h"

#include <QPushButton>

#include <new>
#include <stdexcept>

using ErrorHandlerTest = WindowFixture;

TEST_F(ErrorHandlerTest, NetworkErrorsAreRewrittenOthersShownUnchanged)
{
    const QString hostText = QStringLiteral("Host not found, please check you network!");
    const QString resourceText = QStringLiteral("Resource file not exit, please check you network");
    const struct
    {
        const char *error;
        QString shown;
    } cases[] = {
        {"Host not found.", hostText},
        {"Socket Error # 11001\r\nHost not found.", hostText},
        {"HTTP/1.1 404 Not Found", resourceText},
        {"Read 140404 of 200000 bytes", resourceText},
        {"404 and Host not found. both", hostText},
        {"Host not found", QStringLiteral("Host not found")},
        {"host not found.", QStringLiteral("host not found.")},
        {"HOST NOT FOUND.", QStringLiteral("HOST NOT FOUND.")},
        {"HTTP/1.1 500 Internal Server Error", QStringLiteral("HTTP/1.1 500 Internal Server Error")},
        {"40 4", QStringLiteral("40 4")},
        {"Invalid upgrade file!", QStringLiteral("Invalid upgrade file!")},
        {"", QString()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.error);
        boxes.shown.clear();
        window->ApplicationEvents1Exception(window.get(), Exception(QString::fromUtf8(c.error)));
        ASSERT_EQ(boxes.shown.size(), 1);
        EXPECT_EQ(boxes.shown[0].text, c.shown + QStringLiteral("    "));
    }
}

TEST_F(ErrorHandlerTest, EveryReportIsAnOkWarningCaptionedMessageOwnedByTheWindow)
{
    window->ApplicationEvents1Exception(nullptr, Exception(QStringLiteral("x")));
    ASSERT_EQ(boxes.shown.size(), 1);
    const auto &box = boxes.shown[0];
    EXPECT_EQ(box.caption, QStringLiteral("Message"));
    EXPECT_EQ(box.buttons, QList<QMessageBox::StandardButton>{QMessageBox::Ok});
    EXPECT_EQ(box.icon, QMessageBox::Warning);
    EXPECT_EQ(box.owner, window.get());
}

TEST_F(ErrorHandlerTest, ErrorsLeavingEntryPointsReachTheHandler)
{
    // Not only the tool's own errors: whatever escapes an entry point is reported.
    const struct
    {
        std::function<void()> raise;
        QString shown;
    } cases[] = {
        {[] { throw EWriteError(); }, QStringLiteral("Stream write error    ")},
        {[] { throw std::runtime_error("HTTP/1.1 404 Not Found"); },
         QStringLiteral("Resource file not exit, please check you network    ")},
        {[] { throw 42; }, QStringLiteral("Unknown error    ")},
        // Running out of memory reads as a sentence, never as a type name.
        {[] { throw std::bad_alloc(); }, QStringLiteral("Out of memory.    ")},
        {[] { throw std::bad_array_new_length(); }, QStringLiteral("Out of memory.    ")},
        {[] { throw std::length_error("basic_string::_M_create"); }, QStringLiteral("Out of memory.    ")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.shown.toStdString());
        boxes.shown.clear();
        guarded(window.get(), c.raise);
        ASSERT_EQ(boxes.shown.size(), 1);
        EXPECT_EQ(boxes.shown[0].text, c.shown);
        EXPECT_EQ(boxes.shown[0].owner, window.get());
    }
}

TEST_F(ErrorHandlerTest, DownloadLimitTextsAreShownAsRaised)
{
    const QString base = QStringLiteral("https://download.example/Download/qv58link/");
    const Exception errors[] = {
        EIdBodyTooLarge::announced(base + "filelist.txt", downloadLimits::CatalogueBytes),
        EIdBodyTooLarge::sent(base + "filelist.txt", downloadLimits::CatalogueBytes),
        EIdBodyTooLarge::announced(base + "51563270_V1.2.0.dat", downloadLimits::PackageBytes),
        EIdBodyTooLarge::sent(base + "51563270_V1.2.0.dat", downloadLimits::PackageBytes),
        // A package name the catalogue chose with the digits the handler looks for.
        EIdBodyTooLarge::sent(base + "40400001_V1.0.dat", downloadLimits::PackageBytes),
        EIdTooSlow(downloadLimits::LowSpeedBytesPerSecond, downloadLimits::LowSpeedSeconds),
    };
    for (const Exception &error : errors) {
        SCOPED_TRACE(error.what());
        boxes.shown.clear();
        guarded(window.get(), [&] { throw error; });
        ASSERT_EQ(boxes.shown.size(), 1);
        EXPECT_EQ(boxes.shown[0].text, error.message() + QStringLiteral("    "));
    }
}

TEST_F(ErrorHandlerTest, RefreshErrorFromAButtonIsReportedAndTheWindowStaysUsable)
{
    auto *refresh = child<QPushButton>("cxButton3");
    refresh->click();
    refresh->click();
    ASSERT_EQ(boxes.shown.size(), 2);
    EXPECT_EQ(boxes.shown[1].text, QStringLiteral("QV58-Link not detected, please check if it is connected    "));
    EXPECT_TRUE(refresh->isEnabled());
}

TEST(ApplicationEventsTest, NewestHookReceivesAndAFailingHookIsContained)
{
    TApplicationEvents outer;
    QStringList seen;
    outer.OnException = [&seen](QObject *, const std::exception &e) { seen << QStringLiteral("outer:") + e.what(); };
    {
        TApplicationEvents inner;
        inner.OnException = [](QObject *, const std::exception &) { throw std::runtime_error("hook broke"); };
        guarded(nullptr, [] { throw Exception(QStringLiteral("lost in the inner hook")); });
    }
    QObject sender;
    QObject *receivedSender = nullptr;
    outer.OnException = [&](QObject *s, const std::exception &e) {
        receivedSender = s;
        seen << QStringLiteral("outer:") + e.what();
    };
    guarded(&sender, [] { throw Exception(QStringLiteral("back to the outer")); });
    EXPECT_EQ(seen, QStringList{QStringLiteral("outer:back to the outer")});
    EXPECT_EQ(receivedSender, &sender);
}
