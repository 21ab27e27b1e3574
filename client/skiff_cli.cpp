// The skiff command line over the client core.
#include "client/skiff_cli.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <csignal>
#include <iostream>

#include "client/client_log.h"
#include "client/client_settings.h"
#include "client/pim_commands.h"
#include "client/sync_engine.h"

namespace {

std::atomic<bool> gInterrupted{false};

extern "C" void OnInterrupt(int) { gInterrupted = true; }

int Sync(bool json, const SyncOptions& options, std::ostream& out, std::ostream& err) {
    std::ostream& logOut = json ? err : out;
    SetLogLineSink([&logOut](const std::string& line) { logOut << line << "\n" << std::flush; });
    // The status text as one progress line on a terminal; sparingly otherwise.
    bool tty = ::isatty(STDERR_FILENO);
    auto last = std::chrono::steady_clock::now() - std::chrono::seconds(1);
    SetStatusSink([&err, tty, &last](const std::string& text) {
        auto now = std::chrono::steady_clock::now();
        if (tty) {
            err << "\r" << text << "\033[K" << std::flush;
        } else if (!text.empty() && now - last >= std::chrono::seconds(1)) {
            err << text << "\n";
            last = now;
        }
    });
    gInterrupted = false;
    auto previous = std::signal(SIGINT, OnInterrupt);
    RunResult r = RunSync(&gInterrupted, options);
    std::signal(SIGINT, previous);
    SetStatusSink(nullptr);
    SetLogLineSink(nullptr);
    if (tty) err << "\r\033[K" << std::flush;
    if (json) {
        out << "{\"started\":" << (r.started ? "true" : "false")
            << ",\"folders\":" << r.foldersTakingPart << ",\"itemsSent\":" << r.itemsSent
            << ",\"sent\":" << (r.sent ? "true" : "false")
            << ",\"answered\":" << (r.answered ? "true" : "false")
            << ",\"itemsApplied\":" << r.applied.itemsApplied
            << ",\"mappings\":" << r.applied.mappings
            << ",\"foldersSaved\":" << r.applied.foldersSaved
            << ",\"stopped\":" << (r.stopped ? "true" : "false")
            << ",\"error\":" << JsonString(r.error) << ",\"deletesSent\":" << r.deletesSent
            << ",\"acksSent\":" << r.acksSent << ",\"deletesApplied\":" << r.applied.deletesApplied
            << ",\"failed\":" << r.applied.failed << ",\"acksKept\":" << r.applied.ackStrings.size()
            << ",\"massDeleteHeld\":" << (MassDeleteHeld(r.report) ? "true" : "false")
            << ",\"report\":" << ReportJson(r.report)
            << ",\"reportLine\":" << JsonString(r.reportLine) << "}\n";
    } else if (!r.error.empty()) {
        err << "skiff sync: " << r.error << "\n";
    }
    if (r.stopped) return 130;
    if (!r.sent || !r.answered) return 1;
    if (!MassDeleteHeld(r.report)) return 0;
    if (!json) err << "skiff sync: deletions held back; run skiff sync --allow-mass-delete\n";
    return 3;
}

int Config(CLI::App& cmd, const std::string& server, const std::string& user,
           const std::string& password, bool json, std::ostream& out, std::ostream& err) {
    ClientSettings s = GetClientSettings();
    bool change = false;
    if (cmd.count("--server")) s.server = server, change = true;
    if (cmd.count("--user")) s.username = user, change = true;
    if (cmd.count("--password")) s.password = password, change = true;
    if (change) {
        SetClientSettings(s);
        if (!SaveClientSettings()) {
            err << "skiff config: the settings could not be written\n";
            return 1;
        }
    }
    if (json) {
        out << "{\"server\":" << JsonString(s.server) << ",\"user\":" << JsonString(s.username)
            << ",\"deviceId\":" << JsonString(GetDeviceId())
            << ",\"dataFolder\":" << JsonString(GetDataFolder()) << "}\n";
    } else if (!change) {
        out << "Server=" << s.server << "\nUsername=" << s.username
            << "\nDeviceId=" << GetDeviceId() << "\nDataFolder=" << GetDataFolder() << "\n";
    }
    return 0;
}

}  // namespace

