#include "IntelHex.h"
#include "ProjectVersion.h"
#include "ProbeSimulator.h"
#include "common/Exceptions.h"
#include "common/FileIO.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>

namespace {

const char *const description = R"(Plays the QV58-LINK probe on a folder, which stands in for its drive: the
drive is present while the folder exists. Point the tool at it with
QV58LINK_DRIVES=DIR (several folders separated by ":").

At start the folder is created (or emptied of the probe's own files) and
DETAILS.txt is written from the options. Then, file names matched in any
letter case, and only once their writer has closed them:
  START_BL.ACT  the probe restarts: the folder is removed at once and comes
                back after --restart-ms in bootloader mode (--boot-mode).
  upgrade.Hex   in bootloader mode, the image is checked as Intel HEX (record
                syntax, checksums, an end record); the probe restarts and
                comes back in normal mode with --new-version, or, when the
                image is bad or --fail is given, still in bootloader mode with
                Fail.txt in the folder. In normal mode it is ignored.
A restart removes every file in the folder, as the probe's volume forgets
them. The folders given must not hold anything but the probe's files.

One line per event on standard output:
  present DIR mode=M version=V      the drive is there with DETAILS.txt
  seen NAME                         a trigger file was closed by its writer
  ignored NAME: REASON
  image bytes=N md5=HEX             what the image file held
  hex ok records=N | hex bad: REASON
  installed version=V
  failed: Fail.txt left in DIR      (printed before the present line)
  gone DIR for N ms | gone DIR for good
  note: TEXT | error: TEXT          (an error ends the run with code 1)
  stopped                           SIGINT or SIGTERM; the folder is left as is

Exit codes: 0 after a signal, 1 on an error, 2 on bad options.)";

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qv58link-probe-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QV58_PROJECT_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(description));
    parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const TProbeSimOptions defaults;
    const QCommandLineOption drive(QStringLiteral("drive"),
                                   QStringLiteral("The folder that is the probe's drive (required)."),
                                   QStringLiteral("DIR"));
    const QCommandLineOption returnTo(QStringLiteral("return-to"),
                                      QStringLiteral("Come back from the restarts under this folder instead, "
                                                     "as a drive with another letter."),
                                      QStringLiteral("DIR"));
    const QCommandLineOption hicId(QStringLiteral("hic-id"), QStringLiteral("HIC ID (default %1).").arg(defaults.HICID),
                                   QStringLiteral("ID"), defaults.HICID);
    const QCommandLineOption mode(QStringLiteral("mode"),
                                  QStringLiteral("Mode text in normal operation (default %1).").arg(defaults.mode),
                                  QStringLiteral("TEXT"), defaults.mode);
    const QCommandLineOption bootMode(QStringLiteral("boot-mode"),
                                      QStringLiteral("Mode text in the bootloader (default %1).")
                                          .arg(defaults.bootMode),
                                      QStringLiteral("TEXT"), defaults.bootMode);
    const QCommandLineOption appVersion(QStringLiteral("app-version"),
                                        QStringLiteral("Interface version (default %1).").arg(defaults.appVersion),
                                        QStringLiteral("V"), defaults.appVersion);
    const QCommandLineOption bootVersion(QStringLiteral("boot-version"),
                                         QStringLiteral("Bootloader version (default %1).").arg(defaults.bootVersion),
                                         QStringLiteral("V"), defaults.bootVersion);
    const QCommandLineOption newVersion(QStringLiteral("new-version"),
                                        QStringLiteral("Interface version after an install (default: unchanged)."),
                                        QStringLiteral("V"));
    const QCommandLineOption newBootVersion(QStringLiteral("new-boot-version"),
                                            QStringLiteral("Bootloader version after an install (default: unchanged)."),
                                            QStringLiteral("V"));
    const QCommandLineOption power(QStringLiteral("power"),
                                   QStringLiteral("Target power output: OFF, 3.3V or 5V (default %1).")
                                       .arg(defaults.power),
                                   QStringLiteral("P"), defaults.power);
    const QCommandLineOption beep(QStringLiteral("beep"),
                                  QStringLiteral("Beep mode: ON or OFF (default %1).").arg(defaults.beep),
                                  QStringLiteral("B"), defaults.beep);
    const QCommandLineOption restartMs(QStringLiteral("restart-ms"),
                                       QStringLiteral("How long a restart keeps the drive away (default %1).")
                                           .arg(defaults.restartMs),
                                       QStringLiteral("N"), QString::number(defaults.restartMs));
    const QCommandLineOption fail(QStringLiteral("fail"), QStringLiteral("Refuse every image, leaving Fail.txt."));
    const QCommandLineOption returnLate(QStringLiteral("return-late"),
                                        QStringLiteral("Stay away --late-ms instead, past the tool's wait."));
    const QCommandLineOption lateMs(QStringLiteral("late-ms"),
                                    QStringLiteral("How long a late restart takes (default %1).").arg(defaults.lateMs),
                                    QStringLiteral("N"), QString::number(defaults.lateMs));
    const QCommandLineOption neverReturn(QStringLiteral("never-return"),
                                         QStringLiteral("Never come back from a restart."));
    const QCommandLineOption from(QStringLiteral("misbehave-from"),
                                  QStringLiteral("First restart that --return-to, --return-late or --never-return applies to: "
                                                 "1 is the restart into the bootloader, 2 the one after the "
                                                 "install (default 1)."),
                                  QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption writeImage(QStringLiteral("write-image"),
                                        QStringLiteral("Write a firmware image this probe accepts (Intel HEX) to FILE "
                                                       "and exit; no probe is played."),
                                        QStringLiteral("FILE"));
    const QCommandLineOption imageBytes(QStringLiteral("image-bytes"),
                                        QStringLiteral("Data bytes in the written image (default 4096)."),
                                        QStringLiteral("N"), QStringLiteral("4096"));
    const QCommandLineOption imageSeed(QStringLiteral("image-seed"),
                                       QStringLiteral("Text the written image's data follows from (default empty)."),
                                       QStringLiteral("TEXT"));
    parser.addOptions({drive, returnTo, hicId, mode, bootMode, appVersion, bootVersion, newVersion, newBootVersion, power, beep,
                       restartMs, fail, returnLate, lateMs, neverReturn, from, writeImage, imageBytes, imageSeed});

    QTextStream err(stderr);
    if (!parser.parse(QCoreApplication::arguments())) {
        err << parser.errorText() << Qt::endl;
        return 2;
    }
    // Qt lists its own options itself.
    if (parser.isSet(QStringLiteral("help-all")))
        parser.process(app);
    if (parser.isSet(QStringLiteral("help"))) {
        QTextStream(stdout) << parser.helpText() << Qt::flush;
        return 0;
    }
    if (parser.isSet(version)) {
        QTextStream(stdout) << QCoreApplication::applicationName() << ' ' << QCoreApplication::applicationVersion()
                            << Qt::endl;
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        err << "unexpected argument: " << parser.positionalArguments().first() << Qt::endl;
        return 2;
    }
    if (parser.isSet(writeImage)) {
        bool ok = false;
        const int size = parser.value(imageBytes).toInt(&ok);
        if (!ok || size < 0) {
            err << "--image-bytes needs a whole number of at least 0" << Qt::endl;
            return 2;
        }
        try {
            writeWholeFile(parser.value(writeImage), makeFirmwareImage(size, parser.value(imageSeed)));
        } catch (const Exception &e) {
            err << e.message() << Qt::endl;
            return 1;
        }
        return 0;
    }
    if (!parser.isSet(drive) || parser.value(drive).isEmpty()) {
        err << "--drive DIR is required; see --help" << Qt::endl;
        return 2;
    }

    TProbeSimOptions options;
    options.drive = parser.value(drive);
    options.returnTo = parser.value(returnTo);
    options.HICID = parser.value(hicId);
    options.mode = parser.value(mode);
    options.bootMode = parser.value(bootMode);
    options.appVersion = parser.value(appVersion);
    options.bootVersion = parser.value(bootVersion);
    options.newVersion = parser.value(newVersion);
    options.newBootVersion = parser.value(newBootVersion);
    options.power = parser.value(power);
    options.beep = parser.value(beep);
    options.fail = parser.isSet(fail);
    options.returnLate = parser.isSet(returnLate);
    options.neverReturn = parser.isSet(neverReturn);
    const struct
    {
        const QCommandLineOption &option;
        int &value;
        int minimum;
    } numbers[] = {{restartMs, options.restartMs, 0}, {lateMs, options.lateMs, 0}, {from, options.misbehaveFrom, 1}};
    for (const auto &number : numbers) {
        bool ok = false;
        number.value = parser.value(number.option).toInt(&ok);
        if (!ok || number.value < number.minimum) {
            err << "--" << number.option.names().first() << " needs a whole number of at least " << number.minimum
                << Qt::endl;
            return 2;
        }
    }

    QTextStream out(stdout);
    TProbeSimulator simulator(options, out);
    return simulator.run();
}
