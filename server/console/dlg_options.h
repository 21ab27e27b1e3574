// CDlgOptions: the options pane (trace switches, keeping sync data, starting the
// mail program, the server's port).
// Thread use: user interface thread only.
#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <string>

#include "server/config/settings.h"
#include "server/console/console_prompts.h"

// The leading decimal digits of text as a number; 0 when there are none (also
// when the digits overflow an int).
int LeadingNumber(const std::string& text);

class CDlgOptions : public QWidget {
public:
    CDlgOptions(Settings& settings, CConsolePrompts& prompts, QWidget* parent = nullptr);

    // From the settings ("Abbruch" does the same).
    void Fill();
    // "Speichern": the switches and numbers into the settings, then SaveSettings.
    // A port that is not a number from 1 to 65535 is refused with an error box and
    // the old port is kept (the other fields are still stored). False when the
    // port was refused or settings.inf could not be written.
    bool OnSave();

private:
    // Controls: children of the widget, which deletes them; tests find them by
    // their object names.
    QCheckBox* traceLive;
    QCheckBox* traceXml;
    QCheckBox* traceWeb;
    QLineEdit* keepSyncFiles;
    QCheckBox* startOutlook;
    QLineEdit* port;
    QPushButton* saveButton;
    QPushButton* cancelButton;

    Settings& settings_;
    CConsolePrompts& prompts_;
};
