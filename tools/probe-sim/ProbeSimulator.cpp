#include "ProbeSimulator.h"

#include "IntelHex.h"
#include "common/Exceptions.h"
#include "common/FileIO.h"
#include "common/StrUtils.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

const QString detailsName = QStringLiteral("DETAILS.txt");
const QString detailsTemp = QStringLiteral(".DETAILS.tmp");
const QString startName = QStringLiteral("START_BL.ACT");
const QString imageName = QStringLiteral("upgrade.Hex");
const QString failName = QStringLiteral("Fail.txt");

// Without inotify the folder is scanned; a file is judged once it has stood
// still for one scan, so a half-written image is not taken.
constexpr int scanIntervalMs = 250;
constexpr qint64 maxImageBytes = 64 * 1024 * 1024;

bool isProbeFile(const QString &name)
{
    for (const QString &known : {detailsName, detailsTemp, startName, imageName, failName}) {
        if (sameText(name, known))
            return true;
    }
    return false;
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

TProbeSimulator::TProbeSimulator(const TProbeSimOptions &options, QTextStream &out)
    : FOptions(options)
    , FOut(out)
    , FVersion(options.appVersion)
    , FBootVersion(options.bootVersion)
{
    FFolder = QDir::cleanPath(QDir::current().absoluteFilePath(FOptions.drive));
    if (!FOptions.returnTo.isEmpty())
        FOptions.returnTo = QDir::cleanPath(QDir::current().absoluteFilePath(FOptions.returnTo));
}

TProbeSimulator::~TProbeSimulator()
{
    unwatch();
    if (FNotify >= 0)
        ::close(FNotify);
    if (FSignals >= 0)
        ::close(FSignals);
}

void TProbeSimulator::event(const QString &line)
{
    FOut << line << Qt::endl;
}

bool TProbeSimulator::failure(const QString &line)
{
    event(QStringLiteral("error: ") + line);
    return false;
}

// The simulator empties and removes its folders, so it refuses any folder
// that holds more than the probe's own files.
bool TProbeSimulator::folderIsOurs(const QString &folder, QString &why) const
{
    const QFileInfo info(folder);
    if (!info.exists())
        return true;
    if (!info.isDir()) {
        why = QStringLiteral("%1 is not a folder").arg(folder);
        return false;
    }
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        if (entry.isDir() || !isProbeFile(entry.fileName())) {
            why = QStringLiteral("%1 holds %2, which is not the probe's").arg(folder, entry.fileName());
            return false;
        }
    }
    return true;
}

bool TProbeSimulator::writeDetails()
{
    const QString text = QStringLiteral("Beep Mode: %1\r\n"
                                        "Target Power output: %2\r\n"
                                        "HIC ID: %3\r\n"
                                        "QV58-LINK Mode: %4\r\n"
                                        "Interface Version: %5\r\n"
                                        "Bootloader Version: %6\r\n")
                             .arg(FOptions.beep, FOptions.power, FOptions.HICID,
                                  FBootloader ? FOptions.bootMode : FOptions.mode, FVersion, FBootVersion);
    const QDir dir(FFolder);
    try {
        // Renamed into place so the tool never reads half a details file.
        writeWholeFile(dir.filePath(detailsTemp), text.toUtf8());
    } catch (const Exception &e) {
        return failure(e.message());
    }
    if (::rename(QFile::encodeName(dir.filePath(detailsTemp)).constData(),
                 QFile::encodeName(dir.filePath(detailsName)).constData())
        != 0)
        return failure(QStringLiteral("cannot rename %1: %2").arg(dir.filePath(detailsTemp), systemError()));
    return true;
}

