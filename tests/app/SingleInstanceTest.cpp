#include "app/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

TEST(SingleInstanceIdentityTest, JclPlusPathUpperCasedWithSlashesAsUnderscores)
{
    const struct
    {
        QString path;
        QString identity;
    } cases[] = {
        {QStringLiteral("/usr/local/bin/qv58link-upgrade"), QStringLiteral("JCL_USR_LOCAL_BIN_QV58LINK-UPGRADE")},
        {QStringLiteral("/opt/Tools/upgrade.bin"), QStringLiteral("JCL_OPT_TOOLS_UPGRADE.BIN")},
        {QStringLiteral("/home/jörg/äpfel/x"), QStringLiteral("JCL_HOME_JÖRG_ÄPFEL_X")},
        {QStringLiteral("C:\\Tools\\upgrade.exe"), QStringLiteral("JCLC:\\TOOLS\\UPGRADE.EXE")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        EXPECT_EQ(TSingleInstance::identity(c.path), c.identity);
    }
    // Paths that differ in letter case only are one identity.
    EXPECT_EQ(TSingleInstance::identity(QStringLiteral("/opt/tool")),
              TSingleInstance::identity(QStringLiteral("/OPT/Tool")));
}

namespace {

// Sets an environment variable for one scope.
class ScopedEnv
{
public:
    ScopedEnv(const char *name, const QByteArray &value)
        : FName(name)
        , FWasSet(qEnvironmentVariableIsSet(name))
        , FOld(qgetenv(name))
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~ScopedEnv()
    {
        if (FWasSet)
            qputenv(FName, FOld);
        else
            qunsetenv(FName);
    }

private:
    const char *FName;
    bool FWasSet;
    QByteArray FOld;
};

QString privateTempDir(QTemporaryDir &dir)
{
    ::chmod(QFile::encodeName(dir.path()).constData(), 0700);
    return dir.path();
}

} // namespace

TEST(SingleInstanceSessionTest, RuntimeFolderOrAPrivatePerUserFolderUnderTmp)
{
    QTemporaryDir runtime;
    ASSERT_TRUE(runtime.isValid());
    {
        ScopedEnv env("XDG_RUNTIME_DIR", QFile::encodeName(privateTempDir(runtime)));
        EXPECT_EQ(TSingleInstance::sessionDirectory(), runtime.path());
    }
    const QString fallback = QStringLiteral("/tmp/qv58link-%1").arg(::getuid());
    const QByteArray cases[] = {QByteArray(), QByteArray(""), QByteArray("/nonexistent/run"), QByteArray("/tmp")};
    for (const QByteArray &value : cases) {
        SCOPED_TRACE(value.isNull() ? "unset" : value.constData());
        ScopedEnv env("XDG_RUNTIME_DIR", value);
        ASSERT_EQ(TSingleInstance::sessionDirectory(), fallback);
        struct stat info {};
        ASSERT_EQ(::lstat(QFile::encodeName(fallback).constData(), &info), 0);
        EXPECT_TRUE(S_ISDIR(info.st_mode));
        EXPECT_EQ(info.st_mode & 0777, 0700u);
        EXPECT_EQ(info.st_uid, ::getuid());
    }
}

class SingleInstanceTest : public ::testing::Test
{
protected:
    SingleInstanceTest() { session = privateTempDir(dir); }

    QTemporaryDir dir;
    QString session;
    const QString exe = QStringLiteral("/opt/qv58/qv58link-upgrade");
};

TEST_F(SingleInstanceTest, SecondStartIsRefusedAndAsksTheFirstToComeForward)
{
    TSingleInstance first(exe, session);
    ASSERT_TRUE(first.CheckSingleInstance());
    QSignalSpy asked(&first, &TSingleInstance::activateRequested);

    TSingleInstance second(exe, session);
    EXPECT_FALSE(second.CheckSingleInstance());
    EXPECT_TRUE(asked.wait(30000));
    EXPECT_EQ(asked.count(), 1);

    // The same path spelled in other letter case is the same instance.
    TSingleInstance third(QStringLiteral("/OPT/QV58/QV58LINK-UPGRADE"), session);
    EXPECT_FALSE(third.CheckSingleInstance());
}

TEST_F(SingleInstanceTest, OtherPathsAndOtherSessionsRunBeside)
{
    TSingleInstance first(exe, session);
    ASSERT_TRUE(first.CheckSingleInstance());

    TSingleInstance otherPath(QStringLiteral("/home/me/copy/qv58link-upgrade"), session);
    EXPECT_TRUE(otherPath.CheckSingleInstance());

    QTemporaryDir otherDir;
    TSingleInstance otherSession(exe, privateTempDir(otherDir));
    EXPECT_TRUE(otherSession.CheckSingleInstance());
}

TEST_F(SingleInstanceTest, TheLockGoesWithItsHolder)
{
    {
        TSingleInstance first(exe, session);
        ASSERT_TRUE(first.CheckSingleInstance());
        ASSERT_TRUE(QFileInfo::exists(first.serverName()));
    }
    // The socket of the ended instance may still lie there (as after a crash).
    TSingleInstance next(exe, session);
    QFile stale(next.serverName());
    if (!stale.exists()) {
        ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
        stale.close();
    }
    EXPECT_TRUE(next.CheckSingleInstance());
    QSignalSpy asked(&next, &TSingleInstance::activateRequested);
    TSingleInstance later(exe, session);
    EXPECT_FALSE(later.CheckSingleInstance());
    EXPECT_TRUE(asked.wait(30000));
}

TEST_F(SingleInstanceTest, AStartWhileTheFirstIsStillStartingEndsQuietly)
{
    TSingleInstance probe(exe, session);
    // A first copy that holds the lock but listens for nobody yet.
    const int held = ::open(QFile::encodeName(probe.lockFilePath()).constData(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);

    TSingleInstance second(exe, session);
    EXPECT_FALSE(second.CheckSingleInstance());
    // It neither broke the lock nor took the first copy's place as listener.
    const int other = ::open(QFile::encodeName(probe.lockFilePath()).constData(), O_RDWR);
    ASSERT_GE(other, 0);
    EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);
    ::close(other);
    EXPECT_FALSE(QFileInfo::exists(second.serverName()));
    EXPECT_EQ(QDir(session).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot),
              QStringList{QFileInfo(probe.lockFilePath()).fileName()});
    ::close(held);
}

TEST_F(SingleInstanceTest, LockAndSocketLiveInTheSessionFolder)
{
    TSingleInstance first(exe, session);
    ASSERT_TRUE(first.CheckSingleInstance());
    EXPECT_EQ(QFileInfo(first.lockFilePath()).absolutePath(), session);
    EXPECT_EQ(QFileInfo(first.serverName()).absolutePath(), session);
    EXPECT_EQ(first.instanceIdentity(), TSingleInstance::identity(exe));
    EXPECT_EQ(QDir(session).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot).size(), 2);
}
