// The folder properties dialog.
#include "server/console/dlg_folder_properties.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>

#include "server/config/mapi_access.h"
#include "server/console/dlg_browse_folder.h"
#include "server/console/dlg_user.h"

CDlgFolderProperties::CDlgFolderProperties(const CPocketFolder& folder,
                                           const std::string& profileName, QWidget* parent)
    : QDialog(parent), profileName_(profileName) {
    setWindowTitle("Ordnereigenschaften");
    auto* form = new QFormLayout(this);
    auto* pathRow = new QHBoxLayout();
    outlookPath = new QLineEdit(QString::fromStdString(folder.outlookPath), this);
    browseButton = new QPushButton("...", this);
    pathRow->addWidget(outlookPath);
    pathRow->addWidget(browseButton);
    form->addRow("Outlook-Pfad", pathRow);
    virtualPath = new QLineEdit(QString::fromStdString(folder.virtualPath), this);
    form->addRow("Virtueller Pfad", virtualPath);
    subfolders = new QCheckBox("Unterordner", this);
    subfolders->setChecked(folder.subfolders != 0);
    form->addRow("", subfolders);
    defaultFolder = new QComboBox(this);
    for (int32_t code : DefaultFolderCodesInOrder()) {
        defaultFolder->addItem(QString::fromStdString(DefaultFolderName(code)), code);
    }
    defaultFolder->setCurrentIndex(defaultFolder->findData(folder.defaultCode));
    form->addRow(QString::fromUtf8("Standardordner für"), defaultFolder);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Cancel)->setText("Abbrechen");
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(browseButton, &QPushButton::clicked, this, [this] { OnBrowse(); });
}

void CDlgFolderProperties::ApplyTo(CPocketFolder& folder) const {
    folder.outlookPath = outlookPath->text().toStdString();
    folder.virtualPath = virtualPath->text().toStdString();
    folder.subfolders = subfolders->isChecked() ? 1 : 0;
    folder.defaultCode =
        defaultFolder->currentIndex() < 0 ? kNoDefaultFolder : defaultFolder->currentData().toInt();
}

void CDlgFolderProperties::OnBrowse() {
    HRESULT error = S_OK;
    MapiShared<IMAPISession> session = LogonProfile(profileName_, error);
    if (!session) return;
    CDlgBrowseFolder chooser(session, false, this);
    if (chooser.exec() != QDialog::Accepted) return;
    for (const std::string& path : chooser.ChosenPaths()) {
        outlookPath->setText(QString::fromStdString(path));
    }
}
