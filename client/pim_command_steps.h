// Steps every "skiff pim" command takes the same way, each writing its own message
// to err when it fails: naming the folder, logging on to the PIM store, finding an
// item by its object identifier and saving it.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>

#include "platform/pocketoutlook/pocket_outlook.h"

// The folder a name given on the command line stands for, or 0 (bad input).
int PimFolderOrComplain(const std::string& folderName, std::ostream& err);
bool LogOnOrComplain(PocketOutlookApplication& app, std::ostream& err);
// Logs on and finds the item; nothing when either fails (a failure, not bad input).
std::unique_ptr<PimItem> OpenItemOrComplain(PocketOutlookApplication& app, long oid,
                                            std::ostream& err);
bool SaveOrComplain(PimItem& item, std::ostream& err);
