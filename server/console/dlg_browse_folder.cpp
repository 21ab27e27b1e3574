// The folder chooser over the stores of a MAPI session.
#include "server/console/dlg_browse_folder.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "server/console/dialog_buttons.h"
#include "server/console/dlg_edit_help.h"
#include "server/mapi/mapi_status_calls.h"

namespace {

constexpr int kEntryIdRole = Qt::UserRole;
constexpr int kStoreIdRole = Qt::UserRole + 1;
constexpr int kLoadedRole = Qt::UserRole + 2;
constexpr int kStoreNameRole = Qt::UserRole + 3;

QByteArray Bytes(const std::string& text) {
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}
std::string Text(const QVariant& value) {
    QByteArray bytes = value.toByteArray();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

}  // namespace

CDlgBrowseFolder::CDlgBrowseFolder(CMapiRef<IMAPISession> session, bool several, QWidget* parent,
                                   const std::vector<std::string>& preChecked)
    : QDialog(parent), session_(std::move(session)), several_(several), preChecked_(preChecked) {
    setWindowTitle("Ordner");
    SetHelpScope(this, "browseFolder");
    auto* layout = new QVBoxLayout(this);
    tree = HelpNamed(new QTreeWidget(this), "folderTree");
    tree->setHeaderHidden(true);
    layout->addWidget(tree);
    // "&" marks the mnemonic (Alt+A) of the field; a label shows it as such only
    // when it has a buddy, otherwise the "&" itself would be shown.
    displayNameLabel = new QLabel("&Anzeigename", this);
    layout->addWidget(displayNameLabel);
    displayName = HelpNamed(new QLineEdit(this), "displayName");
    displayName->setReadOnly(true);
    displayNameLabel->setBuddy(displayName);
    layout->addWidget(displayName);
    layout->addWidget(OkCancelButtons(this, "Abbrechen"));
    connect(tree, &QTreeWidget::itemExpanded, this,
            [this](QTreeWidgetItem* item) { Expand(item); });
    connect(
        tree, &QTreeWidget::currentItemChanged, this,
        [this](QTreeWidgetItem* item, QTreeWidgetItem*) {
            if (item == nullptr) return;
            QString store = item->data(0, kStoreNameRole).toString();
            displayName->setText(store.isEmpty() ? item->text(0) : store + " - " + item->text(0));
        });

    if (!session_) return;
    for (const CStoreRow& row : ListStores(session_.Get())) {
        CMapiRef<IMsgStore> store = OpenStore(session_.Get(), row.entryId);
        if (!store) continue;
        stores_[row.entryId] = store;
        auto* node = new QTreeWidgetItem(tree);
        node->setText(0, QString::fromStdString(row.displayName));
        node->setData(0, kEntryIdRole,
                      Bytes(GetBinaryProperty(store.Get(), PR_IPM_SUBTREE_ENTRYID)));
        node->setData(0, kStoreIdRole, Bytes(row.entryId));
        node->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    }
}

void CDlgBrowseFolder::Expand(QTreeWidgetItem* item) {
    if (item->data(0, kLoadedRole).toBool()) return;
    item->setData(0, kLoadedRole, true);
    auto store = stores_.find(Text(item->data(0, kStoreIdRole)));
    if (store == stores_.end()) return;
    CMapiRef<IMAPIFolder> folder =
        OpenFolderEntry(store->second.Get(), Text(item->data(0, kEntryIdRole)));
    if (folder) AddChildren(item, folder.Get());
    if (item->childCount() == 0) item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
}

void CDlgBrowseFolder::AddChildren(QTreeWidgetItem* parent, IMAPIFolder* folder) {
    QTreeWidgetItem* storeNode = parent;
    while (storeNode->parent() != nullptr) storeNode = storeNode->parent();
    for (const CChildFolder& child : ListChildFolders(folder)) {
        auto* node = new QTreeWidgetItem(parent);
        node->setText(0, QString::fromStdString(child.displayName));
        node->setData(0, kEntryIdRole, Bytes(child.entryId));
        node->setData(0, kStoreIdRole, parent->data(0, kStoreIdRole));
        node->setData(0, kStoreNameRole, storeNode->text(0));
        node->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
        if (several_) {
            bool checked = std::find(preChecked_.begin(), preChecked_.end(), child.entryId) !=
                           preChecked_.end();
            node->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
        }
    }
}

std::vector<QTreeWidgetItem*> CDlgBrowseFolder::Chosen() const {
    std::vector<QTreeWidgetItem*> chosen;
    if (several_) {
        for (QTreeWidgetItemIterator it(tree, QTreeWidgetItemIterator::Checked); *it; ++it) {
            chosen.push_back(*it);
        }
    }
    if (chosen.empty() && tree->currentItem() != nullptr &&
        tree->currentItem()->parent() != nullptr) {
        chosen.push_back(tree->currentItem());
    }
    return chosen;
}

std::vector<std::string> CDlgBrowseFolder::ChosenEntryIds() const {
    std::vector<std::string> ids;
    for (QTreeWidgetItem* item : Chosen()) ids.push_back(Text(item->data(0, kEntryIdRole)));
    return ids;
}

std::string CDlgBrowseFolder::ChosenNames() const {
    std::string names;
    for (QTreeWidgetItem* item : Chosen()) {
        if (!names.empty()) names += ", ";
        names += item->text(0).toStdString();
    }
    return names;
}

std::vector<std::string> CDlgBrowseFolder::ChosenPaths() const {
    std::vector<std::string> paths;
    for (QTreeWidgetItem* item : Chosen()) {
        auto store = stores_.find(Text(item->data(0, kStoreIdRole)));
        if (store == stores_.end()) continue;
        CMapiRef<IMAPIFolder> folder =
            OpenFolderEntry(store->second.Get(), Text(item->data(0, kEntryIdRole)));
        if (!folder) continue;  // a folder that cannot be opened is skipped
        std::string path = FolderFullPath(store->second.Get(), folder.Get());
        if (!path.empty()) paths.push_back(path);
    }
    return paths;
}
