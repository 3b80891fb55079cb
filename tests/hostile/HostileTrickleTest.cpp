#include "HostileServer.h"

// The one case that takes the rate floor's whole window (a minute) by design,
// in an executable of its own so that it alone gets the longer time-out.
class HostileTrickle : public HostileServer
{
};

// The server answers at once, then hands out its body a few bytes every 20
// seconds: never silent long enough for the read timeout, far below the floor
// of 100 bytes a second. The download fails once the floor's window has
// passed, long before the announced body could have arrived.
TEST_F(HostileTrickle, ACatalogueTrickledInFailsAtTheRateFloor)
{
    const QByteArray header = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n";
    TScriptedAnswer trickle;
    trickle.bytes = header + QByteArray(header.size() * 10, 'x');
    trickle.pieceSize = int(header.size());
    trickle.pauseMs = 20000;
    trickle.after = TScriptedAnswer::Drop;
    server.answer(trickle);

    // The window is 60 seconds; twice that and more before it counts as a hang.
    const TFinished done = run(QStringLiteral("qv58link-flash"), {"versions"}, TMemory::Free, 150000);
    ASSERT_TRUE(done.ended) << done.transcript();
    EXPECT_EQ(done.code, 1) << done.transcript();
    EXPECT_EQ(done.err, "qv58link-flash: Download too slow: the server sent less than 100 bytes a second for 60 "
                        "seconds.\n");
    EXPECT_EQ(server.requests().size(), 1);
    expectNothingAstray();
}
