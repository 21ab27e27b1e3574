// The skiff command line over the client core.
#include "client/skiff_cli.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <csignal>
#include <iostream>
#include <optional>

#include "client/client_log.h"
#include "client/client_settings.h"
#include "client/pending_changes.h"
#include "client/pim_commands.h"
#include "client/pim_commands_formats.h"
#include "client/server_certificate_pin.h"
#include "client/sync_engine.h"
#include "common/base/escape.h"
#include "common/tls/tls_fingerprint.h"
#include "platform/win/registry.h"

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
            << ",\"error\":" << JsonQuote(r.error) << ",\"deletesSent\":" << r.deletesSent
            << ",\"acksSent\":" << r.acksSent << ",\"deletesApplied\":" << r.applied.deletesApplied
            << ",\"failed\":" << r.applied.failed << ",\"acksKept\":" << r.applied.ackStrings.size()
            << ",\"massDeleteHeld\":" << (MassDeleteHeld(r.report) ? "true" : "false")
            << ",\"newHandheldStore\":" << (r.report.newHandheldStore ? "true" : "false")
            << ",\"conflicts\":" << ConflictCount(r.report)
            << ",\"notStored\":" << NotStoredCount(r.report)
            << ",\"report\":" << ReportJson(r.report)
            << ",\"reportLine\":" << JsonQuote(r.reportLine) << "}\n";
    } else if (!r.error.empty()) {
        err << "skiff sync: " << r.error << "\n";
    }
    if (r.stopped) return kExitStopped;
    if (!r.sent || !r.answered) return kExitNotSynced;
    if (NotStoredCount(r.report) > 0) {
        if (!json) err << "skiff sync: items not stored on the desktop; they go again next run\n";
        return kExitNotStored;
    }
    if (!MassDeleteHeld(r.report)) return kExitSynced;
    if (!json) err << "skiff sync: deletions held back; run skiff sync --allow-mass-delete\n";
    return kExitDeletionsHeld;
}

int Config(CLI::App& cmd, const std::string& server, const std::string& user,
           const std::string& password, const std::string& fingerprint, bool json,
           std::ostream& out, std::ostream& err) {
    ClientSettings s = GetClientSettings();
    bool change = false;
    std::optional<std::string> pin;
    if (cmd.count("--fingerprint")) {
        pin = ParseFingerprint(fingerprint);
        if (!pin) {
            err << "skiff config: not a SHA-256 fingerprint (64 hexadecimal digits, \":\" "
                   "between pairs allowed): "
                << fingerprint << "\n";
            return 2;
        }
    }
    if (cmd.count("--server")) {
        std::string problem = ServerAddressProblem(server);
        if (!problem.empty()) {
            err << "skiff config: " << problem << "\n";
            return 2;
        }
        s.server = server, change = true;
    }
    if (cmd.count("--user")) s.username = user, change = true;
    if (cmd.count("--password")) s.password = password, change = true;
    if (change) {
        std::string problem = ClientSettingsProblem(s);
        if (!problem.empty()) {
            err << "skiff config: " << problem << "; nothing was saved\n";
            return 2;
        }
        SetClientSettings(s);
        if (!SaveClientSettings()) {
            err << "skiff config: the settings could not be written\n";
            return 1;
        }
        if (!json && !pin) {
            out << "Saved:";
            if (cmd.count("--server")) out << " Server=" << s.server;
            if (cmd.count("--user")) out << " Username=" << s.username;
            if (cmd.count("--password"))
                out << " Password (" << Utf16Length(s.password) << " characters)";
            out << "\n";
        }
    }
    if (cmd.count("--forget-certificate")) {
        if (!ForgetFingerprint(GetDataFolder())) {
            err << "skiff config: the kept certificate could not be forgotten\n";
            return 1;
        }
        if (!json)
            out << "The server's certificate is forgotten; the next sync trusts the one it "
                   "is shown\n";
    }
    if (pin) {
        if (s.server.empty()) {
            err << "skiff config: --fingerprint needs a server (--server)\n";
            return 2;
        }
        if (!KeepFingerprint(GetDataFolder(), s.server, *pin)) {
            err << "skiff config: the fingerprint could not be kept\n";
            return 1;
        }
        if (!json) out << "Certificate of " << s.server << " trusted: " << *pin << "\n";
    }
    bool said = change || pin || cmd.count("--forget-certificate");
    if (json) {
        out << "{\"server\":" << JsonQuote(s.server) << ",\"user\":" << JsonQuote(s.username)
            << ",\"deviceId\":" << JsonQuote(GetDeviceId())
            << ",\"dataFolder\":" << JsonQuote(GetDataFolder()) << "}\n";
    } else if (!said) {
        std::string kept = KeptFingerprint(GetDataFolder(), s.server);
        out << "Server=" << s.server << "\nUsername=" << s.username
            << "\nDeviceId=" << GetDeviceId() << "\nDataFolder=" << GetDataFolder() << "\n";
        if (!kept.empty()) out << "Certificate=" << kept << "\n";
    }
    return 0;
}

