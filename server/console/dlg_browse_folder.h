// CDlgBrowseFolder: a tree of the message stores of a session and their folders;
// with several folders allowed, check boxes. Sub-folders are read when a node is
// expanded. Modal; user interface thread only.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTreeWidget>
#include <map>
#include <string>
#include <vector>

#include "server/devices/pocket_device.h"

class CDlgBrowseFolder : public QDialog {
public:
    // session stays held while the dialog lives. preChecked: entry IDs (bytes)
    // of folders shown checked.
    CDlgBrowseFolder(CMapiRef<IMAPISession> session, bool several, QWidget* parent = nullptr,
                     const std::vector<std::string>& preChecked = {});

    // The checked folders (or the selected one): entry IDs, display names, and
    // full paths (store name, then the folders below the IPM subtree, joined by "\").
    std::vector<std::string> ChosenEntryIds() const;
    std::string ChosenNames() const;  // joined by ", "
    std::vector<std::string> ChosenPaths() const;

    // Reads the sub-folders of item (done once per node).
    void Expand(QTreeWidgetItem* item);

private:
    // Controls: children of the widget, which deletes them; tests find them by
    // their object names.
    QTreeWidget* tree;
    QLabel* displayNameLabel;
    QLineEdit* displayName;

    std::vector<QTreeWidgetItem*> Chosen() const;
    void AddChildren(QTreeWidgetItem* parent, IMAPIFolder* folder);

    CMapiRef<IMAPISession> session_;
    bool several_;
    std::vector<std::string> preChecked_;
    std::map<std::string, CMapiRef<IMsgStore>> stores_;  // by store entry ID
};
