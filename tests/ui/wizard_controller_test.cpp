// The wizard's step rules without a window: where Next and Back lead from every page, what a
// running job allows, which buttons are live, which help sentence shows, and the checks of the
// partition page's input.
#include <gtest/gtest.h>

#include <functional>

#include "ui/wizard_controller.h"

using namespace quorlan;
using namespace quorlan::ui;

namespace {

// Wizards brought to a page the way a user gets there.
WizardController atDisk(bool floppy, std::optional<SearchMode> mode) {
    WizardController w;
    w.selectDisk(floppy);
    if (mode) (void)w.chooseMode(*mode);
    return w;
}

WizardController atPartition(SearchMode mode, bool floppy = false) {
    WizardController w = atDisk(floppy, mode);
    w.enterPartitionPage(false);
    return w;
}

WizardController atStandardResults(bool floppy = false) {
    WizardController w = atPartition(SearchMode::Standard, floppy);
    w.searchStarted();
    w.standardSearchEnded(true, true);
    return w;
}

WizardController atFileSystems(std::size_t found) {
    WizardController w = atPartition(SearchMode::Advance);
    w.searchStarted();
    w.advanceSearchEnded(found, false);
    return w;
}

WizardController atAdvanceResults() {
    WizardController w = atFileSystems(2);
    EXPECT_TRUE(w.nextOnFileSystems(1));
    w.entryBuildingEnded(true);
    return w;
}

WizardController atLoadedLog() {
    WizardController w = atPartition(SearchMode::Advance);
    w.logLoadStarted();
    w.logLoadEnded(true);
    return w;
}

}  // namespace

TEST(WizardController, DiskPageOffersNextOnlyWithADiskAndAMode) {
    struct Case {
        const char* name;
        bool select;
        bool floppy;
        std::optional<SearchMode> mode;
        bool modeTaken;
        bool next;
        bool advanceOffered;
    };
    const Case cases[] = {
        {"nothing chosen", false, false, std::nullopt, false, false, false},
        {"a mode without a disk", false, false, SearchMode::Standard, false, false, false},
        {"a disk without a mode", true, false, std::nullopt, false, false, true},
        {"disk and Standard", true, false, SearchMode::Standard, true, true, true},
        {"disk and Advance", true, false, SearchMode::Advance, true, true, true},
        {"floppy and Standard", true, true, SearchMode::Standard, true, true, false},
        {"floppy refuses Advance", true, true, SearchMode::Advance, false, false, false},
    };
    for (const Case& c : cases) {
        WizardController w;
        if (c.select) w.selectDisk(c.floppy);
        bool taken = false;
        if (c.mode) taken = w.chooseMode(*c.mode);
        EXPECT_EQ(taken, c.modeTaken) << c.name;
        EXPECT_EQ(w.canLeaveDiskPage(), c.next) << c.name;
        const Controls ctl = w.controls();
        EXPECT_EQ(ctl.nextEnabled, c.next) << c.name;
        EXPECT_EQ(ctl.advanceRadioEnabled, c.advanceOffered) << c.name;
        EXPECT_EQ(ctl.standardRadioEnabled, c.select) << c.name;
        EXPECT_FALSE(ctl.backEnabled || ctl.loadLogEnabled || ctl.saveEnabled || ctl.saveLogEnabled) << c.name;
        EXPECT_TRUE(ctl.refreshVisible && ctl.openImageEnabled) << c.name;
    }
    // Advance chosen on a disk, then the floppy selected: the mode goes, Next waits for Standard.
    WizardController w = atDisk(false, SearchMode::Advance);
    w.selectDisk(true);
    EXPECT_FALSE(w.mode().has_value());
    EXPECT_FALSE(w.canLeaveDiskPage());
}

