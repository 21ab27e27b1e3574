// CDlgDevices: the device list pane: device ID, display name and last access of
// every device record; rename, reset and delete a device.
// Thread use: user interface thread only; the device-name map is changed through
// Settings, which guards it.
#pragma once

#include <QPushButton>
#include <QTreeWidget>
#include <ctime>
#include <functional>
#include <string>

#include "server/console/records_pane.h"
#include "server/devices/device_folder.h"
#include "server/devices/pocket_device.h"

class CDlgDevices : public CRecordsPane {
public:
    CDlgDevices(Settings& settings, CDeviceList& devices, CConsolePrompts& prompts,
                QWidget* parent = nullptr);

    // Called after a device got a new display name (the tree follows it).
    std::function<void(const std::string& deviceId)> deviceRenamed;

    void Fill() override;
    // Double-click: asks for "Name"; an unchanged name writes nothing.
    void OnRename(int row);
    // "Gerät zurücksetzen": after Yes, deletes the device's files; the device's
    // in-memory baseline is dropped too, so its next sync starts afresh.
    void OnReset();
    // "Gerät Löschen": after Yes, the device leaves the name map and its files are
    // deleted. The list is filled again in any case.
    void OnDelete();

private:
    // Controls: children of the widget, which deletes them; tests find them by
    // their object names.
    QTreeWidget* list;
    QPushButton* resetButton;
    QPushButton* deleteButton;

    // The selected row's device ID, empty when none.
    std::string SelectedDevice() const;
    bool ResetFiles(const std::string& deviceId);
};

inline constexpr const char* kResetQuestion = "Soll das Gerät zurückgesetzt werden?";
