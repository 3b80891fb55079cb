#include "ProjectVersion.h"
#include "tools/flash/FlashCommand.h"

#include <QCoreApplication>
#include <unistd.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qv58link-flash"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QStringList arguments = app.arguments().mid(1);
    const QString first = arguments.value(0);
    if (first == QLatin1String("--version") || first == QLatin1String("-v")) {
        out << "qv58link-flash " QV58_PROJECT_VERSION "\n";
        return feOk;
    }
    if (first == QLatin1String("--help") || first == QLatin1String("-h") || first == QLatin1String("help")) {
        out << flashUsage();
        return feOk;
    }
    return runFlashCommand(arguments, out, err, isatty(STDOUT_FILENO) == 1);
}
