#include "common/TextFile.h"
#include "support/TestSystem.h"

#include <gtest/gtest.h>

namespace {

QByteArray utf16le(const QString &text)
{
    QByteArray bytes("\xFF\xFE", 2);
    for (QChar c : text) {
        bytes.append(char(c.unicode() & 0xFF));
        bytes.append(char(c.unicode() >> 8));
    }
    return bytes;
}

QByteArray utf16be(const QString &text)
{
    QByteArray bytes("\xFE\xFF", 2);
    for (QChar c : text) {
        bytes.append(char(c.unicode() >> 8));
        bytes.append(char(c.unicode() & 0xFF));
    }
    return bytes;
}

} // namespace

TEST(DecodeTextLines, EncodingsAndLineEnds)
{
    const QString e = QString::fromUtf8("\xC3\xA9"); // é
    const struct
    {
        const char *name;
        QByteArray bytes;
        QStringList lines;
    } cases[] = {
        {"empty", QByteArray(), {}},
        {"one line, no end", "abc", {"abc"}},
        {"final LF adds no line", "a\nb\n", {"a", "b"}},
        {"CR LF", "a\r\nb\r\n", {"a", "b"}},
        {"CR alone", "a\rb\r", {"a", "b"}},
        {"LF CR is two ends", "a\n\rb", {"a", "", "b"}},
        {"line ends only", "\n\n", {"", ""}},
        {"single CR LF", "\r\n", {""}},
        {"NUL ends the text", QByteArray("a\nb\0c\nd", 7), {"a", "b"}},
        {"NUL first", QByteArray("\0abc", 4), {}},
        {"UTF-8 BOM", "\xEF\xBB\xBF" "caf\xC3\xA9\r\nx", {"caf" + e, "x"}},
        {"UTF-16 LE BOM", utf16le("caf" + e + "\r\nx\n"), {"caf" + e, "x"}},
        {"UTF-16 BE BOM", utf16be("caf" + e + "\rx"), {"caf" + e, "x"}},
        {"UTF-16 LE NUL", utf16le(QString("a") + QChar(0) + "b"), {"a"}},
        {"BOM only", "\xEF\xBB\xBF", {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decodeTextLines(c.bytes), c.lines);
    }
}

TEST(DecodeText, WithoutMarkUsesTheMachinesCodePage)
{
    // A mark that is not at the very start is ordinary text.
    switch (textCodePage()) {
    case 65001: // the Linux tests' UTF-8 locale
        EXPECT_EQ(decodeText("caf\xC3\xA9"), QString::fromUtf8("caf\xC3\xA9"));
        EXPECT_EQ(decodeText("x\xEF\xBB\xBF"), QString::fromUtf8("x\xEF\xBB\xBF"));
        break;
    case 1252: // Windows in English and most of western Europe
        EXPECT_EQ(decodeText("caf\xE9"), QString::fromUtf8("caf\xC3\xA9"));
        EXPECT_EQ(decodeText("x\xEF\xBB\xBF"), QString::fromUtf8("x\xC3\xAF\xC2\xBB\xC2\xBF"));
        EXPECT_EQ(decodeText("\x80 5"), QString::fromUtf8("\xE2\x82\xAC 5"));
        break;
    default:
        GTEST_SKIP() << "no expectations for code page " << textCodePage();
    }
}
