// CRecordsPane: what the users pane and the devices pane share: the settings, the
// device list whose records they show and change, and the operator's prompts.
// Thread use: user interface thread only.
#pragma once

#include <QWidget>

#include "server/config/settings.h"
#include "server/console/console_prompts.h"

class CDeviceList;

class CRecordsPane : public QWidget {
public:
    // Shows the records anew.
    virtual void Fill() = 0;

protected:
    CRecordsPane(Settings& settings, CDeviceList& devices, CConsolePrompts& prompts,
                 QWidget* parent)
        : QWidget(parent), settings_(settings), devices_(devices), prompts_(prompts) {}

    Settings& settings_;
    CDeviceList& devices_;
    CConsolePrompts& prompts_;
};
