// The NTFS Advance Search end to end on volumes laid out in memory: file systems identified from
// boot sectors, from pairs of folders and assumed from the records alone; folders and files
// listed and read as after a Standard Search.
#include <gtest/gtest.h>

#include <set>
#include <stop_token>
#include <string>
#include <thread>
#include <tuple>
#include <utility>

#include "ntfs/mft.h"
#include "ntfs/ntfs_file.h"
#include "search/advance_search.h"
#include "tests/support/disk_builder.h"
#include "tests/support/fat_builder.h"
#include "tests/support/ntfs_volume_builder.h"
#include "tests/support/result_listing.h"
#include "tests/support/stop_at_chunk.h"

namespace quorlan {
namespace {

using test::DiskBuilder;
using test::NtfsVolumeBuilder;
using Listing = std::pair<std::set<std::string>, std::set<std::string>>;

// A tree: Projects/ and Projects/Archive/ with their indexes in INDX buffers; Small/ and the
// deleted Old/ with theirs in their records; files resident and not, one deleted; and big.vhd,
// whose name lies in an extension record (90) that its base record's attribute list names, as a
// file with very many runs keeps it. extra.txt lies in the folder numbered extraParent.
void fill(DiskBuilder& disk, NtfsVolumeBuilder& v, const std::u16string& tag = u"", std::uint64_t extraParent = 5) {
    v.folder(64, u"Projects" + tag, 5)
        .folder(65, u"Archive", 64)
        .folder(66, u"Small", 5, false)
        .folder(67, u"Old", 5, false, true)
        .file(70, u"notes" + tag + u".txt", 5, "twelve lines\n", true)
        .file(71, u"build.log", 64, std::string(3000, 'b') + "end")
        .file(72, u"letter.doc", 67, "dear", true, true)
        .file(73, u"x.bin", 65, std::string(700, 'x'))
        .file(74, u"deep.txt", 66, "deep")
        .file(75, u"extra.txt", extraParent, "extra", true);
    const std::uint64_t clusters = 4096 / (v.spc() * kSectorSize) + 1;
    const std::uint64_t cluster = v.allocateClusters(clusters);
    disk.put(v.clusterSector(cluster), std::vector<std::byte>(4096, std::byte{'v'}));
    v.raw(89, v.newRecord(1)
                  .attributeList({{0x30, 90}, {0x80, 89}})
                  .nonResident(0x80, NtfsVolumeBuilder::runList(cluster, clusters), 4096, {}, clusters,
                               v.spc() * kSectorSize));
    v.raw(90, v.newRecord(1).poke32(0x20, 89).fileName(u"big" + tag + u".vhd", 5, 1, NtfsVolumeBuilder::kCreated));
    v.write();
}

// Zeroes a sector.
void wipe(DiskBuilder& disk, std::uint64_t sector) {
    for (std::size_t i = 0; i < kSectorSize; ++i) disk.byte(sector, i, 0);
}

AdvanceSearchRequest wholeDisk(const DiskBuilder& disk, std::optional<FileSystemType> type = std::nullopt) {
    AdvanceSearchRequest request;
    request.type = type;
    request.rangeEnd = disk.sectors();
    return request;
}

Listing standardListing(const DiskBuilder& disk, std::uint64_t start, std::uint64_t end) {
    auto reader = disk.reader();
    RecoveryState state;
    NullObserver quiet;
    const auto volume = ValidateNtfsBootSector(*reader, start, end);
    EXPECT_TRUE(volume.has_value());
    SearchRequest request{FileSystemType::Ntfs, start, end, std::nullopt, volume};
    (void)RunSearch(request, *reader, state, RunContext{quiet, {}});
    return test::everything(state, *reader);
}

// The bytes of a listed file as saving reads them.
std::string contentOf(RecoveryState& state, SectorReader& reader, const ListedRow& row) {
    const FileLayout layout =
        NtfsFileLayout(reader, NtfsVolumeOf(state.params), state.mftRuns, row.recordSector, row.self, row.deleted);
    std::string out;
    for (const Extent& e : layout.extents) {
        if (e.kind == Extent::Kind::Bytes) {
            out.append(reinterpret_cast<const char*>(e.bytes.data()), e.bytes.size());
        } else if (e.kind == Extent::Kind::Zeros) {
            out.append(e.length, '\0');
        } else {
            std::vector<std::byte> b((e.length + kSectorSize - 1) / kSectorSize * kSectorSize);
            (void)reader.ReadSectors(e.sector, static_cast<std::uint32_t>(b.size() / kSectorSize), b);
            out.append(reinterpret_cast<const char*>(b.data()), e.length);
        }
    }
    return out;
}

// Every file of the result by its path, as listed; a path listed twice fails.
std::map<std::string, ListedRow> filesOf(RecoveryState& state, SectorReader& reader) {
    std::map<std::string, ListedRow> files;
    std::vector<TreeItem*> pending{state.model.tree.root()};
    while (!pending.empty()) {
        TreeItem* item = pending.back();
        pending.pop_back();
        const std::string folder = ResultTree::GetItemPath(item, "/");
        for (const ListedRow& row : ListFolderRows(state, reader, item, FolderListing::Select)) {
            if (row.isFolder) continue;
            const std::string path = (folder.empty() ? "" : folder + "/") + row.name;
            EXPECT_TRUE(files.emplace(path, row).second) << "listed twice: " << path;
        }
        for (auto& child : item->children) pending.push_back(child.get());
    }
    return files;
}

TEST(NtfsAdvanceSearch, IdentifiesTheVolumeWithOrWithoutBootSectorsAndListsWhatTheStandardSearchLists) {
    const struct {
        std::uint64_t spc;
        std::size_t recordBytes;
    } layouts[] = {{8, 1024}, {1, 1024}, {64, 1024}, {8, 4096}, {2, 2048}};
    for (const auto& layout : layouts) {
        for (const bool wiped : {false, true}) {
            SCOPED_TRACE(std::to_string(layout.spc) + " sectors per cluster, records of " +
                         std::to_string(layout.recordBytes) + (wiped ? ", boot sectors wiped" : ""));
            DiskBuilder disk(40000);
            NtfsVolumeBuilder v(disk, 2048, 30000, layout.spc, layout.recordBytes);
            fill(disk, v);
            const Listing expected = standardListing(disk, v.start(), v.end());
            ASSERT_TRUE(expected.first.contains("Projects/Archive"));
            ASSERT_TRUE(expected.second.contains("Old/letter.doc (deleted)"));
            if (wiped) {
                wipe(disk, v.start());
                wipe(disk, v.end() - 1);
            }

            auto reader = disk.reader();
            RecoveryState state;
            NullObserver quiet;
            const AdvanceScanResult scan = RunAdvanceSearch(wholeDisk(disk), *reader, state, RunContext{quiet, {}});
            EXPECT_EQ(scan.bootSectorsFound, wiped ? 0u : 2u);
            const auto list = IdentifiedFileSystems(state);
            ASSERT_EQ(list.size(), 1u);
            EXPECT_EQ(list[0].type, FileSystemType::Ntfs);
            EXPECT_EQ(list[0].start, v.start());
            EXPECT_EQ(list[0].sectorsPerCluster, layout.spc);
            EXPECT_EQ(list[0].folders, 5u) << "the root, Projects, Archive, Small and Old";
            EXPECT_EQ(FileSystemItemText(list[0]), "File System 1 - NTFS");

            ASSERT_TRUE(RunEntryBuilding(1, *reader, state, RunContext{quiet, {}}).ok());
            EXPECT_EQ(state.params.PartType, FileSystemType::Ntfs);
            EXPECT_EQ(state.params.MftSector, v.mftSector());
            EXPECT_EQ(state.params.RecordSize, v.recordSectors());
            EXPECT_EQ(test::everything(state, *reader), expected);
            auto files = filesOf(state, *reader);
            EXPECT_TRUE(contentOf(state, *reader, files.at("Projects/build.log")) == std::string(3000, 'b') + "end");
            EXPECT_TRUE(contentOf(state, *reader, files.at("Projects/Archive/x.bin")) == std::string(700, 'x'));
            EXPECT_EQ(contentOf(state, *reader, files.at("notes.txt")), "twelve lines\n");
            EXPECT_TRUE(contentOf(state, *reader, files.at("big.vhd")) == std::string(4096, 'v'))
                << "named by its extension record, read from its base record";
            EXPECT_EQ(contentOf(state, *reader, files.at("$MFT")).size(),
                      NtfsVolumeBuilder::kMftRecords * layout.recordBytes)
                << "the $MFT, listed once although its mirror holds a copy";
        }
    }
}

TEST(NtfsAdvanceSearch, TwoVolumesKeepTheirOwnFilesApart) {
    // The first volume without its boot sectors, the second intact behind it: their records have
    // the same numbers, so a file placed by its parent's number alone would land in the other
    // volume's folders.
    DiskBuilder disk(60000);
    // extra.txt lies in Projects on one and in the root on the other: as many files, listed
    // elsewhere.
    NtfsVolumeBuilder first(disk, 2048, 20000, 8);
    fill(disk, first, u" A", 64);
    NtfsVolumeBuilder second(disk, 30000, 25000, 2);
    fill(disk, second, u" B", 5);
    const Listing expectedFirst = standardListing(disk, first.start(), first.end());
    const Listing expectedSecond = standardListing(disk, second.start(), second.end());
    wipe(disk, first.start());
    wipe(disk, first.end() - 1);

    auto reader = disk.reader();
    RecoveryState state;
    NullObserver quiet;
    (void)RunAdvanceSearch(wholeDisk(disk, FileSystemType::Ntfs), *reader, state, RunContext{quiet, {}});
    const auto list = IdentifiedFileSystems(state);
    ASSERT_EQ(list.size(), 2u);
    using StartAndSize = std::pair<std::uint64_t, std::uint64_t>;
    EXPECT_EQ(StartAndSize(list[0].start, list[0].sectorsPerCluster), StartAndSize(second.start(), 2))
        << "its boot sector";
    EXPECT_EQ(StartAndSize(list[1].start, list[1].sectorsPerCluster), StartAndSize(first.start(), 8)) << "its folders";
    for (const std::size_t n : {1u, 2u, 1u}) {
        ASSERT_TRUE(RunEntryBuilding(n, *reader, state, RunContext{quiet, {}}).ok());
        EXPECT_EQ(test::everything(state, *reader), n == 1 ? expectedSecond : expectedFirst) << "file system " << n;
        auto files = filesOf(state, *reader);
        EXPECT_EQ(contentOf(state, *reader, files.at(n == 1 ? "big B.vhd" : "big A.vhd")), std::string(4096, 'v'));
    }
}

TEST(NtfsAdvanceSearch, AStopDuringThePassIdentifiesWhatWasScanned) {
    // The first volume lies within the pass's first two chunks (sectors 0 to 2047), its boot
    // sectors gone; the second lies after them.
    DiskBuilder disk(50000);
    NtfsVolumeBuilder first(disk, 100, 1900, 1);
    fill(disk, first);
    NtfsVolumeBuilder second(disk, 20000, 25000, 8);
    fill(disk, second, u" B");
    const Listing expected = standardListing(disk, first.start(), first.end());
    wipe(disk, first.start());
    wipe(disk, first.end() - 1);

    auto reader = disk.reader();
    RecoveryState state;
    std::stop_source stop;
    test::StopAtChunk observer(stop, 2);
    AdvanceScanResult scan;
    std::jthread worker([&] {
        scan = RunAdvanceSearch(wholeDisk(disk), *reader, state, RunContext{observer, stop.get_token()});
    });
    worker.join();
    EXPECT_EQ(scan.outcome, SearchOutcome::Stopped);
    EXPECT_EQ(scan.scannedTo, 2048u);
    const auto list = IdentifiedFileSystems(state);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].start, first.start());
    EXPECT_EQ(list[0].sectorsPerCluster, 1u);
    NullObserver quiet;
    ASSERT_TRUE(RunEntryBuilding(1, *reader, state, RunContext{quiet, {}}).ok());
    EXPECT_EQ(test::everything(state, *reader), expected);
}

