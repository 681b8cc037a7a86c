// The main window: a wizard from the disk to the recovered folders. The wizard's rules live in
// WizardController, each page in a class of its own, the recovered tree in ResultTreeModel, and
// every long operation runs on the one WorkerRunner; this class puts them together and runs the
// commands of the toolbar, the pages and the keys.
#pragma once

#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QWidget>
#include <memory>

#include "disks/disk_watcher.h"
#include "search/save_driver.h"
#include "session/session.h"
#include "ui/controls.h"
#include "ui/dialogs.h"
#include "ui/disk_page.h"
#include "ui/file_system_page.h"
#include "ui/help_texts.h"
#include "ui/partition_page.h"
#include "ui/prompts.h"
#include "ui/results_page.h"
#include "ui/search_panel.h"
#include "ui/wizard_controller.h"
#include "ui/worker_runner.h"

namespace quorlan::ui {

class CChildDialogExDemoDlg : public QWidget {
    Q_OBJECT
public:
    // prompts answers the window's questions; the real dialogs when empty. roots says where the
    // removable disks are listed from, at start and at every refresh (tests give a tree of their
    // own; the program the system's sysfs and udev database).
    explicit CChildDialogExDemoDlg(std::unique_ptr<Prompts> prompts = nullptr, InventoryRoots roots = {},
                                   QWidget* parent = nullptr);
    ~CChildDialogExDemoDlg() override;

    [[nodiscard]] const WizardController& wizard() const { return m_wizard; }
    [[nodiscard]] int wizardStep() const { return m_wizard.step(); }
    [[nodiscard]] bool busy() const { return m_runner->busy(); }
    [[nodiscard]] QString helpText() const { return m_help->text(); }
    [[nodiscard]] QString currentFolderText() const { return m_results->currentFolderText(); }
    [[nodiscard]] mytreectrl* diskTree() const { return m_diskPage->tree(); }
    [[nodiscard]] mytreectrl* partitionTree() const { return m_partitionPage->tree(); }
    [[nodiscard]] mytreectrl* fileSystemTree() const { return m_fileSystemPage->tree(); }
    [[nodiscard]] CResultTreeView* resultTree() const { return m_results->tree(); }
    [[nodiscard]] ResultTreeModel* resultModel() const { return m_results->model(); }
    [[nodiscard]] CColoredListCtrl* propertyList() const { return m_list; }
    [[nodiscard]] SearchPanel* searchPanel() const { return m_searchPanel; }
    [[nodiscard]] PartitionPage* partitionPage() const { return m_partitionPage; }
    [[nodiscard]] Session& session() { return m_session; }
    [[nodiscard]] QPushButton* nextButton() const { return m_next; }
    [[nodiscard]] QPushButton* backButton() const { return m_back; }
    [[nodiscard]] QPushButton* stopSearchButton() const { return m_stopSearch; }
    [[nodiscard]] CBtn* saveButton() const { return m_saveBtn; }
    [[nodiscard]] CBtn* saveLogButton() const { return m_saveLogBtn; }
    [[nodiscard]] CBtn* loadLogButton() const { return m_loadLogBtn; }

    // Commands, as the buttons, menus and keys run them.
    // Lists the disks again (Refresh List; the one call a "disks changed" notice makes).
    void refreshList();
    // Keeps the count of sectors the search just ended could not read, for the help text.
    void noteUnreadable();
    bool addImage(const QString& path);
    void openImage();
    void selectDiskSlot(std::size_t slot);
    void chooseMode(SearchMode mode);
    void selectStandardSearch() { chooseMode(SearchMode::Standard); }
    void selectAdvanceSearch() { chooseMode(SearchMode::Advance); }
    void next();
    void back();
    // A partition of the list (0-based), or PartitionPage::kUnknownItem.
    void selectPartition(int item);
    void stopSearch();
    void searchMorePartitions();
    void stopPartitionSearch();
    void chooseRange(bool sectorRange);
    void selectFileSystem(std::size_t number);
    void clickCheckBox(const QModelIndex& index);
    void listFolder(const QModelIndex& index, FolderListing listing = FolderListing::Select);
    void openItem();
    void save(bool all);
    void saveLog();
    void loadLog();
    bool exitProgram();
    // Runs the event loop until no job runs (tests, and the window's own waits).
    void waitForWorker() { m_runner->wait(); }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildUi();
    // Shows what the wizard says: the page, the buttons, the help text.
    void applyState();
    void setHelp(Help help);
    void fillDiskPage();
    void showNoMediaDialog();
    [[nodiscard]] std::uint64_t diskSectors() const;
    [[nodiscard]] SearchMode mode() const { return m_wizard.mode().value_or(SearchMode::Standard); }
    void startPartitionSearch(bool automatic);
    void partitionSearchFinished(const Result<LostPartitionResult>& found);
    void startStandardSearch(std::size_t partitionIndex);
    void startAdvanceSearch(const PartitionVerdict& verdict);
    // The scan and analysis ended: the list of file systems, or the guidance when it is empty.
    void advanceSearchFinished();
    void buildEntries(std::size_t number);
    void showResults();
    void writeLog();
    // Plans on the worker what to write, then writes it under destination; opened: the one file
    // written is then opened with the desktop's application for it.
    void runSave(std::function<SavePlan(WorkerRunner::Context&)> plan, const QString& destination, bool open);
    void showProgress(const ObservedState& s);

    Session m_session;
    InventoryRoots m_roots;
    std::unique_ptr<Prompts> m_prompts;
    WizardController m_wizard;
    WorkerRunner* m_runner;
    std::optional<std::size_t> m_selectedSlot;
    std::optional<int> m_partitionItem;  // the partition page's selection
    bool m_partitionSearchStopped = false;
    FileSystemType m_searchType = FileSystemType::Unknown;  // the type of the search shown
    QString m_lastDestination;
    std::unique_ptr<QTemporaryDir> m_openFolder;  // files opened from the list are saved here
    // Refreshes the disk page when a stick is plugged in or pulled out.
    std::unique_ptr<DiskWatcher> m_diskWatcher;
    // The reader's count of unreadable sectors when the running search or save began: the text
    // after it tells how many more could not be read.
    std::uint64_t m_unreadableAtStart = 0;
    QString m_unreadableNote;  // "N sector(s) could not be read" after the help text, or empty

    // Widgets
    CBtn *m_saveBtn, *m_saveLogBtn, *m_loadLogBtn, *m_openImageBtn, *m_helpBtn, *m_aboutBtn, *m_exitBtn;
    QStackedWidget* m_trees;
    QStackedWidget* m_panels;
    DiskPage* m_diskPage;
    PartitionPage* m_partitionPage;
    FileSystemPage* m_fileSystemPage;
    ResultsPage* m_results;
    SearchPanel* m_searchPanel;
    CColoredListCtrl* m_list;
    CColorStatic* m_help;
    QPushButton *m_back, *m_next, *m_stopSearch;
    CPopulate* m_populate = nullptr;
    CalculatingDialog* m_calculating = nullptr;
    SavingDialog* m_saving = nullptr;
    bool m_closing = false;
    bool m_treeHasFocusFlag = false;  // Tab moves from the tree to the list when set, else back
};

}  // namespace quorlan::ui
