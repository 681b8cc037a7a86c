#include "ui/result_tree_model.h"

#include <QColor>

namespace quorlan::ui {

ResultTreeModel::ResultTreeModel(QObject* parent) : QAbstractItemModel(parent) {}

void ResultTreeModel::setIcons(QIcon root, QIcon folder, QIcon openFolder) {
    m_rootIcon = std::move(root);
    m_folderIcon = std::move(folder);
    m_openFolderIcon = std::move(openFolder);
}

void ResultTreeModel::attach(ResultModel* model) {
    beginResetModel();
    m_model = model;
    snapshot();
    endResetModel();
}

void ResultTreeModel::detach() {
    if (m_model == nullptr) return;
    beginResetModel();
    m_model = nullptr;
    m_shown.clear();
    endResetModel();
}

void ResultTreeModel::snapshot() {
    m_shown.clear();
    if (m_model == nullptr) return;
    // The walk keeps its own stack: a damaged disk can chain folders very deep.
    ResultTree::ForEach(m_model->tree.root(), [&](TreeItem* t) {
        Shown& s = m_shown[t];
        s.text = QString::fromStdString(t->text);
        const FolderNode* node = m_model->FindFolderNode(t);
        s.deleted = node != nullptr && node->deleted;
        for (std::size_t i = 0; i < t->children.size(); ++i) m_shown[t->children[i].get()].row = static_cast<int>(i);
    });
}

void ResultTreeModel::refresh() {
    if (m_model == nullptr) return;
    ResultTree::ForEach(m_model->tree.root(), [&](TreeItem* t) {
        Shown& s = m_shown[t];
        const QString text = QString::fromStdString(t->text);
        const FolderNode* node = m_model->FindFolderNode(t);
        const bool deleted = node != nullptr && node->deleted;
        if (text == s.text && deleted == s.deleted) return;
        s.text = text;
        s.deleted = deleted;
        const QModelIndex i = indexOf(t);
        emit dataChanged(i, i, {Qt::DisplayRole, Qt::ForegroundRole});
    });
}

void ResultTreeModel::setOpen(const QModelIndex& index, bool open) {
    const auto it = m_shown.find(item(index));
    if (it == m_shown.end() || it->second.open == open) return;
    it->second.open = open;
    emit dataChanged(index, index, {Qt::DecorationRole});
}

TreeItem* ResultTreeModel::item(const QModelIndex& index) const {
    if (!index.isValid() || m_model == nullptr) return nullptr;
    return static_cast<TreeItem*>(index.internalPointer());
}

QModelIndex ResultTreeModel::indexOf(const TreeItem* t) const {
    if (t == nullptr || m_model == nullptr) return {};
    const auto it = m_shown.find(t);
    if (it == m_shown.end()) return {};
    return createIndex(it->second.row, 0, const_cast<TreeItem*>(t));
}

QModelIndex ResultTreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (m_model == nullptr || column != 0 || row < 0) return {};
    if (!parent.isValid()) {
        return row == 0 ? createIndex(0, 0, m_model->tree.root()) : QModelIndex();
    }
    const TreeItem* p = item(parent);
    if (p == nullptr || static_cast<std::size_t>(row) >= p->children.size()) return {};
    return createIndex(row, 0, p->children[static_cast<std::size_t>(row)].get());
}

QModelIndex ResultTreeModel::parent(const QModelIndex& child) const {
    const TreeItem* t = item(child);
    if (t == nullptr || t->parent == nullptr) return {};
    return indexOf(t->parent);
}

int ResultTreeModel::rowCount(const QModelIndex& parent) const {
    if (m_model == nullptr) return 0;
    if (!parent.isValid()) return 1;
    if (parent.column() != 0) return 0;
    const TreeItem* p = item(parent);
    return p == nullptr ? 0 : static_cast<int>(p->children.size());
}

int ResultTreeModel::columnCount(const QModelIndex&) const { return 1; }

QVariant ResultTreeModel::data(const QModelIndex& index, int role) const {
    const TreeItem* t = item(index);
    if (t == nullptr) return {};
    const auto it = m_shown.find(t);
    switch (role) {
        case Qt::DisplayRole:
            return it == m_shown.end() ? QString() : it->second.text;
        case Qt::CheckStateRole:
            return t->check == kChecked         ? Qt::Checked
                   : t->check == kPartlyChecked ? Qt::PartiallyChecked
                                                : Qt::Unchecked;
        case Qt::DecorationRole:
            if (t->parent == nullptr) return m_rootIcon;
            return it != m_shown.end() && it->second.open ? m_openFolderIcon : m_folderIcon;
        case Qt::ForegroundRole:
            if (it != m_shown.end() && it->second.deleted) return QColor(160, 0, 0);
            return {};
        default:
            return {};
    }
}

bool ResultTreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    TreeItem* t = item(index);
    if (t == nullptr || role != Qt::CheckStateRole) return false;
    // A view toggles between checked and unchecked; the engine's click does the same for a
    // checked or unchecked item and unchecks a partly checked one.
    const bool wantChecked = value.value<Qt::CheckState>() != Qt::Unchecked;
    if (wantChecked == ResultTree::IsChecked(t)) return true;
    clickCheckBox(index);
    return true;
}

void ResultTreeModel::clickCheckBox(const QModelIndex& index) {
    TreeItem* t = item(index);
    if (t == nullptr) return;
    ResultTree::ClickCheckBox(t);
    subtreeChanged(t);
    for (const TreeItem* p = t->parent; p != nullptr; p = p->parent) {
        const QModelIndex i = indexOf(p);
        emit dataChanged(i, i, {Qt::CheckStateRole});
    }
}

void ResultTreeModel::subtreeChanged(const TreeItem* top) {
    const QModelIndex i = indexOf(top);
    emit dataChanged(i, i, {Qt::CheckStateRole});
    ResultTree::ForEach(const_cast<TreeItem*>(top), [&](TreeItem* t) {
        if (t->children.empty()) return;
        emit dataChanged(indexOf(t->children.front().get()), indexOf(t->children.back().get()), {Qt::CheckStateRole});
    });
}

Qt::ItemFlags ResultTreeModel::flags(const QModelIndex& index) const {
    if (item(index) == nullptr) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
}

}  // namespace quorlan::ui
