#include "common/FileIO.h"
#include "tools/flash/Commands.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

QString sourceText(const char *relative)
{
    return QString::fromUtf8(readWholeFile(QStringLiteral(QV58_SOURCE_DIR "/") + QLatin1String(relative)));
}

// The words, sorted and one blank apart, as the failure shows them.
std::string wordsOf(QStringList words)
{
    words.sort();
    words.removeDuplicates();
    return words.join(u' ').toStdString();
}

// The text from the line that starts with start up to the next line that
// starts with one of the ends, or to the end.
QString sectionOf(const QString &text, const QString &start, const QStringList &ends)
{
    const qsizetype from = text.indexOf(u'\n' + start);
    if (from < 0)
        return QString();
    qsizetype to = text.size();
    for (const QString &end : ends) {
        const qsizetype at = text.indexOf(u'\n' + end, from + 1 + start.size());
        if (at >= 0)
            to = std::min(to, at);
    }
    return text.mid(from + 1, to - from - 1);
}

} // namespace

// The completion offers exactly the registry's commands and each command's
// own options, so a command or an option added or removed shows up here.
TEST(FlashDocs, CompletionOffersEveryCommandAndItsOptions)
{
    const QString script = sourceText("data/bash-completion/qv58link-flash");
    const QRegularExpressionMatch first =
        QRegularExpression(R"re(-eq 1 \]; then\s*COMPREPLY=\(\$\(compgen -W "([^"]*)")re").match(script);
    ASSERT_TRUE(first.hasMatch()) << script.toStdString();
    QStringList expected{"help", "--help", "--version"};
    for (const auto &command : makeFlashCommands())
        expected.append(command->name());
    EXPECT_EQ(wordsOf(first.captured(1).split(u' ', Qt::SkipEmptyParts)), wordsOf(expected));

    for (const auto &command : makeFlashCommands()) {
        SCOPED_TRACE(command->name().toStdString());
        const QRegularExpressionMatch branch =
            QRegularExpression("\n\\s*" + QRegularExpression::escape(command->name())
                               + R"re(\)\s*COMPREPLY=\(\$\(compgen -W "([^"]*)")re")
                .match(script);
        ASSERT_TRUE(branch.hasMatch());
        QStringList options{"--help"};
        for (const QCommandLineOption &option : command->options())
            options.append("--" + option.names().first());
        EXPECT_EQ(wordsOf(branch.captured(1).split(u' ', Qt::SkipEmptyParts)), wordsOf(options));
    }
}

// The manual page gives every command a synopsis line naming all its
// options, and an entry under COMMANDS that describes each of them.
TEST(FlashDocs, ManualPageDescribesEveryCommandAndOption)
{
    const QString page = sourceText("data/man/qv58link-flash.1.in");
    const QString synopsis = sectionOf(page, ".SH SYNOPSIS", {".SH"});
    const QString commands = sectionOf(page, ".SH COMMANDS", {".SH"});
    for (const auto &command : makeFlashCommands()) {
        SCOPED_TRACE(command->name().toStdString());
        const QString line = sectionOf(synopsis, ".B qv58link-flash " + command->name() + u'\n', {".br", ".SH"});
        const QString entry = sectionOf(commands, ".B " + command->name() + u'\n', {".TP", ".SH"});
        ASSERT_FALSE(line.isEmpty()) << synopsis.toStdString();
        ASSERT_FALSE(entry.isEmpty()) << commands.toStdString();
        for (const QCommandLineOption &option : command->options()) {
            const QString spelled = "\\-\\-" + option.names().first();
            EXPECT_TRUE(line.contains(spelled)) << spelled.toStdString() << " in\n" << line.toStdString();
            EXPECT_TRUE(entry.contains(spelled)) << spelled.toStdString() << " in\n" << entry.toStdString();
            if (!option.valueName().isEmpty()) {
                EXPECT_TRUE(line.contains(option.valueName())) << option.valueName().toStdString();
            }
        }
    }
}
