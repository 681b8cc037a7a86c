#include "fat/fat_advance.h"

#include "core/sector_reader.h"
#include "fat/fat_boot_sector.h"
#include "fat/fat_dir.h"

namespace quorlan {

namespace {

// Offsets in a FAT boot sector that only the Advance Search reads.
constexpr std::size_t kBpbTotalSectors16 = 0x13;  // u16: the volume's sectors when they fit 16 bits, else 0
constexpr std::size_t kBpbTotalSectors32 = 0x20;  // u32: the volume's sectors when the 16-bit count is 0
// The boot-sector test reads the last two characters of the type texts.
constexpr std::size_t kFat32TypeDigits = kFat32TypeText + 3;  // "32" of "FAT32" at 0x52
constexpr std::size_t kFat16TypeDigits = kFat16TypeText + 3;  // "16" of "FAT16" at 0x36

// A directory entry's cluster as the scan reads it: the low word at 0x1A and the high word at
// 0x14, on FAT16 too.
std::uint64_t scanCluster(ByteView entry) { return EntryCluster(entry, true); }

}  // namespace

FatScanDetector::FatScanDetector(RecordTable& bootSectors, RecordTable& directories,
                                 std::vector<FatStartSector>& fatStarts, ScanCounters& counters)
    : m_boot(bootSectors), m_dirs(directories), m_fatStarts(fatStarts), m_counters(counters) {}

std::vector<LeadingBytes> FatScanDetector::leadingBytes() const {
    return {{'.', ' '}, {0xF8, 0xFF}};
}

void FatScanDetector::examine(const ScannedSector& scanned) {
    const ByteView s = scanned.bytes.sub(0, kSectorSize);
    if (s.size() < kSectorSize) return;
    // The whole sector lies in the view: the reads below are within it.
    if (s.u8_unchecked(kBootSignature) == 0x55 && s.u8_unchecked(kBootSignature + 1) == 0xAA) {
        if (s.matches(kFat32TypeDigits, "32")) {
            AddFatBootSectorRow(m_boot, scanned.number, s, true);
            m_counters.add(Counter::BootSectorsFound);
        } else if (s.matches(kFat16TypeDigits, "16")) {
            AddFatBootSectorRow(m_boot, scanned.number, s, false);
            m_counters.add(Counter::BootSectorsFound);
        }
    }
    if (IsDirectoryStart(s)) {
        const int r = m_dirs.AppendRow(std::to_string(scanned.number));
        m_dirs.SetNumber(r, "Self Cluster", scanCluster(s));
        m_dirs.SetNumber(r, "Parent Cluster", scanCluster(s.sub(kDotDotEntry, kDirEntrySize)));
        m_dirs.SetCell(r, "File System", "0");
        m_dirs.SetNumber(r, "Date", s.u16le_unchecked(kDirDate));
        m_dirs.SetNumber(r, "Time", s.u16le_unchecked(kDirTime));
        m_counters.add(Counter::FoldersFound);
    } else if (s.u8_unchecked(0) == 0xF8 && s.u8_unchecked(1) == 0xFF && s.u8_unchecked(2) == 0xFF &&
               m_fatStarts.size() < kMaxFatStarts) {
        m_fatStarts.push_back({scanned.number, s.u8_unchecked(3)});
    }
}

void AddFatBootSectorRow(RecordTable& table, std::uint64_t B, ByteView s, bool fat32) {
    const std::uint64_t spc = s.u8(kBpbSectorsPerCluster).value_or(0);
    const std::uint64_t reserved = s.u16le(kBpbReservedSectors).value_or(0);
    std::uint64_t total = s.u32le(kBpbTotalSectors32).value_or(0);
    const int r = table.AppendRow(std::to_string(B));
    table.SetNumber(r, "SPC", spc);
    table.SetNumber(r, "Reserve Sectors", reserved);
    table.SetNumber(r, "firstFAT", B + reserved);
    if (fat32) {
        const std::uint64_t spf = s.u32le(kBpbSectorsPerFat32).value_or(0);
        table.SetNumber(r, "SPF", spf);
        table.SetCell(r, "Root Sectors", "0");
        table.SetNumber(r, "Root Start", s.u32le(kBpbRootCluster).value_or(0));
        // Kept modulo 2^64, as the volume record keeps it, where the values make it fall before
        // sector 0 (no directory then fits it).
        table.SetNumber(r, "Cluster0Start", B + reserved + 2 * spf - 2 * spc);
        table.SetNumber(r, "secondFAT", B + reserved + spf);
    } else {
        const std::uint64_t spf = s.u16le(kBpbSectorsPerFat16).value_or(0);
        const std::uint64_t rootSectors = s.u16le(kBpbRootEntries).value_or(0) / 16;
        table.SetNumber(r, "SPF", spf);
        table.SetNumber(r, "Root Sectors", rootSectors);
        table.SetNumber(r, "Root Start", B + reserved + 2 * spf);
        table.SetNumber(r, "Cluster0Start", B + reserved + rootSectors + 2 * spf - 2 * spc);
        table.SetNumber(r, "secondFAT", B + reserved + spf);
        // A small FAT16 volume keeps its size in the 16-bit count and 0 in the 32-bit one.
        if (total == 0) total = s.u16le(kBpbTotalSectors16).value_or(0);
    }
    table.SetNumber(r, "TotalSectors", B + total);
    table.SetCell(r, "PartType", fat32 ? "FAT32" : "FAT16");
}

}  // namespace quorlan
