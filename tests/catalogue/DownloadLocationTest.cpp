#include "TestPrinters.h"

#include "catalogue/DownloadLocation.h"

#include <gtest/gtest.h>

class DownloadLocation : public ::testing::Test
{
protected:
    ~DownloadLocation() override
    {
        if (FHadOld)
            qputenv("QV58LINK_DOWNLOAD_URL", FOld);
        else
            qunsetenv("QV58LINK_DOWNLOAD_URL");
    }

private:
    QByteArray FOld = qgetenv("QV58LINK_DOWNLOAD_URL");
    bool FHadOld = qEnvironmentVariableIsSet("QV58LINK_DOWNLOAD_URL");
};

TEST_F(DownloadLocation, BuiltInLocationUnlessTheEnvironmentNamesOne)
{
    for (const char *unset : {static_cast<const char *>(""), static_cast<const char *>(nullptr)}) {
        if (unset)
            qputenv("QV58LINK_DOWNLOAD_URL", unset);
        else
            qunsetenv("QV58LINK_DOWNLOAD_URL");
        EXPECT_TRUE(baseUrl().startsWith("https://"));
        EXPECT_TRUE(baseUrl().endsWith("/Download/qv58link/"));
        EXPECT_EQ(fileListUrl(), baseUrl() + "filelist.txt");
    }

    qputenv("QV58LINK_DOWNLOAD_URL", "https://localhost:4433/mirror/");
    EXPECT_EQ(baseUrl(), "https://localhost:4433/mirror/");
    EXPECT_EQ(fileListUrl(), "https://localhost:4433/mirror/filelist.txt");
    // Plain concatenation: no separator added, nothing encoded.
    EXPECT_EQ(upgradeFileUrl("51563270_V1.2.0 .dat"), "https://localhost:4433/mirror/51563270_V1.2.0 .dat");
    qputenv("QV58LINK_DOWNLOAD_URL", "https://localhost:4433/x");
    EXPECT_EQ(upgradeFileUrl("a.dat"), "https://localhost:4433/xa.dat");
}
