#include "ui/wizard_controller.h"

#include <cctype>

#include "search/search_driver.h"

namespace quorlan::ui {

Controls WizardController::controls() const {
    Controls c;
    const bool idle = m_job == Job::None;
    const bool searching = m_job == Job::Search || m_job == Job::AdvanceSearch || m_job == Job::EntryBuilding;
    c.searchPanelShown = searching;
    c.stopSearchVisible = m_job == Job::Search || m_job == Job::AdvanceSearch;
    c.treesEnabled = idle || m_job == Job::PartitionSearch;
    switch (m_page) {
        case Page::Disk:
            c.nextEnabled = idle && canLeaveDiskPage();
            c.openImageEnabled = idle;
            c.refreshVisible = true;
            c.standardRadioEnabled = idle && m_diskSelected;
            c.advanceRadioEnabled = idle && m_diskSelected && !m_floppy;
            break;
        case Page::Partition: {
            const bool partitionSearch = m_job == Job::PartitionSearch;
            c.nextEnabled = idle;
            c.backEnabled = idle;
            c.loadLogEnabled = idle;
            c.searchMorePartitionsVisible = !partitionSearch;
            c.searchMorePartitionsEnabled = idle;
            c.partitionRangeEnabled = idle;
            c.typeControlsVisible = m_mode == SearchMode::Advance && !m_autoSearchHidesTypeControls;
            c.typeControlsEnabled = idle;
            break;
        }
        case Page::FileSystems:
            // Next stays hidden while the scan runs.
            c.nextVisible = m_job != Job::AdvanceSearch;
            c.nextEnabled = idle && m_fileSystems > 0;
            c.backEnabled = idle;
            break;
        case Page::Results:
            c.nextVisible = false;
            c.backEnabled = idle && m_resultsShown;
            c.saveEnabled = idle && m_resultsUsable;
            c.saveLogEnabled = idle && m_resultsUsable;
            break;
    }
    return c;
}

void WizardController::selectDisk(bool floppy) {
    if (m_page != Page::Disk || busy()) return;
    m_diskSelected = true;
    m_floppy = floppy;
    if (floppy && m_mode == SearchMode::Advance) m_mode.reset();
}

bool WizardController::chooseMode(SearchMode mode) {
    if (m_page != Page::Disk || busy() || !m_diskSelected) return false;
    if (mode == SearchMode::Advance && m_floppy) return false;
    m_mode = mode;
    return true;
}

void WizardController::disksListed() {
    m_diskSelected = false;
    m_floppy = false;
    m_mode.reset();
}

bool WizardController::canLeaveDiskPage() const { return m_page == Page::Disk && m_diskSelected && m_mode.has_value(); }

void WizardController::enterPartitionPage(bool autoSearch) {
    if (!canLeaveDiskPage() || busy()) return;
    m_page = Page::Partition;
    m_autoSearchHidesTypeControls = autoSearch;
    m_fileSystemsListed = false;
    m_fileSystems = 0;
    m_builtFileSystem = 0;
    m_resultsShown = false;
    m_resultsUsable = false;
    m_help = Help::PartitionNext;
}

void WizardController::partitionSearchStarted(bool automatic, bool diskHadPartitions) {
    if (m_page != Page::Partition || busy()) return;
    m_job = Job::PartitionSearch;
    if (!diskHadPartitions) {
        m_help = Help::OnlineHelp;
    } else {
        m_help = automatic ? Help::TableCorrupt : Help::PartitionSearchRunning;
    }
}

void WizardController::partitionSearchEnded(bool stoppedByUser) {
    if (m_job != Job::PartitionSearch) return;
    m_job = Job::None;
    m_help = stoppedByUser ? Help::PartitionNext : Help::PartitionBack;
}

void WizardController::searchStarted() {
    if (m_page != Page::Partition || busy() || !m_mode) return;
    m_resultsShown = false;
    m_resultsUsable = false;
    m_builtFileSystem = 0;
    m_fileSystems = 0;
    if (*m_mode == SearchMode::Standard) {
        m_page = Page::Results;
        m_job = Job::Search;
    } else {
        m_page = Page::FileSystems;
        m_job = Job::AdvanceSearch;
        m_fileSystemsListed = false;
    }
    m_help = Help::SearchStarted;
}

void WizardController::standardSearchEnded(bool usable, bool finished) {
    if (m_job != Job::Search) return;
    m_job = Job::None;
    m_resultsShown = true;
    m_resultsUsable = usable;
    m_help = finished ? Help::ResultsFinished : Help::Results;
}

void WizardController::advanceSearchEnded(std::size_t fileSystems, bool ntfs) {
    if (m_job != Job::AdvanceSearch) return;
    m_job = Job::None;
    m_fileSystems = fileSystems;
    m_fileSystemsListed = true;
    m_fileSystemsNtfs = ntfs;
    if (fileSystems == 0) {
        m_help = Help::NoFileSystem;
    } else {
        m_help = ntfs ? Help::FileSystemsNtfs : Help::FileSystems;
    }
}

bool WizardController::nextOnFileSystems(std::size_t number) {
    if (m_page != Page::FileSystems || busy() || number == 0 || number > m_fileSystems) return false;
    m_page = Page::Results;
    if (m_resultsShown && m_builtFileSystem == number) {
        m_help = Help::Results;
        return false;
    }
    m_resultsShown = false;
    m_resultsUsable = false;
    m_builtFileSystem = number;
    m_job = Job::EntryBuilding;
    m_help = Help::PleaseWait;
    return true;
}

void WizardController::entryBuildingEnded(bool usable) {
    if (m_job != Job::EntryBuilding) return;
    m_job = Job::None;
    m_resultsShown = true;
    m_resultsUsable = usable;
    m_help = Help::Results;
}

bool WizardController::canLoadLog() const { return m_page == Page::Partition && !busy(); }

void WizardController::logLoadStarted() {
    if (!canLoadLog()) return;
    m_page = Page::Results;
    m_job = Job::LogLoading;
    m_resultsShown = false;
    m_resultsUsable = false;
    m_fileSystemsListed = false;  // Back from a loaded log leads to the partition page
    m_builtFileSystem = 0;
    m_help = Help::PleaseWait;
}

void WizardController::logLoadEnded(bool ok) {
    if (m_job != Job::LogLoading) return;
    m_job = Job::None;
    if (ok) {
        m_resultsShown = true;
        m_resultsUsable = true;
        m_help = Help::Results;
    } else {
        m_page = Page::Partition;
        m_help = Help::PartitionNext;
    }
}

bool WizardController::canSaveLog() const { return m_page == Page::Results && !busy() && m_resultsUsable; }

bool WizardController::canSave() const { return canSaveLog(); }

void WizardController::resultsJobStarted(Job job) {
    if (!canStartResultsJob()) return;
    m_job = job;
}

void WizardController::resultsJobEnded() {
    if (m_job == Job::Listing || m_job == Job::Saving) m_job = Job::None;
}

bool WizardController::asksToSaveAtExit() const {
    return m_page == Page::Results && m_job != Job::Search && m_job != Job::AdvanceSearch &&
           m_job != Job::EntryBuilding && m_job != Job::LogLoading;
}

BackStep WizardController::back() {
    BackStep step;
    // Back is live only with no job running, except that it ends a lost-partition search.
    if (m_job != Job::None && !(m_job == Job::PartitionSearch && m_page == Page::Partition)) return step;
    switch (m_page) {
        case Page::Disk:
            return step;
        case Page::Partition:
            step.stopPartitionSearch = m_job == Job::PartitionSearch;
            step.to = Page::Disk;
            break;
        case Page::FileSystems:
            step.to = Page::Partition;
            step.dropFileSystems = true;
            step.dropResults = true;
            break;
        case Page::Results:
            if (!m_resultsShown) return step;
            step.dropResults = true;
            if (m_floppy) {
                step.to = Page::Disk;
            } else if (m_fileSystemsListed) {
                // An Advance Search: back to its list; the tree of the chosen file system stays
                // until another one is chosen.
                step.to = Page::FileSystems;
                step.dropResults = false;
            } else {
                step.to = Page::Partition;
            }
            break;
    }
    step.moved = true;
    m_job = Job::None;
    m_page = step.to;
    switch (step.to) {
        case Page::Disk:
            step.refreshDisks = true;
            step.dropResults = true;
            m_help = m_floppy ? Help::DiskPageFloppyBack : Help::DiskPage;
            disksListed();
            m_resultsShown = false;
            m_resultsUsable = false;
            m_fileSystemsListed = false;
            break;
        case Page::Partition:
            m_help = Help::PartitionBack;
            m_autoSearchHidesTypeControls = false;
            m_resultsShown = false;
            m_resultsUsable = false;
            m_fileSystemsListed = false;
            m_fileSystems = 0;
            m_builtFileSystem = 0;
            break;
        case Page::FileSystems:
            m_help = m_fileSystemsNtfs ? Help::FileSystemsNtfs : Help::FileSystems;
            break;
        case Page::Results:
            break;
    }
    if (step.dropResults) {
        m_resultsShown = false;
        m_resultsUsable = false;
        m_builtFileSystem = 0;
    }
    return step;
}

int PartitionTypeIndex(FileSystemType type) {
    switch (type) {
        case FileSystemType::Fat16:
            return 0;
        case FileSystemType::Fat32:
            return 1;
        case FileSystemType::Ntfs:
            return 2;
        default:
            return kTypeUnknownIndex;
    }
}

FileSystemType PartitionTypeOfIndex(int index) {
    switch (index) {
        case 0:
            return FileSystemType::Fat16;
        case 1:
            return FileSystemType::Fat32;
        case 2:
            return FileSystemType::Ntfs;
        default:
            return FileSystemType::Unknown;
    }
}

const char* PartitionVerdict::message() const {
    switch (kind) {
        case Kind::SelectType:
            return "Select partition type";
        case Kind::BadStart:
            return "Start sector is not valid";
        case Kind::BadEnd:
            return "Ending sector is not valid";
        default:
            return nullptr;
    }
}

std::optional<std::uint64_t> ParseSectorText(const std::string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])) != 0) ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1])) != 0) --end;
    if (begin == end || end - begin > 20) return std::nullopt;
    std::uint64_t value = 0;
    for (std::size_t i = begin; i < end; ++i) {
        const char ch = text[i];
        if (ch < '0' || ch > '9') return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(ch - '0');
        if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

PartitionVerdict CheckPartitionInput(const PartitionInput& in) {
    PartitionVerdict v;
    if (in.mode == SearchMode::Standard) {
        // The partition's own type and range; the type list and the edits are not used.
        if (!in.partitionSelected) {
            v.kind = PartitionVerdict::Kind::NoPartition;
            v.help = Help::NoPartition;
            return v;
        }
        if (!StandardSearchAccepts(in.partitionType) || in.partitionStart >= in.partitionEnd) {
            v.kind = PartitionVerdict::Kind::StandardGuidance;
            v.help = Help::NoPartition;
            return v;
        }
        v.type = in.partitionType;
        v.start = in.partitionStart;
        v.end = in.partitionEnd;
        return v;
    }
    v.type = PartitionTypeOfIndex(in.typeIndex);
    if (v.type == FileSystemType::Unknown) {
        v.kind = PartitionVerdict::Kind::SelectType;
        v.help = Help::NoType;
        return v;
    }
    // A sector beyond the disk, or a negative one, is no better than a word.
    const auto start = ParseSectorText(in.startText);
    if (!start || *start >= in.diskSectors) {
        v.kind = PartitionVerdict::Kind::BadStart;
        v.help = Help::PartitionNext;
        return v;
    }
    const auto end = ParseSectorText(in.endText);
    if (!end) {
        v.kind = PartitionVerdict::Kind::BadEnd;
        v.help = Help::PartitionNext;
        return v;
    }
    v.start = *start;
    v.end = *end;
    // An end not above the start becomes the disk's end; an end beyond the disk stops there.
    if (v.end <= v.start) {
        v.end = in.diskSectors;
        v.endRewritten = true;
    }
    if (v.end > in.diskSectors) v.end = in.diskSectors;
    return v;
}

}  // namespace quorlan::ui
