// The folders the console's "Automatisch" adds to a user: from the default store
// of a profile, in this order, the outbox (-6), deleted items (-8) and sent items
// (-7) taken from the store, the inbox (-4, the receive folder of "IPM"), and the
// contacts (-1), tasks (-2) and calendar (-3) folders taken from the inbox. Each
// gets its full path as Outlook path, that path without its first element (the
// store's name) as virtual path, sub-folders off, its code and the kind the code
// implies.
// Thread use: any thread (the store serialises its calls).
#pragma once

#include <string>
#include <vector>

#include "server/devices/pocket_device.h"

struct CAutomaticFolders {
    std::vector<CFolderSetting> folders;
    // One text per folder that could not be added ("CDlgUser::AddFolder: ..."), or
    // for the whole run ("CDlgUser::OnBnClickedButtonAuto: ...").
    std::vector<std::string> problems;
};

CAutomaticFolders FindAutomaticFolders(IMAPISession* session);
