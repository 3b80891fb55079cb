#include "HostileServer.h"

#include "catalogue/DownloadLimits.h"

#include <QJsonObject>

namespace {

const QByteArray CatalogueRequest = "GET /Download/qv58link/filelist.txt HTTP/1.1";
const QByteArray PackageRequest = "GET /Download/qv58link/51563270_V1.10.dat HTTP/1.1";
const QByteArray TwoGiB = "2147483648";

QString announcedTooMuch(qint64 limit, const QString &name)
{
    return QStringLiteral("Download too large: the server announced more than the %1 bytes allowed for \"%2\".")
        .arg(limit)
        .arg(name);
}

QString sentTooMuch(qint64 limit, const QString &name)
{
    return QStringLiteral("Download too large: the server sent more than the %1 bytes allowed for \"%2\".")
        .arg(limit)
        .arg(name);
}

// A body that goes on as long as anyone reads it, in blocks of 64 KiB.
QByteArray endlessBlock(const QByteArray &line)
{
    QByteArray block;
    while (block.size() + line.size() <= 64 * 1024)
        block += line;
    return block;
}

QByteArray chunk(const QByteArray &data)
{
    return QByteArray::number(data.size(), 16) + "\r\n" + data + "\r\n";
}

TScriptedAnswer answer(const QByteArray &bytes, TScriptedAnswer::TAfter after, const QByteArray &endless = {})
{
    TScriptedAnswer scripted;
    scripted.bytes = bytes;
    scripted.after = after;
    scripted.endless = endless;
    return scripted;
}

struct TServerCase
{
    const char *id;
    bool install; // the package is asked for after the catalogue; else only the catalogue
    QList<TScriptedAnswer> script;
    QString message;
};

void PrintTo(const TServerCase &c, std::ostream *os)
{
    *os << c.id;
}

const QList<TServerCase> &serverCases()
{
    static const QList<TServerCase> cases{
        {"CatalogueAnnouncesTwoGiB",
         false,
         {answer("HTTP/1.1 200 OK\r\nContent-Length: " + TwoGiB + "\r\n\r\n51563270_V1.10;Faster SWD\r\n",
                 TScriptedAnswer::Stall)},
         announcedTooMuch(downloadLimits::CatalogueBytes, "filelist.txt")},
        {"CatalogueChunkedWithoutEnd",
         false,
         {answer("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", TScriptedAnswer::Drop,
                 chunk(endlessBlock("51563270_V1.10;Faster SWD\r\n")))},
         sentTooMuch(downloadLimits::CatalogueBytes, "filelist.txt")},
        {"PackageAnnouncesTwoGiB",
         true,
         {answer(goodCatalogue(), TScriptedAnswer::Close),
          answer("HTTP/1.1 200 OK\r\nContent-Length: " + TwoGiB + "\r\n\r\nQV58", TScriptedAnswer::Stall)},
         announcedTooMuch(downloadLimits::PackageBytes, "51563270_V1.10.dat")},
        {"PackageBodyWithoutEnd",
         true,
         {answer(goodCatalogue(), TScriptedAnswer::Close),
          answer("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n", TScriptedAnswer::Drop,
                 endlessBlock("QV58-LINK firmware, again and again. "))},
         sentTooMuch(downloadLimits::PackageBytes, "51563270_V1.10.dat")},
    };
    return cases;
}

} // namespace

class HostileDownload : public HostileServer, public ::testing::WithParamInterface<TServerCase>
{
};

// A download the server makes huge, by its word or by its sending, fails
// with its ceiling named, soon and within bounded memory; nothing is asked
// again and nothing reaches the probe.
TEST_P(HostileDownload, FailsAtItsCeilingInBoundedTimeAndMemory)
{
    const TServerCase &c = GetParam();
    for (const TScriptedAnswer &scripted : c.script)
        server.answer(scripted);

    const QStringList command = c.install ? QStringList{"install", "--json"} : QStringList{"versions"};
    const TFinished done = run(QStringLiteral("qv58link-flash"), command, TMemory::Bounded);
    ASSERT_TRUE(done.ended) << done.transcript();
    EXPECT_EQ(done.code, 1) << done.transcript();
    if (c.install) {
        const QJsonArray results = jsonArray(done);
        ASSERT_EQ(results.size(), 1) << done.transcript();
        EXPECT_EQ(results.at(0).toObject().value("result").toString(), "fail");
        EXPECT_EQ(results.at(0).toObject().value("message").toString(), c.message);
        EXPECT_EQ(requestLines(), (QList<QByteArray>{CatalogueRequest, PackageRequest}));
    } else {
        EXPECT_EQ(QString::fromUtf8(done.err), QStringLiteral("qv58link-flash: ") + c.message + u'\n');
        EXPECT_EQ(requestLines(), QList<QByteArray>{CatalogueRequest});
    }
    expectBoundedMemory(done);
    EXPECT_EQ(QDir(path(QStringLiteral("drives/A"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{QStringLiteral("DETAILS.txt")});
    expectNothingAstray();
}

INSTANTIATE_TEST_SUITE_P(, HostileDownload, ::testing::ValuesIn(serverCases()),
                         [](const ::testing::TestParamInfo<TServerCase> &info) { return std::string(info.param.id); });
