// The wizard's step rules without widgets: which page is shown, where Next and Back lead, which
// commands each page and each running job allow, which buttons are live and which help sentence
// the bottom strip shows. The window asks it and shows what it says; tests drive it alone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "items/volume.h"

namespace quorlan::ui {

// The pages, numbered as the wizard's steps.
enum class Page { Disk = 0, Partition = 1, FileSystems = 2, Results = 3 };

// The long operations; each runs on the worker thread, one at a time.
enum class Job {
    None,
    Search,           // a Standard Search (stoppable)
    AdvanceSearch,    // the scan and analysis of an Advance Search (stoppable)
    EntryBuilding,    // the folders of the file system chosen after an Advance Search
    PartitionSearch,  // the lost-partition search (STOP asks first)
    LogLoading,
    Listing,  // a folder of the results
    Saving,   // Save, Save All, and Open of a file
};

// The sentences of the help strip, by situation.
enum class Help {
    DiskPage,
    DiskPageFloppyBack,
    PartitionNext,
    PartitionBack,
    NoType,
    NoPartition,
    SearchStarted,
    FileSystems,      // the list of file systems after a FAT Advance Search, and Back to it
    FileSystemsNtfs,  // the same after an NTFS Advance Search
    NoFileSystem,
    Results,
    ResultsFinished,  // after a Standard Search that ran to its end ("left panel")
    PartitionSearchRunning,
    TableCorrupt,
    OnlineHelp,  // a disk without partitions while the lost-partition search runs
    PleaseWait,
};

// What the window's buttons and page controls show in the current state.
struct Controls {
    bool nextVisible = true;
    bool nextEnabled = false;
    bool backEnabled = false;
    bool loadLogEnabled = false;
    bool saveLogEnabled = false;
    bool saveEnabled = false;
    bool openImageEnabled = false;
    bool refreshVisible = false;
    bool standardRadioEnabled = false;
    bool advanceRadioEnabled = false;
    bool stopSearchVisible = false;
    bool searchMorePartitionsVisible = false;  // else STOP in its place
    bool searchMorePartitionsEnabled = false;
    bool partitionRangeEnabled = false;      // Entire Disk / Sector Range and their edits
    bool typeControlsVisible = false;        // Partition Type and the sector edits (Advance Search)
    bool typeControlsEnabled = false;
    bool treesEnabled = true;                // the page's tree and list answer clicks
    bool searchPanelShown = false;           // the search status panel instead of the page's own
};

// Where Back leads and what it undoes on the way.
struct BackStep {
    bool moved = false;                   // false: Back does nothing now
    Page to = Page::Disk;
    bool stopPartitionSearch = false;     // a lost-partition search runs: it is stopped first
    bool dropResults = false;             // the result tree and its tables go
    bool dropFileSystems = false;         // the list of file systems found goes
    bool refreshDisks = false;            // the disk page is listed again
};

class WizardController {
public:
    [[nodiscard]] Page page() const { return m_page; }
    [[nodiscard]] int step() const { return static_cast<int>(m_page); }
    [[nodiscard]] std::optional<SearchMode> mode() const { return m_mode; }
    [[nodiscard]] bool floppy() const { return m_floppy; }
    [[nodiscard]] Job job() const { return m_job; }
    [[nodiscard]] bool busy() const { return m_job != Job::None; }
    [[nodiscard]] Help help() const { return m_help; }
    [[nodiscard]] bool diskSelected() const { return m_diskSelected; }
    [[nodiscard]] bool hasResults() const { return m_resultsShown; }
    [[nodiscard]] std::size_t fileSystems() const { return m_fileSystems; }
    // The file system whose folders the results page shows (1-based), 0 when none.
    [[nodiscard]] std::size_t builtFileSystem() const { return m_builtFileSystem; }

    [[nodiscard]] Controls controls() const;

    // ---- disk page
    // A disk node was selected (floppy: the floppy node). Advance Search is never offered for the
    // floppy: a mode chosen before goes.
    void selectDisk(bool floppy);
    // The hover of a mode radio; false when that mode is not offered now.
    bool chooseMode(SearchMode mode);
    // Refresh List, and the disks listed again after Back: nothing selected, no mode.
    void disksListed();
    // Next is allowed on the disk page (a disk and a mode chosen).
    [[nodiscard]] bool canLeaveDiskPage() const;
    // Next on the disk page read the disk's partitions: the partition page. autoSearch: its
    // table is corrupt or lists nothing, and the lost-partition search starts by itself.
    void enterPartitionPage(bool autoSearch);

