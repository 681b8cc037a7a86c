// The window driven on the offscreen platform: from the disk page to saved files in both search
// modes, the help texts of each page, check boxes by clicks, a stopped search, a log saved and
// loaded, the lost-partition search, the floppy, the partition page's checks, guidance and the
// exit questions. Every step is saved as a PNG into the build folder for review.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <deque>
#include <filesystem>
#include <fstream>

#include "log/recovery_log.h"
#include "ui/main_window.h"

using namespace quorlan;
using namespace quorlan::ui;

namespace {

// Answers in place of the user and remembers what the window said.
class ScriptedPrompts : public Prompts {
public:
    struct Log {
        QStringList messages;
        QStringList captions;
        QStringList questions;
        int guidance = 0;
        int advanceGuidance = 0;
        int noMedia = 0;
        QStringList opened;
    };
    explicit ScriptedPrompts(std::shared_ptr<Log> log) : m_log(std::move(log)) {}

    std::deque<bool> answers;  // questions, in order (No when empty)
    QString image, destination, logFile;
    CollisionDecision collision{CollisionAnswer::Rename, {}, true};
    std::function<void()> onQuestion;  // runs before a question is answered

    void message(const QString& text, BoxIcon, const QString& caption) override {
        m_log->messages << text;
        m_log->captions << caption;
    }
    bool question(const QString& text, bool) override {
        m_log->questions << text;
        if (onQuestion) onQuestion();
        if (answers.empty()) return false;
        const bool a = answers.front();
        answers.pop_front();
        return a;
    }
    void standardGuidance() override { ++m_log->guidance; }
    void advanceGuidance() override { ++m_log->advanceGuidance; }
    void about() override {}
    NoMedia noMedia(QString& imagePath) override {
        ++m_log->noMedia;
        imagePath = image;
        return image.isEmpty() ? NoMedia::Exit : NoMedia::OpenImage;
    }
    std::optional<QString> saveLogFile() override { return logFile.isEmpty() ? std::nullopt : std::optional(logFile); }
    std::optional<QString> openLogFile() override { return logFile.isEmpty() ? std::nullopt : std::optional(logFile); }
    std::optional<QString> openImageFile() override { return image.isEmpty() ? std::nullopt : std::optional(image); }
    std::optional<QString> saveDestination(const QString&) override {
        return destination.isEmpty() ? std::nullopt : std::optional(destination);
    }
    CollisionDecision replaceFile(const QString&, const QString&) override { return collision; }
    void openHelp() override {}
    void openFile(const QString& path) override { m_log->opened << path; }

private:
    std::shared_ptr<Log> m_log;
};

// The removable disks the window lists, from a sysfs and udev tree of the test's own instead of
// the machine's: block/NAME/{removable,size,device/model} for each disk; empty at first.
class FakeInventory {
public:
    FakeInventory() {
        std::filesystem::create_directories(block());
        std::filesystem::create_directories(m_dir / "udev");
    }
    void addDisk(const std::string& name, const std::string& model) {
        const std::filesystem::path disk = block() / name;
        std::filesystem::create_directories(disk / "device");
        std::ofstream(disk / "removable") << "1\n";
        std::ofstream(disk / "size") << "15663104\n";
        std::ofstream(disk / "device" / "model") << model << "\n";
    }
    void removeDisk(const std::string& name) { std::filesystem::remove_all(block() / name); }
    [[nodiscard]] InventoryRoots roots() const { return {block(), m_dir / "udev", "test-host"}; }

private:
    [[nodiscard]] std::filesystem::path block() const { return m_dir / "block"; }
    QTemporaryDir m_temp;
    std::filesystem::path m_dir{m_temp.path().toStdString()};
};

// The device paths of the disks the disk page lists, in order.
QStringList listedDisks(CChildDialogExDemoDlg& w) {
    QStringList out;
    QTreeWidgetItem* root = w.diskTree()->topLevelItem(0);
    for (int i = 0; root != nullptr && i < root->childCount(); ++i) out << root->child(i)->toolTip(0);
    return out;
}

QString fixture(const char* name) { return QStringLiteral(QUORLAN_FIXTURE_DIR "/") + QLatin1String(name); }

void screenshot(QWidget& w, const QString& name) {
    const QString dir = QStringLiteral(QUORLAN_BINARY_DIR "/screenshots");
    QDir().mkpath(dir);
    QCoreApplication::processEvents();
    w.grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

// A copy of a fixture image with sectors zeroed (damage made for one test).
QString damagedCopy(const QTemporaryDir& dir, const char* name, const std::vector<std::uint64_t>& zeroed) {
    const QString image = dir.filePath(QLatin1String(name));
    QFile::remove(image);
    if (!QFile::copy(fixture(name), image)) return {};
    QFile f(image);
    if (!f.open(QIODevice::ReadWrite)) return {};
    const QByteArray zeros(512, '\0');
    for (const std::uint64_t sector : zeroed) {
        f.seek(static_cast<qint64>(sector * 512));
        f.write(zeros);
    }
    return image;
}

// A disk of 64 MiB of zeros: no table, no volume.
QString blankImage(const QTemporaryDir& dir) {
    const QString blank = dir.filePath(QStringLiteral("blank.img"));
    QFile f(blank);
    if (!f.open(QIODevice::WriteOnly) || !f.resize(64 * 1024 * 1024)) return {};
    return blank;
}

// The partitions of an image's table.
std::vector<PartitionEntry> partitionsOf(const QString& image) {
    Session probe;
    if (!probe.AddImage(image.toStdString()).ok() || !probe.SelectDisk(0).ok()) return {};
    return probe.partitions().partitions;
}

QStringList treeTexts(const QAbstractItemModel& model, const QModelIndex& parent = {}, int depth = 0) {
    QStringList out;
    for (int r = 0; r < model.rowCount(parent); ++r) {
        const QModelIndex i = model.index(r, 0, parent);
        out << QString(static_cast<qsizetype>(depth) * 2, QLatin1Char(' ')) + i.data().toString();
        out << treeTexts(model, i, depth + 1);
    }
    return out;
}

QModelIndex findIndex(const QAbstractItemModel& model, const QString& text) {
    const QModelIndexList found = model.match(model.index(0, 0), Qt::DisplayRole, text, 1,
                                              Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? QModelIndex() : found.first();
}

QStringList childTexts(const QTreeWidgetItem* item) {
    QStringList out;
    for (int i = 0; item != nullptr && i < item->childCount(); ++i) out << item->child(i)->text(0);
    return out;
}

QStringList listColumn(const CColoredListCtrl* list, int column) {
    QStringList out;
    for (int i = 0; i < list->topLevelItemCount(); ++i) out << list->topLevelItem(i)->text(column);
    return out;
}

QTreeWidgetItem* listRow(const CColoredListCtrl* list, const QString& name) {
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        if (list->topLevelItem(i)->text(0) == name) return list->topLevelItem(i);
    }
    return nullptr;
}

// Clicks an item's check box as a user would.
void clickCheckBox(CResultTreeView* tree, const QModelIndex& index) {
    tree->scrollTo(index);
    const QRect r = tree->visualRect(index);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, QPoint(r.left() + 6, r.center().y()));
}

Qt::CheckState checkOf(const QModelIndex& i) { return i.data(Qt::CheckStateRole).value<Qt::CheckState>(); }

// The files below a folder, as paths relative to it.
QStringList filesBelow(const QString& dir) {
    QStringList out;
    if (!QFileInfo(dir).isDir()) return out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir.toStdString())) {
        if (e.is_regular_file())
            out << QString::fromStdString(
                std::filesystem::relative(e.path(), dir.toStdString()).string());
    }
    out.sort();
    return out;
}

