// corvel web base / dir.
#include "server/app/web_command.h"

#include <filesystem>
#include <iostream>
#include <memory>

#include "common/base/escape.h"
#include "server/config/data_folder.h"
#include "server/config/data_folder_lock.h"
#include "server/config/settings.h"

namespace {

// True when a running server holds the data folder (it then takes the change over).
bool ServerRuns(const std::string& dataFolder) {
    CDataFolderLock probe;
    std::string error;
    return !probe.TryAcquire(dataFolder, error) &&
           error.find("running server") != std::string::npos;
}

void SaidWhenItCounts(const std::string& dataFolder, std::ostream& out) {
    out << (ServerRuns(dataFolder) ? "The running server uses it from now on.\n"
                                   : "The server uses it when it starts.\n");
}

// An existing folder as an absolute path; empty (message on err) otherwise.
std::string AbsoluteFolder(const std::string& path, const char* command, std::ostream& err) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error || !std::filesystem::is_directory(absolute, error)) {
        err << command << ": " << path << " is not a folder\n";
        return std::string();
    }
    std::string text = absolute.lexically_normal().string();
    if (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

bool Save(Settings& settings, const char* command, std::ostream& err) {
    if (settings.SaveSettings()) return true;
    err << command << ": " << settings.SettingsFilePath() << " could not be written\n";
    return false;
}

}  // namespace

int RunWebBase(const std::string& dataFolder, const std::string* newBase, bool clear,
               std::ostream& out, std::ostream& err) {
    Settings settings;
    settings.LoadSettingsFile(dataFolder);
    if (newBase == nullptr && !clear) {
        std::string base = settings.WebBaseDir();
        if (base.empty()) {
            out << "WebBaseDir is empty: a GET outside the virtual directories gets no answer\n";
        } else {
            out << "WebBaseDir=" << base << "\n";
        }
        return 0;
    }
    std::string base;
    if (!clear) {
        base = AbsoluteFolder(*newBase, "corvel web base", err);
        if (base.empty()) return 2;
        if (base.find_first_of("\r\n") != std::string::npos) {
            err << "corvel web base: the folder name holds a line break\n";
            return 2;
        }
    }
    settings.SetWebBaseDir(base);
    if (!Save(settings, "corvel web base", err)) return 1;
    if (base.empty()) {
        out << "WebBaseDir cleared: only the virtual directories are served.\n";
    } else {
        out << "WebBaseDir set to " << base << "\n";
    }
    SaidWhenItCounts(dataFolder, out);
    return 0;
}

int RunWebDirList(const std::string& dataFolder, bool json, std::ostream& out, std::ostream&) {
    Settings settings;
    settings.LoadSettingsFile(dataFolder);
    std::map<std::string, CWebDirectory> directories = settings.WebDirectories();
    if (json) {
        out << "[";
        bool first = true;
        for (const auto& [name, d] : directories) {
            out << (first ? "" : ",")
                << "{\"directory\":" << JsonQuote(d.Directory, JsonLineBreaks::kNumeric)
                << ",\"url\":" << JsonQuote(d.URL, JsonLineBreaks::kNumeric)
                << ",\"realm\":" << JsonQuote(d.Realm, JsonLineBreaks::kNumeric)
                << ",\"username\":" << JsonQuote(d.Username, JsonLineBreaks::kNumeric)
                << ",\"password\":" << (d.Password.empty() ? "false" : "true") << "}";
            first = false;
        }
        out << "]\n";
        return 0;
    }
    for (const auto& [name, d] : directories) {
        out << d.Directory << "\t" << d.URL;
        if (!d.Username.empty()) {
            out << "\tBasic realm \"" << d.Realm << "\", user " << d.Username
                << (d.Password.empty() ? ", no password" : ", password set");
        }
        out << "\n";
    }
    if (directories.empty()) out << "No virtual directories.\n";
    return 0;
}

