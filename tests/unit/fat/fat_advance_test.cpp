// The FAT Advance Search, stage by stage, on volumes laid out sector by sector.
#include "fat/fat_advance.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>

#include "items/tables.h"
#include "search/advance_scan.h"
#include "tests/support/disk_builder.h"
#include "tests/support/fat_builder.h"

namespace quorlan {
namespace {

using test::DiskBuilder;
using test::FatBuilder;

// The cells of a row by column name.
std::map<std::string, std::string> rowOf(const RecordTable& t, int r) {
    std::map<std::string, std::string> cells;
    for (int c = 0; c < t.ColumnCount(); ++c) cells[t.columns()[static_cast<std::size_t>(c)].name] = t.GetCell(r, c);
    return cells;
}

class CounterLog final : public SearchObserver {
public:
    void beginPhase(std::string_view, std::uint64_t) override {}
    void setDone(std::uint64_t) override {}
    void status(std::string_view) override {}
    void counter(Counter which, std::uint64_t value) override { last[which] = value; }
    std::map<Counter, std::uint64_t> last;
};

TEST(FatScanDetector, RecordsBootSectorsDirectoriesAndFatStartsAsTheyAre) {
    DiskBuilder disk(600000);
    // A FAT32 volume at sector 64 (8 sectors per cluster, cluster 0 at 208) of 500,000 sectors.
    FatBuilder fat32(disk, 64, true, 8, 64);
    fat32.bootSector().directory(3, 0).directory(70000, 3);
    disk.u32(64, 0x20, 500000);
    // A small FAT16 volume at sector 10000 (4 sectors per cluster, cluster 0 at 10089) whose size,
    // 8000 sectors, is in the 16-bit count at 0x13 and 0 in the 32-bit one.
    FatBuilder fat16(disk, 10000, false, 4, 32);
    fat16.bootSector().directory(5, 0);
    disk.u16(10000, 0x13, 8000);
    // A FAT32 boot sector whose type text is damaged and whose bytes 0x39 and 0x3A read "16";
    // a partition table (signed, no type text); a sector with ". " but no ".." entry.
    disk.fatBootSector(20000, true).text(20000, 0x52, "FAT3x").text(20000, 0x39, "16");
    disk.signature(0);
    disk.text(30000, 0, ".          ").text(30000, 32, "x");

    auto reader = disk.reader();
    RecordTables tables;
    std::vector<FatStartSector> fatStarts;
    CounterLog log;
    ScanCounters counters(log);
    FatScanDetector detector(tables.fileSystemTableFound, tables.directoryTable, fatStarts, counters);
    SectorDetector* detectors[] = {&detector};
    (void)RunAdvanceScanPass(*reader, 0, disk.sectors(), detectors, RunContext{log, {}});

    const RecordTable& boot = tables.fileSystemTableFound;
    ASSERT_EQ(boot.RowCount(), 3);
    using Row = std::map<std::string, std::string>;
    EXPECT_EQ(rowOf(boot, 0), (Row{{"Sector", "64"}, {"SPF", "64"}, {"SPC", "8"}, {"Root Sectors", "0"},
                                   {"Root Start", "2"}, {"Reserve Sectors", "32"}, {"Cluster0Start", "208"},
                                   {"firstFAT", "96"}, {"secondFAT", "160"}, {"TotalSectors", "500064"},
                                   {"PartType", "FAT32"}}));
    EXPECT_EQ(rowOf(boot, 1), (Row{{"Sector", "10000"}, {"SPF", "32"}, {"SPC", "4"}, {"Root Sectors", "32"},
                                   {"Root Start", "10065"}, {"Reserve Sectors", "1"}, {"Cluster0Start", "10089"},
                                   {"firstFAT", "10001"}, {"secondFAT", "10033"}, {"TotalSectors", "18000"},
                                   {"PartType", "FAT16"}}));
    EXPECT_EQ(boot.GetCell(2, "Sector"), "20000");
    EXPECT_EQ(boot.GetCell(2, "PartType"), "FAT16");
    EXPECT_EQ(fat32.p.Cluster0Start, 208u);
    EXPECT_EQ(fat16.p.Cluster0Start, 10089u);

    const RecordTable& dirs = tables.directoryTable;
    ASSERT_EQ(dirs.RowCount(), 3);
    EXPECT_EQ(rowOf(dirs, 0), (Row{{"Sector", "232"}, {"Self Cluster", "3"}, {"Parent Cluster", "0"},
                                   {"File System", "0"}, {"Date", "14927"}, {"Time", "28672"}, {"First Run", ""}}));
    EXPECT_EQ(dirs.GetCell(1, "Sector"), "10109");
    EXPECT_EQ(dirs.GetCell(1, "Self Cluster"), "5");
    EXPECT_EQ(dirs.GetCell(2, "Sector"), "560208");
    EXPECT_EQ(dirs.GetCell(2, "Self Cluster"), "70000");
    EXPECT_EQ(dirs.GetCell(2, "Parent Cluster"), "3");

    ASSERT_EQ(fatStarts.size(), 4u);
    EXPECT_EQ(fatStarts[0].sector, 96u);
    EXPECT_EQ(fatStarts[0].byte3, 0x0F);
    EXPECT_EQ(fatStarts[1].sector, 160u);
    EXPECT_EQ(fatStarts[2].sector, 10001u);
    EXPECT_EQ(fatStarts[2].byte3, 0xFF);
    EXPECT_EQ(fatStarts[3].sector, 10033u);

    EXPECT_EQ(log.last[Counter::FoldersFound], 3u);
    EXPECT_EQ(log.last[Counter::BootSectorsFound], 3u);
}

}  // namespace
}  // namespace quorlan

