// The FAT Advance Search: FAT boot sectors and directory clusters recognised sector by sector in
// the one pass over a disk, the file systems worked out from them (also where the boot sector is
// gone), and the folder rows of a chosen file system.
#pragma once

#include <cstdint>
#include <vector>

#include "core/sector_detector.h"
#include "items/record_table.h"

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

// Stage 1 of the FAT Advance Search, one sector at a time: every sector that ends in 0x55 0xAA
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

private:
    RecordTable& m_boot;
    RecordTable& m_dirs;
    std::vector<FatStartSector>& m_fatStarts;
    ScanCounters& m_counters;
};

// Appends the first-FileSystemTable row of the FAT boot sector at sector number (FAT32 when fat32,
// else FAT16): the volume's layout as the boot sector gives it, every sector absolute.
void AddFatBootSectorRow(RecordTable& bootSectors, std::uint64_t number, ByteView sector, bool fat32);

}  // namespace quorlan
