// CDlgFolderProperties ("Ordnereigenschaften"): edits one configured folder: its
// Outlook path (with a folder chooser), virtual path, sub-folders flag and the
// default folder it stands for. Modal; user interface thread only.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <string>

#include "server/devices/pocket_device.h"

class CDlgFolderProperties : public QDialog {
public:
    // folder is copied into the fields; profileName is used by "...".
    CDlgFolderProperties(const CFolderSetting& folder, const std::string& profileName,
                         QWidget* parent = nullptr);
    // Copies the fields into folder: paths, sub-folders flag, the selected code (0
    // when none is selected).
    void ApplyTo(CFolderSetting& folder) const;
    // "...": chooses the Outlook path from the profile's folders (the last wins).
    void OnBrowse();

private:
    // Controls: children of the widget, which deletes them; tests find them by
    // their object names.
    QLineEdit* outlookPath;
    QPushButton* browseButton;
    QLineEdit* virtualPath;
    QCheckBox* subfolders;
    QComboBox* defaultFolder;

    std::string profileName_;
};
