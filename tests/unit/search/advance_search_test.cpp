// The Advance Search driver: one pass for the file systems asked for, the list of file systems,
// and building the entries of one of them after another.
#include "search/advance_search.h"

#include <gtest/gtest.h>

#include <stop_token>

#include "tests/support/disk_builder.h"
#include "tests/support/fat_builder.h"

namespace quorlan {
namespace {

using test::DiskBuilder;
using test::FatBuilder;

// A FAT32 volume at sector 2048 (4 sectors per cluster) with its boot sector and two folders.
DiskBuilder fat32Disk() {
    DiskBuilder disk(40000);
    FatBuilder fat(disk, 2048, true, 4, 128);
    fat.bootSector().directory(3, 0).directory(4, 3);
    disk.u32(2048, 0x20, 36000);
    return disk;
}

AdvanceSearchRequest wholeDisk(const DiskBuilder& disk, std::optional<FileSystemType> type) {
    AdvanceSearchRequest request;
    request.type = type;
    request.rangeEnd = disk.sectors();
    return request;
}

TEST(AdvanceSearch, ThePassRunsTheDetectorsOfTheTypesAskedFor) {
    const DiskBuilder disk = fat32Disk();
    auto reader = disk.reader();
    RecoveryState state;
    NullObserver quiet;
    const AdvanceScanResult ntfsOnly =
        RunAdvanceSearch(wholeDisk(disk, FileSystemType::Ntfs), *reader, state, RunContext{quiet, {}});
    EXPECT_EQ(ntfsOnly.outcome, SearchOutcome::Finished);
    EXPECT_EQ(ntfsOnly.scannedTo, disk.sectors());
    EXPECT_EQ(ntfsOnly.foldersFound, 0u);
    EXPECT_EQ(state.tables.directoryTable.RowCount(), 0);

    for (const auto type : {std::optional<FileSystemType>{}, std::optional(FileSystemType::Fat16)}) {
        const AdvanceScanResult r = RunAdvanceSearch(wholeDisk(disk, type), *reader, state, RunContext{quiet, {}});
        EXPECT_EQ(r.foldersFound, 2u);
        EXPECT_EQ(r.bootSectorsFound, 1u);
        EXPECT_EQ(state.tables.directoryTable.RowCount(), 2) << "an earlier scan's rows are gone";
        EXPECT_EQ(state.tables.fileSystemTableFound.RowCount(), 1);
        EXPECT_EQ(state.setup.searchMode, SearchMode::Advance);
        EXPECT_TRUE(state.advance.scanned);
    }
}

TEST(AdvanceSearch, AStopBeforeThePassLeavesNothingScannedAndNoFileSystem) {
    const DiskBuilder disk = fat32Disk();
    auto reader = disk.reader();
    RecoveryState state;
    NullObserver quiet;
    std::stop_source stop;
    stop.request_stop();
    AdvanceSearchRequest request = wholeDisk(disk, std::nullopt);
    request.rangeStart = 100;
    const AdvanceScanResult r = RunAdvanceSearch(request, *reader, state, RunContext{quiet, stop.get_token()});
    EXPECT_EQ(r.outcome, SearchOutcome::Stopped);
    EXPECT_EQ(r.scannedTo, 100u);
    EXPECT_EQ(r.fileSystems, 0u);
    EXPECT_TRUE(IdentifiedFileSystems(state).empty());
    const auto built = RunEntryBuilding(1, *reader, state, RunContext{quiet, {}});
    ASSERT_FALSE(built.ok());
    EXPECT_EQ(built.error().kind, ErrorKind::InvalidArgument);
}

}  // namespace
}  // namespace quorlan
