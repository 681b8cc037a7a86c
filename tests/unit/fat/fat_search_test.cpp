// The FAT Standard Search on a volume laid out sector by sector, with the damage each case needs.
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "fat/fat_search.h"
#include "items/tables.h"
#include "search/search_driver.h"
#include "search/folder_listing.h"
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

constexpr std::uint8_t kDir = 0x10;
constexpr std::uint8_t kFile = 0x20;
constexpr std::uint32_t kEnd = 0x0FFFFFFF;

// A FAT32 volume with one sector per cluster (cluster c at sector 2078 + c):
//   root (2):  "My Photos" (3, long name), deleted folder "DOCS" (4), README.TXT
//   3:         2024 (5), Later (1200), IMG.JPG
//   600:       a folder whose parent (599) is gone
//   700, 701:  two folders that name each other as parent
//   800:       a copy of folder 3's first sector (its "." names 3)
struct Volume {
    DiskBuilder disk;
    FatBuilder fat{disk, 0, true, 1, 1024};
    explicit Volume(std::uint64_t sectors = 8000) : disk(sectors) {
        fat.bootSector();
        for (const std::uint32_t c : {2u, 3u, 4u, 5u, 600u, 700u, 701u, 1200u}) fat.fat(c, kEnd);
        const std::uint64_t root = fat.sectorOf(2);
        fat.longNameEntry(root, 0, 0x41, u"My Photos", 0x5A);
        fat.rawEntry(root, 1, "MYPHOT~1   ", kDir, 3, 0);
        fat.rawEntry(root, 2, "\xE5OCS       ", kDir, 4, 0);
        fat.rawEntry(root, 3, "README  TXT", kFile, 10, 5);
        fat.directory(3, 0).directory(4, 0).directory(5, 3).directory(1200, 3);
        fat.rawEntry(fat.sectorOf(3), 2, "2024       ", kDir, 5, 0);
        fat.rawEntry(fat.sectorOf(3), 3, "LATER      ", kDir, 1200, 0);
        fat.rawEntry(fat.sectorOf(3), 4, "IMG     JPG", kFile, 20, 3000);
        fat.directory(600, 599).directory(700, 701).directory(701, 700).directory(800, 0, 3);
    }
};

TEST(ScanDirectoryClusters, RecordsFoldersThatNameThemselves) {
    Volume v(80000);
    v.fat.directory(65541, 0);  // "." holds 1 at 0x14 and 5 at 0x1A
    SectorReader reader(v.disk.source());
    RecordTable table = MakeFatEntryTable();
    NullObserver quiet;
    ScanDirectoryClusters(reader, v.fat.p, 80000, table, RunContext{quiet, {}});
    std::vector<std::string> selves;
    for (int r = 0; r < table.RowCount(); ++r) selves.emplace_back(table.GetCell(r, "self"));
    EXPECT_EQ(selves, (std::vector<std::string>{"268435455", "3", "4", "5", "600", "700", "701", "1200", "65541"}))
        << "cluster 800 holds a copy of folder 3 and is not a folder";
    EXPECT_EQ(table.GetCell(0, "Name"), "QLN_Miscellaneous");
    EXPECT_EQ(table.GetCell(1, "Name"), "Dir1");
    EXPECT_EQ(table.GetCell(3, "parent"), "3");
    EXPECT_EQ(table.GetCell(3, "sector"), std::to_string(v.fat.sectorOf(5)));
    EXPECT_EQ(table.GetCell(3, "Type"), "FOLDER");
    EXPECT_EQ(table.GetCell(3, "attr"), "16");
}

TEST(ScanDirectoryClusters, CoversTheRangeAndNoSectorBeyondIt) {
    // The range ends at sector 3000, inside the scan's second chunk (sectors 2592 to 3103):
    // folder 921 begins in the last sector of the range, folder 1000 (sector 3078) beyond it.
    Volume v(80000);
    v.fat.directory(921, 0).directory(1000, 0);
    ASSERT_EQ(v.fat.sectorOf(921), 2999u);
    SectorReader reader(v.disk.source());
    RecordTable table = MakeFatEntryTable();
    NullObserver quiet;
    ScanDirectoryClusters(reader, v.fat.p, 3000, table, RunContext{quiet, {}});
    std::vector<std::string> selves;
    for (int r = 1; r < table.RowCount(); ++r) selves.emplace_back(table.GetCell(r, "self"));
    EXPECT_EQ(selves, (std::vector<std::string>{"3", "4", "5", "600", "700", "701", "921"}));
}

