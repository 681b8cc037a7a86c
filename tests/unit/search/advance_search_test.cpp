// The Advance Search driver: one pass for the file systems asked for, the list of file systems,
// and building the entries of one of them after another.
#include "search/advance_search.h"

#include <gtest/gtest.h>

#include <set>
#include <stop_token>
#include <string>
#include <thread>

#include "fat/fat_volume.h"
#include "log/recovery_log.h"
#include "tests/support/disk_builder.h"
#include "tests/support/fat_builder.h"
#include "tests/support/result_listing.h"
#include "tests/support/stop_at_chunk.h"

namespace quorlan {
namespace {

using test::DiskBuilder;
using test::FatBuilder;
using test::everything;
using test::StopAtChunk;

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

constexpr std::uint8_t kDir = 0x10;
constexpr std::uint8_t kFile = 0x20;

// Folders and files in a volume: in the root "My Photos" (cluster 3, a long name), the deleted
// folder "DOCS" (4) and README.TXT; in "My Photos" the folder "2024" (5) and IMG.JPG (two
// clusters); in "DOCS" the deleted OLD.TXT.
void fillVolume(FatBuilder& fat, bool fat32) {
    const std::uint32_t eoc = fat32 ? 0x0FFFFFFF : 0xFFFF;
    if (fat32) fat.fat(2, eoc);
    for (const std::uint32_t c : {3u, 4u, 5u, 10u, 21u}) fat.fat(c, eoc);
    fat.fat(20, 21);
    const std::uint64_t root = fat32 ? fat.sectorOf(2) : fat.p.RootStart;
    fat.longNameEntry(root, 0, 0x41, u"My Photos", 0x5A);
    fat.rawEntry(root, 1, "MYPHOT~1   ", kDir, 3, 0);
    fat.rawEntry(root, 2, "\xE5OCS       ", kDir, 4, 0);
    fat.rawEntry(root, 3, "README  TXT", kFile, 10, 5);
    fat.directory(3, 0).directory(4, 0).directory(5, 3);
    fat.rawEntry(fat.sectorOf(3), 2, "2024       ", kDir, 5, 0);
    fat.rawEntry(fat.sectorOf(3), 3, "IMG     JPG", kFile, 20, 3000);
    fat.rawEntry(fat.sectorOf(4), 2, "\xE5LD     TXT", kFile, 30, 7);
}

// Zeroes a sector.
void wipe(DiskBuilder& disk, std::uint64_t sector) {
    for (std::size_t i = 0; i < kSectorSize; ++i) disk.byte(sector, i, 0);
}

using Listing = std::pair<std::set<std::string>, std::set<std::string>>;

Listing standardListing(const DiskBuilder& disk, const FatBuilder& fat, std::uint64_t start, std::uint64_t end) {
    auto reader = disk.reader();
    RecoveryState state;
    NullObserver quiet;
    const FileSystemType type = fat.p.PartType;
    const auto validated = ReadFatBootSector(*reader, start, type);
    EXPECT_TRUE(validated.has_value());
    (void)RunSearch({type, start, end, validated, {}}, *reader, state, RunContext{quiet, {}});
    return everything(state, *reader);
}

TEST(AdvanceSearch, FindsEachVolumeWithOrWithoutItsBootSectorAndListsWhatTheStandardSearchLists) {
    for (const bool fat32 : {true, false}) {
        for (const bool wiped : {false, true}) {
            SCOPED_TRACE(std::string(fat32 ? "FAT32" : "FAT16") + (wiped ? ", boot sector wiped" : ""));
            DiskBuilder disk(20000);
            FatBuilder fat(disk, 2048, fat32, 4, fat32 ? 64 : 32);
            fat.bootSector();
            disk.u32(2048, 0x20, 17000);
            fillVolume(fat, fat32);
            const Listing expected = standardListing(disk, fat, 2048, 19048);
            ASSERT_TRUE(expected.first.contains("My Photos/2024"));
            if (wiped) wipe(disk, 2048);

            auto reader = disk.reader();
            RecoveryState state;
            NullObserver quiet;
            const AdvanceScanResult scan =
                RunAdvanceSearch(wholeDisk(disk, std::nullopt), *reader, state, RunContext{quiet, {}});
            EXPECT_EQ(scan.fileSystems, 1u);
            const auto list = IdentifiedFileSystems(state);
            ASSERT_EQ(list.size(), 1u);
            EXPECT_EQ(list[0].type, fat.p.PartType) << "from the boot sector, or from the FATs' signature";
            EXPECT_EQ(list[0].start, fat.p.Cluster0Start);
            EXPECT_EQ(list[0].sectorsPerCluster, 4u);
            EXPECT_EQ(list[0].folders, 3u);
            EXPECT_EQ(FileSystemItemText(list[0]), std::string("File System 1 - ") + (fat32 ? "FAT32" : "FAT16"));

            const auto built = RunEntryBuilding(1, *reader, state, RunContext{quiet, {}});
            ASSERT_TRUE(built.ok());
            EXPECT_EQ(state.params.firstFAT, fat.p.firstFAT);
            EXPECT_EQ(state.params.secondFAT, fat.p.secondFAT);
            EXPECT_EQ(state.params.RootStart, fat.p.RootStart);
            EXPECT_EQ(state.setup.searchMode, SearchMode::Advance);
            EXPECT_EQ(state.setup.partitionType, fat.p.PartType);
            EXPECT_EQ(everything(state, *reader), expected);
        }
    }
}

TEST(AdvanceSearch, BuildsOneFileSystemAfterAnotherWithoutScanningAgain) {
    DiskBuilder disk(60000);
    FatBuilder first(disk, 2048, true, 4, 64);
    first.bootSector();
    disk.u32(2048, 0x20, 20000);
    fillVolume(first, true);
    FatBuilder second(disk, 30000, false, 8, 32);
    second.bootSector();
    disk.u32(30000, 0x20, 20000);
    fillVolume(second, false);
    second.rawEntry(second.p.RootStart, 4, "EXTRA   TXT", kFile, 11, 9);

    auto counting = std::make_unique<CountingSectorSource>(disk.source());
    CountingSectorSource& bytes = *counting;
    SectorReader reader(std::move(counting));
    RecoveryState state;
    NullObserver quiet;
    const AdvanceScanResult scan =
        RunAdvanceSearch(wholeDisk(disk, std::nullopt), reader, state, RunContext{quiet, {}});
    ASSERT_EQ(scan.fileSystems, 2u);
    EXPECT_EQ(bytes.bytesRead(), disk.sectors() * kSectorSize) << "the pass reads every sector once";

    std::vector<Listing> listings;
    for (const std::size_t n : {2u, 1u, 2u}) {
        const std::uint64_t before = bytes.bytesRead();
        ASSERT_TRUE(RunEntryBuilding(n, reader, state, RunContext{quiet, {}}).ok());
        listings.push_back(everything(state, reader));
        // Its FATs and folders, listing included: a small part of the 30 MB disk.
        EXPECT_LT(bytes.bytesRead() - before, 1u << 20) << "file system " << n;
    }
    EXPECT_TRUE(listings[0].second.contains("EXTRA.TXT"));
    EXPECT_FALSE(listings[1].second.contains("EXTRA.TXT"));
    EXPECT_EQ(listings[2], listings[0]);
    EXPECT_EQ(state.advance.selected, 2u);
}

TEST(AdvanceSearch, AStopDuringThePassListsTheFileSystemsOfWhatWasScanned) {
    // The first volume lies within the pass's first chunk (sectors 0 to 1023), the second after it.
    DiskBuilder disk(40000);
    FatBuilder first(disk, 64, true, 8, 64);
    first.bootSector();
    disk.u32(64, 0x20, 900);
    fillVolume(first, true);
    FatBuilder second(disk, 20000, true, 8, 64);
    second.bootSector();
    disk.u32(20000, 0x20, 20000);
    fillVolume(second, true);

    auto reader = disk.reader();
    RecoveryState state;
    std::stop_source stop;
    StopAtChunk observer(stop, 1);
    AdvanceScanResult scan;
    std::jthread worker([&] {
        scan = RunAdvanceSearch(wholeDisk(disk, FileSystemType::Fat32), *reader, state,
                                RunContext{observer, stop.get_token()});
    });
    worker.join();
    EXPECT_EQ(scan.outcome, SearchOutcome::Stopped);
    EXPECT_EQ(scan.scannedTo, 1024u);
    const auto list = IdentifiedFileSystems(state);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].start, first.p.Cluster0Start);
    NullObserver quiet;
    ASSERT_TRUE(RunEntryBuilding(1, *reader, state, RunContext{quiet, {}}).ok());
    EXPECT_TRUE(everything(state, *reader).second.contains("My Photos/IMG.JPG"));
}

