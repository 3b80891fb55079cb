#include "common/FileIO.h"
#include "platform/RuntimeFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What stands at a candidate's path before the choice.
enum class TKind {
    Unset,       // no candidate at all (an unset variable)
    Missing,     // nothing there yet
    Private,     // a folder of this user, 0700
    Open,        // a folder of this user that others may enter
    Link,        // a link to a private folder of this user
    File,        // a plain file
    Foreign,     // a private folder of another user (needs root to make)
    Uncreatable, // below a plain file, so it can never be made
};

constexpr uid_t Nobody = 65534;

struct TStat
{
    bool exists = false;
    bool folder = false;
    bool link = false;
    uid_t owner = 0;
    mode_t mode = 0;
};

TStat statOf(const QString &path)
{
    struct stat info {};
    TStat result;
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return result;
    result.exists = true;
    result.folder = S_ISDIR(info.st_mode);
    result.link = S_ISLNK(info.st_mode);
    result.owner = info.st_uid;
    result.mode = info.st_mode & 07777;
    return result;
}

void makeFolder(const QString &path, mode_t mode)
{
    ASSERT_TRUE(QDir().mkpath(path));
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

// Sets up what kind says at path and gives the candidate to pass.
QString prepare(const QString &path, TKind kind)
{
    const QByteArray native = QFile::encodeName(path);
    switch (kind) {
    case TKind::Unset:
        return QString();
    case TKind::Missing:
        break;
    case TKind::Private:
        makeFolder(path, 0700);
        break;
    case TKind::Open:
        makeFolder(path, 0755);
        break;
    case TKind::Link: {
        const QString target = path + QStringLiteral(".target");
        makeFolder(target, 0700);
        QDir().mkpath(QFileInfo(path).path());
        EXPECT_EQ(::symlink(QFile::encodeName(target).constData(), native.constData()), 0);
        break;
    }
    case TKind::File:
        QDir().mkpath(QFileInfo(path).path());
        writeWholeFile(path, "not a folder");
        break;
    case TKind::Foreign:
        makeFolder(path, 0700);
        EXPECT_EQ(::chown(native.constData(), Nobody, Nobody), 0);
        break;
    case TKind::Uncreatable: {
        const QString blocker = path + QStringLiteral(".file");
        QDir().mkpath(QFileInfo(blocker).path());
        writeWholeFile(blocker, "in the way");
        return blocker + QStringLiteral("/below");
    }
    }
    return path;
}

} // namespace

// The runtime folder, the folder under /tmp and the one in the home folder,
// each in every state someone could leave it in: the first that is really
// this user's and closed to others is chosen, and none that is not.
TEST(RuntimeFolder, FirstCandidateThatIsThisUsersOwnPrivateFolder)
{
    using enum TKind;
    const struct
    {
        const char *name;
        TKind runtime, tmp, home;
        int chosen; // 0 runtime, 1 tmp, 2 home, -1 none
    } cases[] = {
        {"the session's runtime folder", Private, Private, Private, 0},
        {"no runtime folder: /tmp, made", Unset, Missing, Missing, 1},
        {"runtime folder missing: not made, /tmp made", Missing, Missing, Missing, 1},
        {"runtime folder open to others", Open, Missing, Missing, 1},
        {"runtime folder a link", Link, Missing, Missing, 1},
        {"runtime folder of another user", Foreign, Missing, Missing, 1},
        {"/tmp folder already ours", Unset, Private, Missing, 1},
        {"/tmp folder made by another user first", Unset, Foreign, Missing, 2},
        {"/tmp folder a planted link", Unset, Link, Missing, 2},
        {"/tmp folder open to others", Unset, Open, Missing, 2},
        {"/tmp folder a file", Unset, File, Missing, 2},
        {"/tmp folder cannot be made", Unset, Uncreatable, Missing, 2},
        {"home folder already there", Unset, Foreign, Private, 2},
        {"home folder of another user too", Unset, Foreign, Foreign, -1},
        {"home folder open to others", Unset, Link, Open, -1},
        {"nothing can be made", Missing, Uncreatable, Uncreatable, -1},
        {"nothing given", Unset, Unset, Unset, -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const bool needsRoot = c.runtime == Foreign || c.tmp == Foreign || c.home == Foreign;
        if (needsRoot && ::geteuid() != 0) {
            std::printf("[ SKIPPED  ] \"%s\" needs root to make another user's folder\n", c.name);
            continue;
        }
        QTemporaryDir base;
        ASSERT_TRUE(base.isValid());
        // A home folder without its cache folder, as on a fresh account.
        ASSERT_TRUE(QDir(base.path()).mkdir("home"));
        const TRuntimeFolderCandidates candidates{prepare(base.filePath("run"), c.runtime),
                                                  prepare(base.filePath("qv58link-1000"), c.tmp),
                                                  prepare(base.filePath("home/.cache/qv58link"), c.home)};
        const TStat before[] = {statOf(candidates.runtimeDir), statOf(candidates.tmpFolder),
                                statOf(candidates.homeFolder)};
        const QString chosen = privateRuntimeFolder(candidates);

        const QString paths[] = {candidates.runtimeDir, candidates.tmpFolder, candidates.homeFolder};
        EXPECT_EQ(chosen.toStdString(), c.chosen < 0 ? std::string() : paths[c.chosen].toStdString());
        if (c.chosen >= 0) {
            const TStat now = statOf(chosen);
            EXPECT_TRUE(now.folder);
            EXPECT_EQ(now.owner, ::getuid());
            EXPECT_EQ(now.mode, 0700u);
        }
        // Nothing that was there is changed, and the session's folder is never made.
        for (int i = 0; i < 3; ++i) {
            if (before[i].exists) {
                EXPECT_EQ(statOf(paths[i]).mode, before[i].mode) << "candidate " << i;
                EXPECT_EQ(statOf(paths[i]).owner, before[i].owner) << "candidate " << i;
            }
        }
        if (c.runtime == Missing) {
            EXPECT_FALSE(statOf(candidates.runtimeDir).exists);
        }
        // The cache folder made on the way to the home candidate is closed too.
        if (c.chosen == 2 && c.home == Missing) {
            EXPECT_EQ(statOf(base.filePath("home/.cache")).mode, 0700u);
        }
    }
}

// Every process of the user must meet in the same folder: asking again gives
// the same answer, not a fresh folder.
TEST(RuntimeFolder, TheSameFolderOnEveryAsk)
{
    QTemporaryDir base;
    ASSERT_TRUE(base.isValid());
    const TRuntimeFolderCandidates candidates{QString(), base.filePath("tmp"), base.filePath("home/.cache/qv58link")};
    const QString first = privateRuntimeFolder(candidates);
    EXPECT_EQ(first, candidates.tmpFolder);
    EXPECT_EQ(privateRuntimeFolder(candidates), first);
    EXPECT_EQ(QDir(base.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"tmp"});
}
