// The main window: a wizard from the disk to the recovered folders. Every long operation (the
// search, a folder listing, saving, loading a log) runs on a worker thread; what a worker
// reports reaches the widgets through the window's timer and queued calls, never directly.
#pragma once

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <thread>
#include <unordered_map>

#include "search/save_driver.h"
#include "session/session.h"
#include "ui/controls.h"
#include "ui/dialogs.h"
#include "ui/gui_observer.h"
#include "ui/prompts.h"
#include "ui/text_progress.h"

namespace quorlan::ui {

// The help texts of the bottom strip.
namespace help {
inline const QString kDiskPage = QString::fromUtf8(
    "Select the disk from left Panel from which you want to recover Data. Select the searching criteria (Standard "
    "Search or Advance Search) and Press \u2018Next\u2019 button to Proceed. Both the recovery Modes recover data using "
    "different recovery techniques in different cases of data loss.");
inline const QString kPartitionPageNext = QString::fromUtf8(
    "Select the Partition from left Panel from which you want to recover Data. If the partition (from which you want to "
    "recover your data) is not in the list, Press \u2018Search More Partitions\u2019 button to search other Lost or "
    "Deleted Partitions. Press \u2018Next\u2019 button to start searching Data.");
inline const QString kPartitionPageBack = QStringLiteral(
    "Select the Partition from left Panel from which you want to recover Data. Press 'Search More Partitions' button to "
    "search other Lost or Deleted Partitions. Press 'Next' button to start searching Data.");
inline const QString kNoPartition = QStringLiteral(
    "Select the partition to recover from left panel and then click on next button or use Searching Partition for "
    "search missing partition.");
inline const QString kSearchStarted = QStringLiteral(
    "You can stop searching Files and Folders by clicking on 'Stop Search' button. However, it is strongly recommended "
    "that you should allow the software to complete the searching Process.");
inline const QString kResults = QStringLiteral(
    "Select Files and Folders from left Panel Directories' Tree and Click on 'Save' button in Toolbar to save recovered "
    "Files and Folders.");
// After a search that ran to its end the sentence says "left panel".
inline const QString kSearchFinished = QStringLiteral(
    "Select Files and Folders from left panel Directories' Tree and Click on 'Save' button in Toolbar to save recovered "
    "Files and Folders.");
}  // namespace help

class CChildDialogExDemoDlg : public QWidget {
    Q_OBJECT
public:
    // prompts answers the window's questions; the real dialogs when empty. roots says where the
    // removable disks are listed from, at start and at every refresh (tests give a tree of their
    // own; the program the system's sysfs and udev database).
    explicit CChildDialogExDemoDlg(std::unique_ptr<Prompts> prompts = nullptr, InventoryRoots roots = {},
                                   QWidget* parent = nullptr);
    ~CChildDialogExDemoDlg() override;

    [[nodiscard]] int wizardStep() const { return m_step; }
    [[nodiscard]] bool busy() const { return m_worker.joinable() && !m_workerDone; }
    [[nodiscard]] QString helpText() const { return m_help->text(); }
    [[nodiscard]] QString currentFolderText() const { return m_currentFolderValue->text(); }
    [[nodiscard]] mytreectrl* diskTree() const { return m_diskTree; }
    [[nodiscard]] mytreectrl* partitionTree() const { return m_partitionTree; }
    [[nodiscard]] mytreectrl* resultTree() const { return m_resultTree; }
    [[nodiscard]] CColoredListCtrl* propertyList() const { return m_list; }
    [[nodiscard]] Session& session() { return m_session; }
    [[nodiscard]] QPushButton* nextButton() const { return m_next; }
    [[nodiscard]] QPushButton* backButton() const { return m_back; }

    // Commands, as the buttons, menus and keys run them.
    void refreshList();
    bool addImage(const QString& path);
    void openImage();
    void selectDiskSlot(std::size_t slot);
    void selectStandardSearch();
    void next();
    void back();
    void selectPartition(int index);
    void stopSearch();
    void clickCheckBox(QTreeWidgetItem* item);
    void listFolder(QTreeWidgetItem* item, FolderListing listing = FolderListing::Select);
    void openItem();
    void save(bool all);
    void saveLog();
    void loadLog();
    bool exitProgram();
    // Runs the event loop until no worker runs (tests, and the window's own waits).
    void waitForWorker();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildUi();
    void showPage(int step);
    void setHelp(const QString& text) { m_help->setText(text); }
    void startWorker(std::function<void(std::stop_token)> work, std::function<void()> done);
    void poll();
    void applyObserved(const ObservedState& s);
    void fillDiskTree();
    void fillPartitionPage();
    void showDiskDetails(std::size_t slot);
    void showPartitionDetails(int index);
    void searchFinished(SearchResult result);
    void buildResultTree();
    void refreshResultItem(QTreeWidgetItem* item);
    void refreshChecks(QTreeWidgetItem* item);
    void fillFileList(const std::vector<ListedRow>& rows);
    QIcon iconFor(const ListedRow& row);
    TreeItem* engineItem(QTreeWidgetItem* item) const;
    void enableResultCommands(bool on);
    void resetResults();
    void runSave(const SaveSelection& selection, const QString& destination);
    CollisionDecision askReplace(const std::string& existing, const std::string& proposed);

    Session m_session;
    InventoryRoots m_roots;
    std::unique_ptr<Prompts> m_prompts;
    int m_step = 0;
    std::optional<SearchMode> m_searchMode;
    std::optional<std::size_t> m_selectedSlot;
    int m_partitionIndex = -1;
    std::unordered_map<std::int64_t, QTreeWidgetItem*> m_itemsById;
    TreeItem* m_currentFolder = nullptr;
    std::vector<ListedRow> m_listed;
    QString m_lastDestination;

    // Worker
    std::jthread m_worker;
    bool m_workerDone = true;
    std::unique_ptr<GuiObserver> m_observer;
    std::unique_ptr<SaveControl> m_saveControl;
    // The reader's count of unreadable sectors when the running search or save began: the
    // status after it tells how many more could not be read.
    std::uint64_t m_unreadableAtStart = 0;
    QTimer m_pollTimer;

    // Widgets
    CBtn *m_saveBtn, *m_saveLogBtn, *m_loadLogBtn, *m_openImageBtn, *m_helpBtn, *m_aboutBtn, *m_exitBtn;
    QStackedWidget* m_trees;
    mytreectrl *m_diskTree, *m_partitionTree, *m_resultTree;
    QStackedWidget* m_panels;
    QWidget *m_diskPanel, *m_partitionPanel, *m_searchPanel, *m_resultsPanel;
    CCustomRadio* m_standardRadio;
    QLabel* m_modeLabel;
    QLineEdit *m_startEdit, *m_endEdit;
    std::map<std::string, QLabel*> m_searchValues;
    QLabel* m_foldersFoundLabel;
    Counter m_shownCounter = Counter::FoldersFound;  // the counter the search panel shows
    CTextProgressCtrl* m_searchBar;
    QLabel* m_searchStatus;
    QPushButton* m_stopSearch;
    QLabel* m_currentFolderValue;
    CTextProgressCtrl* m_treeLoadBar;
    CColoredListCtrl* m_list;
    CColorStatic* m_help;
    QPushButton *m_back, *m_next;
    CPopulate* m_populate = nullptr;
    CalculatingDialog* m_calculating = nullptr;
    SavingDialog* m_saving = nullptr;
    bool m_closing = false;
    bool m_treeHasFocusFlag = false;  // Tab moves from the tree to the list when set, else back
};

}  // namespace quorlan::ui
