// The folder properties dialog.
#include "server/console/dlg_folder_properties.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>

#include "server/console/dialog_buttons.h"
#include "server/console/dlg_browse_folder.h"
#include "server/console/dlg_edit_help.h"
#include "server/console/dlg_user.h"
#include "server/mapi/mapi_status_calls.h"

CDlgFolderProperties::CDlgFolderProperties(const CFolderSetting& folder,
                                           const std::string& profileName, QWidget* parent)
    : QDialog(parent), profileName_(profileName) {
    setWindowTitle("Ordnereigenschaften");
    SetHelpScope(this, "folderProperties");
    auto* form = new QFormLayout(this);
    auto* pathRow = new QHBoxLayout();
    outlookPath =
        HelpNamed(new QLineEdit(QString::fromStdString(folder.outlookPath), this), "outlookPath");
    browseButton = HelpNamed(new QPushButton("...", this), "browseButton");
    pathRow->addWidget(outlookPath);
    pathRow->addWidget(browseButton);
    auto* pathLabel = new QLabel("Outlook-Pfad", this);
    pathLabel->setBuddy(outlookPath);
    form->addRow(pathLabel, pathRow);
    virtualPath =
        HelpNamed(new QLineEdit(QString::fromStdString(folder.virtualPath), this), "virtualPath");
    form->addRow("Virtueller Pfad", virtualPath);
    subfolders = HelpNamed(new QCheckBox("Unterordner", this), "subfolders");
    subfolders->setChecked(folder.subfolders != 0);
    form->addRow("", subfolders);
    defaultFolder = HelpNamed(new QComboBox(this), "defaultFolder");
    for (int32_t code : DefaultFolderCodesInOrder()) {
        defaultFolder->addItem(QString::fromStdString(DefaultFolderName(code)), code);
    }
    defaultFolder->setCurrentIndex(defaultFolder->findData(folder.defaultCode));
    form->addRow(QString::fromUtf8("Standardordner für"), defaultFolder);
    form->addRow(OkCancelButtons(this, "Abbrechen"));
    connect(browseButton, &QPushButton::clicked, this, [this] { OnBrowse(); });
}

void CDlgFolderProperties::ApplyTo(CFolderSetting& folder) const {
    folder.outlookPath = outlookPath->text().toStdString();
    folder.virtualPath = virtualPath->text().toStdString();
    folder.subfolders = subfolders->isChecked() ? 1 : 0;
    folder.defaultCode =
        defaultFolder->currentIndex() < 0 ? kNoDefaultFolder : defaultFolder->currentData().toInt();
}

void CDlgFolderProperties::OnBrowse() {
    HRESULT error = S_OK;
    CMapiRef<IMAPISession> session = LogonProfile(profileName_, error);
    if (!session) return;
    CDlgBrowseFolder chooser(session, false, this);
    if (chooser.exec() != QDialog::Accepted) return;
    for (const std::string& path : chooser.ChosenPaths()) {
        outlookPath->setText(QString::fromStdString(path));
    }
}
