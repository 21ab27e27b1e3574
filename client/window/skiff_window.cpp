// The Qt shell of Skiff.
#include "client/window/skiff_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMetaObject>
#include <QPointer>
#include <QScreen>
#include <QVBoxLayout>

#include "client/client_log.h"
#include "client/client_settings.h"
#include "platform/win/conn_mgr.h"

namespace {
constexpr size_t kMaxConnections = 20;  // the platform's list holds at most 20
}

CDlgOption1::CDlgOption1(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Skiff");
    auto* grid = new QGridLayout(this);
    server = new QLineEdit(this);
    username = new QLineEdit(this);
    password = new QLineEdit(this);
    password->setEchoMode(QLineEdit::Password);
    grid->addWidget(new QLabel("Server", this), 0, 0);
    grid->addWidget(server, 0, 1);
    grid->addWidget(new QLabel("Benutzername", this), 1, 0);
    grid->addWidget(username, 1, 1);
    grid->addWidget(new QLabel("Passwort", this), 2, 0);
    grid->addWidget(password, 2, 1);
    info = new QLabel("Statisch", this);
    grid->addWidget(info, 3, 0, 1, 2);
    next = new QPushButton("Weiter", this);
    cancel = new QPushButton("Abbruch", this);
    next->setDefault(true);
    grid->addWidget(next, 4, 0);
    grid->addWidget(cancel, 4, 1);
    connect(next, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

CDlgOptions2::CDlgOptions2(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Skiff");
    auto* grid = new QGridLayout(this);
    int row = 0;
    for (const char* kind : {"Kontakte", "Kalender", "Aufgaben", "E-Mails", "Dateien"}) {
        grid->addWidget(new QCheckBox(kind, this), row, 0);
        if (row < 4) grid->addWidget(new QPushButton("Optionen", this), row, 1);
        ++row;
    }
    info = new QLabel("Statisch", this);
    grid->addWidget(info, row++, 0, 1, 2);
    next = new QPushButton("Weiter", this);
    back = new QPushButton(QString::fromUtf8("Zur\xC3\xBC"
                                             "ck"),
                           this);
    next->setDefault(true);
    grid->addWidget(next, row, 0);
    grid->addWidget(back, row, 1);
    connect(next, &QPushButton::clicked, this, &QDialog::accept);
}

bool RunOptionsFlow(const std::function<int(CDlgOption1&)>& runPage1,
                    const std::function<int(CDlgOptions2&)>& runPage2, QWidget* parent) {
    while (true) {
        CDlgOption1 page1(parent);
        ClientSettings s = GetClientSettings();
        page1.server->setText(QString::fromStdString(s.server));
        page1.username->setText(QString::fromStdString(s.username));
        page1.password->setText(QString::fromStdString(s.password));
        QScreen* screen = QGuiApplication::primaryScreen();
        QSize size = screen ? screen->size() : QSize();
        page1.info->setText(QString("%1 %2").arg(size.width()).arg(size.height()));
        if (runPage1(page1) != QDialog::Accepted) return false;
        s.server = page1.server->text().toStdString();
        s.username = page1.username->text().toStdString();
        s.password = page1.password->text().toStdString();
        SetClientSettings(s);
        CDlgOptions2 page2(parent);
        if (runPage2(page2) == QDialog::Accepted) return SaveClientSettings();
    }
}

CSyncDlg::CSyncDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Skiff");
    auto* layout = new QVBoxLayout(this);
    status = new QLabel("Static", this);
    log = new QListWidget(this);
    connections = new QListWidget(this);
    connections->setMaximumHeight(60);
    layout->addWidget(status);
    layout->addWidget(log, 1);
    layout->addWidget(connections);
    auto* buttons = new QHBoxLayout();
    sync = new QPushButton("Sync", this);
    save = new QPushButton("Save", this);
    options = new QPushButton("Optionen", this);
    buttons->addWidget(sync);
    buttons->addWidget(save);
    buttons->addWidget(options);
    buttons->addWidget(new QLabel("v1", this));
    layout->addLayout(buttons);
    connect(sync, &QPushButton::clicked, this, [this] { OnSync(); });
    connect(save, &QPushButton::clicked, this, [this] { OnSave(); });
    connect(options, &QPushButton::clicked, this, [this] { OnOptions(); });

    // Lines and run states from the run's thread are queued to this window.
    QPointer<CSyncDlg> self(this);
    SetLogLineSink([self](const std::string& line) {
        QString text = QString::fromStdString(line);
        QMetaObject::invokeMethod(
            qApp,
            [self, text] {
                if (self) self->log->addItem(text);
            },
            Qt::QueuedConnection);
    });
    SetRunStateSink([self](bool running) {
        QMetaObject::invokeMethod(
            qApp,
            [self, running] {
                if (!self) return;
                self->sync->setText(running ? "Stop" : "Sync");
                self->save->setEnabled(!running);  // Save never writes beside a run
            },
            Qt::QueuedConnection);
    });
    connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
    timer_.start(1000);
    AddLogLine(GetDeviceId());
}

CSyncDlg::~CSyncDlg() {
    runner_.Stop();
    runner_.Wait();
    SetRunStateSink(nullptr);
    SetLogLineSink(nullptr);
}

void CSyncDlg::Tick() {
    status->setText(QString::fromStdString(StatusText()));
    connections->clear();
    for (const std::string& name : EnumActiveConnections(kMaxConnections)) {
        connections->addItem(QString::fromStdString(name));
    }
}

void CSyncDlg::OnSync() {
    if (runner_.IsRunning()) {
        runner_.Stop();
        return;
    }
    log->clear();
    runner_.Start();
}

void CSyncDlg::OnSave() {
    std::string error;
    if (!SaveAllSnapshots(&error)) AddLogLine("Save: " + error);
}

void CSyncDlg::OnOptions() {
    RunOptionsFlow([](CDlgOption1& page) { return page.exec(); },
                   [](CDlgOptions2& page) { return page.exec(); }, this);
}

int RunSkiffWindow(int argc, char** argv) {
    QApplication app(argc, argv);
    LoadClientSettings();
    CSyncDlg dialog;
    dialog.show();
    return app.exec();
}
