#include "DetailsTestSupport.h"

#include "common/Exceptions.h"
#include "probe/PartName.h"
#include "probe/QV58LinkConfigFile.h"
#include "support/TestSystem.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString fullText = QStringLiteral("Beep Mode: OFF\n"
                                        "Target Power output: 5V\n"
                                        "HIC ID: 51560059\n"
                                        "QV58-LINK Mode: Interface\n"
                                        "Interface Version: V1.9\n"
                                        "Bootloader Version: V1.2\n");
const TDetails fullDetails{false, vo5V, "51560059", "Interface", "V1.9", "V1.2"};

TDetails with(void (*change)(TDetails &))
{
    TDetails d;
    change(d);
    return d;
}

struct ParseCase
{
    const char *name;
    QByteArray bytes;
    TDetails expected;
};

class ParseDetails : public ::testing::TestWithParam<ParseCase>
{
};

} // namespace

TEST_P(ParseDetails, FileGivesValues)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("DETAILS.txt"));
    writeWholeFile(path, GetParam().bytes);
    const TQV58LinkConfigFile parser(path);
    EXPECT_EQ(detailsOf(parser), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseDetails,
    ::testing::Values(
        ParseCase{"Empty", "", TDetails{}},
        ParseCase{"OnlyHicId", "HIC ID: 51563270", with([](TDetails &d) { d.HICID = "51563270"; })},
        ParseCase{"AllKeysLfOnly", fullText.toUtf8(), fullDetails},
        ParseCase{"Utf8BomCrLf", "\xEF\xBB\xBF" + fullText.toUtf8().replace("\n", "\r\n"), fullDetails},
        ParseCase{"Utf16LeBom", utf16le(fullText), fullDetails},
        ParseCase{"CrOnly", fullText.toUtf8().replace("\n", "\r"), fullDetails},
        ParseCase{"KeysInOtherCaseOrIndentedIgnored",
                  "hic id: 1\n HIC ID: 2\n\tInterface Version: V3\nBEEP MODE: OFF\nTarget Power Output: OFF\n",
                  TDetails{}},
        ParseCase{"ValueTrimmed", "HIC ID:   \t51563270\t \r\nQV58-LINK Mode:Bootloader",
                  with([](TDetails &d) {
                      d.HICID = "51563270";
                      d.mode = "Bootloader";
                  })},
        ParseCase{"ValueKeepsLaterColonsAndCase", "QV58-LINK Mode: boot: Loader \nInterface Version: v1.0-rc",
                  with([](TDetails &d) {
                      d.mode = "boot: Loader";
                      d.appVersion = "v1.0-rc";
                  })},
        ParseCase{"LastRepeatWins", "Interface Version: V1.0\nInterface Version: V2.0\nBeep Mode: OFF\nBeep Mode: ON",
                  with([](TDetails &d) {
                      d.appVersion = "V2.0";
                      d.beep = true;
                  })},
        ParseCase{"NulEndsTheText", QByteArray("Interface Version: V1\n\0HIC ID: 51563270\n", 40),
                  with([](TDetails &d) { d.appVersion = "V1"; })},
        ParseCase{"OtherLinesIgnored", "Serial: 123\nno colon here\n\n:\nHIC ID\n",
                  TDetails{}}),
    [](const ::testing::TestParamInfo<ParseCase> &info) { return std::string(info.param.name); });

TEST(DetailValues, BeepAndPower)
{
    const struct
    {
        const char *value;
        bool beep;
        TVoltageOutput power;
    } cases[] = {
        {"OFF", false, voNone}, {"off", false, voNone}, {"Off", false, voNone}, {"ON", true, vo33V},
        {"1", true, vo33V},     {"", true, vo33V},      {"5v", true, vo5V},     {"5V", true, vo5V},
        {"3.3V", true, vo33V},  {"12V", true, vo33V},   {" off ", false, voNone}, {"0FF", true, vo33V},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value);
        const QString value = QString::fromUtf8(c.value);
        EXPECT_EQ(parseBeep(QStringLiteral("Beep Mode:") + value), c.beep);
        EXPECT_EQ(parseVoltageOutput(QStringLiteral("Target Power output:") + value), c.power);
    }
}

TEST(DetailValues, KeyIndexAndValue)
{
    const struct
    {
        const char *line;
        int key;
        const char *value;
    } cases[] = {
        {"Beep Mode: ON", 0, "ON"},
        {"Target Power output: 3.3V", 1, "3.3V"},
        {"HIC ID:51563270", 2, "51563270"},
        {"QV58-LINK Mode: Interface", 3, "Interface"},
        {"Interface Version: V1.2", 4, "V1.2"},
        {"Bootloader Version:", 5, ""},
        {"Bootloader Version", 6, ""},
        {"", 6, ""},
        {" Beep Mode: ON", 6, "ON"},
        {"beep mode: ON", 6, "ON"},
        {"QV58-Link Mode: x", 6, "x"},
        {"HIC ID: a : b ", 2, "a : b"},
        {"xHIC ID: 1", 6, "1"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(keyIndexOf(QString::fromUtf8(c.line)), c.key);
        EXPECT_EQ(detailValue(QString::fromUtf8(c.line)), QString::fromUtf8(c.value));
    }
    EXPECT_EQ(detailKeys().size(), 6);
}

TEST(DetailsFile, MissingFileRaisesOpenErrorWithPathAndReason)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("DETAILS.txt"));
    try {
        TQV58LinkConfigFile parser(path);
        FAIL() << "no error";
    } catch (const EFOpenError &e) {
        EXPECT_EQ(e.message(), QStringLiteral("Cannot open file \"%1\". %2").arg(path, noSuchFileText()));
    }
}

TEST(PartName, ModelTable)
{
    const struct
    {
        const char *HICID;
        const char *name;
    } cases[] = {
        {"51563270", "QV58Link Mini"}, {"51560059", "QV58Link Max"}, {"", "unknow"},
        {"12345678", "unknow"},        {" 51560059", "unknow"},      {"5156005", "unknow"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.HICID);
        EXPECT_EQ(partNameOf(QString::fromUtf8(c.HICID)), QString::fromUtf8(c.name));
    }
}
