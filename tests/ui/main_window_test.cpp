// The window driven on the offscreen platform: from the disk page to saved files, the help texts
// of each page, check boxes by clicks, a stopped search, a log saved and loaded, guidance and the
// exit questions. Every page is saved as a PNG into the build folder for review.
#include <QApplication>
#include <QDir>
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
        QStringList questions;
        int guidance = 0;
        int noMedia = 0;
    };
    explicit ScriptedPrompts(std::shared_ptr<Log> log) : m_log(std::move(log)) {}

    std::deque<bool> answers;  // questions, in order (No when empty)
    QString image, destination, logFile;
    CollisionDecision collision{CollisionAnswer::Rename, {}, true};

    void message(const QString& text, BoxIcon, const QString&) override { m_log->messages << text; }
    bool question(const QString& text, bool) override {
        m_log->questions << text;
        if (answers.empty()) return false;
        const bool a = answers.front();
        answers.pop_front();
        return a;
    }
    void standardGuidance() override { ++m_log->guidance; }
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
    w.grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

QStringList treeTexts(QTreeWidget* tree) {
    QStringList out;
    std::function<void(QTreeWidgetItem*, int)> walk = [&](QTreeWidgetItem* i, int depth) {
        out << QString(static_cast<qsizetype>(depth) * 2, QLatin1Char(' ')) + i->text(0);
        for (int c = 0; c < i->childCount(); ++c) walk(i->child(c), depth + 1);
    };
    for (int i = 0; i < tree->topLevelItemCount(); ++i) walk(tree->topLevelItem(i), 0);
    return out;
}

QTreeWidgetItem* findItem(QTreeWidget* tree, const QString& text) {
    const auto found = tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.first();
}

// Clicks an item's check box as a user would.
void clickCheckBox(mytreectrl* tree, QTreeWidgetItem* item) {
    tree->scrollToItem(item);
    const QRect r = tree->visualItemRect(item);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, QPoint(r.left() + 6, r.center().y()));
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
    // From the disk page to the results of partition `index`.
    void searchPartition(int index) {
        w->selectStandardSearch();
        QVERIFY(w->nextButton()->isEnabled());
        w->next();
        QCOMPARE(w->wizardStep(), 1);
        w->partitionTree()->setCurrentItem(w->partitionTree()->topLevelItem(0)->child(index));
        w->next();
        w->waitForWorker();
        QCOMPARE(w->wizardStep(), 3);
    }
};

}  // namespace

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
    QCOMPARE(w.partitionTree()->topLevelItem(0)->child(0)->text(0), QStringLiteral("Partition - 1 ( FAT32 )"));
    QCOMPARE(w.propertyList()->headerItem()->text(0), QStringLiteral("Name"));
    screenshot(w, QStringLiteral("2-partition-page"));

    w.next();
    QCOMPARE(w.helpText(), help::kSearchStarted);
    screenshot(w, QStringLiteral("3-searching"));
    w.waitForWorker();
    QCOMPARE(w.wizardStep(), 3);
    QVERIFY(w.helpText().startsWith(QStringLiteral("Select Files and Folders from left ")));
    QCOMPARE(w.resultTree()->topLevelItem(0)->text(0), QStringLiteral("Root"));
    QVERIFY(findItem(w.resultTree(), QStringLiteral("QLN_Miscellaneous")) != nullptr);

    // Listing a folder fills the file list with the file-list columns.
    QTreeWidgetItem* root = w.resultTree()->topLevelItem(0);
    w.listFolder(root);
    w.waitForWorker();
    QCOMPARE(w.propertyList()->headerItem()->text(1), QStringLiteral("Type"));
    QVERIFY(w.propertyList()->isColumnHidden(5));
    QVERIFY(w.propertyList()->topLevelItemCount() > 0);
    QCOMPARE(w.currentFolderText(), QString());
    screenshot(w, QStringLiteral("4-results-page"));

    // Open on a folder row lists that folder.
    QTreeWidgetItem* folderRow = nullptr;
    for (int i = 0; i < w.propertyList()->topLevelItemCount(); ++i) {
        if (w.propertyList()->topLevelItem(i)->text(1) == QStringLiteral("FOLDER") &&
            w.propertyList()->topLevelItem(i)->text(0) != QStringLiteral("QLN_Miscellaneous")) {
            folderRow = w.propertyList()->topLevelItem(i);
            break;
        }
    }
    QVERIFY(folderRow != nullptr);
    const QString opened = folderRow->text(0);
    w.propertyList()->setCurrentItem(folderRow);
    w.openItem();
    w.waitForWorker();
    QCOMPARE(w.currentFolderText(), opened);

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
    QVERIFY(QDir(win.prompts->destination + QLatin1Char('/') + opened).exists());
    std::size_t files = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(win.prompts->destination.toStdString())) {
        if (e.is_regular_file()) ++files;
    }
    QVERIFY(files > 10);
}

