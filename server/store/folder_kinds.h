// The kinds of folders a device synchronises: the store's folder class, the class
// name the device's folder carries, and the item class of the items made in it.
#pragma once

struct CFolderKind {
    const char* containerClass;  // PR_CONTAINER_CLASS of the store's folder
    const char* className;       // the device folder's class name
    const char* messageClass;    // PR_MESSAGE_CLASS of a new item
};

inline constexpr CFolderKind kFolderKinds[] = {
    {"IPF.Note", "Email", "IPM.Post"},
    {"IPF.Contact", "Contact", "IPM.Contact"},
    {"IPF.Appointment", "Appointment", "IPM.Appointment"},
    {"IPF.Task", "Task", "IPM.Task"},
};