struct Window {
    std::shared_ptr<ScriptedPrompts::Log> log = std::make_shared<ScriptedPrompts::Log>();
    ScriptedPrompts* prompts = nullptr;
    FakeInventory inventory;  // no removable disk: the image is the only disk
    std::unique_ptr<CChildDialogExDemoDlg> w;

    explicit Window(const QString& image) {
        auto p = std::make_unique<ScriptedPrompts>(log);
        prompts = p.get();
        prompts->image = image;
        w = std::make_unique<CChildDialogExDemoDlg>(std::move(p), inventory.roots());
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->addImage(image);
    }
    ~Window() {
        prompts->answers = {false, true};  // no log, and exit
        w->close();
    }
    // From the disk page to the partition page in a mode.
    void toPartitionPage(SearchMode mode) {
        w->chooseMode(mode);
        QVERIFY(w->nextButton()->isEnabled());
        w->next();
        QCOMPARE(w->wizardStep(), 1);
    }
    // From the disk page to the results of partition `index`.
    void searchPartition(int index) {
        toPartitionPage(SearchMode::Standard);
        w->selectPartition(index);
        w->next();
        w->waitForWorker();
        QCOMPARE(w->wizardStep(), 3);
    }
    // The results' root folder listed; the list's names.
    QStringList listRoot() {
        w->listFolder(w->resultModel()->index(0, 0));
        w->waitForWorker();
        return listColumn(w->propertyList(), 0);
    }
};

}  // namespace

QObject* makeResultTreeModelTest();

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void wizardFromDiskPageToSavedFiles();
    void checkBoxesPropagateByClicks();
    void logSavedAndLoadedGivesTheSameTree();
    void stoppedSearchShowsWhatWasFound();
    void guidanceAndExitQuestions();
    void noMediaDialogOffersAnImage();
    void disksComeFromTheGivenInventoryAtEveryRefresh();
    void keysOfTheResultsPage();
    void fileListSortsAndOpensFiles();
    void partitionPageChecksItsInput();
    void lostPartitionsFoundThenSearched();
    void stoppedPartitionSearchKeepsWhatItFound();
    void floppySearchedAndSaved();
    void advanceSearchWithoutBootSectorToSavedFiles();
    void secondOfTwoFileSystemsWithoutRescan();
    void windowAnswersWhileAScanRuns();
    void progressBarDrawsItsPercentage();
    void deletedFilesCarryTheirTrustMark();
};

void MainWindowTest::wizardFromDiskPageToSavedFiles() {
    Window win(fixture("fat32-search.img"));
    CChildDialogExDemoDlg& w = *win.w;
    QCOMPARE(w.wizardStep(), 0);
    QCOMPARE(w.helpText(), help::kDiskPage);
    // The Standard Search radio selects itself when the pointer moves over it.
    auto* radio = w.findChild<CCustomRadio*>(QStringLiteral("standardRadio"));
    QVERIFY(radio != nullptr);
    QVERIFY(!w.nextButton()->isEnabled());
    QTest::mouseMove(radio, radio->rect().center());
    QTRY_VERIFY(radio->isChecked());
    QVERIFY(w.nextButton()->isEnabled());
    QVERIFY(w.propertyList()->topLevelItemCount() > 0);  // the disk's details
    screenshot(w, QStringLiteral("1-disk-page"));

    w.next();
    QCOMPARE(w.wizardStep(), 1);
    QCOMPARE(w.helpText(), help::kPartitionPageNext);
    QCOMPARE(childTexts(w.partitionTree()->topLevelItem(0)), QStringList{QStringLiteral("Partition - 1 ( FAT32 )")});
    // The partition of the table is selected at once, with its details.
    QCOMPARE(w.propertyList()->headerItem()->text(0), QStringLiteral("Name"));
    QCOMPARE(w.propertyList()->topLevelItem(2)->text(1), QStringLiteral("FAT32"));
    QVERIFY(!w.findChild<QComboBox*>(QStringLiteral("partitionType"))->isVisible());  // Standard Search
    screenshot(w, QStringLiteral("2-partition-page"));

    w.next();
    QCOMPARE(w.helpText(), help::kSearchStarted);
    QVERIFY(w.searchPanel()->isVisible());
    QCOMPARE(w.searchPanel()->foundLabel(), QStringLiteral("Directories Found  :"));
    screenshot(w, QStringLiteral("3-searching"));
    w.waitForWorker();
    QCOMPARE(w.wizardStep(), 3);
    QCOMPARE(w.helpText(), help::kSearchFinished);
    QVERIFY(w.saveButton()->isEnabled() && w.saveLogButton()->isEnabled());
    const QModelIndex root = w.resultModel()->index(0, 0);
    QCOMPARE(root.data().toString(), QStringLiteral("Root"));
    QVERIFY(findIndex(*w.resultModel(), QStringLiteral("QLN_Miscellaneous")).isValid());

    // Listing a folder fills the file list with the file-list columns.
    const QStringList names = win.listRoot();
    QCOMPARE(w.propertyList()->headerItem()->text(1), QStringLiteral("Type"));
    QVERIFY(w.propertyList()->isColumnHidden(5));
    QVERIFY(names.contains(QStringLiteral("notes.txt")));
    QCOMPARE(w.currentFolderText(), QString());
    screenshot(w, QStringLiteral("4-results-page"));

    // Open on a folder row lists that folder.
    QTreeWidgetItem* folderRow = listRow(w.propertyList(), QStringLiteral("Projects"));
    QVERIFY(folderRow != nullptr);
    w.propertyList()->setCurrentItem(folderRow);
    w.openItem();
    w.waitForWorker();
    QCOMPARE(w.currentFolderText(), QStringLiteral("Projects"));

    // Save All into a folder; the files arrive with their folders.
    QTemporaryDir dest;
    win.prompts->destination = dest.path() + QStringLiteral("/out");
    w.save(true);
    w.waitForWorker();
    QVERIFY2(!win.log->messages.isEmpty(), "no summary");
    // The summary the command line prints: what was written, and where.
    QVERIFY2(win.log->messages.last().startsWith(QStringLiteral("Saved ")) &&
                 win.log->messages.last().contains(QStringLiteral(" to ") + win.prompts->destination),
             qPrintable(win.log->messages.last()));
    QVERIFY(filesBelow(win.prompts->destination).contains(QStringLiteral("Projects/Website/index.html")));
    QVERIFY(filesBelow(win.prompts->destination).size() > 5);
}

