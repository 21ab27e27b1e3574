// The list of corvel's subcommands. A new subcommand: one file with its add
// function (see command.h), one declaration below, one entry in the list.
#include "server/app/command.h"
#include "server/app/device_command.h"
#include "server/app/dump_subcommand.h"
#include "server/app/tls_command.h"
#include "server/app/user_command.h"
#include "server/app/web_command.h"

std::vector<AddSubcommandFunction> Subcommands() {
    return {
        AddUserCommand, AddWebCommand, AddDeviceCommand, AddDumpCommand, AddTlsCommand,
    };
}
