#include "app/Application.h"
#include "app/ApplicationEvents.h"
#include "common/Exceptions.h"

#include <QEvent>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

// Raises from its event handler, as a window's handler might.
class TRaisingObject : public QObject
{
public:
    bool event(QEvent *event) override
    {
        if (event->type() == QEvent::User)
            throw Exception(QStringLiteral("raised while handling an event"));
        return QObject::event(event);
    }
};

} // namespace

TEST(ApplicationTest, AnErrorEscapingAnEventReachesTheHookAndTheLoopGoesOn)
{
    TApplicationEvents hook;
    QStringList seen;
    QList<QObject *> senders;
    hook.OnException = [&](QObject *sender, const std::exception &e) {
        senders << sender;
        seen << QString::fromUtf8(e.what());
    };
    TRaisingObject raiser;

    QEvent sent(QEvent::User);
    EXPECT_FALSE(QCoreApplication::sendEvent(&raiser, &sent));

    QCoreApplication::postEvent(&raiser, new QEvent(QEvent::User));
    bool loopWentOn = false;
    QTimer::singleShot(0, [&] {
        QTimer::singleShot(0, [&] {
            loopWentOn = true;
            QCoreApplication::quit();
        });
    });
    QCoreApplication::exec();

    EXPECT_TRUE(loopWentOn);
    EXPECT_EQ(seen, (QStringList{QStringLiteral("raised while handling an event"),
                                 QStringLiteral("raised while handling an event")}));
    EXPECT_EQ(senders, (QList<QObject *>{&raiser, &raiser}));
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