void MainWindowTest::checkBoxesPropagateByClicks() {
    Window win(fixture("fat16-search.img"));
    win.searchPartition(0);
    CChildDialogExDemoDlg& w = *win.w;
    const ResultTreeModel& model = *w.resultModel();
    const QModelIndex root = model.index(0, 0);
    QModelIndex folder;
    for (int i = 0; i < model.rowCount(root); ++i) {
        if (model.rowCount(model.index(i, 0, root)) > 0) folder = model.index(i, 0, root);
    }
    QVERIFY(folder.isValid());
    w.resultTree()->expand(folder);
    const QModelIndex child = model.index(0, 0, folder);
    clickCheckBox(w.resultTree(), folder);
    QCOMPARE(checkOf(folder), Qt::Checked);
    QCOMPARE(checkOf(child), Qt::Checked);
    QCOMPARE(checkOf(root), Qt::PartiallyChecked);
    // A partly checked item unchecks on click, with its subtree.
    clickCheckBox(w.resultTree(), root);
    QCOMPARE(checkOf(root), Qt::Unchecked);
    QCOMPARE(checkOf(folder), Qt::Unchecked);
    clickCheckBox(w.resultTree(), root);
    QCOMPARE(checkOf(child), Qt::Checked);
    clickCheckBox(w.resultTree(), child);
    QCOMPARE(checkOf(child), Qt::Unchecked);
    QCOMPARE(checkOf(folder), model.rowCount(folder) > 1 ? Qt::PartiallyChecked : Qt::Unchecked);
    QCOMPARE(checkOf(root), Qt::PartiallyChecked);

    // Save takes the checked folders.
    QTemporaryDir dest;
    win.prompts->destination = dest.path();
    clickCheckBox(w.resultTree(), root);  // partly checked: all unchecked
    clickCheckBox(w.resultTree(), folder);
    w.save(false);
    w.waitForWorker();
    QStringList saved = QDir(dest.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCOMPARE(saved, QStringList{folder.data().toString()});
}

void MainWindowTest::logSavedAndLoadedGivesTheSameTree() {
    for (const char* image : {"fat32-search.img", "ntfs-search.img"}) {
        Window win(fixture(image));
        win.searchPartition(0);
        CChildDialogExDemoDlg& w = *win.w;
        const QStringList before = treeTexts(*w.resultModel());
        QTemporaryDir dir;
        win.prompts->logFile = dir.path() + QStringLiteral("/search.qlg");
        w.saveLog();
        const QString written = dir.path() + QStringLiteral("/SEARCH.QLG");
        QVERIFY(QFileInfo::exists(written));

        w.back();
        QCOMPARE(w.wizardStep(), 1);
        QCOMPARE(w.helpText(), help::kPartitionPageBack);
        win.prompts->logFile = written;
        w.loadLog();
        QVERIFY(w.findChild<QLabel*>(QStringLiteral("treeLoadText"))->isVisible());
        QCOMPARE(w.findChild<QLabel*>(QStringLiteral("treeLoadText"))->text(),
                 QStringLiteral("Loading tree, Please Wait..."));
        w.waitForWorker();
        QCOMPARE(w.wizardStep(), 3);
        QCOMPARE(treeTexts(*w.resultModel()), before);
        QVERIFY(w.saveLogButton()->isEnabled());
        screenshot(w, QStringLiteral("5-loaded-log-") + QLatin1String(image));
        // Back from a loaded log leads to the partition page.
        w.back();
        QCOMPARE(w.wizardStep(), 1);
    }
    // A log of another disk is refused, and the window returns to the partition page.
    QTemporaryDir dir;
    {
        Window win(fixture("fat16-search.img"));
        win.searchPartition(0);
        win.prompts->logFile = dir.path() + QStringLiteral("/other.qlg");
        win.w->saveLog();
    }
    Window win(fixture("fat32-search.img"));
    win.toPartitionPage(SearchMode::Standard);
    win.prompts->logFile = dir.path() + QStringLiteral("/OTHER.QLG");
    win.w->loadLog();
    win.w->waitForWorker();
    QCOMPARE(win.w->wizardStep(), 1);
    QCOMPARE(win.log->messages.last(), QString::fromLatin1(kMsgLogCorrupt));
    QVERIFY(win.w->nextButton()->isEnabled() && win.w->loadLogButton()->isEnabled());
}

void MainWindowTest::stoppedSearchShowsWhatWasFound() {
    Window win(fixture("ntfs-search.img"));
    CChildDialogExDemoDlg& w = *win.w;
    win.toPartitionPage(SearchMode::Standard);
    w.next();
    QVERIFY(w.stopSearchButton()->isVisible());
    QCOMPARE(w.searchPanel()->foundLabel(), QStringLiteral("MFT Found   :"));
    w.stopSearch();  // at once: the search stops within one run of records
    w.waitForWorker();
    QCOMPARE(w.wizardStep(), 3);
    QVERIFY(!w.stopSearchButton()->isVisible());
    QVERIFY(w.backButton()->isEnabled());
    QCOMPARE(w.resultModel()->index(0, 0).data().toString(), QStringLiteral("Root"));
    QCOMPARE(w.helpText(), help::kResults);
    // Stopped before it found anything: nothing to save, nothing to keep in a log.
    if (w.resultModel()->rowCount(w.resultModel()->index(0, 0)) <= 1) {
        QVERIFY(!w.saveButton()->isEnabled() && !w.saveLogButton()->isEnabled());
    }

    // Closing the window while a search runs stops the search; only the exit question is asked.
    w.back();
    w.next();
    QVERIFY(w.busy());
    win.prompts->answers = {true};
    const int asked = static_cast<int>(win.log->questions.size());
    QVERIFY(w.close());
    QVERIFY(!w.busy());
    QCOMPARE(win.log->questions.mid(asked), QStringList{QStringLiteral("Do you want to exit from Quorlan?")});
}

void MainWindowTest::guidanceAndExitQuestions() {
    // An NTFS partition whose boot sector and backup are both gone: Standard Search cannot work
    // there, and the guidance dialog says what to do.
    QTemporaryDir dir;
    const auto p = partitionsOf(fixture("ntfs-search.img")).at(0);
    const QString image = damagedCopy(dir, "ntfs-search.img", {p.start, p.end - 1});
    Window win(image);
    CChildDialogExDemoDlg& w = *win.w;
    win.searchPartition(0);
    QVERIFY(win.log->guidance >= 1);
    QVERIFY(!w.saveButton()->isEnabled());
    screenshot(w, QStringLiteral("6-nothing-found"));

    // Exit on the results page: first whether to save the recovery, then whether to exit; No to
    // the second keeps the window as it was.
    win.prompts->answers = {false, false};
    QVERIFY(!w.close());
    QCOMPARE(win.log->questions,
             (QStringList{QStringLiteral("Do you want to save the recovery?"),
                          QStringLiteral("Do you want to exit from Quorlan?")}));
    QCOMPARE(w.wizardStep(), 3);
    win.prompts->answers = {false, true};
    QVERIFY(w.close());
}

void MainWindowTest::noMediaDialogOffersAnImage() {
    // With no removable disk the dialog comes up once; Open Image adds the chosen image as a disk.
    FakeInventory empty;
    auto log = std::make_shared<ScriptedPrompts::Log>();
    auto p = std::make_unique<ScriptedPrompts>(log);
    p->image = fixture("fat16-search.img");
    CChildDialogExDemoDlg w(std::move(p), empty.roots());
    w.show();
    QTRY_COMPARE(log->noMedia, 1);
    QCOMPARE(listedDisks(w), QStringList{fixture("fat16-search.img")});
    QCOMPARE(w.diskTree()->topLevelItem(0)->child(0)->text(0), QStringLiteral("Disk Image (Disk0)"));
    QCoreApplication::processEvents();
    QCOMPARE(log->noMedia, 1);
    // The dialog itself: its heading, its three steps, its note and its buttons.
    CInfo dialog;
    QStringList texts;
    for (const QLabel* l : dialog.findChildren<QLabel*>()) texts << l->text();
    QVERIFY(texts.contains(QStringLiteral(
        "Could not find any Pen Drive or other USB Removable Media connected to your system.")));
    QVERIFY(texts.contains(QStringLiteral(
        "Please use any of the following method to recover Data from your USB Storage Media :")));
    QCOMPARE(texts.filter(QRegularExpression(QStringLiteral("^[123]\\. "))).size(), 3);
    QVERIFY(texts.contains(QStringLiteral("Important:")));
    QStringList buttons;
    for (const QPushButton* b : dialog.findChildren<QPushButton*>()) buttons << b->text();
    QVERIFY(buttons.contains(QStringLiteral("Retry")) && buttons.contains(QStringLiteral("Exit")));
    w.close();
}

void MainWindowTest::disksComeFromTheGivenInventoryAtEveryRefresh() {
    // The disks of the window's own inventory are listed at start, by Refresh, and on the way
    // back from the partition page; the no-media dialog never comes up.
    FakeInventory inventory;
    inventory.addDisk("sdz", "Fake Stick");
    auto log = std::make_shared<ScriptedPrompts::Log>();
    CChildDialogExDemoDlg w(std::make_unique<ScriptedPrompts>(log), inventory.roots());
    QCOMPARE(listedDisks(w), QStringList{QStringLiteral("/dev/sdz")});
    QCOMPARE(w.diskTree()->topLevelItem(0)->child(0)->text(0), QStringLiteral("Removable Media (Disk0)"));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    inventory.addDisk("sdy", "Other Stick");
    w.refreshList();
    QCOMPARE(listedDisks(w), (QStringList{QStringLiteral("/dev/sdy"), QStringLiteral("/dev/sdz")}));

    QVERIFY(w.addImage(fixture("fat16-search.img")));
    w.selectStandardSearch();
    w.next();
    QCOMPARE(w.wizardStep(), 1);
    inventory.removeDisk("sdy");
    w.back();
    QCOMPARE(w.wizardStep(), 0);
    QCOMPARE(w.helpText(), help::kDiskPage);
    QCOMPARE(listedDisks(w), (QStringList{QStringLiteral("/dev/sdz"), fixture("fat16-search.img")}));
    QVERIFY(!w.nextButton()->isEnabled());  // nothing chosen after Back
    QCoreApplication::processEvents();
    QCOMPARE(log->noMedia, 0);
}

void MainWindowTest::keysOfTheResultsPage() {
    Window win(fixture("fat16-search.img"));
    win.searchPartition(0);
    CChildDialogExDemoDlg& w = *win.w;
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    const QModelIndex root = w.resultModel()->index(0, 0);
    w.resultTree()->setFocus();
    w.resultTree()->setCurrentIndex(root);
    // Down lists the next folder; Esc, Enter and Space do nothing; Tab moves to the list.
    QTest::keyClick(w.resultTree(), Qt::Key_Down);
    w.waitForWorker();
    QCOMPARE(w.currentFolderText(), w.resultModel()->index(0, 0, root).data().toString());
    QTest::keyClick(w.resultTree(), Qt::Key_Escape);
    QTest::keyClick(w.resultTree(), Qt::Key_Return);
    QTest::keyClick(w.resultTree(), Qt::Key_Space);
    QVERIFY(w.isVisible());
    QCOMPARE(w.wizardStep(), 3);
    QTest::keyClick(w.resultTree(), Qt::Key_Tab);
    QVERIFY(w.propertyList()->hasFocus());
    QTest::keyClick(w.propertyList(), Qt::Key_F6);
    QVERIFY(w.resultTree()->hasFocus());
}

void MainWindowTest::fileListSortsAndOpensFiles() {
    Window win(fixture("fat32-search.img"));
    win.searchPartition(0);
    CChildDialogExDemoDlg& w = *win.w;
    const QModelIndex projects = findIndex(*w.resultModel(), QStringLiteral("Projects"));
    QVERIFY(projects.isValid());
    w.listFolder(projects);
    w.waitForWorker();
    CColoredListCtrl* list = w.propertyList();
    // Sizes sort as numbers (not as texts, where "9" would follow "10"), a second click reverses.
    list->sortByColumn(2);
    QStringList sizes = listColumn(list, 2);
    QVERIFY(sizes.size() >= 3);
    for (int i = 1; i < sizes.size(); ++i) QVERIFY(sizes[i - 1].toULongLong() <= sizes[i].toULongLong());
    list->sortByColumn(2);
    sizes = listColumn(list, 2);
    for (int i = 1; i < sizes.size(); ++i) QVERIFY(sizes[i - 1].toULongLong() >= sizes[i].toULongLong());
    // Names sort as text, without regard to case.
    list->sortByColumn(0);
    QStringList names = listColumn(list, 0);
    QStringList sorted = names;
    std::sort(sorted.begin(), sorted.end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    QCOMPARE(names, sorted);
    screenshot(w, QStringLiteral("7-file-list-sorted"));

    // Open on a file saves it into a folder of its own and hands it to the desktop.
    QTreeWidgetItem* report = listRow(list, QStringLiteral("Proposal Draft.Doc"));
    QVERIFY(report != nullptr);
    list->setCurrentItem(report);
    w.openItem();
    w.waitForWorker();
    QCOMPARE(win.log->opened.size(), 1);
    QCOMPARE(QFileInfo(win.log->opened.first()).fileName(), QStringLiteral("Proposal Draft.Doc"));
    QCOMPARE(QFileInfo(win.log->opened.first()).size(), report->text(2).toLongLong());
}

void MainWindowTest::partitionPageChecksItsInput() {
    Window win(fixture("fat32-search.img"));
    CChildDialogExDemoDlg& w = *win.w;
    win.toPartitionPage(SearchMode::Advance);
    auto* type = w.findChild<QComboBox*>(QStringLiteral("partitionType"));
    auto* start = w.findChild<QLineEdit*>(QStringLiteral("startSector"));
    auto* end = w.findChild<QLineEdit*>(QStringLiteral("endSector"));
    QVERIFY(type->isVisible() && start->isEnabled() && end->isEnabled());
    QCOMPARE(w.findChild<QLabel*>(QStringLiteral("modeLabel"))->text(), QStringLiteral("Advance Search"));
    // Preset from the partition: its type and its sectors; the Advance rows of the details.
    QCOMPARE(type->currentText(), QStringLiteral("FAT32"));
    const PartitionEntry p = w.session().partitions().partitions.at(0);
    QCOMPARE(start->text(), QString::number(p.start));
    QCOMPARE(end->text(), QString::number(p.end));
    QCOMPARE(w.propertyList()->topLevelItem(1)->text(1), QStringLiteral("Advance"));
    screenshot(w, QStringLiteral("8-advance-partition-page"));

    struct Case {
        const char* name;
        int type;
        const char* start;
        const char* end;
        const char* message;
        const QString* help;
    };
    const Case cases[] = {
        {"no type", 3, "0", "100", "Select partition type", &help::kNoType},
        {"start not a number", 1, "12a", "100", "Start sector is not valid", &help::kPartitionPageNext},
        {"end not a number", 1, "0", "", "Ending sector is not valid", &help::kPartitionPageNext},
    };
    for (const Case& c : cases) {
        type->setCurrentIndex(c.type);
        start->setText(QLatin1String(c.start));
        end->setText(QLatin1String(c.end));
        w.next();
        QCOMPARE(win.log->messages.last(), QLatin1String(c.message));
        QCOMPARE(win.log->captions.last(), QStringLiteral("Quorlan"));
        QCOMPARE(w.wizardStep(), 1);
        QVERIFY2(!w.busy(), c.name);  // no search started
        QCOMPARE(w.helpText(), *c.help);
        QVERIFY(w.nextButton()->isEnabled() && w.backButton()->isEnabled() && w.loadLogButton()->isEnabled());
    }
    screenshot(w, QStringLiteral("9-wrong-input"));

    // Standard Search on "Unknown Partition": the guidance dialog, and no search.
    QTemporaryDir dir;
    Window standard(blankImage(dir));
    standard.toPartitionPage(SearchMode::Standard);
    standard.w->waitForWorker();  // the table lists nothing: the lost-partition search ran
    QCOMPARE(childTexts(standard.w->partitionTree()->topLevelItem(0)),
             QStringList{QStringLiteral("Unknown Partition")});
    QCOMPARE(standard.w->propertyList()->topLevelItem(2)->text(1), QStringLiteral("Unknown Partition"));
    standard.w->next();
    QCOMPARE(standard.log->guidance, 1);
    QCOMPARE(standard.w->helpText(), help::kNoPartition);
    QCOMPARE(standard.w->wizardStep(), 1);
    QVERIFY(!standard.w->busy());
}

void MainWindowTest::lostPartitionsFoundThenSearched() {
    // A stick whose master boot record is zeroed: the partition page starts the search for lost
    // partitions by itself, lists what it finds, and a found partition is searched like any other.
    Window win(fixture("lost-aligned.img"));
    CChildDialogExDemoDlg& w = *win.w;
    win.toPartitionPage(SearchMode::Standard);
    QVERIFY(w.busy());
    QCOMPARE(w.helpText(), help::kOnlineHelp);
    QVERIFY(!w.loadLogButton()->isEnabled() && !w.backButton()->isEnabled() && !w.nextButton()->isEnabled());
    QVERIFY(w.findChild<QPushButton*>(QStringLiteral("stopPartitionSearch"))->isVisible());
    QVERIFY(!w.findChild<QPushButton*>(QStringLiteral("searchMorePartitions"))->isVisible());
    screenshot(w, QStringLiteral("10-searching-partitions"));
    w.waitForWorker();
    QCOMPARE(childTexts(w.partitionTree()->topLevelItem(0)),
             (QStringList{QStringLiteral("Partition - 1 ( FAT32 )"), QStringLiteral("Partition - 2 ( NTFS )")}));
    QCOMPARE(w.helpText(), help::kPartitionPageBack);
    QVERIFY(w.loadLogButton()->isEnabled() && w.backButton()->isEnabled() && w.nextButton()->isEnabled());
    QVERIFY(w.findChild<QPushButton*>(QStringLiteral("searchMorePartitions"))->isVisible());
    // The first found partition is shown, with how it was found.
    QCOMPARE(w.propertyList()->topLevelItem(2)->text(1), QStringLiteral("FAT32"));
    QVERIFY(w.propertyList()
                ->topLevelItem(w.propertyList()->topLevelItemCount() - 1)
                ->text(1)
                .startsWith(QStringLiteral("Boot Sector")));
    screenshot(w, QStringLiteral("11-partitions-found"));

    w.next();
    w.waitForWorker();
    QCOMPARE(w.wizardStep(), 3);
    QVERIFY(win.listRoot().contains(QStringLiteral("readme.txt")));
    screenshot(w, QStringLiteral("12-found-partition-searched"));

    // Search More Partitions over a sector range finds nothing more: the list stays.
    w.back();
    w.chooseRange(true);
    QCOMPARE(w.findChild<QLineEdit*>(QStringLiteral("rangeStart"))->text(), QStringLiteral("0"));
    QCOMPARE(w.findChild<QLineEdit*>(QStringLiteral("rangeEnd"))->text(),
             QString::number(w.session().reader()->totalSectors()));
    w.searchMorePartitions();
    QCOMPARE(w.helpText(), help::kPartitionSearchRunning);
    w.waitForWorker();
    QCOMPARE(childTexts(w.partitionTree()->topLevelItem(0)).size(), 2);
}

void MainWindowTest::stoppedPartitionSearchKeepsWhatItFound() {
    QTemporaryDir dir;
    // A disk without partitions and without volumes: the search ends with "Unknown Partition".
    Window win(blankImage(dir));
    CChildDialogExDemoDlg& w = *win.w;
    // STOP asks first; No lets the search go on, Yes ends it.
    win.prompts->answers = {false, true};
    bool stopAsked = false;
    win.prompts->onQuestion = [&] { stopAsked = true; };
    win.toPartitionPage(SearchMode::Advance);
    QVERIFY(w.busy());
    w.stopPartitionSearch();
    QVERIFY(stopAsked);
    QCOMPARE(win.log->questions.last(), QStringLiteral("Do you want to stop searching partition?"));
    w.stopPartitionSearch();
    w.waitForWorker();
    QVERIFY(!w.busy());
    QCOMPARE(w.helpText(), help::kPartitionPageNext);
    QCOMPARE(childTexts(w.partitionTree()->topLevelItem(0)), QStringList{QStringLiteral("Unknown Partition")});
    // "Unknown Partition" fills the Advance edits with the whole disk and the type with UNKNOWN.
    QCOMPARE(w.findChild<QLineEdit*>(QStringLiteral("startSector"))->text(), QStringLiteral("0"));
    QCOMPARE(w.findChild<QLineEdit*>(QStringLiteral("endSector"))->text(), QString::number(64 * 2048));
    QCOMPARE(w.findChild<QComboBox*>(QStringLiteral("partitionType"))->currentIndex(), kTypeUnknownIndex);
    // The automatic search hid the Advance type controls for this page.
    QVERIFY(!w.findChild<QComboBox*>(QStringLiteral("partitionType"))->isVisible());
    screenshot(w, QStringLiteral("13-partition-search-stopped"));
    w.back();
    QCOMPARE(w.wizardStep(), 0);
}

void MainWindowTest::floppySearchedAndSaved() {
    for (const char* image : {"floppy.img", "floppy-noboot.img"}) {
        Window win(fixture(image));
        CChildDialogExDemoDlg& w = *win.w;
        QCOMPARE(w.diskTree()->topLevelItem(0)->child(0)->text(0), QStringLiteral("3.5 Floppy"));
        // Advance Search is never offered for the floppy, and the floppy shows no details.
        w.selectAdvanceSearch();
        QVERIFY(!w.nextButton()->isEnabled());
        QVERIFY(!w.findChild<CCustomRadio*>(QStringLiteral("advanceRadio"))->isEnabled());
        QCOMPARE(w.propertyList()->topLevelItemCount(), 0);
        win.searchPartition(0);
        QCOMPARE(childTexts(w.partitionTree()->topLevelItem(0)),
                 QStringList{QStringLiteral("Partition - 1 ( FAT12 )")});
        const QStringList names = win.listRoot();
        QVERIFY2(names.contains(QStringLiteral("readme.txt")), qPrintable(names.join(QLatin1Char(','))));
        QVERIFY(names.contains(QStringLiteral("Photos")));
        screenshot(w, QStringLiteral("14-floppy-") + QLatin1String(image));

        QTemporaryDir dest;
        win.prompts->destination = dest.path();
        w.save(true);
        w.waitForWorker();
        const QStringList files = filesBelow(dest.path());
        QVERIFY2(files.contains(QStringLiteral("Photos/2024 Holiday/IMG_0002.JPG")),
                 qPrintable(files.join(QLatin1Char(','))));
        QFile playlist(dest.filePath(QStringLiteral("Music/playlist.m3u")));
        QVERIFY(playlist.open(QIODevice::ReadOnly));
        QByteArray expected;
        for (int i = 1; i <= 20000; ++i) expected += QByteArray::number(i) + '\n';
        QCOMPARE(playlist.readAll(), expected);  // byte for byte, along its 12-bit cluster chain

        // No log is kept of a floppy: the message, and no file chosen.
        win.prompts->logFile = dest.filePath(QStringLiteral("floppy.qlg"));
        w.saveLog();
        QCOMPARE(win.log->messages.last(), QString::fromLatin1(kMsgLogFloppy));
        QCOMPARE(win.log->captions.last(), QStringLiteral("Error"));
        QVERIFY(!QFileInfo::exists(dest.filePath(QStringLiteral("FLOPPY.QLG"))));
        // Back from the floppy's results leads to the disk page.
        w.back();
        QCOMPARE(w.wizardStep(), 0);
        QCOMPARE(w.helpText(), help::kDiskPageFloppyBack);
    }
}

void MainWindowTest::advanceSearchWithoutBootSectorToSavedFiles() {
    // A FAT16 and an NTFS volume whose boot sectors are zeroed (the table still names the
    // partition): an Advance Search of the partition's sectors finds the volume, and its files
    // are browsed and saved as after a Standard Search.
    const struct {
        const char* image;
        const char* type;
        const char* foundLabel;
        const char* item;
        const char* file;  // in the root folder, saved with the bytes Standard Search saves
    } cases[] = {
        {"fat16-noboot.img", "FAT16", "Directories Found  :", "File System 1 - FAT16", "Minutes 1.txt"},
        {"ntfs-bootless.img", "NTFS", "MFT Found   :", "File System 1 - NTFS", "Café résumé.txt"},
    };
    for (const auto& c : cases) {
        Window win(fixture(c.image));
        CChildDialogExDemoDlg& w = *win.w;
        win.toPartitionPage(SearchMode::Advance);
        QCOMPARE(w.findChild<QComboBox*>(QStringLiteral("partitionType"))->currentText(), QLatin1String(c.type));
        w.next();
        QCOMPARE(w.wizardStep(), 2);
        QVERIFY(w.busy());
        QCOMPARE(w.helpText(), help::kSearchStarted);
        QVERIFY(w.searchPanel()->isVisible() && w.stopSearchButton()->isVisible());
        QVERIFY(!w.nextButton()->isVisible());  // Next stays hidden while the scan runs
        QCOMPARE(w.searchPanel()->foundLabel(), QLatin1String(c.foundLabel));
        QCOMPARE(w.findChild<QLabel*>(QStringLiteral("Searching Criteria"))->text(), QStringLiteral("Advance Search"));
        w.waitForWorker();
        QCOMPARE(w.wizardStep(), 2);
        QCOMPARE(childTexts(w.fileSystemTree()->topLevelItem(0)), QStringList{QLatin1String(c.item)});
        QVERIFY(w.nextButton()->isVisible() && w.nextButton()->isEnabled() && w.backButton()->isEnabled());
        QVERIFY(!w.saveButton()->isEnabled() && !w.saveLogButton()->isEnabled());
        // The four rows of the file system selected.
        QCOMPARE(w.propertyList()->topLevelItemCount(), 4);
        QCOMPARE(w.propertyList()->topLevelItem(0)->text(0),
                 QStringLiteral("1.   File System                        :"));
        QCOMPARE(w.propertyList()->topLevelItem(1)->text(1), QLatin1String(c.type));
        QCOMPARE(win.log->advanceGuidance, 0);
        screenshot(w, QStringLiteral("15-file-systems-") + QLatin1String(c.type));

        w.next();
        w.waitForWorker();
        QCOMPARE(w.wizardStep(), 3);
        QCOMPARE(w.helpText(), help::kResults);
        QVERIFY(w.saveButton()->isEnabled() && w.saveLogButton()->isEnabled());
        const QStringList names = win.listRoot();
        QVERIFY2(names.contains(QString::fromUtf8(c.file)), qPrintable(names.join(QLatin1Char(','))));
        screenshot(w, QStringLiteral("16-advance-results-") + QLatin1String(c.type));

        QTemporaryDir dest;
        win.prompts->destination = dest.path();
        w.save(true);
        w.waitForWorker();
        QFile saved(dest.filePath(QString::fromUtf8(c.file)));
        QVERIFY2(saved.open(QIODevice::ReadOnly), qPrintable(filesBelow(dest.path()).join(QLatin1Char(','))));
        QVERIFY(saved.size() > 0);

        // A log of the Advance Search, and the question at exit.
        win.prompts->logFile = dest.filePath(QStringLiteral("advance.qlg"));
        w.saveLog();
        QVERIFY(QFileInfo::exists(dest.filePath(QStringLiteral("ADVANCE.QLG"))) ||
                QFileInfo::exists(dest.filePath(QStringLiteral("advance.qlg"))));
        QVERIFY(w.wizard().asksToSaveAtExit());
    }
}

void MainWindowTest::secondOfTwoFileSystemsWithoutRescan() {
    // A FAT32 and a FAT16 volume on a disk whose partition table is zeroed: the partition page
    // finds both, an Advance Search of the whole disk lists both, and each is shown in turn
    // with no second scan.
    Window win(fixture("fat-two-volumes.img"));
    CChildDialogExDemoDlg& w = *win.w;
    win.toPartitionPage(SearchMode::Advance);
    w.waitForWorker();  // the table lists nothing: the lost-partition search runs first
    QCOMPARE(childTexts(w.partitionTree()->topLevelItem(0)).size(), 2);
    w.findChild<QComboBox*>(QStringLiteral("partitionType"))->setCurrentIndex(1);  // FAT32
    w.findChild<QLineEdit*>(QStringLiteral("startSector"))->setText(QStringLiteral("0"));
    w.findChild<QLineEdit*>(QStringLiteral("endSector"))
        ->setText(QString::number(w.session().reader()->totalSectors()));
    w.next();
    w.waitForWorker();
    QCOMPARE(w.wizardStep(), 2);
    const QStringList items = childTexts(w.fileSystemTree()->topLevelItem(0));
    QCOMPARE(items.size(), 2);
    QVERIFY(items.at(1).startsWith(QStringLiteral("File System 2 - ")));
    screenshot(w, QStringLiteral("17-two-file-systems"));

    auto volumeText = [&](std::size_t number) {
        w.selectFileSystem(number);
        QTest::qWait(0);
        if (w.propertyList()->topLevelItemCount() != 4 ||
            w.propertyList()->topLevelItem(0)->text(1) != QString::number(number)) {
            return QStringLiteral("details of another file system");
        }
        w.next();
        w.waitForWorker();
        if (w.wizardStep() != 3) return QStringLiteral("not on the results page");
        QTemporaryDir dest;
        win.prompts->destination = dest.path();
        w.save(true);
        w.waitForWorker();
        QFile f(dest.filePath(QStringLiteral("volume.txt")));
        const QString text = f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll())
                                                         : QStringLiteral("no volume.txt");
        w.back();  // to the list of file systems, which stays as the scan left it
        return text;
    };
    QCOMPARE(volumeText(2), QStringLiteral("the FAT16 volume\n"));
    QCOMPARE(w.wizardStep(), 2);
    QCOMPARE(w.helpText(), help::kFileSystems);
    QCOMPARE(childTexts(w.fileSystemTree()->topLevelItem(0)), items);
    QCOMPARE(volumeText(1), QStringLiteral("the FAT32 volume\n"));
    QCOMPARE(volumeText(2), QStringLiteral("the FAT16 volume\n"));

    // Back from the list leads to the partition page; nothing identified in an empty range
    // shows the Advance guidance.
    w.back();
    QCOMPARE(w.wizardStep(), 1);
    w.findChild<QLineEdit*>(QStringLiteral("startSector"))->setText(QStringLiteral("240000"));
    w.findChild<QLineEdit*>(QStringLiteral("endSector"))->setText(QStringLiteral("240100"));
    w.next();
    w.waitForWorker();
    QCOMPARE(win.log->advanceGuidance, 1);
    QCOMPARE(w.helpText(), help::kNoFileSystem);
    QVERIFY(!w.nextButton()->isEnabled() && w.backButton()->isEnabled());
    w.back();
    QCOMPARE(w.wizardStep(), 1);
}

void MainWindowTest::windowAnswersWhileAScanRuns() {
    // An Advance Search of a large empty disk: the window's event loop runs while the worker
    // scans (the progress bar moves), and Stop Searching ends the scan within a second.
    QTemporaryDir dir;
    const QString image = dir.filePath(QStringLiteral("large.img"));
    {
        QFile f(image);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(qint64{4} << 30));  // sparse: 4 GiB of zeros
    }
    Window win(image);
    CChildDialogExDemoDlg& w = *win.w;
    win.prompts->answers = {true};  // stop the automatic lost-partition search
    win.toPartitionPage(SearchMode::Advance);
    if (w.busy()) {
        w.stopPartitionSearch();
        w.waitForWorker();
    }
    w.findChild<QComboBox*>(QStringLiteral("partitionType"))->setCurrentIndex(1);
    w.findChild<QLineEdit*>(QStringLiteral("startSector"))->setText(QStringLiteral("0"));
    w.findChild<QLineEdit*>(QStringLiteral("endSector"))
        ->setText(QString::number(w.session().reader()->totalSectors()));
    w.next();
    QVERIFY(w.busy());
    // Timers fire while the scan runs: the window is not blocked.
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(20);
    QTRY_VERIFY_WITH_TIMEOUT(w.searchPanel()->bar()->GetPos() > 0, 20000);
    QVERIFY(ticks > 0);
    QVERIFY2(w.busy(), "the scan ended before it could be stopped");
    screenshot(w, QStringLiteral("18-scan-running"));
    QElapsedTimer clock;
    clock.start();
    w.stopSearch();
    QTRY_VERIFY_WITH_TIMEOUT(!w.busy(), 1000);
    QVERIFY(clock.elapsed() < 1000);
    // Stopped: the analysis ran over what was scanned; the empty disk holds nothing.
    QCOMPARE(w.wizardStep(), 2);
    QCOMPARE(win.log->advanceGuidance, 1);
}

