#include "tools/flash/FlashCommand.h"

#include "ProjectVersion.h"
#include "tools/flash/CommandSupport.h"
#include "tools/flash/Commands.h"

#include <algorithm>

namespace {

const QString Program = QStringLiteral("qv58link-flash");
const QString HelpWord = QStringLiteral("help");

const char ExitCodes[] = "Exit codes: 0 every probe succeeded; 1 at least one failed or was refused;\n"
                         "2 bad command line; 3 no probe found.\n";

QCommandLineOption helpOption()
{
    return QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Displays this help."));
}

QCommandLineOption versionOption()
{
    return QCommandLineOption({QStringLiteral("v"), QStringLiteral("version")},
                              QStringLiteral("Displays version information."));
}

QString spelled(const QCommandLineOption &option)
{
    QStringList names;
    for (const QString &name : option.names())
        names.append((name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name);
    QString text = names.join(QStringLiteral(", "));
    if (!option.valueName().isEmpty())
        text += u' ' + option.valueName();
    return text;
}

// Two columns, the left one as wide as its widest entry.
QString columns(const QList<QPair<QString, QString>> &rows)
{
    qsizetype width = 0;
    for (const auto &row : rows)
        width = std::max(width, row.first.size());
    QString text;
    for (const auto &row : rows)
        text += QStringLiteral("  ") + row.first.leftJustified(width + 2) + row.second + u'\n';
    return text;
}

QString optionTable(const QList<QCommandLineOption> &options)
{
    QList<QPair<QString, QString>> rows;
    for (const QCommandLineOption &option : options)
        rows.append({spelled(option), option.description()});
    return columns(rows);
}

QString commandNames(const std::vector<std::unique_ptr<TCommand>> &commands)
{
    QStringList names;
    for (const auto &command : commands)
        names.append(command->name());
    const QString last = names.takeLast();
    return names.isEmpty() ? last : names.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

// The name the user typed an option under: no dashes, no "=value".
QString typedName(const QString &argument)
{
    QString name = argument.mid(argument.startsWith(QStringLiteral("--")) ? 2 : 1);
    if (const qsizetype eq = name.indexOf(u'='); eq >= 0)
        name.truncate(eq);
    return name;
}

// What is wrong with a command line QCommandLineParser refused, in this
// program's words: an option the command (or, without one, the program) does
// not take, a value given to an option without one, or a value missing after
// the last argument.
QString refusal(const QCommandLineParser &parser, const QStringList &arguments, const QList<QCommandLineOption> &options,
                const TCommand *command)
{
    const QStringList unknown = parser.unknownOptionNames();
    for (const QString &argument : arguments) {
        if (argument == QLatin1String("--"))
            break;
        if (!argument.startsWith(u'-') || argument == QLatin1String("-"))
            continue;
        const QString name = typedName(argument);
        if (unknown.contains(name)) {
            return command ? QStringLiteral("%1 does not take \"%2\"").arg(command->name(), argument)
                           : QStringLiteral("unknown option \"%1\"").arg(argument);
        }
        const bool flag = std::any_of(options.begin(), options.end(), [&](const QCommandLineOption &option) {
            return option.valueName().isEmpty() && option.names().contains(name);
        });
        if (flag && argument.contains(u'='))
            return QStringLiteral("%1 takes no value").arg(argument.left(argument.indexOf(u'=')));
    }
    return QStringLiteral("%1 needs a value").arg(arguments.isEmpty() ? QString() : arguments.last());
}

// The checks every command gets from what it declares.
void checkValues(const QCommandLineParser &parser, const TCommand &command)
{
    if (!parser.positionalArguments().isEmpty())
        throw TUsageError{QStringLiteral("%1 does not take \"%2\"").arg(command.name(), parser.positionalArguments().first())};
    for (const QCommandLineOption &option : command.options()) {
        if (option.valueName().isEmpty() || !parser.isSet(option))
            continue;
        if (parser.values(option).contains(QString()))
            throw TUsageError{QStringLiteral("--%1 needs a value").arg(option.names().first())};
    }
    for (const auto &[first, second] : command.exclusions()) {
        if (parser.isSet(first) && parser.isSet(second))
            throw TUsageError{QStringLiteral("--%1 and --%2 exclude each other").arg(first, second)};
    }
}

void prepare(QCommandLineParser &parser)
{
    // One dash names a whole option ("-json"), never a run of one-letter ones.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
}

} // namespace

QString commandSynopsis(const TCommand &command)
{
    const QList<QCommandLineOption> options = command.options();
    const QList<QPair<QString, QString>> exclusions = command.exclusions();
    QStringList done;
    QStringList parts;
    for (const QCommandLineOption &option : options) {
        const QString name = option.names().first();
        if (done.contains(name))
            continue;
        QString part = spelled(option);
        for (const auto &[first, second] : exclusions) {
            const QString other = first == name ? second : second == name ? first : QString();
            for (const QCommandLineOption &partner : options) {
                if (!other.isEmpty() && partner.names().first() == other) {
                    part += QStringLiteral(" | ") + spelled(partner);
                    done.append(other);
                }
            }
        }
        parts.append(u'[' + part + u']');
    }
    return parts.join(u' ');
}

QString flashUsage()
{
    QString text = QStringLiteral("Usage: %1 <command> [options]\n"
                                  "Flashes QV58-LINK probes without a window: for scripts, labs and many probes at once.\n"
                                  "\n"
                                  "Commands:\n")
                       .arg(Program);
    for (const auto &command : makeFlashCommands()) {
        text += QStringLiteral("  ") + (command->name() + u' ' + commandSynopsis(*command)).trimmed() + u'\n';
        text += QStringLiteral("      ") + command->description() + u'\n';
    }
    text += QStringLiteral("\nOptions:\n") + optionTable({helpOption(), versionOption()});
    text += QStringLiteral("\n\"%1 <command> --help\" or \"%1 help <command>\" shows a command's options.\n").arg(Program);
    return text + QLatin1String(ExitCodes);
}

QString commandUsage(const TCommand &command)
{
    QString text = QStringLiteral("Usage: %1 %2\n").arg(Program, (command.name() + u' ' + commandSynopsis(command)).trimmed());
    text += command.description() + QStringLiteral("\n\nOptions:\n");
    text += optionTable(command.options() << helpOption());
    return text + u'\n' + QLatin1String(ExitCodes);
}

int runFlashCommand(const QStringList &arguments, TCommandContext &context)
{
    const std::vector<std::unique_ptr<TCommand>> commands = makeFlashCommands();
    const auto find = [&](const QString &name) -> TCommand * {
        for (const auto &command : commands) {
            if (command->name() == name)
                return command.get();
        }
        throw TUsageError{QStringLiteral("unknown command \"%1\"").arg(name)};
    };
    // The usage shown with an error: the command's once it is known.
    const TCommand *usageOf = nullptr;
    try {
        // Options before the command are the program's; everything from the
        // command on is the command's ("install --version V").
        QCommandLineParser top;
        prepare(top);
        top.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
        const QList<QCommandLineOption> programOptions{helpOption(), versionOption()};
        top.addOptions(programOptions);
        if (!top.parse(QStringList{Program} + arguments))
            throw TUsageError{refusal(top, arguments, programOptions, nullptr)};
        if (top.isSet(helpOption())) {
            context.out << flashUsage();
            return feOk;
        }
        if (top.isSet(versionOption())) {
            context.out << Program << " " QV58_PROJECT_VERSION "\n";
            return feOk;
        }
        const QStringList words = top.positionalArguments();
        if (words.isEmpty())
            throw TUsageError{QStringLiteral("a command is needed: %1").arg(commandNames(commands))};

        if (words.first() == HelpWord) {
            if (words.size() == 1) {
                context.out << flashUsage();
                return feOk;
            }
            if (words.size() > 2)
                throw TUsageError{QStringLiteral("%1 does not take \"%2\"").arg(HelpWord, words.at(2))};
            context.out << commandUsage(*find(words.at(1)));
            return feOk;
        }

        TCommand &command = *find(words.first());
        usageOf = &command;
        const QStringList rest = words.mid(1);
        QCommandLineParser parser;
        prepare(parser);
        const QList<QCommandLineOption> options = command.options() << helpOption();
        parser.addOptions(options);
        if (!parser.parse(QStringList{Program} + rest))
            throw TUsageError{refusal(parser, rest, options, &command)};
        if (parser.isSet(helpOption())) {
            context.out << commandUsage(command);
            return feOk;
        }
        checkValues(parser, command);
        try {
            return command.run(parser, context);
        } catch (...) {
            context.err << Program << ": " << shown(messageOf(std::current_exception())) << "\n";
            return feFailed;
        }
    } catch (const TUsageError &error) {
        context.err << Program << ": " << shown(error.text) << "\n" << (usageOf ? commandUsage(*usageOf) : flashUsage());
        return feUsage;
    }
}
