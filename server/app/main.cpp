// corvel: the sync and web server. Without a subcommand it starts the servers.
#include "server/app/command.h"
#include "server/app/server_command.h"

int main(int argc, char** argv) {
    CLI::App app{"Corvel: sync server for Skiff handhelds and a small web server", "corvel"};
    app.set_version_flag("--version", kCorvelVersionText);
    ServerOptions server;
    AddServerOptions(app, server);
    CommandAction chosen;
    for (AddSubcommandFunction add : Subcommands()) add(app, chosen);
    CLI11_PARSE(app, argc, argv);
    return chosen ? chosen() : RunServer(server);
}