void MainWindowTest::progressBarDrawsItsPercentage() {
    CTextProgressCtrl bar;
    bar.resize(202, 20);
    QCOMPARE(bar.shownText(), QStringLiteral("0%"));
    bar.SetPos(50);
    QCOMPARE(bar.shownText(), QStringLiteral("50%"));
    QCOMPARE(bar.filledWidth(200), 100);
    bar.SetPos(150);  // above the range: clamped
    QCOMPARE(bar.GetPos(), 100);
    QCOMPARE(bar.shownText(), QStringLiteral("100%"));
    bar.SetPos(95);
    bar.StepIt();  // past the upper bound: wraps to the lower bound plus the excess
    QCOMPARE(bar.GetPos(), 5);
    bar.SetRange(10, 10);  // an empty range shows nothing
    QCOMPARE(bar.shownText(), QString());
    QCOMPARE(bar.filledWidth(200), 0);
    bar.SetRange(0, 100);
    bar.SetPos(50);
    // The text over the filled half takes the text-background colour, over the empty half the
    // text colour.
    bar.SetBarColour(Qt::blue);
    bar.SetBgColour(Qt::white);
    bar.SetTextColour(Qt::black);
    bar.SetTextBkColour(Qt::yellow);
    const QImage image = bar.grab().toImage();
    QCOMPARE(QColor(image.pixel(20, 10)), QColor(Qt::blue));
    QCOMPARE(QColor(image.pixel(180, 10)), QColor(Qt::white));
    bool yellowText = false;
    for (int x = 80; x < 101; ++x) {
        for (int y = 2; y < 18; ++y) yellowText = yellowText || QColor(image.pixel(x, y)) == QColor(Qt::yellow);
    }
    QVERIFY(yellowText);
    // A phase's caption: "Completed " and the share, or a count of its own.
    ObservedState s;
    s.label = "Completed ";
    s.total = 200;
    s.done = 50;
    ShowPhase(bar, s);
    QCOMPARE(bar.shownText(), QStringLiteral("Completed 25%"));
    s.label = "%d / 200";
    ShowPhase(bar, s);
    QCOMPARE(bar.shownText(), QStringLiteral("50 / 200"));
}