    // ---- partition page
    // The lost-partition search starts; the disk had no partition before it.
    void partitionSearchStarted(bool automatic, bool diskHadPartitions);
    // It ended; stoppedByUser: the user answered Yes to the STOP question.
    void partitionSearchEnded(bool stoppedByUser);
    // Next with valid input: the search runs on the results page (Standard Search) or on the
    // page of the file systems found (Advance Search).
    void searchStarted();
    // A Standard Search ended; usable: it found something to browse (else Save and Save Log
    // stay off); finished: it ran to its end (not stopped).
    void standardSearchEnded(bool usable, bool finished);
    // An Advance Search's scan and analysis ended with this many file systems.
    void advanceSearchEnded(std::size_t fileSystems, bool ntfs);
    // Next on the page of file systems found: building the entries of file system number, or
    // (already built) showing them at once; returns whether they must be built.
    bool nextOnFileSystems(std::size_t number);
    void entryBuildingEnded(bool usable);
    // Load Log (partition page only): the results page while the log loads.
    [[nodiscard]] bool canLoadLog() const;
    void logLoadStarted();
    void logLoadEnded(bool ok);

    // ---- results page
    [[nodiscard]] bool canSaveLog() const;
    [[nodiscard]] bool canSave() const;
    // Listing a folder or saving: another job of the results page.
    [[nodiscard]] bool canStartResultsJob() const {
        return m_page == Page::Results && m_job == Job::None && m_resultsShown;
    }
    void resultsJobStarted(Job job);
    void resultsJobEnded();

    // The exit path asks whether to save the recovery first: on the results page with no search,
    // entry building or log loading running.
    [[nodiscard]] bool asksToSaveAtExit() const;

    // Back, by page.
    BackStep back();

    void setHelp(Help help) { m_help = help; }

private:
    Page m_page = Page::Disk;
    std::optional<SearchMode> m_mode;
    bool m_diskSelected = false;
    bool m_floppy = false;
    Job m_job = Job::None;
    Help m_help = Help::DiskPage;
    bool m_autoSearchHidesTypeControls = false;  // the page opened with an automatic partition search
    bool m_resultsShown = false;   // the results page holds a tree
    bool m_resultsUsable = false;  // ... with something found (Save and Save Log)
    std::size_t m_fileSystems = 0;
    bool m_fileSystemsListed = false;  // an Advance Search's list of file systems exists
    bool m_fileSystemsNtfs = false;
    std::size_t m_builtFileSystem = 0;
};

// The Partition Type list: "FAT16", "FAT32", "NTFS", "UNKNOWN".
inline constexpr int kTypeUnknownIndex = 3;
[[nodiscard]] int PartitionTypeIndex(FileSystemType type);
[[nodiscard]] FileSystemType PartitionTypeOfIndex(int index);

// What Next on the partition page reads.
struct PartitionInput {
    SearchMode mode = SearchMode::Standard;
    bool partitionSelected = false;  // a partition of the list, or "Unknown Partition"
    FileSystemType partitionType = FileSystemType::Unknown;
    std::uint64_t partitionStart = 0;
    std::uint64_t partitionEnd = 0;  // the first sector after it
    int typeIndex = kTypeUnknownIndex;  // Advance Search: the Partition Type list
    std::string startText;              // Advance Search: the sector edits
    std::string endText;
    std::uint64_t diskSectors = 0;
};

// The answer to Next on the partition page.
struct PartitionVerdict {
    enum class Kind {
        Search,            // start the search of type over start <= sector < end
        NoPartition,       // Standard Search with no partition selected
        StandardGuidance,  // Standard Search cannot search the selected partition
        SelectType,        // "Select partition type"
        BadStart,          // "Start sector is not valid"
        BadEnd,            // "Ending sector is not valid"
    };
    Kind kind = Kind::Search;
    FileSystemType type = FileSystemType::Unknown;
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    bool endRewritten = false;  // the end edit now holds the disk's sector count
    Help help = Help::SearchStarted;
    [[nodiscard]] const char* message() const;  // the message box text, or nullptr
};

[[nodiscard]] PartitionVerdict CheckPartitionInput(const PartitionInput& input);

// A sector number typed into an edit: decimal, optional blanks around it; empty for anything
// else (a sign, letters, a number beyond 64 bits).
[[nodiscard]] std::optional<std::uint64_t> ParseSectorText(const std::string& text);

}  // namespace quorlan::ui
