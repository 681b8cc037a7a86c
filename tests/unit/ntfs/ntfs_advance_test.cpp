// The NTFS analysis on tables made by hand: pairs of folders, and the places of records.
#include "ntfs/ntfs_advance.h"

#include <gtest/gtest.h>

#include "items/tables.h"
#include "ntfs/mft.h"
#include "tests/support/disk_builder.h"

namespace quorlan {
namespace {

// The tables of a pass that found folders (FILE record sector, number, first run) and, for each,
// its first index buffer at a sector.
struct Pass {
    RecordTable boot = MakeFileSystemTable();
    RecordTable entries = MakeMftEntryTable();
    RecordTable refs = MakeMftRefTable();
    RecordTable dirs = MakeDirectoryTable();
    RecordTable list = MakeFileSystemTable();
    NtfsScanFindings findings;

    void folder(std::uint64_t recordSector, std::uint64_t self, std::uint64_t firstRun, std::uint64_t bufferSector) {
        const int r = entries.AppendRow("folder " + std::to_string(self));
        entries.SetNumber(r, "Sector", recordSector);
        entries.SetNumber(r, "selfMFT", self);
        entries.SetCell(r, "parentMFT", "5");
        entries.SetCell(r, "type", "FOLDER");
        entries.SetNumber(r, "First Run", firstRun);
        findings.records.push_back({2, true});
        const int b = refs.AppendRow(std::to_string(bufferSector));
        refs.SetNumber(b, "mftReference", self);
        refs.SetCell(b, "vcn", "0");
        findings.indxSectors.push_back(bufferSector);
        std::sort(findings.indxSectors.begin(), findings.indxSectors.end());
    }
    NtfsAnalysisResult analyze(std::uint64_t rangeEnd) {
        test::DiskBuilder disk(1);
        SectorReader reader(disk.source());
        NullObserver quiet;
        return AnalyzeNtfsScan({boot, entries, refs, dirs}, findings, {0, rangeEnd, rangeEnd}, reader, list, quiet);
    }
};

TEST(AnalyzeNtfsScan, PairsOfFoldersGiveTheVolumesTheirIndexBuffersFit) {
    const struct {
        const char* what;
        std::uint64_t firstRun1, buffer1, firstRun2, buffer2;
        bool identified;
        std::uint64_t start, spc;
    } cases[] = {
        {"first runs 100 and 40, buffers 480 sectors apart: 8 sectors per cluster", 100, 5000, 40, 4520, true, 4200, 8},
        {"the same the other way round", 40, 4520, 100, 5000, true, 4200, 8},
        {"a difference of 3 sectors per cluster", 100, 5000, 40, 4820, false, 0, 0},
        {"equal first runs", 100, 5000, 100, 6000, false, 0, 0},
        {"a volume that would start before sector 0", 1000, 5000, 400, 200, false, 0, 0},
    };
    for (const auto& c : cases) {
        Pass pass;
        pass.folder(4300, 64, c.firstRun1, c.buffer1);
        pass.folder(4302, 65, c.firstRun2, c.buffer2);
        const NtfsAnalysisResult result = pass.analyze(10000);
        if (!c.identified) {
            EXPECT_TRUE(result.assumed) << c.what << ": only the volume assumed from the records";
            continue;
        }
        ASSERT_EQ(result.fileSystems, 1u) << c.what;
        EXPECT_FALSE(result.assumed) << c.what;
        EXPECT_EQ(pass.list.GetU64(0, "Cluster0Start"), c.start) << c.what;
        EXPECT_EQ(pass.list.GetU64(0, "SPC"), c.spc) << c.what;
        EXPECT_EQ(pass.list.GetCell(0, "SPF"), "10000") << c.what << ": up to the end of the range";
        EXPECT_EQ(pass.list.GetCell(0, "PartType"), "NTFS") << c.what;
        EXPECT_EQ(pass.dirs.GetCell(0, "File System"), "1") << c.what;
        EXPECT_EQ(pass.dirs.GetCell(1, "File System"), "1") << c.what;
        EXPECT_EQ(pass.refs.RowCount(), 0) << c.what << ": both buffers placed their folders";
    }
}

TEST(AnalyzeNtfsScan, ABootSectorGivesItsVolumeFromEitherCopy) {
    for (const bool backup : {false, true}) {
        Pass pass;
        pass.folder(4300, 64, 100, 5000);
        // A volume at 4200 of 20000 sectors: its boot sector there, or its copy in its last sector.
        const int b = pass.boot.AppendRow(backup ? "24199" : "4200");
        pass.boot.SetCell(b, "SPF", "8");
        pass.boot.SetCell(b, "Root Start", "19999");
        const NtfsAnalysisResult result = pass.analyze(30000);
        ASSERT_EQ(result.fileSystems, 1u) << backup;
        EXPECT_EQ(pass.list.GetCell(0, "Cluster0Start"), "4200") << backup;
        EXPECT_EQ(pass.list.GetCell(0, "SPF"), "24200") << backup << ": the volume's end";
        ASSERT_EQ(pass.findings.volumes.size(), 1u);
        EXPECT_EQ(pass.findings.volumes[0].bootRow, 0);
    }
}

TEST(FileSystemHolding, TheLastToStartOfThoseThatHoldTheSector) {
    // 1 from 100 to the end of the range; 2, a volume kept as a file inside it, 500 to 600; 3 from 1000.
    const std::vector<FileSystemExtent> extents{{1, 100, 5000}, {2, 500, 600}, {3, 1000, 5000}};
    const std::pair<std::uint64_t, std::size_t> cases[] = {{50, 0},  {100, 1},  {550, 2}, {600, 1},
                                                           {999, 1}, {1000, 3}, {5000, 0}};
    for (const auto& [sector, holder] : cases) EXPECT_EQ(FileSystemHolding(extents, sector), holder) << sector;
}

TEST(MftRunsFromPositions, RecordsInStepFormOneRun) {
    // Records 0 to 3 at 1000 (2 sectors each), 8 and 10 at 3000 and 3004 (9 between them, not
    // found, in step), a second copy of record 1 elsewhere (the mirror's).
    const RunList runs = MftRunsFromPositions({{10, 3004}, {0, 1000}, {1, 1002}, {3, 1006}, {8, 3000}, {1, 7000}}, 2);
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0].start, 1000u);
    EXPECT_EQ(runs[0].length, 8u);
    EXPECT_TRUE(runs[1].sparse) << "records 4 to 7";
    EXPECT_EQ(runs[1].length, 8u);
    EXPECT_EQ(runs[2].start, 3000u);
    EXPECT_EQ(runs[2].length, 6u);
    EXPECT_EQ(MftRecordToSector(runs, 9, 2), 3002u);
    EXPECT_EQ(MftRecordToSector(runs, 1, 2), 1002u) << "the first copy";
    EXPECT_FALSE(MftRecordToSector(runs, 5, 2).has_value());
    EXPECT_TRUE(MftRunsFromPositions({}, 2).empty());
}

}  // namespace
}  // namespace quorlan
