#include "ScriptedTlsServer.h"
#include "TestPrinters.h"

#include "catalogue/Catalogue.h"
#include "catalogue/HTTPClient.h"
#include "catalogue/HTTPExceptions.h"

#include <gtest/gtest.h>

class DownloadLines : public ::testing::Test
{
protected:
    DownloadLines() { trusted.trust(server.certificatePem()); }

    TScriptedTlsServer server;
    TTrustedCertificate trusted;
    THTTPClient http;
};

TEST_F(DownloadLines, ReplacesTheListWithTheDecodedLines)
{
    const struct
    {
        const char *name;
        QByteArray body;
        QStringList lines;
    } cases[] = {
        {"UTF-8 mark, mixed line ends", "\xEF\xBB\xBF" "a_1;\xC3\xA9\r\nb_2;x\rc_3;y\n\nd_4;z\r\n",
            {"a_1;\xC3\xA9", "b_2;x", "c_3;y", "", "d_4;z"}},
        {"UTF-16 LE mark", QByteArray("\xFF\xFE" "a\0_\0" "1\0\n\0", 10), {"a_1"}},
        {"LF CR is two line ends", "a_1;x\n\rb_2;y", {"a_1;x", "", "b_2;y"}},
        {"NUL ends the text", QByteArray("a_1;x\nb_2\0;y\nc_3", 16), {"a_1;x", "b_2"}},
        {"empty", "", {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        server.answer(httpAnswer("200 OK", c.body));
        QStringList lines{"left from before"};
        EXPECT_TRUE(downloadLines(http, server.url("/Download/qv58link/filelist.txt"), lines));
        EXPECT_EQ(lines, c.lines);
    }
}

TEST_F(DownloadLines, FailedDownloadKeepsTheListAndPassesTheError)
{
    server.answer(httpAnswer("404 Not Found", "gone"));
    QStringList lines{"a_1;kept"};
    try {
        downloadLines(http, server.url("/Download/qv58link/filelist.txt"), lines);
        ADD_FAILURE() << "no error raised";
    } catch (const EIdHTTPProtocolException &e) {
        EXPECT_EQ(e.message(), "HTTP/1.1 404 Not Found");
    }
    EXPECT_EQ(lines, QStringList{"a_1;kept"});
}
