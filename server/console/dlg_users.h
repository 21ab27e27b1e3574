// CDlgUsers: the user list pane ("Benutzer", "Neu", "Löschen").
// Thread use: user interface thread only; the records it changes are shared with
// connection threads through the device list, which guards them.
#pragma once

#include <QListWidget>
#include <QPushButton>
#include <functional>
#include <memory>
#include <string>

#include "server/console/records_pane.h"
#include "server/devices/pocket_device.h"

class CDlgUsers : public CRecordsPane {
public:
    CDlgUsers(Settings& settings, CDeviceList& devices, CConsolePrompts& prompts,
              QWidget* parent = nullptr);

    // The main window's tree follows the list through these.
    std::function<void(const std::shared_ptr<CPocketDevice>&)> userAdded;
    std::function<void(const std::string& name)> userDeleted;

    // Every user record (no device ID) with a non-empty name, in list order.
    void Fill() override;
    // "Neu": asks for "Username". An empty answer does nothing; a name that cannot
    // be a file name, or that a user already has, is refused with an error box.
    // Otherwise the record is written to <data folder>/<name>.dxt at once and added
    // to the device list, where device log-ons find it. False when nothing was made.
    bool OnNew();
    // "Löschen": with a name selected and "Wirklich löschen?" answered Yes, the
    // record leaves the list and its file is deleted. Requests still holding the
    // record keep a valid one.
    void OnDelete();

private:
    // Controls: children of the widget, which deletes them; tests find them by
    // their object names.
    QListWidget* list;
    QPushButton* newButton;
    QPushButton* deleteButton;
};