int RunWebDirAdd(const std::string& dataFolder, CWebDirectory directory, std::ostream& out,
                 std::ostream& err) {
    while (!directory.Directory.empty() && directory.Directory.front() == '/') {
        directory.Directory.erase(0, 1);
    }
    if (directory.URL.rfind("http://", 0) != 0) {
        directory.URL = AbsoluteFolder(directory.URL, "corvel web dir add", err);
        if (directory.URL.empty()) return 2;
    }
    if (!directory.Password.empty() && directory.Username.empty()) {
        err << "corvel web dir add: a password needs --user\n";
        return 2;
    }
    std::string problem = WebDirectoryProblem(directory);
    if (!problem.empty()) {
        err << "corvel web dir add: " << problem << "\n";
        return 2;
    }
    Settings settings;
    settings.LoadSettingsFile(dataFolder);
    if (settings.WebDirectories().count(directory.Directory) != 0) {
        err << "corvel web dir add: the virtual directory " << directory.Directory
            << " exists already; remove it first (corvel web dir remove " << directory.Directory
            << ")\n";
        return 1;
    }
    settings.SetWebDirectory(directory);
    if (!Save(settings, "corvel web dir add", err)) return 1;
    out << "Virtual directory " << directory.Directory << " added: /" << directory.Directory
        << "/... " << (directory.URL.rfind("http://", 0) == 0 ? "is forwarded to " : "serves ")
        << directory.URL;
    if (!directory.Username.empty()) out << ", behind Basic authentication";
    out << "\n";
    SaidWhenItCounts(dataFolder, out);
    return 0;
}

int RunWebDirRemove(const std::string& dataFolder, const std::string& name, std::ostream& out,
                    std::ostream& err) {
    std::string key = name;
    while (!key.empty() && key.front() == '/') key.erase(0, 1);
    Settings settings;
    settings.LoadSettingsFile(dataFolder);
    if (settings.WebDirectories().count(key) == 0) {
        err << "corvel web dir remove: there is no virtual directory " << key << "\n";
        return 1;
    }
    settings.RemoveWebDirectory(key);
    if (!Save(settings, "corvel web dir remove", err)) return 1;
    out << "Virtual directory " << key << " removed\n";
    SaidWhenItCounts(dataFolder, out);
    return 0;
}

void AddWebCommand(CLI::App& app, CommandAction& chosen) {
    CLI::App* web = app.add_subcommand(
        "web", "Web server files: WebBaseDir and the virtual directories (WebDir)");
    web->require_subcommand(1);
    auto base = std::make_shared<std::string>();
    auto clear = std::make_shared<bool>(false);
    CLI::App* baseCommand = web->add_subcommand(
        "base", "Show or set WebBaseDir, the folder GET requests are served from");
    CLI::Option* baseOption = baseCommand->add_option("DIR", *base, "An existing folder");
    baseCommand->add_flag("--clear", *clear, "Serve only the virtual directories");
    baseCommand->callback([base, clear, baseOption, &chosen] {
        bool given = baseOption->count() > 0;
        chosen = [base, clear, given] {
            return RunWebBase(DefaultDataFolder(), given ? base.get() : nullptr, *clear, std::cout,
                              std::cerr);
        };
    });

    CLI::App* dir = web->add_subcommand("dir", "The virtual directories");
    dir->require_subcommand(1);
    AddListSubcommand(*dir, "List the virtual directories", RunWebDirList, chosen);
    auto record = std::make_shared<CWebDirectory>();
    CLI::App* add = dir->add_subcommand("add", "Add a virtual directory");
    add->add_option("NAME", record->Directory, "First part of the URL path, e.g. docs")->required();
    add->add_option("TARGET", record->URL, "A folder, or a URL http://host/path to forward to")
        ->required();
    add->add_option("--realm", record->Realm, "Realm the browser shows when asking");
    add->add_option("--user", record->Username,
                    "User name for Basic authentication (\"*\": any user of the server)");
    add->add_option("--password", record->Password, "Password for that user name");
    add->callback([record, &chosen] {
        chosen = [record] {
            return RunWebDirAdd(DefaultDataFolder(), *record, std::cout, std::cerr);
        };
    });
    auto name = std::make_shared<std::string>();
    CLI::App* remove = dir->add_subcommand("remove", "Remove a virtual directory");
    remove->add_option("NAME", *name)->required();
    remove->callback([name, &chosen] {
        chosen = [name] {
            return RunWebDirRemove(DefaultDataFolder(), *name, std::cout, std::cerr);
        };
    });
}
