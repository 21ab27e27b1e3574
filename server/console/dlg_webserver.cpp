// The web server pane and the virtual directory dialog.
#include "server/console/dlg_webserver.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "server/console/dialog_buttons.h"
#include "server/console/dlg_edit_help.h"
#include "server/console/list_columns.h"

namespace {

constexpr const char* kBadDirectoryText =
    "Ungültiges virtuelles Verzeichnis: der Name fehlt, oder ein Feld enthält \";\", einen "
    "Zeilenumbruch oder Leerzeichen am Anfang oder Ende.";

}  // namespace

CDlgNewDir::CDlgNewDir(const CWebDirectory& start, QWidget* parent) : QDialog(parent) {
    setWindowTitle("Virtuelles Verzeichnis");
    SetHelpScope(this, "newDir");
    auto* form = new QFormLayout(this);
    directory =
        HelpNamed(new QLineEdit(QString::fromStdString(start.Directory), this), "directory");
    url = HelpNamed(new QLineEdit(QString::fromStdString(start.URL), this), "url");
    realm = HelpNamed(new QLineEdit(QString::fromStdString(start.Realm), this), "realm");
    username = HelpNamed(new QLineEdit(QString::fromStdString(start.Username), this), "username");
    password = HelpNamed(new QLineEdit(QString::fromStdString(start.Password), this), "password");
    form->addRow("Virtuelles Verzeichnis", directory);
    form->addRow("Ziel-URL", url);
    form->addRow("Realm", realm);
    form->addRow("Benutzername", username);
    form->addRow("Passwort", password);
    form->addRow(OkCancelButtons(this, "Cancel"));
}

CWebDirectory CDlgNewDir::Value() const {
    return CWebDirectory{directory->text().toStdString(), url->text().toStdString(),
                         realm->text().toStdString(), username->text().toStdString(),
                         password->text().toStdString()};
}

CDlgWebserver::CDlgWebserver(Settings& settings, CConsolePrompts& prompts, QWidget* parent)
    : QWidget(parent), settings_(settings), prompts_(prompts) {
    editDirectory = [](QWidget* parent,
                       const CWebDirectory& start) -> std::optional<CWebDirectory> {
        CDlgNewDir dialog(start, parent);
        if (dialog.exec() != QDialog::Accepted) return std::nullopt;
        return dialog.Value();
    };
    chooseBaseDir = [](QWidget* parent) -> std::optional<std::string> {
        QString path = QFileDialog::getExistingDirectory(parent, "Web base Dir");
        if (path.isEmpty()) return std::nullopt;
        return path.toStdString();
    };
    SetHelpScope(this, "webserver");
    auto* layout = new QVBoxLayout(this);
    auto* baseRow = new QHBoxLayout();
    auto* baseLabel = new QLabel("Basisverzeichnis Webserver", this);
    baseRow->addWidget(baseLabel);
    baseDir = HelpNamed(new QLineEdit(this), "baseDir");
    baseLabel->setBuddy(baseDir);
    browseButton = HelpNamed(new QPushButton("...", this), "browseButton");
    baseRow->addWidget(baseDir);
    baseRow->addWidget(browseButton);
    layout->addLayout(baseRow);
    auto* group = new QGroupBox("Weiterleitungen und Zugriff", this);
    auto* groupLayout = new QVBoxLayout(group);
    list = HelpNamed(new QTreeWidget(group), "directoryList");
    list->setColumnCount(5);
    list->setHeaderLabels({"Directory", "URL", "Realm", "Username", "Password"});
    // Directory and URL share the width the three short columns leave.
    LayOutColumns(list, {0, 0, 100, 100, 100});
    list->setRootIsDecorated(false);
    groupLayout->addWidget(list);
    auto* buttons = new QHBoxLayout();
    addButton = HelpNamed(new QPushButton("+", group), "addButton");
    removeButton = HelpNamed(new QPushButton("-", group), "removeButton");
    changeButton = HelpNamed(new QPushButton(QString::fromUtf8("Ändern"), group), "changeButton");
    buttons->addWidget(addButton);
    buttons->addWidget(removeButton);
    buttons->addWidget(changeButton);
    buttons->addStretch();
    groupLayout->addLayout(buttons);
    layout->addWidget(group, 1);
    connect(browseButton, &QPushButton::clicked, this, [this] { OnBrowse(); });
    connect(baseDir, &QLineEdit::editingFinished, this, [this] { OnBaseDirEdited(); });
    connect(addButton, &QPushButton::clicked, this, [this] { OnAdd(); });
    connect(removeButton, &QPushButton::clicked, this, [this] { OnRemove(); });
    connect(changeButton, &QPushButton::clicked, this, [this] { OnChange(); });
}

void CDlgWebserver::Fill() {
    baseDir->setText(QString::fromStdString(settings_.WebBaseDir()));
    list->clear();
    for (const auto& [key, record] : settings_.WebDirectories()) {
        auto* item = new QTreeWidgetItem(list);
        item->setText(0, QString::fromStdString(record.Directory));
        item->setText(1, QString::fromStdString(record.URL));
        item->setText(2, QString::fromStdString(record.Realm));
        item->setText(3, QString::fromStdString(record.Username));
        item->setText(4, QString::fromStdString(record.Password));
        item->setData(0, Qt::UserRole, QString::fromStdString(key));
    }
}

void CDlgWebserver::OnBrowse() {
    std::optional<std::string> path = chooseBaseDir(this);
    if (!path) return;
    baseDir->setText(QString::fromStdString(*path));
    settings_.SetWebBaseDir(*path);
    settings_.SaveSettings();
}

void CDlgWebserver::OnBaseDirEdited() {
    std::string text = baseDir->text().toStdString();
    if (text == settings_.WebBaseDir()) return;
    settings_.SetWebBaseDir(text);
    settings_.SaveSettings();
}

std::string CDlgWebserver::SelectedDirectory() const {
    QTreeWidgetItem* item = list->currentItem();
    return item == nullptr ? std::string() : item->data(0, Qt::UserRole).toString().toStdString();
}

bool CDlgWebserver::OnAdd() {
    std::optional<CWebDirectory> record = editDirectory(this, CWebDirectory());
    if (!record) return false;
    if (!WebDirectoryProblem(*record).empty()) {
        prompts_.error(this, kBadDirectoryText);
        return false;
    }
    bool added = false;
    if (settings_.WebDirectories().count(record->Directory) == 0) {
        settings_.SetWebDirectory(*record);
        added = true;
    }
    Fill();
    settings_.SaveSettings();
    return added;
}

void CDlgWebserver::OnChange() {
    std::string key = SelectedDirectory();
    if (key.empty()) return;
    std::map<std::string, CWebDirectory> records = settings_.WebDirectories();
    auto found = records.find(key);
    if (found == records.end()) return;
    std::optional<CWebDirectory> record = editDirectory(this, found->second);
    if (!record) return;
    if (!WebDirectoryProblem(*record).empty()) {
        prompts_.error(this, kBadDirectoryText);
        return;
    }
    if (record->Directory != key && records.count(record->Directory) != 0) {
        // Another record has that name already: it stays, and so does this one.
        prompts_.error(this, "Das virtuelle Verzeichnis gibt es schon: " + record->Directory);
        return;
    }
    if (record->Directory != key) settings_.RemoveWebDirectory(key);
    settings_.SetWebDirectory(*record);
    Fill();
    settings_.SaveSettings();
}

void CDlgWebserver::OnRemove() {
    std::string key = SelectedDirectory();
    if (key.empty()) return;
    settings_.RemoveWebDirectory(key);
    Fill();
    settings_.SaveSettings();
}