TEST(WizardController, BackLeadsByPageAndMode) {
    struct Case {
        const char* name;
        std::function<WizardController()> make;
        Page to;
        Help help;
        bool dropResults;
        bool dropFileSystems;
        bool refreshDisks;
    };
    const Case cases[] = {
        {"partition page", [] { return atPartition(SearchMode::Standard); }, Page::Disk,
         Help::DiskPage, true, false, true},
        {"partition page of the floppy", [] { return atPartition(SearchMode::Standard, true); },
         Page::Disk, Help::DiskPageFloppyBack, true, false, true},
        {"Standard results", [] { return atStandardResults(); }, Page::Partition,
         Help::PartitionBack, true, false, false},
        {"floppy results", [] { return atStandardResults(true); }, Page::Disk,
         Help::DiskPageFloppyBack, true, false, true},
        {"file systems found", [] { return atFileSystems(2); }, Page::Partition,
         Help::PartitionBack, true, true, false},
        {"no file system found", [] { return atFileSystems(0); }, Page::Partition,
         Help::PartitionBack, true, true, false},
        {"Advance results keep their tree", [] { return atAdvanceResults(); }, Page::FileSystems,
         Help::FileSystems, false, false, false},
        {"a loaded Advance log", [] { return atLoadedLog(); }, Page::Partition, Help::PartitionBack,
         true, false, false},
    };
    for (const Case& c : cases) {
        WizardController w = c.make();
        const BackStep step = w.back();
        EXPECT_TRUE(step.moved) << c.name;
        EXPECT_EQ(step.to, c.to) << c.name;
        EXPECT_EQ(w.page(), c.to) << c.name;
        EXPECT_EQ(w.help(), c.help) << c.name;
        EXPECT_EQ(step.dropResults, c.dropResults) << c.name;
        EXPECT_EQ(step.dropFileSystems, c.dropFileSystems) << c.name;
        EXPECT_EQ(step.refreshDisks, c.refreshDisks) << c.name;
        EXPECT_FALSE(w.controls().saveEnabled || w.controls().saveLogEnabled) << c.name;
        if (c.to == Page::Disk) {
            EXPECT_FALSE(w.mode().has_value()) << c.name;
        }
    }
    WizardController w;
    EXPECT_FALSE(w.back().moved);  // nothing before the disk page
}

TEST(WizardController, RunningJobsHoldTheButtons) {
    struct Case {
        const char* name;
        std::function<WizardController()> make;
        Page page;
        Job job;
        bool nextVisible;
        bool stopSearch;
        bool backMoves;
    };
    const Case cases[] = {
        {"Standard Search", [] {
             WizardController w = atPartition(SearchMode::Standard);
             w.searchStarted();
             return w;
         }, Page::Results, Job::Search, false, true, false},
        {"Advance scan", [] {
             WizardController w = atPartition(SearchMode::Advance);
             w.searchStarted();
             return w;
         }, Page::FileSystems, Job::AdvanceSearch, false, true, false},
        {"entry building", [] {
             WizardController w = atFileSystems(1);
             (void)w.nextOnFileSystems(1);
             return w;
         }, Page::Results, Job::EntryBuilding, false, false, false},
        {"log loading", [] {
             WizardController w = atPartition(SearchMode::Standard);
             w.logLoadStarted();
             return w;
         }, Page::Results, Job::LogLoading, false, false, false},
        {"lost-partition search", [] {
             WizardController w = atPartition(SearchMode::Advance);
             w.partitionSearchStarted(false, true);
             return w;
         }, Page::Partition, Job::PartitionSearch, true, false, true},
    };
    for (const Case& c : cases) {
        WizardController w = c.make();
        EXPECT_EQ(w.page(), c.page) << c.name;
        EXPECT_EQ(w.job(), c.job) << c.name;
        const Controls ctl = w.controls();
        EXPECT_EQ(ctl.nextVisible, c.nextVisible) << c.name;
        EXPECT_FALSE(ctl.nextEnabled) << c.name;
        EXPECT_FALSE(ctl.backEnabled) << c.name;
        EXPECT_FALSE(ctl.loadLogEnabled || ctl.saveEnabled || ctl.saveLogEnabled) << c.name;
        EXPECT_EQ(ctl.stopSearchVisible, c.stopSearch) << c.name;
        EXPECT_FALSE(w.canLoadLog() || w.canSaveLog()) << c.name;
        // Back waits for the job, except that it ends a lost-partition search on its way.
        const BackStep step = w.back();
        EXPECT_EQ(step.moved, c.backMoves) << c.name;
        EXPECT_EQ(step.stopPartitionSearch, c.backMoves) << c.name;
    }
}

TEST(WizardController, LostPartitionSearchHelpAndControls) {
    struct Case {
        const char* name;
        bool automatic;
        bool hadPartitions;
        Help running;
    };
    const Case cases[] = {
        {"button, disk with partitions", false, true, Help::PartitionSearchRunning},
        {"button, disk without partitions", false, false, Help::OnlineHelp},
        {"corrupt table with partitions", true, true, Help::TableCorrupt},
        {"corrupt table without partitions", true, false, Help::OnlineHelp},
    };
    for (const Case& c : cases) {
        for (const bool stopped : {false, true}) {
            WizardController w = atDisk(false, SearchMode::Advance);
            w.enterPartitionPage(c.automatic);
            w.partitionSearchStarted(c.automatic, c.hadPartitions);
            EXPECT_EQ(w.help(), c.running) << c.name;
            const Controls running = w.controls();
            EXPECT_FALSE(running.searchMorePartitionsVisible) << c.name;  // STOP in its place
            EXPECT_FALSE(running.partitionRangeEnabled || running.typeControlsEnabled) << c.name;
            w.partitionSearchEnded(stopped);
            EXPECT_EQ(w.help(), stopped ? Help::PartitionNext : Help::PartitionBack) << c.name;
            const Controls after = w.controls();
            EXPECT_TRUE(after.searchMorePartitionsVisible && after.searchMorePartitionsEnabled) << c.name;
            EXPECT_TRUE(after.nextEnabled && after.backEnabled && after.loadLogEnabled) << c.name;
            // An automatic search hides the Advance type controls for the rest of the page's life.
            EXPECT_EQ(after.typeControlsVisible, !c.automatic) << c.name;
        }
    }
}

