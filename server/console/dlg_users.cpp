// The user list pane.
#include "server/console/dlg_users.h"

#include <unistd.h>

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "server/console/dialog_buttons.h"
#include "server/console/dlg_edit_help.h"
#include "server/devices/device_list.h"

CDlgUsers::CDlgUsers(Settings& settings, CDeviceList& devices, CConsolePrompts& prompts,
                     QWidget* parent)
    : CRecordsPane(settings, devices, prompts, parent) {
    SetHelpScope(this, "users");
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel("Benutzer", this);
    layout->addWidget(label);
    list = HelpNamed(new QListWidget(this), "userList");
    label->setBuddy(list);
    layout->addWidget(list);
    AddButtonRow(
        this, layout,
        {{"Neu", "newButton", &newButton, [this] { OnNew(); }},
         {QString::fromUtf8("Löschen"), "deleteButton", &deleteButton, [this] { OnDelete(); }}});
}

void CDlgUsers::Fill() {
    list->clear();
    for (const auto& record : devices_.Records()) {
        std::shared_ptr<const CDeviceConfig> config = record->Config();
        if (config->DeviceID.empty() && !config->Name.empty()) {
            list->addItem(QString::fromStdString(config->Name));
        }
    }
}

bool CDlgUsers::OnNew() {
    std::optional<std::string> name = prompts_.input(this, "Username", "");
    if (!name || name->empty()) return false;
    if (!IsValidUserName(*name)) {
        prompts_.error(this, "Ungültiger Benutzername: " + *name);
        return false;
    }
    for (const auto& record : devices_.Records()) {
        std::shared_ptr<const CDeviceConfig> config = record->Config();
        if (config->DeviceID.empty() && config->Name == *name) {
            prompts_.error(this, "Den Benutzer gibt es schon: " + *name);
            return false;
        }
    }
    CDeviceConfig config;
    config.Name = *name;
    config.filePath = settings_.DataFolder() + "/" + *name + ".dxt";
    auto record = std::make_shared<CPocketDevice>(config);
    if (!record->WriteDeviceFile()) {
        prompts_.error(this, "Die Datei kann nicht geschrieben werden: " + config.filePath);
        return false;
    }
    devices_.Add(record);
    if (userAdded) userAdded(record);
    Fill();
    return true;
}

void CDlgUsers::OnDelete() {
    QListWidgetItem* item = list->currentItem();
    if (item == nullptr) return;
    std::string name = item->text().toStdString();
    if (!prompts_.yesNo(this, "Wirklich löschen?")) return;
    if (userDeleted) userDeleted(name);
    for (const auto& record : devices_.Records()) {
        std::shared_ptr<const CDeviceConfig> config = record->Config();
        if (config->DeviceID.empty() && config->Name == name) {
            if (!config->filePath.empty()) unlink(config->filePath.c_str());
            break;
        }
    }
    devices_.RemoveUser(name);
    Fill();
}
