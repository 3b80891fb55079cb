#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

// Every failure of the tool is an exception that carries a text meant for the
// user. Nothing below the window's error handler catches them.
class Exception : public std::exception
{
public:
    explicit Exception(QString message);

    const QString &message() const noexcept { return FMessage; }
    const char *what() const noexcept override { return FWhat.constData(); }

private:
    QString FMessage;
    QByteArray FWhat;
};

// A file could not be opened for reading: "Cannot open file "<path>". <reason>".
class EFOpenError : public Exception
{
public:
    EFOpenError(const QString &fileName, const QString &reason);
};

// A file could not be created or truncated: "Cannot create file "<path>". <reason>".
class EFCreateError : public Exception
{
public:
    EFCreateError(const QString &fileName, const QString &reason);
};

// A write to a stream in memory stopped short.
class EWriteError : public Exception
{
public:
    EWriteError();
};

// A write to a file failed or stopped short, or its data did not reach the
// device: "Cannot write file "<path>". <reason>".
class EFWriteError : public Exception
{
public:
    EFWriteError(const QString &fileName, const QString &reason);
};

// An index or count outside the data it refers to.
class ERangeError : public Exception
{
public:
    ERangeError();
};
