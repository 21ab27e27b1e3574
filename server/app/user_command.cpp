// corvel user add / list.
#include "server/app/user_command.h"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <memory>
#include <vector>

#include "platform/mapi/mapi.h"
#include "server/config/data_folder.h"
#include "server/config/data_folder_lock.h"
#include "server/config/text_file.h"
#include "server/devices/automatic_folders.h"
#include "server/devices/device_file.h"
#include "server/devices/device_list.h"
#include "server/mapi/mapi_initializer.h"
#include "server/mapi/mapi_status_calls.h"
#include "server/mapi/profile_names.h"

namespace {

std::string ErrorName(HRESULT hr) {
    const char* name = MapiErrorName(hr);
    return name != nullptr ? name : std::to_string(hr);
}

bool ProfileExists(const std::string& profile) {
    std::vector<std::string> names;
    if (FAILED(ReadProfileNames(names))) return false;
    return std::find(names.begin(), names.end(), profile) != names.end();
}

HRESULT CreateProfile(const std::string& profile) {
    CMapiRef<IProfAdmin> admin;
    HRESULT hr = MAPIAdminProfiles(0, admin.Put());
    if (FAILED(hr)) return hr;
    std::string name = profile;
    return admin->CreateProfile(name.data(), nullptr, 0, MAPI_DEFAULT_SERVICES);
}

bool TakeLock(CDataFolderLock& lock, const std::string& dataFolder, std::ostream& err) {
    if (!CreateDataFolder(dataFolder)) {
        err << "corvel user: the data folder " << dataFolder << " cannot be created\n";
        return false;
    }
    std::string error;
    if (!lock.TryAcquire(dataFolder, error)) {
        err << "corvel user: " << error << "; stop the server first\n";
        return false;
    }
    return true;
}

}  // namespace

int RunUserAdd(const UserAddOptions& options, const std::string& dataFolder, std::ostream& out,
               std::ostream& err) {
    if (!IsValidUserName(options.name)) {
        err << "corvel user add: \"" << options.name
            << "\" cannot be a user name (empty, begins with \".\", or holds \"/\", \"\\\" or a "
               "control character)\n";
        return 1;
    }
    if (options.profile.empty()) {
        err << "corvel user add: the profile name is empty\n";
        return 1;
    }
    CDataFolderLock lock;
    if (!TakeLock(lock, dataFolder, err)) return 1;
    std::string path = dataFolder + "/" + options.name + ".dxt";
    if (std::filesystem::exists(path)) {
        err << "corvel user add: " << path << " exists already\n";
        return 1;
    }
    CMapiInitializer mapi{std::nothrow};
    if (FAILED(mapi.Result())) {
        err << "corvel user add: MAPIInitialize: " << ErrorName(mapi.Result()) << "\n";
        return 1;
    }
    if (!ProfileExists(options.profile)) {
        HRESULT hr = CreateProfile(options.profile);
        if (FAILED(hr)) {
            err << "corvel user add: profile " << options.profile
                << " cannot be created: " << ErrorName(hr) << "\n";
            return 1;
        }
        out << "Profile " << options.profile << " created\n";
    }
    CDeviceConfig record;
    record.Name = options.name;
    record.Passwort = options.password;
    record.ProfileName = options.profile;
    if (options.automatic) {
        HRESULT hr = S_OK;
        CMapiRef<IMAPISession> session = LogonProfile(options.profile, hr);
        if (!session) {
            err << "corvel user add: CDlgUser::OnBnClickedButtonAuto: log-on to " << options.profile
                << " failed: " << ErrorName(hr) << "\n";
            return 1;
        }
        CAutomaticFolders found = FindAutomaticFolders(session.Get());
        for (const std::string& problem : found.problems)
            err << "corvel user add: " << problem << "\n";
        record.folders = std::move(found.folders);
    }
    record.filePath = path;
    if (!CPocketDevice(record).WriteDeviceFile()) {
        err << "corvel user add: " << path << " cannot be written\n";
        return 1;
    }
    out << "User " << options.name << " written to " << path << " (profile " << options.profile
        << ", " << record.folders.size() << " folders)\n";
    for (const CFolderSetting& folder : record.folders) {
        out << "  " << folder.defaultCode << "  " << folder.outlookPath << "\n";
    }
    return 0;
}

int RunUserList(const std::string& dataFolder, std::ostream& out, std::ostream& err) {
    CDataFolderLock lock;
    if (!TakeLock(lock, dataFolder, err)) return 1;
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dataFolder, error)) {
        if (entry.path().extension() == ".dxt") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
        CLineReader reader(file.string());
        if (!reader.IsOpen()) continue;
        CDeviceConfig record;
        bool inSignature = false;
        std::string raw;
        while (reader.Next(raw)) ParseDeviceFileLine(StripLineEnd(raw), record, inSignature);
        if (record.Name.empty() || !record.DeviceID.empty()) continue;
        out << record.Name << "\tprofile " << record.ProfileName << "\t" << record.folders.size()
            << " folders\n";
    }
    return 0;
}

void AddUserCommand(CLI::App& app, CommandAction& chosen) {
    CLI::App* user = app.add_subcommand("user", "Add or list users (the console's user pane)");
    user->require_subcommand(1);
    auto options = std::make_shared<UserAddOptions>();
    CLI::App* add = user->add_subcommand("add", "Write NAME.dxt in the data folder");
    add->add_option("NAME", options->name, "User name")->required();
    add->add_option("--password", options->password, "Password of the user")->required();
    add->add_option("--profile", options->profile, "MAPI profile (created when missing)")
        ->capture_default_str();
    add->add_flag("--auto", options->automatic, "Add the seven default folders");
    add->callback([options, &chosen] {
        chosen = [options] {
            return RunUserAdd(*options, DefaultDataFolder(), std::cout, std::cerr);
        };
    });
    CLI::App* list = user->add_subcommand("list", "List the users of the data folder");
    list->callback([&chosen] {
        chosen = [] { return RunUserList(DefaultDataFolder(), std::cout, std::cerr); };
    });
}
