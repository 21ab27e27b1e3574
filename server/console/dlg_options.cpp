// The options pane.
#include "server/console/dlg_options.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <climits>

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
    auto* layout = new QVBoxLayout(this);
    auto* trace = new QGroupBox("Trace", this);
    auto* traceLayout = new QHBoxLayout(trace);
    traceLive = new QCheckBox("Live", trace);
    traceXml = new QCheckBox("XML", trace);
    traceWeb = new QCheckBox("Web", trace);
    traceLayout->addWidget(traceLive);
    traceLayout->addWidget(traceXml);
    traceLayout->addWidget(traceWeb);
    layout->addWidget(trace);
    auto* keep = new QHBoxLayout();
    keep->addWidget(new QLabel("Synchronisationsdaten löschen nach", this));
    keepSyncFiles = new QLineEdit(this);
    keep->addWidget(keepSyncFiles);
    keep->addWidget(new QLabel("Ereignissen", this));
    layout->addLayout(keep);
    startOutlook = new QCheckBox("Outlook bei Synchronisation starten", this);
    layout->addWidget(startOutlook);
    auto* portRow = new QHBoxLayout();
    portRow->addWidget(new QLabel("Port des Servers", this));
    port = new QLineEdit(this);
    portRow->addWidget(port);
    portRow->addWidget(
        new QLabel(QString::fromUtf8("Portänderung wird nach Neustart aktiv"), this));
    layout->addLayout(portRow);
    auto* buttons = new QHBoxLayout();
    saveButton = new QPushButton("Speichern", this);
    cancelButton = new QPushButton("Abbruch", this);
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
