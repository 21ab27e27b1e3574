// The settings pane of a user or device record.
#include "server/console/dlg_user.h"

#include <unistd.h>

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QVBoxLayout>
#include <algorithm>
#include <mutex>

#include "platform/mapi/mapi.h"
#include "platform/win/message_box.h"
#include "server/console/dlg_browse_folder.h"
#include "server/console/dlg_edit_help.h"
#include "server/console/dlg_folder_properties.h"
#include "server/console/list_columns.h"
#include "server/devices/automatic_folders.h"
#include "server/devices/device_list.h"
#include "server/mapi/mapi_status_calls.h"
#include "server/mapi/profile_names.h"

namespace {

enum FolderColumn { kColumnPath, kColumnSubfolders, kColumnDefault, kColumnVirtual };
constexpr int kFolderIndexRole = Qt::UserRole;

}  // namespace

std::string DefaultFolderName(int32_t code) {
    switch (code) {
        case kDefaultContacts:
            return "Kontakte";
        case kDefaultCalendar:
            return "Kalender";
        case kDefaultTasks:
            return "Aufgaben";
        case kDefaultInbox:
            return "Posteiengang";
        case kDefaultDrafts:
            return "Entwürfe";
        case kDefaultOutbox:
            return "Postausgang";
        case kDefaultSentItems:
            return "Gesendet Objekte";
        case kDefaultDeletedItems:
            return "Gelöschte Objekte";
        default:
            return std::string();
    }
}

const std::vector<int32_t>& DefaultFolderCodesInOrder() {
    static const std::vector<int32_t> codes = {
        kDefaultContacts, kDefaultCalendar, kDefaultTasks,     kDefaultInbox,
        kDefaultDrafts,   kDefaultOutbox,   kDefaultSentItems, kDefaultDeletedItems};
    return codes;
}

std::vector<std::string> MapiProfileNames() {
    std::vector<std::string> names;
    (void)ReadProfileNames(names);  // none when the store cannot list them
    return names;
}

CDlgUser::CDlgUser(Settings& settings, CDeviceList& devices, CConsolePrompts& prompts,
                   QWidget* parent)
    : QWidget(parent), settings_(settings), devices_(devices), prompts_(prompts) {
    SetHelpScope(this, "user");
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout();
    userName = HelpNamed(new QLineEdit(this), "userName");
    password = HelpNamed(new QLineEdit(this), "password");
    password->setEchoMode(QLineEdit::Password);
    profile = HelpNamed(new QComboBox(this), "profile");
    form->addRow("Benutzername", userName);
    form->addRow("Passwort", password);
    form->addRow("MAPI Session", profile);
    layout->addLayout(form);

    auto* folderGroup = new QGroupBox("Ordnerliste", this);
    auto* folderLayout = new QVBoxLayout(folderGroup);
    folders = HelpNamed(new QTreeWidget(folderGroup), "folders");
    folders->setColumnCount(4);
    folders->setHeaderLabels({"Path", "Sub folders", "Default", "Vitual folder"});
    LayOutColumns(folders, {0, 100, 100, 0});
    folders->setRootIsDecorated(false);
    folders->setSelectionMode(QAbstractItemView::ExtendedSelection);
    folders->setSelectionBehavior(QAbstractItemView::SelectRows);
    folderLayout->addWidget(folders);
    auto* folderButtons = new QHBoxLayout();
    addButton = HelpNamed(new QPushButton("+", folderGroup), "addButton");
    removeButton = HelpNamed(new QPushButton("-", folderGroup), "removeButton");
    subfoldersButton = HelpNamed(new QPushButton("Unterordner", folderGroup), "subfoldersButton");
    defaultButton = HelpNamed(new QPushButton("Standardordner", folderGroup), "defaultButton");
    autoButton = HelpNamed(new QPushButton("Automatisch", folderGroup), "autoButton");
    for (QPushButton* button :
         {addButton, removeButton, subfoldersButton, defaultButton, autoButton}) {
        folderButtons->addWidget(button);
    }
    folderButtons->addStretch();
    folderLayout->addLayout(folderButtons);
    layout->addWidget(folderGroup, 1);

    auto* signatureGroup = new QGroupBox("Signatur", this);
    auto* signatureForm = new QFormLayout(signatureGroup);
    signatureShort = HelpNamed(new QLineEdit(signatureGroup), "signatureShort");
    signature = HelpNamed(new QPlainTextEdit(signatureGroup), "signature");
    signature->setMaximumHeight(80);
    signatureAlways = HelpNamed(new QCheckBox(QString::fromUtf8("Immer einfügen"), signatureGroup),
                                "signatureAlways");
    signatureForm->addRow(QString::fromUtf8("Abkürzung"), signatureShort);
    signatureForm->addRow("", signature);
    signatureForm->addRow("", signatureAlways);
    layout->addWidget(signatureGroup);

    auto* bottom = new QHBoxLayout();
    auto* timeZoneLabel = new QLabel("Zeitzonendifferenz", this);
    bottom->addWidget(timeZoneLabel);
    timeZone = HelpNamed(new QComboBox(this), "timeZone");
    timeZoneLabel->setBuddy(timeZone);
    for (int hours = -12; hours <= 12; ++hours) timeZone->addItem(QString::number(hours), hours);
    bottom->addWidget(timeZone);
    bottom->addStretch();
    saveButton = HelpNamed(new QPushButton("Speichern", this), "saveButton");
    cancelButton = HelpNamed(new QPushButton("Abbruch", this), "cancelButton");
    bottom->addWidget(saveButton);
    bottom->addWidget(cancelButton);
    layout->addLayout(bottom);

    connect(saveButton, &QPushButton::clicked, this, [this] { OnSave(); });
    connect(cancelButton, &QPushButton::clicked, this, [this] { Load(); });
    connect(addButton, &QPushButton::clicked, this, [this] { OnAddFolders(); });
    connect(removeButton, &QPushButton::clicked, this, [this] { OnRemoveFolders(); });
    connect(subfoldersButton, &QPushButton::clicked, this, [this] { OnToggleSubfolders(); });
    connect(defaultButton, &QPushButton::clicked, this, [this] { OnToggleDefault(); });
    connect(autoButton, &QPushButton::clicked, this, [this] { OnAutomatic(); });
    connect(folders, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int) {
        OnEditFolder(folders->indexOfTopLevelItem(item));
    });
    FillProfiles();
}