// The drive comes (back): an empty volume holding the probe's files. The
// failure file is there before the details file, since the tool takes the
// details file as the sign that the probe is back and then looks for it.
bool TProbeSimulator::appear()
{
    QString why;
    if (!folderIsOurs(FFolder, why))
        return failure(why);
    QDir dir(FFolder);
    if (dir.exists()) {
        for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
            if (!dir.remove(name))
                return failure(QStringLiteral("cannot remove %1").arg(dir.filePath(name)));
        }
    } else if (!QDir().mkpath(FFolder)) {
        return failure(QStringLiteral("cannot create %1").arg(FFolder));
    }
    watch();
    if (FLeaveFailFile) {
        try {
            writeWholeFile(dir.filePath(failName), "Upgrade failed\r\n");
        } catch (const Exception &e) {
            return failure(e.message());
        }
        event(QStringLiteral("failed: %1 left in %2").arg(failName, FFolder));
    }
    if (!writeDetails())
        return false;
    FState = TState::Present;
    FSeen.clear();
    event(QStringLiteral("present %1 mode=%2 version=%3")
              .arg(FFolder, FBootloader ? FOptions.bootMode : FOptions.mode, FVersion));
    return true;
}

// The probe restarts: its drive disappears at once, with whatever was on it.
bool TProbeSimulator::vanish()
{
    unwatch();
    QDir dir(FFolder);
    for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (!dir.remove(name))
            return failure(QStringLiteral("cannot remove %1").arg(dir.filePath(name)));
    }
    if (!QDir().rmdir(FFolder))
        return failure(QStringLiteral("cannot remove %1 (something else is in it)").arg(FFolder));
    ++FRestarts;
    const bool misbehave = FRestarts >= FOptions.misbehaveFrom;
    if (misbehave && FOptions.neverReturn) {
        FState = TState::Gone;
        event(QStringLiteral("gone %1 for good").arg(FFolder));
        return true;
    }
    const int awayMs = misbehave && FOptions.returnLate ? FOptions.lateMs : FOptions.restartMs;
    event(QStringLiteral("gone %1 for %2 ms").arg(FFolder).arg(awayMs));
    FState = TState::Away;
    FBackAt = TClock::now() + std::chrono::milliseconds(awayMs);
    if (misbehave && !FOptions.returnTo.isEmpty())
        FFolder = FOptions.returnTo;
    return true;
}