TEST(WizardController, AdvanceSearchListsFileSystemsAndBuildsEachOnce) {
    WizardController none = atFileSystems(0);
    EXPECT_EQ(none.help(), Help::NoFileSystem);
    EXPECT_FALSE(none.controls().nextEnabled);
    EXPECT_TRUE(none.controls().backEnabled);
    EXPECT_FALSE(none.nextOnFileSystems(1));
    EXPECT_EQ(none.page(), Page::FileSystems);

    WizardController ntfs = atPartition(SearchMode::Advance);
    ntfs.searchStarted();
    ntfs.advanceSearchEnded(1, true);
    EXPECT_EQ(ntfs.help(), Help::FileSystemsNtfs);

    WizardController w = atFileSystems(2);
    EXPECT_EQ(w.help(), Help::FileSystems);
    EXPECT_TRUE(w.controls().nextEnabled);
    EXPECT_FALSE(w.nextOnFileSystems(3));  // no such file system
    EXPECT_TRUE(w.nextOnFileSystems(2));
    EXPECT_EQ(w.page(), Page::Results);
    w.entryBuildingEnded(true);
    EXPECT_TRUE(w.controls().saveEnabled && w.controls().saveLogEnabled);
    EXPECT_EQ(w.builtFileSystem(), 2u);
    // Back and Next again on the same file system shows its tree without building it again;
    // another one is built.
    (void)w.back();
    EXPECT_FALSE(w.nextOnFileSystems(2));
    EXPECT_EQ(w.page(), Page::Results);
    EXPECT_TRUE(w.controls().saveEnabled);
    (void)w.back();
    EXPECT_TRUE(w.nextOnFileSystems(1));
    EXPECT_EQ(w.job(), Job::EntryBuilding);
}

TEST(WizardController, ResultsCommandsFollowWhatWasFound) {
    struct Case {
        const char* name;
        bool usable;
        bool finished;
        Help help;
    };
    const Case cases[] = {
        {"finished with folders", true, true, Help::ResultsFinished},
        {"stopped with folders", true, false, Help::Results},
        {"finished with nothing", false, true, Help::ResultsFinished},
        {"stopped with nothing", false, false, Help::Results},
    };
    for (const Case& c : cases) {
        WizardController w = atPartition(SearchMode::Standard);
        w.searchStarted();
        EXPECT_FALSE(w.asksToSaveAtExit()) << c.name;  // a search runs
        w.standardSearchEnded(c.usable, c.finished);
        EXPECT_EQ(w.help(), c.help) << c.name;
        EXPECT_EQ(w.canSave(), c.usable) << c.name;
        EXPECT_EQ(w.canSaveLog(), c.usable) << c.name;
        EXPECT_TRUE(w.controls().backEnabled) << c.name;
        EXPECT_TRUE(w.asksToSaveAtExit()) << c.name;
        EXPECT_FALSE(w.canLoadLog()) << c.name;
    }
    // A listing or a save holds the page; the exit path still asks.
    WizardController w = atStandardResults();
    EXPECT_TRUE(w.canStartResultsJob());
    w.resultsJobStarted(Job::Listing);
    EXPECT_FALSE(w.canSaveLog() || w.canStartResultsJob() || w.back().moved);
    EXPECT_TRUE(w.asksToSaveAtExit());
    w.resultsJobEnded();
    EXPECT_TRUE(w.canSaveLog());
    // Load Log only on the partition page; a log that fails to load leads back there.
    EXPECT_FALSE(atDisk(false, SearchMode::Standard).canLoadLog());
    WizardController log = atPartition(SearchMode::Standard);
    EXPECT_TRUE(log.canLoadLog());
    log.logLoadStarted();
    log.logLoadEnded(false);
    EXPECT_EQ(log.page(), Page::Partition);
    EXPECT_EQ(log.help(), Help::PartitionNext);
}