void CDlgUser::FillProfiles() {
    QString current = profile->currentText();
    profile->clear();
    for (const std::string& name : MapiProfileNames())
        profile->addItem(QString::fromStdString(name));
    profile->setCurrentIndex(profile->findText(current));
}

void CDlgUser::Bind(std::shared_ptr<CPocketDevice> record) {
    record_ = std::move(record);
    Load();
}

void CDlgUser::Load() { LoadRecord(false); }

void CDlgUser::LoadRecord(bool keepProfileChoice) {
    folders->clear();
    if (!record_) return;
    std::shared_ptr<const CDeviceConfig> config = record_->Config();
    userName->setText(QString::fromStdString(config->Name));
    password->setText(QString::fromStdString(config->Passwort));
    signatureShort->setText(QString::fromStdString(config->SignaturShort));
    signature->setPlainText(QString::fromStdString(config->Signatur));
    signatureAlways->setChecked(config->SignaturAlways);
    int zone = timeZone->findData(config->TimeZoneDifference);
    if (zone >= 0) timeZone->setCurrentIndex(zone);
    // Never the profile of the record shown before: "Speichern" would write it.
    if (!keepProfileChoice) {
        profile->setCurrentIndex(
            config->ProfileName.empty()
                ? -1
                : profile->findText(QString::fromStdString(config->ProfileName)));
    }
    for (size_t i = 0; i < config->folders.size(); ++i) {
        const CFolderSetting& folder = config->folders[i];
        auto* item = new QTreeWidgetItem(folders);
        item->setText(kColumnPath, QString::fromStdString(folder.outlookPath));
        item->setText(kColumnSubfolders, folder.subfolders != 0 ? "X" : "");
        item->setText(kColumnDefault,
                      QString::fromStdString(DefaultFolderName(folder.defaultCode)));
        item->setText(kColumnVirtual, QString::fromStdString(folder.virtualPath));
        item->setData(kColumnPath, kFolderIndexRole, static_cast<qulonglong>(i));
    }
}

bool CDlgUser::CheckNewUserName(const std::string& name) {
    if (!IsValidUserName(name)) {
        prompts_.error(this, "Ungültiger Benutzername: " + name);
        return false;
    }
    for (const auto& other : devices_.Records()) {
        std::shared_ptr<const CDeviceConfig> config = other->Config();
        if (other != record_ && config->DeviceID.empty() && config->Name == name) {
            prompts_.error(this, "Den Benutzer gibt es schon: " + name);
            return false;
        }
    }
    if (access((settings_.DataFolder() + "/" + name + ".dxt").c_str(), F_OK) == 0) {
        prompts_.error(this, "Die Datei gibt es schon: " + name + ".dxt");
        return false;
    }
    return true;
}

