#include "common/ProcessStart.h"
#include "platform/DriveList.h"
#include "tools/flash/FlashCommand.h"

#include <QCoreApplication>
#include <unistd.h>

int main(int argc, char **argv)
{
    prepareProcess();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qv58link-flash"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    TCommandContext context{out, err, isatty(STDOUT_FILENO) == 1, driveList()};
    return runFlashCommand(app.arguments().mid(1), context);
}
