// Deleted NTFS files whose clusters may hold another file's data now: their runs are exact, but
// the volume may have given their clusters away since.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/sector_reader.h"
#include "ntfs/ntfs_boot_sector.h"
#include "ntfs/ntfs_record.h"

namespace quorlan {

// One deleted file's data, or one of its named streams.
struct NtfsDeletedData {
    std::uint64_t recordSector = 0;
    std::uint32_t self = 0;  // its record number
    std::string stream;      // empty: the file's data
};

struct NtfsDeletedTrust {
    bool mayBeIncomplete = false;
    std::string why;  // empty when nothing is wrong
};

// For each item, in order, whether its bytes may not be its own: a cluster of its runs that the
// $Bitmap gives to a file (the deleted file gave it up), or that another item's runs share (a
// later deleted file wrote there). Resident data lies in its record and is never marked; data
// whose record or runs cannot be read is. When the $Bitmap cannot be read, every item with runs
// is marked. Records are read in windows of the $MFT: items in $MFT order share reads.
[[nodiscard]] std::vector<NtfsDeletedTrust> WeighNtfsDeleted(SectorReader& reader, const NtfsVolumeParams& volume,
                                                             const RunList& mftRuns,
                                                             const std::vector<NtfsDeletedData>& items);

}  // namespace quorlan
