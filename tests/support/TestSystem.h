#pragma once

#include <QProcess>
#include <QString>

#include <ostream>

// Failures show texts as text.
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

// What the tests ask of the operating system beyond Qt, written once per
// system (support/posix, support/windows).

// Makes a child end with the test that started it. A test that dies without
// running its destructors (a crash, a sanitizer stopping it, a kill at its
// time-out) cannot end its children itself; the system then does.
void endWithTheTest(QProcess &process);

// A symbolic link at link to target (which need not exist); on Windows a
// reparse point of the same kind as mklink makes. False when no link came to
// be: Wine accepts the call and makes nothing.
bool makeSymbolicLink(const QString &target, const QString &link);
// Whether this system lets the tests make symbolic links at all; a test of
// links skips where it cannot.
bool canMakeSymbolicLinks();
// A second name for an existing file.
bool makeHardLink(const QString &existing, const QString &link);
// A named pipe in the file system; false where the system has none (Windows).
bool makeFifo(const QString &path);
// Whether the system has FIFOs and device files to plant on a drive.
bool hasSpecialFiles();
// Whether two names that differ only in letter case can name two entries of
// one folder, as on Linux; on Windows they name one.
bool namesAreCaseSensitive();

// Sets a folder-list variable to one that lists nothing: the empty text,
// or on Windows, where a running process cannot keep a variable set to the
// empty text, the list separator alone.
void setEmptyList(const char *name);

// The system's own words for a missing file, and for a file in a missing
// folder, as an error names them.
QString noSuchFileText();
QString noSuchFolderText();
// The code page a text without a byte-order mark is read in: the tests'
// UTF-8 locale on Linux (65001 standing for it), the ANSI code page on Windows.
unsigned textCodePage();

// Root reads and writes every file whatever its permissions; while this
// lives, file access from this thread is checked as for "nobody", so a
// read-only folder or an unreadable file refuses root too. Where the system
// cannot take files away from the test's own user that way (Windows, where
// permissions are not Unix modes), active() is false and the caller skips
// what needs it.
class TFilesAsNobody
{
public:
    TFilesAsNobody();
    ~TFilesAsNobody();
    TFilesAsNobody(const TFilesAsNobody &) = delete;
    TFilesAsNobody &operator=(const TFilesAsNobody &) = delete;

    static bool possible();

private:
    bool FActive;
};