TEST(PartitionInput, VerdictsOfNextOnThePartitionPage) {
    using K = PartitionVerdict::Kind;
    auto standard = [](FileSystemType type, std::uint64_t start, std::uint64_t end) {
        PartitionInput in;
        in.partitionSelected = true;
        in.partitionType = type;
        in.partitionStart = start;
        in.partitionEnd = end;
        in.diskSectors = 100000;
        return in;
    };
    auto advance = [](int type, const char* start, const char* end) {
        PartitionInput in;
        in.mode = SearchMode::Advance;
        in.typeIndex = type;
        in.startText = start;
        in.endText = end;
        in.diskSectors = 100000;
        return in;
    };
    PartitionInput none;
    none.diskSectors = 100000;
    struct Case {
        const char* name;
        PartitionInput in;
        K kind;
        const char* message;
        Help help;
        std::uint64_t start, end;
        bool rewritten;
    };
    const Case cases[] = {
        {"Standard, FAT32", standard(FileSystemType::Fat32, 2048, 60000), K::Search, nullptr,
         Help::SearchStarted, 2048, 60000, false},
        {"Standard, the floppy", standard(FileSystemType::Fat12, 0, 2880), K::Search, nullptr,
         Help::SearchStarted, 0, 2880, false},
        {"Standard, nothing selected", none, K::NoPartition, nullptr, Help::NoPartition, 0, 0,
         false},
        {"Standard, Unknown Partition", standard(FileSystemType::Unknown, 0, 100000),
         K::StandardGuidance, nullptr, Help::NoPartition, 0, 0, false},
        {"Standard, empty range", standard(FileSystemType::Fat16, 500, 500), K::StandardGuidance,
         nullptr, Help::NoPartition, 0, 0, false},
        {"Advance, FAT16 over a range", advance(0, "63", "4000"), K::Search, nullptr,
         Help::SearchStarted, 63, 4000, false},
        {"Advance, blanks around numbers", advance(2, " 0 ", "100000 "), K::Search, nullptr,
         Help::SearchStarted, 0, 100000, false},
        {"Advance, UNKNOWN", advance(3, "0", "100"), K::SelectType, "Select partition type",
         Help::NoType, 0, 0, false},
        {"Advance, start not a number", advance(1, "abc", "100"), K::BadStart,
         "Start sector is not valid", Help::PartitionNext, 0, 0, false},
        {"Advance, negative start", advance(1, "-5", "100"), K::BadStart,
         "Start sector is not valid", Help::PartitionNext, 0, 0, false},
        {"Advance, start beyond the disk", advance(1, "100000", "200000"), K::BadStart,
         "Start sector is not valid", Help::PartitionNext, 0, 0, false},
        {"Advance, end not a number", advance(1, "10", "1O0"), K::BadEnd,
         "Ending sector is not valid", Help::PartitionNext, 0, 0, false},
        {"Advance, empty end", advance(1, "10", ""), K::BadEnd, "Ending sector is not valid",
         Help::PartitionNext, 0, 0, false},
        {"Advance, end below start: the disk's end", advance(1, "5000", "100"), K::Search, nullptr,
         Help::SearchStarted, 5000, 100000, true},
        {"Advance, end beyond the disk is cut", advance(1, "0", "999999999"), K::Search, nullptr,
         Help::SearchStarted, 0, 100000, false},
    };
    for (const Case& c : cases) {
        const PartitionVerdict v = CheckPartitionInput(c.in);
        EXPECT_EQ(v.kind, c.kind) << c.name;
        EXPECT_EQ(v.help, c.help) << c.name;
        if (c.message == nullptr) {
            EXPECT_EQ(v.message(), nullptr) << c.name;
        } else {
            EXPECT_STREQ(v.message(), c.message) << c.name;
        }
        if (c.kind == K::Search) {
            EXPECT_EQ(v.start, c.start) << c.name;
            EXPECT_EQ(v.end, c.end) << c.name;
            EXPECT_EQ(v.endRewritten, c.rewritten) << c.name;
        }
    }
}

TEST(PartitionInput, SectorTextsAndTypeList) {
    EXPECT_EQ(ParseSectorText("0"), 0u);
    EXPECT_EQ(ParseSectorText("  18446744073709551615\t"), UINT64_MAX);
    for (const char* bad : {"", " ", "18446744073709551616", "+1", "-1", "1e3", "0x10", "12 34"}) {
        EXPECT_FALSE(ParseSectorText(bad).has_value()) << bad;
    }
    for (const FileSystemType t : {FileSystemType::Fat16, FileSystemType::Fat32, FileSystemType::Ntfs}) {
        EXPECT_EQ(PartitionTypeOfIndex(PartitionTypeIndex(t)), t);
    }
    // Types the list does not hold preset "UNKNOWN".
    EXPECT_EQ(PartitionTypeIndex(FileSystemType::Fat12), kTypeUnknownIndex);
    EXPECT_EQ(PartitionTypeIndex(FileSystemType::Unknown), kTypeUnknownIndex);
}
