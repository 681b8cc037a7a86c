// The results page: the recovered folder tree (the engine's tree through ResultTreeModel), the
// current folder, the tree-loading bar of a recovery log, and the file list of the folder shown.
#pragma once

#include <QObject>
#include <vector>

#include "search/folder_listing.h"
#include "ui/controls.h"
#include "ui/result_tree_model.h"
#include "ui/text_progress.h"

namespace quorlan::ui {

class ResultsPage : public QObject {
    Q_OBJECT
public:
    explicit ResultsPage(QWidget* parent);

    [[nodiscard]] CResultTreeView* tree() const { return m_tree; }
    [[nodiscard]] QWidget* panel() const { return m_panel; }
    [[nodiscard]] ResultTreeModel* model() const { return m_model; }
    [[nodiscard]] CTextProgressCtrl* treeLoadBar() const { return m_treeLoadBar; }

    // Shows the engine's tree, its root expanded; nothing listed yet.
    void attach(ResultModel* model);
    // Lets go of the tree before a job rebuilds or clears it.
    void detach();
    // The loading bar of a recovery log and its text.
    void showTreeLoading(bool shown);

    [[nodiscard]] TreeItem* currentFolder() const { return m_currentFolder; }
    [[nodiscard]] QString currentFolderText() const { return m_currentFolderValue->text(); }
    // A folder was listed: it becomes the current folder and the list shows its rows.
    void showListing(CColoredListCtrl& list, TreeItem* folder, std::vector<ListedRow> rows, bool ntfs);
    // The rows of the list as they were listed (the list may be sorted since).
    [[nodiscard]] const ListedRow* rowOf(const QTreeWidgetItem* item) const;
    [[nodiscard]] std::vector<ListedRow> selectedRows(const CColoredListCtrl& list) const;

private:
    QIcon iconFor(const ListedRow& row) const;

    CResultTreeView* m_tree;
    ResultTreeModel* m_model;
    QWidget* m_panel;
    QLabel* m_currentFolderValue;
    QLabel* m_treeLoadLabel;
    CTextProgressCtrl* m_treeLoadBar;
    TreeItem* m_currentFolder = nullptr;
    std::vector<ListedRow> m_listed;
};

// The columns of the file list: "Name" (145), "Type" (100), "Size" (70), "Date" (100),
// "Time" (70) and three hidden "Debug Info" columns.
[[nodiscard]] std::vector<std::pair<QString, int>> FileListColumns();
[[nodiscard]] std::vector<std::pair<QString, int>> NameValueColumns();

}  // namespace quorlan::ui
