// `corvel dump FILE|-` over RunDumpCommand of the codec.
#include "server/app/dump_subcommand.h"

#include <iostream>
#include <memory>
#include <string>

#include "common/wbxml/dump_command.h"

void AddDumpCommand(CLI::App& app, CommandAction& chosen) {
    auto file = std::make_shared<std::string>();
    CLI::App* dump = app.add_subcommand("dump", "Show a captured Vantro request or answer as text");
    dump->add_option("FILE", *file, "WBXML file, or - for standard input")->required();
    dump->callback([file, &chosen] {
        chosen = [file] { return RunDumpCommand(*file, std::cout, std::cerr); };
    });
}
