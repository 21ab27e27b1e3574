// The options pane.
#include "server/console/dlg_options.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <climits>

#include "server/console/dlg_edit_help.h"

int LeadingNumber(const std::string& text) {
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = value * 10 + (c - '0');
        if (value > INT_MAX) return 0;
    }
    return static_cast<int>(value);
}

CDlgOptions::CDlgOptions(Settings& settings, CConsolePrompts& prompts, QWidget* parent)
    : QWidget(parent), settings_(settings), prompts_(prompts) {
    SetHelpScope(this, "options");
    auto* layout = new QVBoxLayout(this);
    auto* trace = new QGroupBox("Trace", this);
    auto* traceLayout = new QHBoxLayout(trace);
    traceLive = HelpNamed(new QCheckBox("Live", trace), "traceLive");
    traceXml = HelpNamed(new QCheckBox("XML", trace), "traceXml");
    traceWeb = HelpNamed(new QCheckBox("Web", trace), "traceWeb");
    traceLayout->addWidget(traceLive);
    traceLayout->addWidget(traceXml);
    traceLayout->addWidget(traceWeb);
    layout->addWidget(trace);
    auto* keep = new QHBoxLayout();
    auto* keepBefore = new QLabel(QString::fromUtf8("Synchronisationsdaten löschen nach"), this);
    auto* keepAfter = new QLabel("Ereignissen", this);
    keepSyncFiles = HelpNamed(new QLineEdit(this), "keepSyncFiles");
    keepBefore->setBuddy(keepSyncFiles);
    keepAfter->setBuddy(keepSyncFiles);
    keep->addWidget(keepBefore);
    keep->addWidget(keepSyncFiles);
    keep->addWidget(keepAfter);
    layout->addLayout(keep);
    startOutlook =
        HelpNamed(new QCheckBox("Outlook bei Synchronisation starten", this), "startOutlook");
    layout->addWidget(startOutlook);
    auto* portRow = new QHBoxLayout();
    auto* portLabel = new QLabel("Port des Servers", this);
    auto* portNote = new QLabel(QString::fromUtf8("Portänderung wird nach Neustart aktiv"), this);
    port = HelpNamed(new QLineEdit(this), "port");
    portLabel->setBuddy(port);
    portNote->setBuddy(port);
    portRow->addWidget(portLabel);
    portRow->addWidget(port);
    portRow->addWidget(portNote);
    layout->addLayout(portRow);
    auto* buttons = new QHBoxLayout();
    saveButton = HelpNamed(new QPushButton("Speichern", this), "saveButton");
    cancelButton = HelpNamed(new QPushButton("Abbruch", this), "cancelButton");
    buttons->addWidget(saveButton);
    buttons->addWidget(cancelButton);
    buttons->addStretch();
    layout->addLayout(buttons);
    layout->addStretch();
    connect(saveButton, &QPushButton::clicked, this, [this] { OnSave(); });
    connect(cancelButton, &QPushButton::clicked, this, [this] { Fill(); });
    Fill();
}

void CDlgOptions::Fill() {
    startOutlook->setChecked(settings_.StartOutlook());
    traceLive->setChecked(settings_.TraceLive());
    traceWeb->setChecked(settings_.TraceWEB());
    traceXml->setChecked(settings_.ProtocolTrace());
    keepSyncFiles->setText(QString::number(settings_.KeepSyncFiles()));
    port->setText(QString::number(settings_.HttpPort()));
}

bool CDlgOptions::OnSave() {
    settings_.SetStartOutlook(startOutlook->isChecked());
    settings_.SetTraceLive(traceLive->isChecked());
    settings_.SetTraceWEB(traceWeb->isChecked());
    settings_.SetProtocolTrace(traceXml->isChecked());
    settings_.SetKeepSyncFiles(LeadingNumber(keepSyncFiles->text().toStdString()));
    int newPort = LeadingNumber(port->text().toStdString());
    bool portValid = newPort >= 1 && newPort <= 65535;
    if (portValid) {
        settings_.SetHttpPort(newPort);
    } else {
        port->setText(QString::number(settings_.HttpPort()));
    }
    bool saved = settings_.SaveSettings();
    if (!portValid) {
        prompts_.error(this,
                       QString::fromUtf8("Ungültiger Port (1 bis 65535); der alte Port bleibt.")
                           .toStdString());
    }
    return portValid && saved;
}