TEST(NtfsAdvanceSearch, VolumesOnlyPartlyLeftAreStillFound) {
    const struct {
        const char* what;
        bool numbered;             // records of NTFS 3.1, which carry their numbers
        bool indexes;              // folders whose indexes lie in INDX buffers
        bool primaryBoot;          // the boot sector in the volume's first sector
        bool backupBoot;           // its copy in the last
        bool recordZero;           // $MFT record 0 and its mirror's copy
        bool bootRow;              // identified from a boot sector
        std::uint64_t start, spc;  // as identified
    } cases[] = {
        {"records of NTFS 3.0: folders numbered from their parents' indexes", false, true, true, true, true, true, 2048,
         4},
        {"records of NTFS 3.0 without boot sectors", false, true, false, false, true, false, 2048, 4},
        {"only the backup boot sector, no index buffers", true, false, false, true, true, true, 2048, 4},
        {"nothing but records: the volume from record 0 and the run lists", true, false, false, false, true, false,
         2048, 4},
        {"records without record 0: the range's start, the run lists' size", true, false, false, false, false, false, 0,
         4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DiskBuilder disk(40000);
        NtfsVolumeBuilder v(disk, 2048, 30000, 4, 1024, c.numbered);
        v.folder(64, u"Projects", 5, c.indexes).folder(65, u"Archive", 64, c.indexes).folder(66, u"Small", 5, false);
        v.file(71, u"build.log", 64, std::string(3000, 'b')).file(73, u"x.bin", 65, std::string(700, 'x'));
        v.file(74, u"deep.txt", 66, "deep");
        if (!c.indexes) v.folder(5, u".", 5, false);
        v.write();
        const Listing expected = standardListing(disk, v.start(), v.end());
        if (!c.primaryBoot) wipe(disk, v.start());
        if (!c.backupBoot) wipe(disk, v.end() - 1);
        if (!c.recordZero) {
            wipe(disk, v.recordSector(0));
            wipe(disk, v.mirrorSector());
        }

        auto reader = disk.reader();
        RecoveryState state;
        NullObserver quiet;
        (void)RunAdvanceSearch(wholeDisk(disk), *reader, state, RunContext{quiet, {}});
        const auto list = IdentifiedFileSystems(state);
        ASSERT_EQ(list.size(), 1u);
        EXPECT_EQ(list[0].start, c.start);
        EXPECT_EQ(list[0].sectorsPerCluster, c.spc);
        ASSERT_EQ(state.advance.ntfs.volumes.size(), 1u);
        EXPECT_EQ(state.advance.ntfs.volumes[0].bootRow.has_value(), c.bootRow);
        ASSERT_TRUE(RunEntryBuilding(1, *reader, state, RunContext{quiet, {}}).ok());
        if (c.start != v.start()) continue;  // the files' data lie elsewhere than such a volume puts them
        Listing got = test::everything(state, *reader);
        if (!c.recordZero) got.second.insert("$MFT");
        EXPECT_EQ(got, expected);
        auto files = filesOf(state, *reader);
        EXPECT_EQ(files.size(), expected.second.size() - (c.recordZero ? 0 : 1));
        EXPECT_TRUE(contentOf(state, *reader, files.at("Projects/build.log")) == std::string(3000, 'b'));
    }
}

TEST(NtfsAdvanceSearch, OnePassFindsFatAndNtfsVolumesAlike) {
    DiskBuilder disk(60000);
    test::FatBuilder fat(disk, 2048, true, 4, 64);
    fat.bootSector().directory(3, 0).directory(4, 3);
    disk.u32(2048, 0x20, 20000);
    NtfsVolumeBuilder ntfs(disk, 30000, 25000, 8);
    fill(disk, ntfs);
    const Listing expected = standardListing(disk, ntfs.start(), ntfs.end());
    wipe(disk, ntfs.start());
    wipe(disk, ntfs.end() - 1);

    auto counting = std::make_unique<CountingSectorSource>(disk.source());
    CountingSectorSource& bytes = *counting;
    SectorReader reader(std::move(counting));
    RecoveryState state;
    NullObserver quiet;
    const AdvanceScanResult scan = RunAdvanceSearch(wholeDisk(disk), reader, state, RunContext{quiet, {}});
    EXPECT_EQ(bytes.bytesRead(), disk.sectors() * kSectorSize) << "one pass reads every sector once, and no more";
    EXPECT_EQ(scan.foldersFound, 2u) << "FAT directories";
    EXPECT_GT(scan.recordsFound, 10u) << "FILE records";
    const auto list = IdentifiedFileSystems(state);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].type, FileSystemType::Fat32);
    EXPECT_EQ(list[1].type, FileSystemType::Ntfs);
    EXPECT_EQ(FileSystemItemText(list[1]), "File System 2 - NTFS");
    EXPECT_EQ(list[1].start, ntfs.start());
    EXPECT_EQ(list[1].folders, 5u);
    ASSERT_TRUE(RunEntryBuilding(2, reader, state, RunContext{quiet, {}}).ok());
    EXPECT_EQ(test::everything(state, reader), expected);
    ASSERT_TRUE(RunEntryBuilding(1, reader, state, RunContext{quiet, {}}).ok());
    EXPECT_EQ(state.params.PartType, FileSystemType::Fat32);
    EXPECT_EQ(state.tables.ntfsEntryTable.RowCount(), 0);
}