TEST(FatStandardSearch, BuildsTheTreeNamesFoldersAndKeepsLostOnes) {
    Volume v;
    SectorReader reader(v.disk.source());
    RecoveryState state;
    NullObserver quiet;
    SearchRequest request{FileSystemType::Fat32, 0, 8000, ReadFatBootSector(reader, 0, FileSystemType::Fat32), {}};
    ASSERT_TRUE(request.validated.has_value());
    const SearchResult result = RunSearch(request, reader, state, RunContext{quiet, {}});
    EXPECT_EQ(result.outcome, SearchOutcome::Finished);
    EXPECT_FALSE(result.nothingFound);
    EXPECT_EQ(state.tables.fatEntryTable.RowCount(), 0) << "the builder consumes the rows";

    const auto [folders, files] = everything(state, reader);
    // Folder 600 keeps its scan name (Dir4); the cycle 700 (Dir5) <-> 701 (Dir6) is cut under
    // QLN_Miscellaneous.
    const std::set<std::string> expectedFolders{"My Photos",         "My Photos/2024",    "My Photos/LATER",
                                                "_OCS (deleted)",    "QLN_Miscellaneous", "QLN_Miscellaneous/Dir4",
                                                "QLN_Miscellaneous/Dir6", "QLN_Miscellaneous/Dir6/Dir5"};
    EXPECT_EQ(folders, expectedFolders);
    EXPECT_EQ(files, (std::set<std::string>{"README.TXT", "My Photos/IMG.JPG"}));
}

TEST(FatStandardSearch, ALiveEntryNamesAFolderBeforeADeletedOneForTheSameCluster) {
    // A folder deleted and a new one made in its place: both entries name the same cluster.
    Volume v;
    const std::uint64_t root = v.fat.sectorOf(2);
    const std::uint64_t photos = v.fat.sectorOf(3);
    v.fat.rawEntry(root, 4, "\xE5HOTOS     ", kDir, 3, 0);         // after the live "My Photos"
    v.fat.rawEntry(photos, 3, "\xE5OLDLATR   ", kDir, 1200, 0);   // before the live "LATER"
    v.fat.rawEntry(photos, 5, "LATER      ", kDir, 1200, 0);
    v.fat.rawEntry(photos, 6, "\xE5" "BC        ", kFile, 5, 0);  // a deleted file that had 2024's cluster
    SectorReader reader(v.disk.source());
    RecoveryState state;
    NullObserver quiet;
    (void)RunSearch({FileSystemType::Fat32, 0, 8000, ReadFatBootSector(reader, 0, FileSystemType::Fat32), {}}, reader,
                    state, RunContext{quiet, {}});
    const auto [folders, files] = everything(state, reader);
    EXPECT_TRUE(folders.contains("My Photos")) << ::testing::PrintToString(folders);
    EXPECT_TRUE(folders.contains("My Photos/LATER"));
    EXPECT_TRUE(folders.contains("My Photos/2024"));
    EXPECT_TRUE(folders.contains("_OCS (deleted)")) << "a folder named only by a deleted entry stays deleted";
    EXPECT_EQ(folders.size(), 8u);
}

TEST(FatStandardSearch, AFolderWhoseParentClusterIsGoneStaysUnderItsParentsSurvivingEntry) {
    Volume v;
    // Folder 600's parent, cluster 599, is not a directory any more (a file's data is there), but
    // "My Photos" still holds its entry GONE. Folder 650's parent 649 has only a deleted entry left.
    v.fat.rawEntry(v.fat.sectorOf(3), 5, "GONE       ", kDir, 599, 0);
    v.fat.rawEntry(v.fat.sectorOf(599), 0, "JUNK    TXT", kFile, 40, 10);
    v.fat.directory(650, 649);
    v.fat.fat(650, kEnd);
    v.fat.rawEntry(v.fat.sectorOf(2), 4, "\xE5LD        ", kDir, 649, 0);
    SectorReader reader(v.disk.source());
    RecoveryState state;
    NullObserver quiet;
    (void)RunSearch({FileSystemType::Fat32, 0, 8000, ReadFatBootSector(reader, 0, FileSystemType::Fat32), {}}, reader,
                    state, RunContext{quiet, {}});
    const auto [folders, files] = everything(state, reader);
    const std::set<std::string> expectedFolders{"My Photos",
                                                "My Photos/2024",
                                                "My Photos/LATER",
                                                "My Photos/GONE",
                                                "My Photos/GONE/Dir4",
                                                "_LD (deleted)",
                                                "_LD/Dir5 (deleted)",
                                                "_OCS (deleted)",
                                                "QLN_Miscellaneous",
                                                "QLN_Miscellaneous/Dir7",
                                                "QLN_Miscellaneous/Dir7/Dir6"};
    EXPECT_EQ(folders, expectedFolders);
    EXPECT_EQ(files, (std::set<std::string>{"README.TXT", "My Photos/IMG.JPG"})) << "GONE's cluster is not read";
}