void MainWindowTest::checkBoxesPropagateByClicks() {
    Window win(fixture("fat16-search.img"));
    win.searchPartition(0);
    CChildDialogExDemoDlg& w = *win.w;
    QTreeWidgetItem* root = w.resultTree()->topLevelItem(0);
    QTreeWidgetItem* folder = nullptr;
    for (int i = 0; i < root->childCount(); ++i) {
        if (root->child(i)->childCount() > 0) folder = root->child(i);
    }
    QVERIFY(folder != nullptr);
    folder->setExpanded(true);
    clickCheckBox(w.resultTree(), folder);
    QCOMPARE(folder->checkState(0), Qt::Checked);
    QCOMPARE(folder->child(0)->checkState(0), Qt::Checked);
    QCOMPARE(root->checkState(0), Qt::PartiallyChecked);
    // A partly checked item unchecks on click, with its subtree.
    clickCheckBox(w.resultTree(), root);
    QCOMPARE(root->checkState(0), Qt::Unchecked);
    QCOMPARE(folder->checkState(0), Qt::Unchecked);
    clickCheckBox(w.resultTree(), root);
    QCOMPARE(folder->child(0)->checkState(0), Qt::Checked);
    clickCheckBox(w.resultTree(), folder->child(0));
    QCOMPARE(folder->child(0)->checkState(0), Qt::Unchecked);
    QCOMPARE(folder->checkState(0), folder->childCount() > 1 ? Qt::PartiallyChecked : Qt::Unchecked);
    QCOMPARE(root->checkState(0), Qt::PartiallyChecked);

    // Save takes the checked folders.
    QTemporaryDir dest;
    win.prompts->destination = dest.path();
    clickCheckBox(w.resultTree(), root);  // partly checked: all unchecked
    clickCheckBox(w.resultTree(), folder);
    w.save(false);
    w.waitForWorker();
    QStringList saved = QDir(dest.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCOMPARE(saved, QStringList{folder->text(0)});
}

void MainWindowTest::logSavedAndLoadedGivesTheSameTree() {
    for (const char* image : {"fat32-search.img", "ntfs-search.img"}) {
        Window win(fixture(image));
        win.searchPartition(0);
        CChildDialogExDemoDlg& w = *win.w;
        const QStringList before = treeTexts(w.resultTree());
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
        w.waitForWorker();
        QCOMPARE(w.wizardStep(), 3);
        QCOMPARE(treeTexts(w.resultTree()), before);
        screenshot(w, QStringLiteral("5-loaded-log-") + QLatin1String(image));
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
    win.w->selectStandardSearch();
    win.w->next();
    win.prompts->logFile = dir.path() + QStringLiteral("/OTHER.QLG");
    win.w->loadLog();
    win.w->waitForWorker();
    QCOMPARE(win.w->wizardStep(), 1);
    QCOMPARE(win.log->messages.last(), QString::fromLatin1(kMsgLogCorrupt));
}

void MainWindowTest::stoppedSearchShowsWhatWasFound() {
    Window win(fixture("ntfs-search.img"));
    CChildDialogExDemoDlg& w = *win.w;
    w.selectStandardSearch();
    w.next();
    w.next();
    w.stopSearch();  // at once: the search stops within one run of records
    w.waitForWorker();
    QCOMPARE(w.wizardStep(), 3);
    QVERIFY(w.backButton()->isEnabled());
    QCOMPARE(w.resultTree()->topLevelItem(0)->text(0), QStringLiteral("Root"));

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
    const QString image = dir.path() + QStringLiteral("/no-ntfs-boot.img");
    QVERIFY(QFile::copy(fixture("ntfs-search.img"), image));
    {
        Session probe;
        QVERIFY(probe.AddImage(image.toStdString()).ok());
        QVERIFY(probe.SelectDisk(0).ok());
        const PartitionEntry p = probe.partitions().partitions.at(0);
        QFile f(image);
        QVERIFY(f.open(QIODevice::ReadWrite));
        const QByteArray zeros(512, '\0');
        for (const std::uint64_t sector : {p.start, p.end - 1}) {
            QVERIFY(f.seek(static_cast<qint64>(sector * 512)));
            QCOMPARE(f.write(zeros), 512);
        }
    }
    Window win(image);
    CChildDialogExDemoDlg& w = *win.w;
    win.searchPartition(0);
    QVERIFY(win.log->guidance >= 1);
    screenshot(w, QStringLiteral("6-nothing-found"));

    // Exit on the results page: first whether to save the recovery, then whether to exit; No to
    // the second keeps the window as it was.
    win.prompts->answers = {false, false};
    QVERIFY(!w.close());
    QCOMPARE(win.log->questions,
             (QStringList{QStringLiteral("Do you want to save the recovery?"), QStringLiteral("Do you want to exit from Quorlan?")}));
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
    QCOMPARE(listedDisks(w), (QStringList{QStringLiteral("/dev/sdz"), fixture("fat16-search.img")}));
    QCoreApplication::processEvents();
    QCOMPARE(log->noMedia, 0);
}

void MainWindowTest::keysOfTheResultsPage() {
    Window win(fixture("fat16-search.img"));
    win.searchPartition(0);
    CChildDialogExDemoDlg& w = *win.w;
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTreeWidgetItem* root = w.resultTree()->topLevelItem(0);
    w.resultTree()->setFocus();
    w.resultTree()->setCurrentItem(root);
    // Down lists the next folder; Esc, Enter and Space do nothing; Tab moves to the list.
    QTest::keyClick(w.resultTree(), Qt::Key_Down);
    w.waitForWorker();
    QCOMPARE(w.currentFolderText(), root->child(0)->text(0));
    QTest::keyClick(w.resultTree(), Qt::Key_Escape);
    QTest::keyClick(w.resultTree(), Qt::Key_Return);
    QTest::keyClick(w.resultTree(), Qt::Key_Space);
    QVERIFY(w.isVisible());
    QCOMPARE(w.wizardStep(), 3);
    QTest::keyClick(w.resultTree(), Qt::Key_Tab);
    QVERIFY(w.propertyList()->hasFocus());
    QTest::keyClick(w.propertyList(), Qt::Key_F6);
    QVERIFY(w.resultTree()->hasFocus());
    win.prompts->answers = {false, true};
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
}

// The DFTT-like volume of fat-undelete.img: the file list marks the deleted files whose clusters
// the evidence cannot vouch for with a warning sign beside their type and the reason in a tooltip,
// and the save summary lists them.
void MainWindowTest::deletedFilesCarryTheirTrustMark() {
    Window win(fixture("fat-undelete.img"));
    win.searchPartition(0);
    CChildDialogExDemoDlg& w = *win.w;
    w.listFolder(w.resultTree()->topLevelItem(0));
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

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
