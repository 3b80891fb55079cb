#include "TestPrinters.h"

#include "catalogue/VersionInfo.h"

#include <gtest/gtest.h>

TEST(ParseVersionInfo, TakesLinesApartAtTheFirstSeparators)
{
    const struct
    {
        QString line;
        TVersionInfo expected; // HICID, version, descript, fileName
    } cases[] = {
        {R"(51563270_V1.2.0;Faster flashing\r\nNew LED codes)",
            {"51563270", "V1.2.0", "Faster flashing\r\nNew LED codes", "51563270_V1.2.0"}},
        // A space before ";" stays in the file name, so in the package name too.
        {"51563270_V1.2.0 ;notes", {"51563270", "V1.2.0", "notes", "51563270_V1.2.0 "}},
        {"51563270_V1_beta;x;y; z ", {"51563270", "V1_beta", "x;y; z", "51563270_V1_beta"}},
        {" 51563270 _ V2 ;  d  ", {" 51563270 ", "V2", "d", " 51563270 _ V2 "}},
        {"51563270_V3", {"51563270", "V3", "", "51563270_V3"}},
        {"NoUnderscore;text", {"NoUnderscore", "", "text", "NoUnderscore"}},
        {"", {"", "", "", ""}},
        {";only a description", {"", "", "only a description", ""}},
        {"_;", {"", "", "", "_"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line.toStdString());
        const TVersionInfo info = parseVersionInfo(c.line);
        EXPECT_EQ(info.HICID, c.expected.HICID);
        EXPECT_EQ(info.version, c.expected.version);
        EXPECT_EQ(info.descript, c.expected.descript);
        EXPECT_EQ(info.fileName, c.expected.fileName);
    }
}

TEST(ParseVersionInfo, ExpandsEscapedLineBreaksInTheDescriptionOnly)
{
    const struct
    {
        QString description;
        QString expected;
    } cases[] = {
        {R"(a\r\nb)", "a\r\nb"},
        {R"(a\R\Nb)", "a\r\nb"},
        {R"(a\r\Nb\R\nc)", "a\r\nb\r\nc"},
        {R"(a\nb)", R"(a\nb)"},
        {R"(a\rb)", R"(a\rb)"},
        {R"(a\r \nb)", R"(a\r \nb)"},
        {R"(\r\n\r\n)", "\r\n\r\n"},
        {R"(\\r\n)", "\\\r\n"},
        {R"(\r\r\n\n)", "\\r\r\n\\n"},
        {R"(\t\x)", R"(\t\x)"},
        // Trimmed before expanding: an escape at the end survives the trim.
        {R"( end\r\n)", "end\r\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.description.toStdString());
        const TVersionInfo info = parseVersionInfo(R"(1_\r\n;)" + c.description);
        EXPECT_EQ(info.descript, c.expected);
        EXPECT_EQ(info.version, R"(\r\n)");
    }
}

class CatalogueLines : public ::testing::Test
{
protected:
    const QStringList lines{
        "51563270_V1.0.0;first", // 0
        "AB12_V9;other probe", // 1
        "51563270_V1.1.0;second", // 2
        "51563270 _V7;space after the HIC ID", // 3
        " 51563270_V8;space before the HIC ID", // 4
        "51563270_V1.1.0;same version again", // 5
        "ab12_V10;other probe, other case", // 6
        "", // 7
        "51563270", // 8: no "_" at all, listed with an empty version
    };
};

TEST_F(CatalogueLines, ListsTheVersionsOfOneProbeModelInFileOrder)
{
    const struct
    {
        QString hicId;
        QStringList versions;
    } cases[] = {
        {"51563270", {"V1.0.0", "V1.1.0", "V1.1.0", ""}},
        {"AB12", {"V9", "V10"}},
        {"aB12", {"V9", "V10"}},
        {"", {""}},
        {"51563270 ", {"V7"}},
        {"5156327", {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.hicId.toStdString());
        EXPECT_EQ(versionsFor(c.hicId, lines), c.versions);
    }
}

TEST_F(CatalogueLines, EachListPositionLeadsToItsOwnLine)
{
    const struct
    {
        QString hicId;
        QList<int> indexes; // by list position
    } cases[] = {
        {"51563270", {0, 2, 5, 8}},
        {"ab12", {1, 6}},
        {"", {7}},
        {"nothing", {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.hicId.toStdString());
        ASSERT_EQ(versionsFor(c.hicId, lines).size(), c.indexes.size());
        for (int p = 0; p < c.indexes.size(); ++p)
            EXPECT_EQ(matchingLineIndex(p, lines, c.hicId), c.indexes[p]) << "position " << p;
        // A list left over from another probe asks beyond the matches.
        EXPECT_EQ(matchingLineIndex(int(c.indexes.size()), lines, c.hicId), -1);
        EXPECT_EQ(matchingLineIndex(-1, lines, c.hicId), -1);
    }
    // The two entries that show "V1.1.0" keep their own descriptions.
    EXPECT_EQ(parseVersionInfo(lines[matchingLineIndex(1, lines, "51563270")]).descript, "second");
    EXPECT_EQ(parseVersionInfo(lines[matchingLineIndex(2, lines, "51563270")]).descript, "same version again");
    EXPECT_EQ(matchingLineIndex(0, {}, "51563270"), -1);
}

// The headless command takes the entries in one walk; it must give what the
// window's per-position lookup gives, entry for entry.
TEST(CatalogueEntries, OneWalkGivesWhatEachListPositionLeadsTo)
{
    const struct
    {
        const char *name;
        QStringList lines;
    } catalogues[] = {
        {"empty", {}},
        {"mixed models",
         {"51563270_V1.0.0;first", "AB12_V9;other probe", "51563270_V1.1.0;second\\r\\nline",
          "51563270 _V7;space after", " 51563270_V8;space before", "ab12_V10;other case"}},
        {"duplicates", {"51563270_V1;a", "51563270_V1;b", "51563270_V1;a", "51563270_V1;a"}},
        {"blank lines", {"", "51563270_V1;x", "", ""}},
        {"bad lines",
         {";", "_", "51563270", "51563270;", "51563270_;x", "_51563270_V1;y", "51563270_V2;d;e",
          "51563270_V3 \\R\\N;z", "51563270_V4_beta"}},
    };
    const QString hicIds[] = {"51563270", "AB12", "ab12", "", "51563270 ", "nothing"};
    for (const auto &catalogue : catalogues) {
        for (const QString &hicId : hicIds) {
            SCOPED_TRACE(std::string(catalogue.name) + " / \"" + hicId.toStdString() + "\"");
            const QList<TVersionInfo> entries = entriesFor(hicId, catalogue.lines);
            const qsizetype count = versionsFor(hicId, catalogue.lines).size();
            ASSERT_EQ(entries.size(), count);
            for (int n = 0; n < count; ++n) {
                const int line = matchingLineIndex(n, catalogue.lines, hicId);
                const TVersionInfo expected = parseVersionInfo(catalogue.lines.at(line));
                EXPECT_EQ(entries[n].HICID, expected.HICID) << "entry " << n;
                EXPECT_EQ(entries[n].version, expected.version) << "entry " << n;
                EXPECT_EQ(entries[n].descript, expected.descript) << "entry " << n;
                EXPECT_EQ(entries[n].fileName, expected.fileName) << "entry " << n;
            }
        }
    }
}

TEST(CatalogueEntries, KeepsFileOrderAndEveryDuplicateLine)
{
    const QStringList lines{"51563270_V1;a", "AB12_V1;other", "51563270_V1;b", "", "51563270_V0;c\\r\\nd"};
    const QList<TVersionInfo> entries = entriesFor("51563270", lines);
    ASSERT_EQ(entries.size(), 3);
    EXPECT_EQ(entries[0].descript, "a");
    EXPECT_EQ(entries[1].descript, "b");
    EXPECT_EQ(entries[2].descript, "c\r\nd");
    EXPECT_EQ(entries[2].fileName, "51563270_V0");
    EXPECT_TRUE(entriesFor("nothing", lines).isEmpty());
}