TEST(FatStandardSearch, ExpansionNamesSubFoldersOncePerNode) {
    Volume v;
    SectorReader reader(v.disk.source());
    RecoveryState state;
    NullObserver quiet;
    const SearchResult result =
        RunSearch({FileSystemType::Fat32, 0, 8000, ReadFatBootSector(reader, 0, FileSystemType::Fat32), {}}, reader,
                  state, RunContext{quiet, {}});
    ASSERT_EQ(result.outcome, SearchOutcome::Finished);
    ASSERT_FALSE(result.nothingFound);
    TreeItem* photos = state.model.tree.root()->children.front().get();
    ASSERT_EQ(photos->text, "My Photos");
    // A finished Standard Search has every node marked as read already.
    EXPECT_FALSE(ExpandFolder(state, reader, photos));
    FolderNode* node = state.model.FindFolderNode(photos);
    node->expanded = false;
    EXPECT_TRUE(ExpandFolder(state, reader, photos));
    std::set<std::string> names;
    for (const auto& child : photos->children) names.insert(child->text);
    EXPECT_EQ(names, (std::set<std::string>{"2024", "LATER"}));
    EXPECT_FALSE(ExpandFolder(state, reader, photos)) << "read once per node";
}

TEST(FatStandardSearch, InfersTheParametersWhenTheBootSectorIsGone) {
    Volume v;
    for (std::size_t i = 0; i < 512; ++i) v.disk.byte(0, i, 0);
    SectorReader reader(v.disk.source());
    ASSERT_FALSE(ReadFatBootSector(reader, 0, FileSystemType::Fat32).has_value());
    RecoveryState state;
    NullObserver quiet;
    const SearchResult result = RunSearch({FileSystemType::Fat32, 0, 8000, std::nullopt, {}}, reader, state, RunContext{quiet, {}});
    EXPECT_TRUE(result.parametersInferred);
    EXPECT_FALSE(result.inferenceFailed);
    const auto [folders, files] = everything(state, reader);
    EXPECT_TRUE(folders.contains("My Photos/2024"));
    EXPECT_TRUE(files.contains("My Photos/IMG.JPG"));
}

TEST(FatStandardSearch, StopDuringTheScanShowsTheFoldersFoundSoFar) {
    Volume v;
    SectorReader reader(v.disk.source());
    RecoveryState state;
    std::stop_source stop;
    StopAtChunk observer(stop, 1);  // the first chunk (clusters 2 to 513) is read, no more
    SearchResult result;
    std::jthread worker([&] {
        result = RunSearch({FileSystemType::Fat32, 0, 8000, ReadFatBootSector(reader, 0, FileSystemType::Fat32), {}}, reader, state,
                           RunContext{observer, stop.get_token()});
    });
    worker.join();
    EXPECT_EQ(result.outcome, SearchOutcome::Stopped);
    const auto [folders, files] = everything(state, reader);
    EXPECT_EQ(folders, (std::set<std::string>{"My Photos", "My Photos/2024", "_OCS (deleted)", "QLN_Miscellaneous"}));
    EXPECT_TRUE(files.contains("My Photos/IMG.JPG"));
}

TEST(FatStandardSearch, GarbageVolumesNeverHang) {
    // Every directory cluster points at the others and the FAT is one big loop.
    DiskBuilder disk(4000);
    FatBuilder fat(disk, 0, false, 1, 16);
    fat.bootSector();
    for (std::uint32_t c = 2; c < 300; ++c) {
        fat.fat(c, c + 1 < 300 ? c + 1 : 2);
        fat.directory(c, (c * 7) % 300);
        for (int e = 2; e < 16; ++e) {
            fat.rawEntry(fat.sectorOf(c), e, "\xE5" "X" + std::to_string(c % 10) + "       TXT", static_cast<std::uint8_t>(e % 2 ? 0x0F : 0x10),
                         (c * 13 + static_cast<std::uint32_t>(e)) % 300, 0);
        }
    }
    SectorReader reader(disk.source());
    RecoveryState state;
    NullObserver quiet;
    const SearchResult result =
        RunSearch({FileSystemType::Fat16, 0, 4000, ReadFatBootSector(reader, 0, FileSystemType::Fat16), {}}, reader,
                  state, RunContext{quiet, {}});
    EXPECT_EQ(result.outcome, SearchOutcome::Finished);
    EXPECT_FALSE(result.parametersInferred) << "the boot sector is intact; only the folders are garbage";
    const auto [folders, files] = everything(state, reader);
    EXPECT_EQ(state.model.nodes.size(), 299u) << "every folder placed once, the misc folder among them";
}

}  // namespace
}  // namespace quorlan
