#include "client/pim_command_steps.h"

#include <ostream>

#include "client/pim_commands.h"

int PimFolderOrComplain(const std::string& folderName, std::ostream& err) {
    int folder = PimFolderFromName(folderName);
    if (!folder) err << "unknown folder: " << folderName << " (contacts, tasks or calendar)\n";
    return folder;
}

bool LogOnOrComplain(PocketOutlookApplication& app, std::ostream& err) {
    if (app.Logon()) return true;
    err << "PIM store: " << app.error() << "\n";
    return false;
}

std::unique_ptr<PimItem> OpenItemOrComplain(PocketOutlookApplication& app, long oid,
                                            std::ostream& err) {
    if (!LogOnOrComplain(app, err)) return nullptr;
    std::unique_ptr<PimItem> item = app.GetItemFromOid(oid);
    if (!item) err << "no item " << oid << "\n";
    return item;
}

bool SaveOrComplain(PimItem& item, std::ostream& err) {
    if (item.Save()) return true;
    err << "the item could not be saved\n";
    return false;
}
