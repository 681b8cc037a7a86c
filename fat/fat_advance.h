// The FAT Advance Search: FAT boot sectors and directory clusters recognised sector by sector in
// the one pass over a disk, the file systems worked out from them (also where the boot sector is
// gone), and the folder rows of a chosen file system.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/run_context.h"
#include "core/sector_detector.h"
#include "core/sector_reader.h"
#include "items/record_table.h"
#include "items/volume.h"

namespace quorlan {

// A sector that begins with 0xF8 0xFF 0xFF: the first sector of a FAT copy (the media byte of a
// fixed disk and the rest of entry 0), or by chance a sector of other data.
struct FatStartSector {
    std::uint64_t sector = 0;
    // Byte 3: 0x0F in a FAT32 FAT (entry 0 is 0x0FFFFFF8); in a FAT16 FAT the high byte of entry
    // 1 (0xFF, or 0x7F, 0xBF, 0x3F with the volume's clean and error flags).
    std::uint8_t byte3 = 0;
};

// At most this many FAT starts are kept from one pass (a disk filled with such sectors by chance
// must not fill the memory); a real disk holds two per FAT volume.
inline constexpr std::size_t kMaxFatStarts = std::size_t{1} << 16;

// Stage 1 of the FAT Advance Search (ScanFatRange), one sector at a time, in the one pass of
// search/advance_scan.h over the search range: every sector that ends in 0x55 0xAA
// and carries "32" at 0x55 (the end of "FAT32" at 0x52) is a FAT32 boot sector, else with "16" at
// 0x39 (the end of "FAT16" at 0x36) a FAT16 one: one row of bootSectors (the first
// FileSystemTable, FAT meanings) each. Every sector that begins with a "." entry and a ".." entry
// is the first sector of a directory: one row of directories (the DirectoryTable). Sectors that
// begin a FAT copy are kept in fatStarts. The counters "Folders Found" and "Boot Sectors Found"
// grow with the rows.
class FatScanDetector final : public SectorDetector {
public:
    FatScanDetector(RecordTable& bootSectors, RecordTable& directories, std::vector<FatStartSector>& fatStarts,
                    ScanCounters& counters);

    [[nodiscard]] std::vector<LeadingBytes> leadingBytes() const override;
    [[nodiscard]] bool wantsBootSignature() const override { return true; }
    void examine(const ScannedSector& sector) override;
    // Every FAT structure it recognises lies in the one sector.
    [[nodiscard]] std::uint32_t sectorsWanted() const override { return 1; }

private:
    RecordTable& m_boot;
    RecordTable& m_dirs;
    std::vector<FatStartSector>& m_fatStarts;
    ScanCounters& m_counters;
};

// The two FAT copies of a volume.
struct FatCopies {
    std::uint64_t firstFAT = 0;
    std::uint64_t secondFAT = 0;
    std::uint64_t SPF = 0;          // secondFAT - firstFAT
    std::uint64_t rootSectors = 0;  // FAT16: the root region between the second FAT and the data area
    FileSystemType type = FileSystemType::Unknown;  // by the FATs' signature (byte 3)
};

// Among FAT starts (in disk order) the two copies of the volume whose cluster 0 lies at cluster0
// with spc sectors per cluster: the pair with the same signature, nearest below the volume's data
// area (cluster 2), that fills what lies before it as two FATs do: FAT32, data area = firstFAT + 2
// x SPF; FAT16, the same plus a root region of 1 to 4096 sectors. type, when given, admits only
// FATs of that signature. Empty when no pair fits.
[[nodiscard]] std::optional<FatCopies> FindFatCopies(std::span<const FatStartSector> starts, std::uint64_t cluster0,
                                                     std::uint64_t spc, std::optional<FileSystemType> type);

struct FatAnalysisResult {
    std::size_t fileSystems = 0;  // file systems this analysis appended
    int stage = 0;                // 1 after phase 1, 2 after phase 2
};

// Stage 2 of the FAT Advance Search over the rows of a pass. Phase 1: every boot-sector row (of a
// valid cluster size) whose volume holds a directory at its place (the sector of its "." cluster
// x SPC + Cluster0Start, between Cluster0Start and TotalSectors), or whose two FATs begin where it
// says (among fatStarts), is a file system: its row is copied into fileSystems and those
// directories are assigned to it. Phase 2: the directories
// left are paired: a directory and the first later one that lies in the same volume of some
// cluster size (1 to 128 sectors; the later one at a higher cluster, below both directories'
// sectors) give a file system without a boot sector ("Sector" 0, "SPC", "Cluster0Start"), which
// every directory of that volume joins, also one that found no partner before; a directory
// with no partner is marked -1. Such a file system is FAT32 when chosenType is FAT32 or one of
// its directories lies above cluster 0x10000, else chosenType; with no type chosen, the type of
// its FAT copies among fatStarts, FAT32 when they are not found. File systems are numbered after
// the rows fileSystems already holds; every directory row's "File System" is set. Grouping the
// directories by the sector of cluster 0 for each cluster size keeps both phases near linear.
FatAnalysisResult AnalyzeFatScan(const RecordTable& bootSectors, RecordTable& directories,
                                 std::span<const FatStartSector> fatStarts, std::optional<FileSystemType> chosenType,
                                 RecordTable& fileSystems, SearchObserver& observer);

// What stage 3 needs of the pass besides its tables: the FAT starts it found in the sectors
// from <= sector < to that it scanned.
struct FatScanCoverage {
    std::span<const FatStartSector> fatStarts;
    std::uint64_t from = 0;
    std::uint64_t to = 0;
};

// Stage 3 of the FAT Advance Search for file system number (row number - 1 of fileSystems): the
// folder table gets "QLN_Miscellaneous" and one row per directory of that file system ("DIR0",
// "DIR1", ... in table order); when its row has no FAT copies (no boot sector gave them) they are
// looked for (FindFatCopies, else the first two FAT starts in the sectors before cluster 0:
// from 550 sectors before it on FAT16, 30000 on FAT32, from sector 63 on small volumes; sectors
// the pass did not scan are read) and written into the row. Returns the volume parameters of the
// row (root sectors 32 on a FAT16 volume that gives none; the root's first cluster 2 on FAT32).
[[nodiscard]] FatVolumeParams BuildFatAdvanceEntries(std::size_t number, RecordTable& fileSystems,
                                                     const RecordTable& directories, const FatScanCoverage& scan,
                                                     SectorReader& reader, RecordTable& entryTable,
                                                     SearchObserver& observer);

// Appends the first-FileSystemTable row of the FAT boot sector at sector number (FAT32 when fat32,
// else FAT16): the volume's layout as the boot sector gives it, every sector absolute.
void AddFatBootSectorRow(RecordTable& bootSectors, std::uint64_t number, ByteView sector, bool fat32);

}  // namespace quorlan
