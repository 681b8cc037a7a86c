// The master boot record, the chain of extended boot records, and the partition list of a disk.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/bytes.h"
#include "core/sector_reader.h"
#include "items/volume.h"

namespace quorlan {

inline constexpr int kMaxPartitions = 26;
// A table entry starting fewer sectors than this before the end of the disk marks the table
// as corrupt.
inline constexpr std::int64_t kSanityMinSectors = 0x6000;
// Extended boot records followed at most; a chain that is longer, or that comes back to a
// record already read, ends there.
inline constexpr int kMaxExtendedRecords = 256;

// Where a partition of the list comes from.
enum class PartitionSource {
    Table,               // the master boot record or its extended chain
    BootSector,          // the lost-partition search found the volume's boot sector
    BackupBootSector,    // ... found its backup boot sector (its first one is damaged)
    ExtendedRecord,      // ... found an extended boot record that lists it
};

struct PartitionEntry {
    FileSystemType type = FileSystemType::Unknown;  // FAT16, FAT32 or NTFS
    std::uint64_t start = 0;  // absolute first sector
    std::uint64_t end = 0;    // absolute first sector after the partition
    std::uint8_t tableType = 0;  // the type code in the table entry
    bool fromMbr = false;        // a primary partition (or the whole volume of a superfloppy)
    PartitionSource source = PartitionSource::Table;
    std::uint64_t evidence = 0;  // found partitions: the sector the search recognised
};

enum class ChainEnd {
    None,        // no extended partition, or its chain ended normally
    Loop,        // a record pointed back at one already read
    TooLong,     // more than kMaxExtendedRecords records
    OutOfDisk,   // a record lay beyond the end of the disk
};

struct DiskPartitionList {
    std::vector<PartitionEntry> partitions;  // in the order found, at most kMaxPartitions
    bool partitionFound = false;             // at least one partition listed
    bool tableSigned = false;                // sector 0 carried 0x55 or 0xAA at 510/511
    bool corrupt = false;                    // an entry failed the sanity test
    bool superfloppy = false;                // sector 0 is itself a boot sector
    bool limitReached = false;               // partitions beyond kMaxPartitions were dropped
    ChainEnd chainEnd = ChainEnd::None;
    // The partition the window selects first: the first one, when it came from the MBR.
    [[nodiscard]] std::optional<std::size_t> defaultSelection() const {
        if (!partitions.empty() && partitions.front().fromMbr) return 0;
        return std::nullopt;
    }
};

// The file system of an accepted type code, or empty for a code that is skipped (extended codes
// 0x05 and 0x0F are followed, not labelled).
[[nodiscard]] std::optional<FileSystemType> PartitionTypeLabel(std::uint8_t typeCode);
// The type as the partition list names it: "FAT16", "FAT32", "NTFS", or "Unknown Partition".
[[nodiscard]] std::string PartitionTypeName(FileSystemType type);
[[nodiscard]] bool IsExtendedType(std::uint8_t typeCode);
// The type code after looking at a partition's first sector: "FAT32" at 82 gives 0x0B, else
// "FAT16" at 54 gives 0x06, else "NTFS" at 3 gives 0x07, else the table's code stands.
[[nodiscard]] std::uint8_t EffectiveTypeCode(std::uint8_t tableCode, ByteView firstSector);

// The logical partitions of a chain of extended boot records, in chain order.
struct ExtendedChain {
    std::vector<PartitionEntry> partitions;  // accepted types only, fromMbr false, evidence the record
    ChainEnd end = ChainEnd::None;
    std::uint64_t sectorsRead = 0;
};

// Follows the chain whose first record lies at base (the extended partition's first sector).
// Each record's four entries are read: partitions in order, and an extended entry (0x05, 0x0F)
// as the link to the next record, relative to base. Records in visited, or already read on the
// way, end the chain (Loop); so do kMaxExtendedRecords records and a record beyond the disk.
// Every record read is added to visited.
[[nodiscard]] ExtendedChain FollowExtendedChain(SectorReader& reader, std::uint64_t base, std::uint64_t totalSectors,
                                                std::set<std::uint64_t>& visited);

// True when a signed sector (0x55 0xAA) at sector number `at` reads as an extended boot record:
// every entry empty or plausible (boot flag 0 or 0x80, a start and a length that stay on the
// disk), and at least one entry a partition of an accepted type.
[[nodiscard]] bool LooksLikeExtendedRecord(ByteView sector, std::uint64_t at, std::uint64_t totalSectors);

// Reads sector 0 and the extended chain of a disk of totalSectors sectors. When an entry fails
// the sanity test the notice is raised (when given) and reading stops; partitions listed
// before stay listed.
[[nodiscard]] DiskPartitionList ReadPartitionTable(SectorReader& reader, std::uint64_t totalSectors,
                                                   CorruptTableNotice* notice = nullptr);

// How the lost-partition search found a partition: "Boot Sector", "Backup Boot Sector" or
// "Extended Boot Record"; empty for a partition of the table.
[[nodiscard]] std::string PartitionSourceText(PartitionSource source);

// "Partition - N ( TYPE )" for the 1-based number N.
[[nodiscard]] std::string PartitionNodeText(int number, FileSystemType type);
// "Disk N".
[[nodiscard]] std::string DiskNodeText(std::size_t diskNumber);

using DetailRows = std::vector<std::pair<std::string, std::string>>;

// The details list of a selected partition (0-based index) in either search mode. A partition
// that the lost-partition search found gets one more row saying how: "Backup Boot Sector
// (sector 81919)".
[[nodiscard]] DetailRows PartitionDetailsRows(SearchMode mode, std::size_t diskNumber,
                                              std::size_t partitionIndex,
                                              const PartitionEntry& partition);
// The details list of the "Unknown Partition" item, from the disk's sector count and capacity
// texts.
[[nodiscard]] DetailRows UnknownPartitionDetailsRows(SearchMode mode, std::size_t diskNumber,
                                                     std::size_t partitionIndex,
                                                     const std::string& diskSectorsText,
                                                     const std::string& diskCapacityText);

}  // namespace quorlan
