// Where an NTFS file's bytes lie: the unnamed $DATA of its FILE record (or one of its named data
// streams), resident or in runs, also where the runs continue in extension records named by its
// attribute list.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/sector_reader.h"
#include "items/save_files.h"
#include "ntfs/ntfs_boot_sector.h"
#include "ntfs/ntfs_record.h"

namespace quorlan {

// The layout of the file whose record lies at recordSector and whose record number is self: its
// data, or with a stream name the data stream of that name. Sparse runs, and bytes past the
// initialized size, are zeros; the layout is cut to the real 64-bit size. A deleted file's runs
// may point at clusters used again since: a best effort.
[[nodiscard]] FileLayout NtfsFileLayout(SectorReader& reader, const NtfsVolumeParams& volume, const RunList& mftRuns,
                                        std::uint64_t recordSector, std::uint32_t self, bool deleted,
                                        std::string_view stream = {});
// The same from the record's bytes, already read and repaired (extension records are read
// through reader).
[[nodiscard]] FileLayout NtfsRecordLayout(SectorReader& reader, const NtfsVolumeParams& volume, const RunList& mftRuns,
                                          ByteView record, std::uint32_t self, bool deleted, std::string_view stream);

}  // namespace quorlan