// The DFTT-like volume of fat-undelete.img: the file list marks the deleted files whose clusters
// the evidence cannot vouch for with a warning sign beside their type and the reason in a tooltip,
// and the save summary lists them.
void MainWindowTest::deletedFilesCarryTheirTrustMark() {
    Window win(fixture("fat-undelete.img"));
    win.searchPartition(0);
    CChildDialogExDemoDlg& w = *win.w;
    w.listFolder(w.resultModel()->index(0, 0));
    w.waitForWorker();
    QStringList marked, unmarked;
    for (int i = 0; i < w.propertyList()->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = w.propertyList()->topLevelItem(i);
        if (row->text(1) == QStringLiteral("FOLDER")) continue;
        const bool mark = !row->icon(1).isNull();
        QCOMPARE(row->toolTip(0).startsWith(QStringLiteral("May be incomplete: ")), mark);
        (mark ? marked : unmarked) << row->text(0);
    }
    QCOMPARE(marked, (QStringList{QStringLiteral("_rag1.dat"), QStringLiteral("_rag2.dat")}));
    QCOMPARE(unmarked,
             (QStringList{QStringLiteral("UNDELETE.1"), QStringLiteral("_ing.dat"), QStringLiteral("_ult1.dat")}));
    w.resize(980, 640);
    screenshot(w, QStringLiteral("7-trust-mark"));

    QTemporaryDir dest;
    win.prompts->destination = dest.path() + QStringLiteral("/out");
    w.save(true);
    w.waitForWorker();
    QVERIFY2(win.log->messages.last().contains(QStringLiteral("\nMay be incomplete: 4 deleted file(s)")),
             qPrintable(win.log->messages.last()));
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    MainWindowTest window;
    int status = QTest::qExec(&window, argc, argv);
    const std::unique_ptr<QObject> model(makeResultTreeModelTest());
    status |= QTest::qExec(model.get(), argc, argv);
    return status;
}

#include "main_window_test.moc"