TEST(AdvanceSearch, ARecoveryLogKeepsTheSearchModeAndShowsTheSameTreeAgain) {
    DiskBuilder disk(20000);
    FatBuilder fat(disk, 2048, false, 4, 32);
    fat.bootSector();
    fillVolume(fat, false);
    wipe(disk, 2048);
    auto reader = disk.reader();
    RecoveryState state;
    NullObserver quiet;
    AdvanceSearchRequest request = wholeDisk(disk, std::nullopt);
    request.rangeStart = 1000;
    ASSERT_EQ(RunAdvanceSearch(request, *reader, state, RunContext{quiet, {}}).fileSystems, 1u);
    ASSERT_TRUE(RunEntryBuilding(1, *reader, state, RunContext{quiet, {}}).ok());
    const Listing shown = everything(state, *reader);

    const auto log = CaptureRecoveryLog(state, "stick.img");
    ASSERT_TRUE(log.ok());
    EXPECT_EQ(log->searchMode, 2);
    EXPECT_EQ(log->searchModeText, "Advance Search");
    EXPECT_EQ(log->partitionTypeText, "FAT16");
    EXPECT_EQ(log->fileSystem, "FAT16");
    EXPECT_EQ(log->rangeStart, 1000u);
    EXPECT_EQ(log->rangeEnd, disk.sectors());
    EXPECT_EQ(log->working[5], fat.p.Cluster0Start) << "Cluster0Start";

    const auto decoded = DecodeRecoveryLog(EncodeRecoveryLog(*log), "stick.img");
    ASSERT_TRUE(decoded.ok());
    RecoveryState loaded;
    RestoreRecoveryLog(*decoded, loaded, *reader, quiet);
    EXPECT_EQ(loaded.setup.searchMode, SearchMode::Advance);
    EXPECT_EQ(everything(loaded, *reader), shown);
}

}  // namespace
}  // namespace quorlan
