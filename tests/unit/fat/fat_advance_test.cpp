// The FAT Advance Search, stage by stage, on volumes laid out sector by sector.
#include "fat/fat_advance.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

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
