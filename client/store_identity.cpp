// The PIM store the state files belong to.
#include "client/store_identity.h"

#include <filesystem>
#include <fstream>

#include "client/state_files.h"

namespace {

struct StoreFile {
    bool exists = false;
    std::string store, previous;
};

StoreFile ReadStoreFile(const std::string& path) {
    StoreFile file;
    std::ifstream in(path);
    if (!in) return file;
    file.exists = true;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("Store=", 0) == 0) file.store = line.substr(6);
        if (line.rfind("Previous=", 0) == 0) file.previous = line.substr(9);
    }
    return file;
}

bool WriteStoreFile(const std::string& path, const StoreFile& file) {
    std::vector<std::string> lines = {"Store=" + file.store};
    if (!file.previous.empty()) lines.push_back("Previous=" + file.previous);
    return WriteLineFile(path, lines);
}

}  // namespace

std::vector<std::string> StoreStateFileNames() {
    std::vector<std::string> names;
    for (const char* base : {"contacts", "tasks", "appointment"}) {
        for (const char* ext : {".dat", ".txt", ".sent"}) names.push_back(std::string(base) + ext);
    }
    names.push_back(kAckFileName);
    return names;
}

StoreCheck CheckStoreIdentity(const std::string& dataFolder, const std::string& identity) {
    StoreCheck check;
    if (identity.empty()) return check;
    std::string path = dataFolder + "/" + kStoreFileName;
    StoreFile file = ReadStoreFile(path);
    if (file.exists && file.store == identity) {
        check.newStore = !file.previous.empty();
        return check;
    }
    if (file.exists) {
        std::error_code ec;
        for (const std::string& name : StoreStateFileNames()) {
            std::string from = dataFolder + "/" + name;
            if (!std::filesystem::exists(from, ec)) continue;
            std::filesystem::rename(from, from + ".old", ec);
            if (ec) {
                // A file that stays would be taken for the new store's: stop here,
                // the identity on file stays the old one, so the next run tries again.
                check.error = "could not set " + name + " aside: " + ec.message();
                return check;
            }
        }
        check.newStore = check.setAside = true;
        file.previous = file.store.empty() ? "?" : file.store;
    }
    file.store = identity;
    if (!WriteStoreFile(path, file)) check.error = "could not write " + std::string(kStoreFileName);
    return check;
}

void ConfirmStoreIdentity(const std::string& dataFolder) {
    std::string path = dataFolder + "/" + kStoreFileName;
    StoreFile file = ReadStoreFile(path);
    if (!file.exists || file.previous.empty()) return;
    file.previous.clear();
    WriteStoreFile(path, file);
}
