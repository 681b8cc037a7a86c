// Where an NTFS file's bytes lie: the unnamed $DATA of its FILE record, resident or in runs,
// also where the runs continue in extension records named by its attribute list.
#pragma once

#include <cstdint>

#include "core/sector_reader.h"
#include "items/save_files.h"
#include "ntfs/ntfs_boot_sector.h"
#include "ntfs/ntfs_record.h"

namespace quorlan {

// The layout of the file whose record lies at recordSector and whose record number is self.
// Sparse runs, and bytes past the initialized size, are zeros; the layout is cut to the real
// 64-bit size. A deleted file's runs may point at clusters used again since: a best effort.
[[nodiscard]] FileLayout NtfsFileLayout(SectorReader& reader, const NtfsVolumeParams& volume, const RunList& mftRuns,
                                        std::uint64_t recordSector, std::uint32_t self, bool deleted);

}  // namespace quorlan
