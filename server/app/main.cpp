// corvel: the sync and web server. Without a subcommand it starts the servers.
#include "common/base/version.h"
#include "server/app/command.h"
#include "server/app/server_command.h"

int main(int argc, char** argv) {
    CLI::App app{"Corvel: sync server for Skiff handhelds and a small web server", "corvel"};
    app.set_version_flag("--version", VersionText());
    app.footer(
        "Data folder: $XDG_DATA_HOME/Norvex/Corvel (~/.local/share/Norvex/Corvel) with "
        "settings.inf.\n"
        "Web server: GET requests are served from WebBaseDir of settings.inf and from the "
        "virtual\ndirectories (WebDir lines); while both are empty every GET gets no answer. "
        "Set them with\n  corvel web base DIR\n  corvel web dir add NAME FOLDER|http://URL "
        "[--user U --password P]\nor in the console under Optionen / Webserver; a running "
        "server takes the change within a second.");
    ServerOptions server;
    AddServerOptions(app, server);
    CommandAction chosen;
    for (AddSubcommandFunction add : Subcommands()) add(app, chosen);
    CLI11_PARSE(app, argc, argv);
    return chosen ? chosen() : RunServer(server);
}
