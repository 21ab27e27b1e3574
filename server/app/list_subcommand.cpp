// The "list" subcommands of corvel's record commands.
#include <iostream>
#include <memory>

#include "server/app/command.h"
#include "server/config/data_folder.h"

void AddListSubcommand(CLI::App& parent, const char* description, ListFunction list,
                       CommandAction& chosen) {
    auto json = std::make_shared<bool>(false);
    CLI::App* command = parent.add_subcommand("list", description);
    command->add_flag("--json", *json, "One JSON array");
    command->callback([json, list, &chosen] {
        chosen = [json, list] { return list(DefaultDataFolder(), *json, std::cout, std::cerr); };
    });
}