namespace quorlan {
namespace {

// A directory table as a pass leaves it: {sector, cluster} per row, in disk order.
RecordTable directoryRows(std::initializer_list<std::pair<std::uint64_t, std::uint64_t>> rows) {
    RecordTable t = MakeDirectoryTable();
    for (const auto& [sector, cluster] : rows) {
        const int r = t.AppendRow(std::to_string(sector));
        t.SetNumber(r, "Self Cluster", cluster);
        t.SetCell(r, "Parent Cluster", "0");
        t.SetCell(r, "File System", "0");
    }
    return t;
}

std::vector<std::string> fileSystemsOf(const RecordTable& dirs) {
    std::vector<std::string> out;
    for (int r = 0; r < dirs.RowCount(); ++r) out.emplace_back(dirs.GetCell(r, "File System"));
    return out;
}

std::vector<std::string> column(const RecordTable& t, const char* name) {
    std::vector<std::string> out;
    for (int r = 0; r < t.RowCount(); ++r) out.emplace_back(t.GetCell(r, name));
    return out;
}

using Strings = std::vector<std::string>;

TEST(AnalyzeFatScan, BootSectorsClaimTheDirectoriesAtTheirPlaces) {
    RecordTables tables;
    RecordTable& boot = tables.fileSystemTableFound;
    // FAT32 at 64 (cluster 0 at 208, 8 sectors per cluster, to 500,064); its backup boot sector
    // at 70 gives cluster 0 six sectors later; a FAT16 at 10000 (cluster 0 at 10089, 4 per
    // cluster, to 18,000); a row with 3 sectors per cluster.
    for (const auto& [sector, spc, c0, total, type] :
         std::initializer_list<std::tuple<int, int, int, int, const char*>>{{64, 8, 208, 500064, "FAT32"},
                                                                           {70, 8, 214, 500070, "FAT32"},
                                                                           {10000, 4, 10089, 18000, "FAT16"},
                                                                           {30000, 3, 30000, 40000, "FAT16"}}) {
        const int r = boot.AppendRow(std::to_string(sector));
        boot.SetNumber(r, "SPC", static_cast<std::uint64_t>(spc));
        boot.SetNumber(r, "Cluster0Start", static_cast<std::uint64_t>(c0));
        boot.SetNumber(r, "TotalSectors", static_cast<std::uint64_t>(total));
        boot.SetCell(r, "PartType", type);
    }
    // 232: cluster 3 of the FAT32; 10109: cluster 5 of the FAT16; 560208: cluster 70000 of the
    // FAT32 but past its end; 30003: cluster 1 with 3 sectors per cluster; 240: a copy of cluster
    // 3 (its "." names 3) at cluster 4's place.
    tables.directoryTable = directoryRows({{232, 3}, {240, 3}, {10109, 5}, {30003, 1}, {560208, 70000}});
    NullObserver quiet;
    const FatAnalysisResult r =
        AnalyzeFatScan(boot, tables.directoryTable, {}, FileSystemType::Fat32, tables.fileSystemTableIdentified, quiet);
    EXPECT_EQ(r.fileSystems, 2u);
    EXPECT_EQ(r.stage, 2);
    EXPECT_EQ(column(tables.fileSystemTableIdentified, "Sector"), (Strings{"64", "10000"}));
    EXPECT_EQ(column(tables.fileSystemTableIdentified, "TotalSectors"), (Strings{"500064", "18000"}));
    EXPECT_EQ(fileSystemsOf(tables.directoryTable), (Strings{"1", "-1", "2", "-1", "-1"}));

    // A volume without folders counts when both its FATs begin where its boot sector says.
    const int empty = boot.AppendRow("50000");
    for (const auto& [name, value] : {std::pair{"SPC", "1"}, {"Cluster0Start", "50100"}, {"TotalSectors", "60000"},
                                      {"firstFAT", "50001"}, {"secondFAT", "50050"}, {"PartType", "FAT16"}}) {
        boot.SetCell(empty, name, value);
    }
    const int backup = boot.AppendRow(boot.GetCell(empty, 0));  // the same, 6 sectors on: no FATs there
    for (int c = 1; c < boot.ColumnCount(); ++c) boot.SetCell(backup, c, boot.GetCell(empty, c));
    boot.SetCell(backup, "firstFAT", "50007");
    const std::vector<FatStartSector> starts{{96, 0x0F}, {50001, 0xFF}, {50050, 0xFF}};
    RecordTables again;
    again.directoryTable = directoryRows({{232, 3}});
    (void)AnalyzeFatScan(boot, again.directoryTable, starts, FileSystemType::Fat32, again.fileSystemTableIdentified,
                         quiet);
    EXPECT_EQ(column(again.fileSystemTableIdentified, "Sector"), (Strings{"64", "50000"}));
}

// Pairs of directories without boot sectors; every directory is {sector, cluster}.
TEST(AnalyzeFatScan, PairsOfDirectoriesGiveTheClusterSizeAndClusterZero) {
    struct Case {
        const char* what;
        std::initializer_list<std::pair<std::uint64_t, std::uint64_t>> dirs;
        std::optional<FileSystemType> chosen;
        Strings assigned;
        Strings spc, cluster0, type;
    } cases[] = {
        {"clusters 5 and 9 at sectors 1000 and 1016: 4 sectors per cluster, cluster 0 at 980",
         {{1000, 5}, {1016, 9}, {1040, 15}},
         FileSystemType::Fat16,
         {"1", "1", "1"},
         {"4"},
         {"980"},
         {"FAT16"}},
        {"a sector difference no multiple of the cluster difference, and a quotient of 3",
         {{1000, 5}, {1017, 9}, {2000, 10}, {2012, 14}},
         FileSystemType::Fat16,
         {"-1", "-1", "-1", "-1"},
         {},
         {},
         {}},
        {"a FAT16 choice with a directory above cluster 0x10000 joining: FAT32",
         {{1000, 5}, {1016, 9}, {263140, 65540}},
         FileSystemType::Fat16,
         {"1", "1", "1"},
         {"4"},
         {"980"},
         {"FAT32"}},
        {"the first directory's only partner lies above its sector; it joins the volume later",
         {{103, 3}, {600, 500}, {650, 550}},
         FileSystemType::Fat32,
         {"1", "1", "1"},
         {"1"},
         {"100"},
         {"FAT32"}},
        {"two volumes, and a directory of neither",
         {{1000, 5}, {5000, 7}, {5016, 9}, {1016, 9}, {7777, 3}},
         FileSystemType::Fat32,
         {"1", "2", "2", "1", "-1"},
         {"4", "8"},
         {"980", "4944"},
         {"FAT32", "FAT32"}},
        {"no type chosen and no FAT found: FAT32",
         {{1000, 5}, {1016, 9}},
         std::nullopt,
         {"1", "1"},
         {"4"},
         {"980"},
         {"FAT32"}},
    };
    NullObserver quiet;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RecordTables tables;
        tables.directoryTable = directoryRows(c.dirs);
        (void)AnalyzeFatScan(tables.fileSystemTableFound, tables.directoryTable, {}, c.chosen,
                             tables.fileSystemTableIdentified, quiet);
        EXPECT_EQ(fileSystemsOf(tables.directoryTable), c.assigned);
        EXPECT_EQ(column(tables.fileSystemTableIdentified, "SPC"), c.spc);
        EXPECT_EQ(column(tables.fileSystemTableIdentified, "Cluster0Start"), c.cluster0);
        EXPECT_EQ(column(tables.fileSystemTableIdentified, "PartType"), c.type);
        for (const std::string& sector : column(tables.fileSystemTableIdentified, "Sector")) EXPECT_EQ(sector, "0");
    }
}

TEST(AnalyzeFatScan, NumbersFollowTheFileSystemsAlreadyListedAndTheTypeComesFromTheFats) {
    RecordTables tables;
    tables.fileSystemTableIdentified.AppendRow("1");  // a file system listed before
    tables.directoryTable = directoryRows({{1000, 5}, {1016, 9}});
    // The FAT16 FATs of that volume: cluster 2 at 988, 32 root sectors before it, FATs of 20.
    const std::vector<FatStartSector> starts{{500, 0x0F}, {916, 0xFF}, {936, 0xFF}};
    NullObserver quiet;
    (void)AnalyzeFatScan(tables.fileSystemTableFound, tables.directoryTable, starts, std::nullopt,
                         tables.fileSystemTableIdentified, quiet);
    EXPECT_EQ(fileSystemsOf(tables.directoryTable), (Strings{"2", "2"}));
    EXPECT_EQ(column(tables.fileSystemTableIdentified, "PartType"), (Strings{"", "FAT16"}));
}

TEST(FindFatCopies, FindsTheCopiesThatFitTheLayoutBelowTheDataArea) {
    // FAT32 on a stick without partition table: 32 reserved sectors, FATs of 600 at 32 and 632,
    // cluster 2 at 1232 (cluster 0 at 1230, 1 sector per cluster). A stray FAT start at 900
    // (inside the second FAT) and one past the data area.
    const std::vector<FatStartSector> fat32{{32, 0x0F}, {632, 0x0F}, {900, 0x0F}, {5000, 0x0F}};
    auto copies = FindFatCopies(fat32, 1230, 1, std::nullopt);
    ASSERT_TRUE(copies);
    EXPECT_EQ(copies->firstFAT, 32u);
    EXPECT_EQ(copies->secondFAT, 632u);
    EXPECT_EQ(copies->SPF, 600u);
    EXPECT_EQ(copies->rootSectors, 0u);
    EXPECT_EQ(copies->type, FileSystemType::Fat32);
    EXPECT_FALSE(FindFatCopies(fat32, 1230, 1, FileSystemType::Fat16));
    EXPECT_FALSE(FindFatCopies(fat32, 1234, 1, std::nullopt)) << "a layout that does not fit";

    // FAT16: FATs of 20 at 916 and 936, 32 root sectors, cluster 2 at 988 (4 sectors per cluster).
    const std::vector<FatStartSector> fat16{{1, 0xFF}, {916, 0x7F}, {936, 0x7F}};
    copies = FindFatCopies(fat16, 980, 4, FileSystemType::Fat16);
    ASSERT_TRUE(copies);
    EXPECT_EQ(copies->firstFAT, 916u);
    EXPECT_EQ(copies->secondFAT, 936u);
    EXPECT_EQ(copies->rootSectors, 32u);
    EXPECT_EQ(copies->type, FileSystemType::Fat16);
    EXPECT_FALSE(FindFatCopies({}, 980, 4, std::nullopt));
}

// A file system row as phase 2 writes it: no boot sector, so no FATs.
RecordTable pairDerived(std::uint64_t spc, std::uint64_t cluster0, const char* type) {
    RecordTable t = MakeFileSystemTable();
    const int r = t.AppendRow("0");
    t.SetNumber(r, "SPC", spc);
    t.SetNumber(r, "Cluster0Start", cluster0);
    t.SetCell(r, "PartType", type);
    return t;
}

TEST(BuildFatAdvanceEntries, FolderRowsOfTheChosenFileSystemAndItsFatsFromTheDiskWhereThePassDidNotLook) {
    // A FAT16 volume at 2048 without its boot sector: FATs of 32 at 2049 and 2081, root region at
    // 2113, cluster 0 at 2137 (4 sectors per cluster).
    DiskBuilder disk(8000);
    FatBuilder fat(disk, 2048, false, 4, 32);
    fat.bootSector();
    for (std::size_t i = 0; i < kSectorSize; ++i) disk.byte(2048, i, 0);
    auto reader = disk.reader();
    RecordTable fileSystems = pairDerived(4, 2137, "FAT16");
    RecordTable dirs = directoryRows({{2149, 3}, {2153, 4}, {5000, 7}, {2157, 5}});
    for (const auto& [row, fs, parent] : std::initializer_list<std::tuple<int, const char*, int>>{
             {0, "1", 0}, {1, "1", 3}, {2, "2", 0}, {3, "1", 99}}) {
        dirs.SetCell(row, "File System", fs);
        dirs.SetNumber(row, "Parent Cluster", static_cast<std::uint64_t>(parent));
    }
    RecordTable entries = MakeFatEntryTable();
    NullObserver quiet;
    // The pass scanned from cluster 2 on: the FATs lie before what it saw.
    const FatVolumeParams p =
        BuildFatAdvanceEntries(1, fileSystems, dirs, FatScanCoverage{{}, 2145, 8000}, *reader, entries, quiet);
    EXPECT_EQ(column(entries, "Name"), (Strings{"QLN_Miscellaneous", "DIR0", "DIR1", "DIR2"}));
    EXPECT_EQ(column(entries, "self"), (Strings{"268435455", "3", "4", "5"}));
    EXPECT_EQ(column(entries, "parent"), (Strings{"0", "0", "3", "99"}));
    EXPECT_EQ(column(entries, "sector"), (Strings{"0", "2149", "2153", "2157"}));
    EXPECT_EQ(p.firstFAT, 2049u);
    EXPECT_EQ(p.secondFAT, 2081u);
    EXPECT_EQ(p.SPF, 32u);
    EXPECT_EQ(p.RootStart, 2113u);
    EXPECT_EQ(p.RootSectors, 32u);
    EXPECT_EQ(p.Cluster0Start, 2137u);
    EXPECT_EQ(p.PartType, FileSystemType::Fat16);
    EXPECT_EQ(fileSystems.GetCell(0, "firstFAT"), "2049") << "written into the file system's row";

    // With the FATs gone as well, the root region is taken to end where cluster 2 begins.
    for (const std::uint64_t s : {fat.p.firstFAT, fat.p.secondFAT}) {
        for (std::size_t i = 0; i < 4; ++i) disk.byte(s, i, 0);
    }
    auto bare = disk.reader();
    RecordTable again = pairDerived(4, 2137, "FAT16");
    RecordTable entries2 = MakeFatEntryTable();
    const FatVolumeParams q =
        BuildFatAdvanceEntries(1, again, dirs, FatScanCoverage{{}, 2145, 8000}, *bare, entries2, quiet);
    EXPECT_EQ(q.firstFAT, 0u);
    EXPECT_EQ(q.RootStart, 2113u);
    EXPECT_EQ(q.RootSectors, 32u);
}

TEST(BuildFatAdvanceEntries, Fat32NamesTheRootClusterAsParentOfTopFolders) {
    DiskBuilder disk(4000);
    auto reader = disk.reader();
    RecordTable fileSystems = pairDerived(1, 1000, "FAT32");
    RecordTable dirs = directoryRows({{1003, 3}});
    dirs.SetCell(0, "File System", "1");
    dirs.SetCell(0, "Parent Cluster", "2");
    RecordTable entries = MakeFatEntryTable();
    NullObserver quiet;
    const FatVolumeParams p =
        BuildFatAdvanceEntries(1, fileSystems, dirs, FatScanCoverage{{}, 0, 4000}, *reader, entries, quiet);
    EXPECT_EQ(column(entries, "parent"), (Strings{"0", "0"}));
    EXPECT_EQ(p.RootStart, 2u);
    EXPECT_EQ(p.RootSectors, 0u);
}

}  // namespace
}  // namespace quorlan
