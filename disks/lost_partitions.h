// The search for lost partitions: FAT16, FAT32 and NTFS volumes that the partition table no
// longer lists, found by their boot sectors where partitions begin.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "core/bytes.h"
#include "core/run_context.h"
#include "core/sector_reader.h"
#include "disks/partition_table.h"

namespace quorlan {

// Partitioning tools of the last fifteen years start partitions on 1 MiB boundaries.
inline constexpr std::uint64_t kAlignmentSectors = 2048;
// The reads of a search stay within one sector in this many of the range searched (and at
// least kMinSearchReads): the probes of the disk's own geometry and of 1 MiB boundaries always
// run; other geometries, backup boot sectors and extended chains take what is left.
inline constexpr std::uint64_t kSearchReadFraction = 256;
inline constexpr std::uint64_t kMinSearchReads = 2048;

struct LostPartitionRequest {
    std::uint64_t rangeStart = 0;
    std::uint64_t rangeEnd = 0;          // the first sector after the range; 0 (or beyond the disk): the disk's end
    std::uint32_t heads = 255;           // the disk's geometry from its details; normalised to 255 x 63
    std::uint32_t sectorsPerTrack = 63;  // unless sectors per track is 63
};

struct LostPartitionResult {
    std::vector<PartitionEntry> found;  // by start sector; none the list already held
    bool stopped = false;               // a stop ended the search; found holds what it had
    bool limitReached = false;          // the list would have held more than kMaxPartitions
    std::uint64_t sectorsRead = 0;      // single-sector reads made
    std::uint64_t rangeStart = 0;       // the range searched
    std::uint64_t rangeEnd = 0;
};

// What a recognised boot sector says of its volume.
struct RecognisedBootSector {
    FileSystemType type = FileSystemType::Unknown;
    std::uint64_t sectors = 0;  // the partition's length: an NTFS volume's count plus its backup sector
    std::uint16_t sectorsPerTrack = 0;
    std::uint16_t heads = 0;
    std::uint32_t hiddenSectors = 0;
};

// A FAT32, FAT16 or NTFS boot sector, tested in that order: 0x55 0xAA, the type text ("FAT32" at
// 82, "FAT16" at 54, "NTFS" at 3) and a plausible parameter block. A FAT volume's size is the
// 32-bit count at 32, or the 16-bit count at 19 when that is 0; an NTFS volume's the count at 40
// plus the backup boot sector behind it. Empty for anything else, and for a size of 0.
[[nodiscard]] std::optional<RecognisedBootSector> RecogniseBootSector(ByteView sector);

// Searches the disk, or the range of it the request names, for volumes that `listed` does not
// hold. It reads single sectors at the places where partitions begin:
//   - the first sector of each cylinder and the sector one track later (the disk's geometry,
//     255 x 63 unless it has 63 sectors per track), and every 1 MiB boundary;
//   - in the geometry that a volume found says it was formatted with (heads and sectors per
//     track of its parameter block, its hidden sectors a whole number of tracks), the same
//     places again, outside the volumes known and while the budget of reads allows (eight such
//     geometries at most);
//   - where a place holds no boot sector, the FAT32 backup 6 sectors on, and before each
//     cylinder or 1 MiB boundary (and the end of the range) the sector where an NTFS volume
//     keeps its backup; a backup names its volume's start;
//   - an extended boot record on the way adds the partitions of its chain.
// Backups are not looked for inside a volume already listed or found. Found volumes join in
// the order of their start; one that the list or the search already has with the same start,
// end and type is not added again. The search ends when the list would hold more than
// kMaxPartitions, or at a stop between two reads (found keeps what was found).
// Progress: status "Searching Partition...", phases "Completed " of the places to probe, the
// counter PartitionsFound.
[[nodiscard]] LostPartitionResult SearchLostPartitions(SectorReader& reader, const DiskPartitionList& listed,
                                                       const LostPartitionRequest& request, const RunContext& context);

// Appends found partitions to a list, after those it holds, skipping any it already holds with
// the same start, end and type, and stopping at kMaxPartitions (limitReached). Returns how many
// were added.
std::size_t AddFoundPartitions(DiskPartitionList& list, const std::vector<PartitionEntry>& found);

}  // namespace quorlan