TEST(NtfsAdvanceSearch, NothingFoundIdentifiesNothing) {
    DiskBuilder disk(5000);
    disk.text(100, 0, "FILE0 not a record").text(200, 0, "INDX not a buffer");
    auto reader = disk.reader();
    RecoveryState state;
    NullObserver quiet;
    const AdvanceScanResult scan =
        RunAdvanceSearch(wholeDisk(disk, FileSystemType::Ntfs), *reader, state, RunContext{quiet, {}});
    EXPECT_EQ(scan.fileSystems, 0u);
    EXPECT_EQ(scan.recordsFound, 0u);
    EXPECT_TRUE(IdentifiedFileSystems(state).empty());
}

TEST(NtfsAdvanceSearch, DamagedRecordsAndBuffersAreSkippedAndCounted) {
    DiskBuilder disk(40000);
    NtfsVolumeBuilder v(disk, 2048, 30000, 8);
    fill(disk, v);
    // x.bin's record torn: its second sector's tail is not the update sequence number.
    disk.byte(v.recordSector(73) + 1, 510, 0x42);
    // Archive's index buffer: an entry that runs past the entries in use.
    auto reader0 = disk.reader();
    std::vector<std::byte> record(1024);
    (void)reader0->ReadSectors(v.recordSector(65), 2, record);
    ASSERT_TRUE(ApplyCheckedFixup(record));
    const std::uint64_t archiveIndex = v.start() + FirstIndexCluster(ByteView(record)) * 8;
    disk.u16(archiveIndex, 0x40 + 8, 0x2000);

    auto reader = disk.reader();
    RecoveryState state;
    NullObserver quiet;
    (void)RunAdvanceSearch(wholeDisk(disk), *reader, state, RunContext{quiet, {}});
    EXPECT_EQ(state.advance.ntfs.skippedRecords, 1u);
    EXPECT_EQ(state.advance.ntfs.skippedBuffers, 1u);
    ASSERT_EQ(IdentifiedFileSystems(state).size(), 1u);
    ASSERT_TRUE(RunEntryBuilding(1, *reader, state, RunContext{quiet, {}}).ok());
    const Listing got = test::everything(state, *reader);
    EXPECT_TRUE(got.first.contains("Projects/Archive")) << "placed by its record";
    EXPECT_FALSE(got.second.contains("Projects/Archive/x.bin"));
    EXPECT_TRUE(got.second.contains("Projects/build.log"));
}

}  // namespace
}  // namespace quorlan