bool CDlgUser::OnSave() {
    if (!record_) return false;
    std::string newName = userName->text().toStdString();
    // The record's configuration is replaced whole: connection threads see it
    // either before or after the change, never half of it. The protocol side opens
    // the profile anew at the device's next log-on.
    CDeviceConfig edited = *record_->Config();
    const std::string oldName = edited.Name;
    // A user is its file <name>.dxt: a new name moves the file, so it must be able to.
    bool renameUser = edited.DeviceID.empty() && newName != oldName;
    if (renameUser && profile->currentIndex() >= 0 && !CheckNewUserName(newName)) return false;
    if (!renameUser) edited.Name = newName;
    edited.Passwort = password->text().toStdString();
    edited.SignaturShort = signatureShort->text().toStdString();
    edited.Signatur = signature->toPlainText().toStdString();
    edited.SignaturAlways = signatureAlways->isChecked();
    if (timeZone->currentIndex() >= 0) edited.TimeZoneDifference = timeZone->currentData().toInt();
    // Without a profile nothing is written, so a user keeps its old name too.
    if (profile->currentIndex() < 0) {
        record_->SetConfig(std::move(edited));
        return false;
    }
    edited.ProfileName = profile->currentText().toStdString();
    if (!renameUser) {
        record_->SetConfig(std::move(edited));
        return record_->WriteDeviceFile();
    }
    // The new name counts only once its file is written.
    CDeviceConfig renamed = edited;
    renamed.Name = newName;
    renamed.filePath = settings_.DataFolder() + "/" + newName + ".dxt";
    if (!CPocketDevice(renamed).WriteDeviceFile()) {
        record_->SetConfig(std::move(edited));
        return false;
    }
    std::string movedFrom = edited.filePath != renamed.filePath ? edited.filePath : std::string();
    record_->SetConfig(std::move(renamed));
    if (!movedFrom.empty()) unlink(movedFrom.c_str());
    if (userRenamed) userRenamed(oldName, newName);
    return true;
}

void CDlgUser::OnRemoveFolders() {
    if (!record_) return;
    std::vector<size_t> remove;
    for (QTreeWidgetItem* item : folders->selectedItems()) {
        remove.push_back(item->data(kColumnPath, kFolderIndexRole).toULongLong());
    }
    std::sort(remove.rbegin(), remove.rend());
    record_->EditConfig([&](CDeviceConfig& config) {
        for (size_t index : remove) {
            if (index < config.folders.size()) {
                config.folders.erase(config.folders.begin() + static_cast<long>(index));
            }
        }
    });
    LoadRecord(true);
    OnSave();
}

void CDlgUser::ToggleColumn(int column, const QString& onText, bool) {
    for (QTreeWidgetItem* item : folders->selectedItems()) {
        item->setText(column, item->text(column).isEmpty() ? onText : QString());
    }
    OnSave();
}

void CDlgUser::OnToggleSubfolders() { ToggleColumn(kColumnSubfolders, "X", false); }
void CDlgUser::OnToggleDefault() { ToggleColumn(kColumnDefault, "X", true); }

void CDlgUser::OnAutomatic() {
    if (!record_ || profile->currentIndex() < 0) return;
    HRESULT error = S_OK;
    CMapiRef<IMAPISession> session = LogonProfile(profile->currentText().toStdString(), error);
    if (!session) {
        ShowMessageBox("CDlgUser::OnBnClickedButtonAuto: log-on failed", "Corvel");
        return;
    }
    CAutomaticFolders found = FindAutomaticFolders(session.Get());
    for (const std::string& problem : found.problems) ShowMessageBox(problem, "Corvel");
    record_->EditConfig([&](CDeviceConfig& config) {
        for (CFolderSetting& folder : found.folders) {
            bool held = std::any_of(config.folders.begin(), config.folders.end(),
                                    [&](const CFolderSetting& own) {
                                        return own.outlookPath == folder.outlookPath ||
                                               (folder.defaultCode != kNoDefaultFolder &&
                                                own.defaultCode == folder.defaultCode);
                                    });
            if (!held) config.folders.push_back(std::move(folder));
        }
    });
    LoadRecord(true);
    OnSave();
}

void CDlgUser::OnAddFolders() {
    if (!record_ || profile->currentIndex() < 0) return;
    HRESULT error = S_OK;
    CMapiRef<IMAPISession> session = LogonProfile(profile->currentText().toStdString(), error);
    if (!session) return;  // the folder list stays as it is
    CDlgBrowseFolder chooser(session, true, this);
    if (chooser.exec() != QDialog::Accepted) return;
    std::vector<std::string> paths = chooser.ChosenPaths();
    record_->EditConfig([&](CDeviceConfig& config) {
        for (const std::string& path : paths) {
            bool held =
                std::any_of(config.folders.begin(), config.folders.end(),
                            [&](const CFolderSetting& own) { return own.outlookPath == path; });
            if (held) continue;
            CFolderSetting folder;
            folder.outlookPath = path;
            config.folders.push_back(std::move(folder));
        }
    });
    LoadRecord(true);
    OnSave();
}

void CDlgUser::OnEditFolder(int row) {
    if (!record_ || row < 0 || profile->currentIndex() < 0) return;
    size_t index = folders->topLevelItem(row)->data(kColumnPath, kFolderIndexRole).toULongLong();
    std::shared_ptr<const CDeviceConfig> shown = record_->Config();
    if (index >= shown->folders.size()) return;
    CDlgFolderProperties dialog(shown->folders[index], profile->currentText().toStdString(), this);
    if (dialog.exec() != QDialog::Accepted) return;
    // The protocol side opens the changed folder at the device's next log-on.
    record_->EditConfig([&](CDeviceConfig& config) {
        if (index >= config.folders.size()) return;
        CFolderSetting& folder = config.folders[index];
        dialog.ApplyTo(folder);
        folder.kind = KindForDefaultCode(folder.defaultCode);
    });
    LoadRecord(true);
    OnSave();
}
