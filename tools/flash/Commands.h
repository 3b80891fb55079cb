#pragma once

#include "tools/flash/Command.h"

#include <memory>
#include <vector>

// Every qv58link-flash command, in the order the help lists them. A new
// command is a TCommand of its own files, added here; the dispatcher, the
// help and the checks of its options follow from what it declares.
std::vector<std::unique_ptr<TCommand>> makeFlashCommands();
