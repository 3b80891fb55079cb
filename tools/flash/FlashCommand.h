#pragma once

#include "tools/flash/Command.h"

#include <QStringList>

// Runs one qv58link-flash command line (without the program name): a command
// of the registry with its options, "help [command]", --help or --version.
// Plain output goes to out, errors and, with --json, the progress lines to
// err. Returns a TFlashExit code.
int runFlashCommand(const QStringList &arguments, TCommandContext &context);

// The help text of the whole program, and of one command.
QString flashUsage();
QString commandUsage(const TCommand &command);

// How the help shows a command's options: "[--probe DRIVE | --all] [--json]".
QString commandSynopsis(const TCommand &command);