void TProbeSimulator::watch()
{
    if (FNotify < 0 || FPolling)
        return;
    FWatch = inotify_add_watch(FNotify, QFile::encodeName(FFolder).constData(),
                               IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
    if (FWatch < 0) {
        event(QStringLiteral("note: cannot watch %1 (%2), scanning it instead").arg(FFolder, systemError()));
        FPolling = true;
    }
}

void TProbeSimulator::unwatch()
{
    if (FWatch >= 0)
        inotify_rm_watch(FNotify, FWatch);
    FWatch = -1;
}

// Returns false on a failure that ends the run.
bool TProbeSimulator::readWatchEvents()
{
    alignas(inotify_event) char buffer[16 * 1024];
    for (;;) {
        const ssize_t got = ::read(FNotify, buffer, sizeof buffer);
        if (got <= 0)
            return true;
        for (ssize_t at = 0; at < got;) {
            const auto *ev = reinterpret_cast<const inotify_event *>(buffer + at);
            at += ssize_t(sizeof(inotify_event) + ev->len);
            if (ev->mask & IN_Q_OVERFLOW) {
                event(QStringLiteral("note: missed folder events, scanning instead"));
                FPolling = true;
                continue;
            }
            if (ev->wd != FWatch || FState != TState::Present)
                continue;
            if (ev->mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
                event(QStringLiteral("gone %1, removed by someone else").arg(FFolder));
                unwatch();
                FState = TState::Gone;
                return true;
            }
            if (ev->len == 0 || (ev->mask & IN_ISDIR))
                continue;
            if (!handle(QFile::decodeName(ev->name)))
                return false;
            if (FState != TState::Present)
                return true;
        }
    }
}

bool TProbeSimulator::pollFolder()
{
    const QFileInfoList entries = QDir(FFolder).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    QHash<QString, TStamp> seen;
    for (const QFileInfo &entry : entries) {
        if (!sameText(entry.fileName(), startName) && !sameText(entry.fileName(), imageName))
            continue;
        const TStamp stamp{entry.size(), entry.lastModified().toMSecsSinceEpoch()};
        seen.insert(entry.fileName(), stamp);
        if (FSeen.value(entry.fileName()) == stamp)
            return handle(entry.fileName());
    }
    FSeen = seen;
    return true;
}

bool TProbeSimulator::handle(const QString &name)
{
    if (sameText(name, startName)) {
        if (!QFileInfo(QDir(FFolder).filePath(name)).isFile())
            return true;
        event(QStringLiteral("seen %1").arg(name));
        FBootloader = true;
        FLeaveFailFile = false;
        return vanish();
    }
    if (sameText(name, imageName)) {
        if (!QFileInfo(QDir(FFolder).filePath(name)).isFile())
            return true;
        if (!FBootloader) {
            event(QStringLiteral("ignored %1: not in bootloader mode").arg(name));
            return true;
        }
        return installImage(name);
    }
    return true;
}

bool TProbeSimulator::installImage(const QString &name)
{
    const QString path = QDir(FFolder).filePath(name);
    event(QStringLiteral("seen %1").arg(name));
    THexCheck check;
    if (QFileInfo(path).size() > maxImageBytes) {
        check.error = QStringLiteral("image larger than %1 bytes").arg(maxImageBytes);
    } else {
        try {
            const QByteArray image = readWholeFile(path);
            // Lets a test see that the probe got exactly the image it was sent.
            event(QStringLiteral("image bytes=%1 md5=%2")
                      .arg(image.size())
                      .arg(QString::fromLatin1(QCryptographicHash::hash(image, QCryptographicHash::Md5).toHex().toUpper())));
            check = checkIntelHex(image);
        } catch (const Exception &e) {
            check.error = e.message();
        }
    }
    if (check.ok)
        event(QStringLiteral("hex ok records=%1").arg(check.dataRecords));
    else
        event(QStringLiteral("hex bad: %1").arg(check.error));
    if (check.ok && !FOptions.fail) {
        FBootloader = false;
        FLeaveFailFile = false;
        if (!FOptions.newVersion.isEmpty())
            FVersion = FOptions.newVersion;
        if (!FOptions.newBootVersion.isEmpty())
            FBootVersion = FOptions.newBootVersion;
        if (FOptions.newBootVersion.isEmpty())
            event(QStringLiteral("installed version=%1").arg(FVersion));
        else
            event(QStringLiteral("installed version=%1 boot=%2").arg(FVersion, FBootVersion));
    } else {
        // A failed install leaves the probe in its bootloader, ready for another image.
        FLeaveFailFile = true;
    }
    return vanish();
}

int TProbeSimulator::run()
{
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    if (sigprocmask(SIG_BLOCK, &stops, nullptr) != 0 || (FSignals = signalfd(-1, &stops, SFD_CLOEXEC)) < 0) {
        failure(QStringLiteral("cannot catch signals: %1").arg(systemError()));
        return 1;
    }
    FNotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (FNotify < 0) {
        event(QStringLiteral("note: no inotify (%1), scanning the folder instead").arg(systemError()));
        FPolling = true;
    }
    QString why;
    if (!FOptions.returnTo.isEmpty() && !folderIsOurs(FOptions.returnTo, why)) {
        failure(why);
        return 1;
    }
    if (!appear())
        return 1;

    for (;;) {
        int timeoutMs = -1;
        if (FState == TState::Away) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(FBackAt - TClock::now()).count();
            timeoutMs = int(qMax<qint64>(0, left));
        } else if (FState == TState::Present && FPolling) {
            timeoutMs = scanIntervalMs;
        }
        pollfd fds[2] = {{FSignals, POLLIN, 0}, {FNotify, POLLIN, 0}};
        const int ready = ::poll(fds, FNotify >= 0 ? 2 : 1, timeoutMs);
        if (ready < 0 && errno != EINTR) {
            failure(QStringLiteral("poll: %1").arg(systemError()));
            return 1;
        }
        if (ready > 0 && (fds[0].revents & POLLIN)) {
            // The folder stays as it is, like a probe that is simply unplugged from the test.
            event(QStringLiteral("stopped"));
            return 0;
        }
        if (ready > 0 && (fds[1].revents & POLLIN) && !readWatchEvents())
            return 1;
        if (FState == TState::Away && TClock::now() >= FBackAt) {
            if (!appear())
                return 1;
        } else if (FState == TState::Present && FPolling && !pollFolder()) {
            return 1;
        }
    }
}
