#pragma once

#include <QStringList>
#include <QTextStream>

// Exit codes of qv58link-pack.
enum TPackExit { peOk = 0, peNotValid = 1, peFailed = 2 };

// qv58link-pack build|inspect|extract|help, or --help or --version in the
// command's place: builds, inspects and unpacks upgrade packages. Errors are one line on err; outputs are written only once
// everything before them succeeded, and then in one piece.
int runPackTool(const QStringList &arguments, QTextStream &out, QTextStream &err);
