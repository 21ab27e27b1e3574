// CDlgUser: the settings pane of one user or device record (credentials, MAPI
// profile, folder list, signature, time-zone difference), and the names shown for
// the default-folder codes.
//
// Edits stay in the pane until "Speichern" (or a button that ends in it) copies
// them into the record under the settings lock and writes the record's file.
// Thread use: user interface thread only.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "server/config/settings.h"
#include "server/console/console_prompts.h"
#include "server/devices/pocket_device.h"

// "Kontakte" for -1 ... "Gelöschte Objekte" for -8; empty for 0 and other values.
std::string DefaultFolderName(int32_t code);
// The codes in the order the folder properties dialog offers them.
const std::vector<int32_t>& DefaultFolderCodesInOrder();
// The display names of the machine's MAPI profiles (the profile table); empty on failure.
std::vector<std::string> MapiProfileNames();

class CDeviceList;

class CDlgUser : public QWidget {
public:
    CDlgUser(Settings& settings, CDeviceList& devices, CConsolePrompts& prompts,
             QWidget* parent = nullptr);

    // Binds the pane to record and loads it.
    void Bind(std::shared_ptr<CPocketDevice> record);
    const std::shared_ptr<CPocketDevice>& Record() const { return record_; }
    // Fills the profile combo again from the profile table.
    void FillProfiles();

    // Called after "Speichern" gave a user record a new name (the tree and the user
    // list follow it).
    std::function<void(const std::string& oldName, const std::string& newName)> userRenamed;

    // Shows the bound record ("Abbruch" does the same). A record without a profile,
    // or with one the machine does not have, shows no profile selected.
    void Load();
    // "Speichern": re-opens the record's profile, copies the fields, and with a
    // profile selected stores it and writes the file. False when nothing was
    // written (no record, no profile selected, or the file cannot be written).
    // A user record that gets a new name moves to <data folder>/<new name>.dxt (the
    // old file is deleted once the new one is written); a name that cannot name a
    // file, or that another user has, is refused with an error box and nothing is
    // written. A device record keeps its file.
    bool OnSave();
    // "-": removes the selected folders, then loads and saves.
    void OnRemoveFolders();
    // "Unterordner" / "Standardordner": toggle the texts of the selected rows.
    void OnToggleSubfolders();
    void OnToggleDefault();
    // "Automatisch": the seven default folders of the selected profile's default
    // store; problems are shown as message boxes, a missing folder is skipped, and so
    // is a folder whose path or default code the record has already (pressing it
    // twice adds nothing the second time).
    void OnAutomatic();
    // "+": the folder chooser for several folders of the selected profile; a folder
    // whose path the record has already is not added again.
    void OnAddFolders();
    // Double-click on row: the folder properties dialog.
    void OnEditFolder(int row);

private:
    // Controls: children of the widget, which deletes them; tests find them by
    // their object names.
    QLineEdit* userName;
    QLineEdit* password;
    QComboBox* profile;
    QTreeWidget* folders;
    QPushButton* addButton;
    QPushButton* removeButton;
    QPushButton* subfoldersButton;
    QPushButton* defaultButton;
    QPushButton* autoButton;
    QLineEdit* signatureShort;
    QPlainTextEdit* signature;
    QCheckBox* signatureAlways;
    QComboBox* timeZone;
    QPushButton* saveButton;
    QPushButton* cancelButton;

    // Shows the record; keepProfileChoice leaves the profile combo as the operator
    // set it (the reload after a folder change, before the "Speichern" that follows).
    void LoadRecord(bool keepProfileChoice);
    // The new name refused with an error box: false.
    bool CheckNewUserName(const std::string& name);
    void ToggleColumn(int column, const QString& onText, bool useDefaultName);

    Settings& settings_;
    CDeviceList& devices_;
    CConsolePrompts& prompts_;
    std::shared_ptr<CPocketDevice> record_;
};
