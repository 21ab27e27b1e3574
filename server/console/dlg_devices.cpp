// The device list pane.
#include "server/console/dlg_devices.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <mutex>

#include "server/console/dialog_buttons.h"
#include "server/console/dlg_edit_help.h"
#include "server/console/list_columns.h"
#include "server/devices/device_list.h"
#include "server/runtime/device_actions.h"

namespace {

enum DeviceColumn { kColumnDevice, kColumnName, kColumnAccess };

}  // namespace

CDlgDevices::CDlgDevices(Settings& settings, CDeviceList& devices, CConsolePrompts& prompts,
                         QWidget* parent)
    : CRecordsPane(settings, devices, prompts, parent) {
    SetHelpScope(this, "devices");
    auto* layout = new QVBoxLayout(this);
    auto* label =
        new QLabel(QString::fromUtf8("Geräte (Doppelklick um den Namen zu ändern)"), this);
    layout->addWidget(label);
    list = HelpNamed(new QTreeWidget(this), "deviceList");
    label->setBuddy(list);
    list->setColumnCount(3);
    list->setHeaderLabels({QString::fromUtf8("Gerät"), "Name", "Letzer Zugriff"});
    LayOutColumns(list, {0, 150, 150});
    list->setRootIsDecorated(false);
    layout->addWidget(list);
    AddButtonRow(this, layout,
                 {{QString::fromUtf8("Gerät zurücksetzen"), "resetButton", &resetButton,
                   [this] { OnReset(); }},
                  {QString::fromUtf8("Gerät Löschen"), "deleteButton", &deleteButton,
                   [this] { OnDelete(); }}});
    connect(list, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item, int) { OnRename(list->indexOfTopLevelItem(item)); });
}

void CDlgDevices::Fill() {
    list->clear();
    std::map<std::string, std::string> names = settings_.DeviceNames();
    std::string dataFolder = settings_.DataFolder();
    for (const auto& record : devices_.Records()) {
        if (record->Config()->DeviceID.empty()) continue;
        auto* item = new QTreeWidgetItem(list);
        item->setText(kColumnDevice, QString::fromStdString(record->Config()->DeviceID));
        auto name = names.find(record->Config()->DeviceID);
        if (name != names.end()) item->setText(kColumnName, QString::fromStdString(name->second));
        item->setText(kColumnAccess, QString::fromStdString(
                                         DeviceLastAccess(dataFolder, record->Config()->DeviceID)));
    }
}

std::string CDlgDevices::SelectedDevice() const {
    QTreeWidgetItem* item = list->currentItem();
    return item == nullptr ? std::string() : item->text(kColumnDevice).toStdString();
}

void CDlgDevices::OnRename(int row) {
    if (row < 0 || row >= list->topLevelItemCount()) return;
    QTreeWidgetItem* item = list->topLevelItem(row);
    std::string deviceId = item->text(kColumnDevice).toStdString();
    std::string oldName = item->text(kColumnName).toStdString();
    std::optional<std::string> name = prompts_.input(this, "Name", oldName);
    if (!name || *name == oldName) return;
    settings_.SetDeviceName(deviceId, *name);
    settings_.SaveSettings();
    // SetDeviceName makes the name one line; show what was stored.
    std::map<std::string, std::string> names = settings_.DeviceNames();
    auto stored = names.find(deviceId);
    if (stored != names.end()) item->setText(kColumnName, QString::fromStdString(stored->second));
    if (deviceRenamed) deviceRenamed(deviceId);
}

bool CDlgDevices::ResetFiles(const std::string& deviceId) {
    // The sync state is the protocol side's: the reset goes through it, between
    // requests, and the window never waits for a sync to end.
    if (!ResetDeviceSyncState(settings_, devices_, deviceId)) {
        prompts_.error(this, "Ungültige Geräte-ID: " + deviceId);
        return false;
    }
    return true;
}

void CDlgDevices::OnReset() {
    std::string deviceId = SelectedDevice();
    if (deviceId.empty()) return;
    if (!prompts_.yesNo(this, kResetQuestion)) return;
    ResetFiles(deviceId);
}

void CDlgDevices::OnDelete() {
    std::string deviceId = SelectedDevice();
    if (prompts_.yesNo(this, kResetQuestion) && !deviceId.empty()) {
        if (IsValidDeviceId(deviceId)) {
            settings_.RemoveDeviceName(deviceId);
            settings_.SaveSettings();
        }
        ResetFiles(deviceId);
    }
    Fill();
}
