// The state of one front end's recovery session: the disks it offers, the chosen disk, its
// partition list and the record tables of the searches. Owned by the front end; never global.
#pragma once

#include <memory>
#include <optional>

#include "core/device_table.h"
#include "core/sector_reader.h"
#include "disks/disk_inventory.h"
#include "disks/lost_partitions.h"
#include "disks/partition_table.h"
#include "items/tables.h"
#include "search/advance_search.h"
#include "search/search_driver.h"

namespace quorlan {

class Session {
public:
    // Lists the removable disks again (slots 0...), keeping images the user opened after them.
    // The roots are kept for every later look at the inventory (AddPath).
    void RefreshDisks(const InventoryRoots& roots = {});
    // Offers an image file as a disk; returns its slot.
    [[nodiscard]] Result<std::size_t> AddImage(const std::filesystem::path& image);
    // Offers a device or image path given on a command line: an image, a block device, or a
    // removable disk already listed. Returns its slot.
    [[nodiscard]] Result<std::size_t> AddPath(const std::filesystem::path& path);

    [[nodiscard]] const std::vector<DiskInfo>& disks() const { return m_disks; }
    [[nodiscard]] const DiskInfo* disk(std::size_t slot) const;

    // Next on the disk page: chooses a disk, opens it read-only and reads its partition table.
    // While the table is read the corrupt-table notice may fire (a failed read, a table that
    // fails the sanity test); when no partition was listed it fires afterwards, so that a disk
    // without partitions is searched for lost ones at once. Either way at most once per choice.
    // When it fired, the observer (if given) hears partitionTableCorrupt() before this returns,
    // and lostPartitionSearchWanted() is true until the next choice.
    [[nodiscard]] Result<const DiskPartitionList*> SelectDisk(std::size_t slot, SearchObserver* observer = nullptr);
    // The corrupt-table notice fired when the disk was chosen: the front end runs
    // FindLostPartitions.
    [[nodiscard]] bool lostPartitionSearchWanted() const { return m_lostSearchWanted; }
    // Back from the partition page to the disk page: the next choice may raise the notice again.
    void BackToDiskPage() { m_notice.rearm(); }
    [[nodiscard]] std::optional<std::size_t> selectedDisk() const { return m_selected; }
    [[nodiscard]] SectorReader* reader() { return m_reader.get(); }
    [[nodiscard]] const DiskPartitionList& partitions() const { return m_partitions; }

    // The lost-partition search ("Search More Partitions", or the corrupt-table notice) of the
    // selected disk, or of sectors [rangeStart, rangeEnd) of it (rangeEnd 0: to the disk's end).
    // Runs on a worker thread and stops between two reads when the context's token asks; it
    // reads the partition list but changes nothing, so the front end keeps the list as it is
    // while the search runs and then hands the result to AddFoundPartitions on its own thread.
    [[nodiscard]] Result<LostPartitionResult> FindLostPartitions(const RunContext& context,
                                                                 std::uint64_t rangeStart = 0,
                                                                 std::uint64_t rangeEnd = 0);
    // Appends what a search found to the partition list, numbered after the partitions already
    // listed (kMaxPartitions at most); returns how many were added.
    std::size_t AddFoundPartitions(const LostPartitionResult& result);

    // Next on the partition page in a Standard Search: validates partition index (0-based) and
    // returns what the search needs. The search tables are emptied first.
    [[nodiscard]] Result<SearchRequest> PrepareStandardSearch(std::size_t partitionIndex);

    // Next on the partition page in an Advance Search: the request for a search of the sectors
    // start <= sector < end of the selected disk (the whole disk when no range is given; an end
    // beyond the disk is cut to it) for the file systems of type (every one when empty). Fails
    // when the range holds no sector of the disk.
    [[nodiscard]] Result<AdvanceSearchRequest> PrepareAdvanceSearch(
        std::optional<FileSystemType> type, std::optional<std::pair<std::uint64_t, std::uint64_t>> range = {});

    // Save and Save All refuse a destination on the disk being recovered.
    [[nodiscard]] Result<void> CheckSaveDestination(const std::filesystem::path& destination) const;
    // The model text of the selected disk, which a recovery log names its disk by; empty when
    // none is selected.
    [[nodiscard]] std::string selectedDiskModel() const;

    CorruptTableNotice& corruptTableNotice() { return m_notice; }
    RecordTables& tables() { return m_recovery.tables; }
    RecoveryState& recovery() { return m_recovery; }
    [[nodiscard]] const RecoveryState& recovery() const { return m_recovery; }

private:
    InventoryRoots m_roots;
    DeviceTable m_devices;
    std::vector<DiskInfo> m_disks;
    std::optional<std::size_t> m_selected;
    std::unique_ptr<SectorReader> m_reader;
    DiskPartitionList m_partitions;
    CorruptTableNotice m_notice;
    bool m_lostSearchWanted = false;
    RecoveryState m_recovery;
};

}  // namespace quorlan
