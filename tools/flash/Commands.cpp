#include "tools/flash/Commands.h"

#include "tools/flash/InstallCommand.h"
#include "tools/flash/ListCommand.h"
#include "tools/flash/VersionsCommand.h"

std::vector<std::unique_ptr<TCommand>> makeFlashCommands()
{
    std::vector<std::unique_ptr<TCommand>> commands;
    commands.push_back(std::make_unique<TListCommand>());
    commands.push_back(std::make_unique<TVersionsCommand>());
    commands.push_back(std::make_unique<TInstallCommand>());
    return commands;
}
