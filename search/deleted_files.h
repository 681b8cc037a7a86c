// The deleted files of the result shown: which of them the evidence can vouch for, and where
// deleted FAT files' clusters are taken from.
#pragma once

#include <cstdint>
#include <vector>

#include "core/sector_reader.h"
#include "fat/fat_volume.h"
#include "items/save_files.h"
#include "search/folder_listing.h"
#include "search/recovery_state.h"

namespace quorlan {

// The first sector after the volume shown.
[[nodiscard]] std::uint64_t VolumeEndOf(const RecoveryState& state, SectorReader& reader);

// Marks the deleted file rows of a listing whose bytes the evidence cannot vouch for
// (ListedRow::mayBeIncomplete). The first time a result lists a deleted file, all its deleted
// files are weighed and the outcome kept: on FAT every folder's directory is read (the first
// clusters of all entries are the evidence; FatDeletedFiles), on NTFS the deleted files' records
// and the parts of the $Bitmap under their runs (WeighNtfsDeleted). Files whose own entry or
// record is live are never marked.
void MarkDeletedFiles(RecoveryState& state, SectorReader& reader, std::vector<ListedRow>& rows);

// The layout of a FAT file row of size bytes: along its chain, or for a deleted file (or one
// whose chain the FAT no longer holds) the clusters the weighing of the deleted files gave it.
[[nodiscard]] FileLayout FatRowLayout(RecoveryState& state, SectorReader& reader, ClusterChainReader& chains,
                                      const ListedRow& row, std::uint64_t size);

}  // namespace quorlan
