// The recovered folder tree of the engine (ResultModel) as a Qt item model: one column, the
// folder names, three-state check boxes that follow the engine's click rule, deleted folders in
// red. The engine's tree is rebuilt and renamed by worker threads: the model lets go of it
// (detach) before a job rebuilds it, and shows names from a copy of its own, refreshed on the
// window's thread when a job that may rename folders has ended.
#pragma once

#include <QAbstractItemModel>
#include <QIcon>
#include <unordered_map>

#include "items/result_tree.h"

namespace quorlan::ui {

class ResultTreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    explicit ResultTreeModel(QObject* parent = nullptr);

    // Shows the engine's tree (its root item is the one top-level row).
    void attach(ResultModel* model);
    // Shows nothing: a job is about to rebuild or clear the tree.
    void detach();
    [[nodiscard]] bool attached() const { return m_model != nullptr; }
    // Reads the names and deleted marks again (a listing or a save named folders) and tells the
    // views of the rows that changed.
    void refresh();

    [[nodiscard]] TreeItem* item(const QModelIndex& index) const;
    [[nodiscard]] QModelIndex indexOf(const TreeItem* item) const;
    // A click on an item's check box, by the engine's rule; the item's subtree and its ancestors
    // change.
    void clickCheckBox(const QModelIndex& index);

    void setIcons(QIcon root, QIcon folder, QIcon openFolder);
    // The view expanded or collapsed the item: its icon follows.
    void setOpen(const QModelIndex& index, bool open);

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    struct Shown {
        QString text;
        bool deleted = false;
        int row = 0;  // among its parent's children
        bool open = false;  // expanded in the view: the open-folder icon
    };
    void snapshot();
    void subtreeChanged(const TreeItem* top);

    ResultModel* m_model = nullptr;
    std::unordered_map<const TreeItem*, Shown> m_shown;
    QIcon m_rootIcon, m_folderIcon, m_openFolderIcon;
};

}  // namespace quorlan::ui