int RunSkiffCommandLine(int argc, char** argv, std::ostream& out, std::ostream& err) {
    CLI::App app{"Skiff: synchronises the handheld's contacts, tasks and calendar with Corvel"};
    app.require_subcommand(1);
    bool json = false;
    app.add_flag("--json", json, "Output for scripts");

    CLI::App* sync = app.add_subcommand("sync", "Run one sync with the configured server");
    SyncOptions syncOptions;
    sync->add_flag("--allow-mass-delete", syncOptions.allowMassDelete,
                   "Send and apply deletions of more than half of a folder");
    CLI::App* save =
        app.add_subcommand("save", "Write the snapshots of all folders (sends nothing)");
    CLI::App* config = app.add_subcommand("config", "Show or set server, user name and password");
    std::string server, user, password;
    config->add_option("--server", server, "Server host name or address, optionally host:port");
    config->add_option("--user", user, "User name");
    config->add_option("--password", password, "Password");

    CLI::App* pim = app.add_subcommand("pim", "The handheld's own PIM store");
    pim->require_subcommand(1);
    std::string folder;
    long oid = 0;
    std::vector<std::string> fields;
    CLI::App* list = pim->add_subcommand("list", "List the items of a folder");
    list->add_option("folder", folder, "contacts, tasks or calendar")->required();
    CLI::App* show = pim->add_subcommand("show", "Show one item");
    show->add_option("oid", oid, "Object identifier")->required();
    CLI::App* add = pim->add_subcommand("add", "Add an item");
    add->add_option("folder", folder, "contacts, tasks or calendar")->required();
    add->add_option("fields", fields, "FIELD=VALUE ...");
    CLI::App* set = pim->add_subcommand("set", "Change fields of an item");
    set->add_option("oid", oid, "Object identifier")->required();
    set->add_option("fields", fields, "FIELD=VALUE ...");
    CLI::App* del = pim->add_subcommand("delete", "Delete an item");
    del->add_option("oid", oid, "Object identifier")->required();
    // Recurring appointments (pim_recurrence_commands.h).
    RecurrenceChange recurrence;
    for (CLI::App* sub : {add, set}) {
        sub->add_option("--recurrence", recurrence.text,
                        "Make the appointment recur: daily|weekly|monthly|monthnth|yearly|yearnth"
                        "[;interval=N][;on=mon,..][;week=1-4|last][;day=D][;month=M]"
                        "[;start=DATE][;count=N|;until=DATE]");
    }
    set->add_flag("--no-recurrence", recurrence.clear, "Make the appointment a single one");
    std::string occurrenceDate, rangeFrom, rangeTo;
    bool removeOccurrence = false, restoreOccurrence = false;
    CLI::App* occurrence =
        pim->add_subcommand("occurrence", "Remove, change or restore one occurrence of a series");
    occurrence->add_option("oid", oid, "Object identifier")->required();
    occurrence->add_option("date", occurrenceDate, "The day the occurrence was to start")
        ->required();
    occurrence->add_option("fields", fields,
                           "FIELD=VALUE ... (Start, End, Subject, Location, ReminderSet, "
                           "ReminderMinutesBeforeStart, BusyStatus, AllDayEvent)");
    occurrence->add_flag("--delete", removeOccurrence, "Remove the occurrence");
    occurrence->add_flag("--restore", restoreOccurrence, "Undo its removal or change");
    CLI::App* occurrences =
        pim->add_subcommand("occurrences", "List the calendar's occurrences between two dates");
    occurrences->add_option("from", rangeFrom, "First day (YYYY-MM-DD[ HH:MM])")->required();
    occurrences->add_option("to", rangeTo, "Last day (YYYY-MM-DD[ HH:MM])")->required();
    for (CLI::App* sub :
         {sync, save, config, pim, list, show, add, set, del, occurrence, occurrences}) {
        sub->add_flag("--json", json, "Output for scripts");
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e, out, err) == 0 ? 0 : 2;
    }
    LoadClientSettings();
    if (*sync) return Sync(json, syncOptions, out, err);
    if (*save) {
        std::string error;
        if (SaveAllSnapshots(&error)) {
            if (json) out << "{\"saved\":true}\n";
            return 0;
        }
        err << "skiff save: " << error << "\n";
        return 1;
    }
    if (*config) return Config(*config, server, user, password, json, out, err);
    if (*list) return PimList(folder, json, out, err);
    if (*show) return PimShow(oid, json, out, err);
    recurrence.set = (*add && add->count("--recurrence")) || (*set && set->count("--recurrence"));
    if (recurrence.set && recurrence.clear) {
        err << "--recurrence and --no-recurrence exclude each other\n";
        return 2;
    }
    if (*add) return PimAdd(folder, fields, json, out, err, recurrence);
    if (*set) return PimSet(oid, fields, json, out, err, recurrence);
    if (*occurrence)
        return PimChangeOccurrence(oid, occurrenceDate, removeOccurrence, restoreOccurrence, fields,
                                   json, out, err);
    if (*occurrences) return PimListOccurrences(rangeFrom, rangeTo, json, out, err);
    if (*del) return PimDelete(oid, json, out, err);
    return 2;
}
