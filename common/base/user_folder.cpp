#include "common/base/user_folder.h"

#include <cstdlib>

std::string UserFolder(const char* variable, std::string_view belowHome) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return value;
    const char* home = std::getenv("HOME");
    std::string folder = home != nullptr && *home != '\0' ? home : ".";
    folder += '/';
    folder += belowHome;
    return folder;
}
