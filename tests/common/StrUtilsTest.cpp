#include "common/StrUtils.h"

#include <gtest/gtest.h>

TEST(Trim, RemovesControlAndBlankCharactersAtBothEndsOnly)
{
    const struct
    {
        QString in, out;
    } cases[] = {
        {"", ""},
        {"   ", ""},
        {"abc", "abc"},
        {" \t abc \t\r\n", "abc"},
        {QString(QChar(1)) + "a b" + QChar(31), "a b"},
        {QString(QChar(0)) + "x", "x"},
        {QString(QChar(0xA0)) + "x", QString(QChar(0xA0)) + "x"}, // 160 is above 32
        {"!x!", "!x!"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.in.toStdString());
        EXPECT_EQ(Trim(c.in), c.out);
    }
}

TEST(SameText, FoldsOnlyAsciiLetters)
{
    const struct
    {
        QString a, b;
        bool same;
    } cases[] = {
        {"", "", true},
        {"App", "aPP", true},
        {"QV58Link Mini", "qv58link mini", true},
        {"abc", "abcd", false},
        {"a", "", false},
        {QString::fromUtf8("\xC3\xA9"), QString::fromUtf8("\xC3\x89"), false}, // é vs É
        {"[", "{", false}, // differ by 0x20 but are not letters
        {"@", "`", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE((c.a + "|" + c.b).toStdString());
        EXPECT_EQ(sameText(c.a, c.b), c.same);
        EXPECT_EQ(sameText(c.b, c.a), c.same);
    }
}

TEST(SplitAtFirst, HeadUntrimmedTailTrimmed)
{
    const struct
    {
        QString text, sep, head, tail;
    } cases[] = {
        {"a;b", ";", "a", "b"},
        {" a ; b ; c ", ";", " a ", "b ; c"},
        {"no separator ", ";", "no separator ", ""},
        {"", ";", "", ""},
        {";", ";", "", ""},
        {"51563270_V1_beta", "_", "51563270", "V1_beta"},
        {"HIC ID:  \t51563270 ", ":", "HIC ID", "51563270"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        const SplitParts parts = splitAtFirst(c.text, c.sep);
        EXPECT_EQ(parts.head, c.head);
        EXPECT_EQ(parts.tail, c.tail);
    }
}