int Save(bool force, bool json, std::ostream& out, std::ostream& err) {
    PendingChanges pending;
    std::string error;
    if (!FindPendingChanges(pending, &error)) {
        err << "skiff save: " << error << "\n";
        return 1;
    }
    if (pending.Total() > 0 && !force) {
        err << "skiff save: " << pending.Total() << " change(s) not sent yet (" << pending.Summary()
            << ") would be taken as sent and never reach the server; run skiff sync first, or "
               "skiff save --force to drop them\n";
        return 1;
    }
    if (!SaveAllSnapshots(&error)) {
        err << "skiff save: " << error << "\n";
        return 1;
    }
    if (json) {
        out << "{\"saved\":true,\"dropped\":" << pending.Total() << "}\n";
    } else if (pending.Total() > 0) {
        out << "Snapshots written; " << pending.Total() << " change(s) not sent were dropped ("
            << pending.Summary() << ")\n";
    } else {
        out << "Snapshots written; there were no changes to send\n";
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
    CLI::App* save = app.add_subcommand(
        "save", "Write the snapshots of all folders (sends nothing; unsent changes are dropped)");
    bool force = false;
    save->add_flag("--force", force, "Save even when changes have not been sent yet");
    CLI::App* config = app.add_subcommand("config", "Show or set server, user name and password");
    std::string server, user, password;
    config->add_option("--server", server,
                       "Server host name or address, optionally host:port; https://host:port "
                       "syncs over TLS");
    std::string fingerprint;
    config->add_option("--fingerprint", fingerprint,
                       "Trust the server certificate with this SHA-256 fingerprint (shown by "
                       "corvel tls fingerprint)");
    bool forgetCertificate = false;
    config->add_flag("--forget-certificate", forgetCertificate,
                     "Forget the kept server certificate; the next sync trusts the one shown");
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
    add->footer(PimFieldHelp());
    CLI::App* set = pim->add_subcommand("set", "Change fields of an item");
    set->add_option("oid", oid, "Object identifier")->required();
    set->add_option("fields", fields, "FIELD=VALUE ...");
    set->footer(PimFieldHelp());
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
    std::vector<std::string> files;
    std::string file;
    bool strict = false, vcard3 = false;
    CLI::App* import = pim->add_subcommand(
        "import", "Import vCard (contacts) or iCalendar (tasks, calendar) files");
    import->add_option("folder", folder, "contacts, tasks or calendar")->required();
    import->add_option("files", files, "Files to read (- for standard input)")->required();
    import->add_flag("--strict", strict, "Stop at the first error and import nothing");
    CLI::App* exportCmd = pim->add_subcommand(
        "export", "Export a folder as vCard 4.0 (contacts) or iCalendar (tasks, calendar)");
    exportCmd->add_option("folder", folder, "contacts, tasks or calendar")->required();
    exportCmd->add_option("file", file, "File to write (standard output when none)");
    exportCmd->add_flag("--vcard3", vcard3, "Write vCard 3.0");
    for (CLI::App* sub : {sync, save, config, pim, list, show, add, set, del, occurrence,
                          occurrences, import, exportCmd}) {
        sub->add_flag("--json", json, "Output for scripts");
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e, out, err) == 0 ? 0 : 2;
    }
    LoadClientSettings();
    if (*sync || *config) {
        for (const std::string& name : UnreadableClientSettings()) {
            err << "skiff: the setting " << name
                << " cannot be read back (longer than the read buffer); set it again with "
                   "skiff config\n";
        }
    }
    if (*sync) return Sync(json, syncOptions, out, err);
    if (*save) return Save(force, json, out, err);
    if (*config) return Config(*config, server, user, password, fingerprint, json, out, err);
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
    if (*import) return PimImport(folder, files, strict, json, out, err);
    if (*exportCmd) return PimExport(folder, file, vcard3, json, out, err);
    return 2;
}
