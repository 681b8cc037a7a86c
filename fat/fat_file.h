// Where a FAT file's bytes lie: its cluster chain, or for a deleted file whose chain the FAT no
// longer holds, the free clusters that follow its first one.
#pragma once

#include <cstdint>

#include "fat/fat_deleted.h"
#include "fat/fat_volume.h"
#include "items/save_files.h"

namespace quorlan {

// The first cluster number past the volume: bounded by the FAT's entries and by the end of the
// volume (volumeEnd, the first sector after it).
[[nodiscard]] std::uint64_t FatClusterEnd(const FatVolumeParams& params, std::uint64_t volumeEnd);

// The layout of a file of size bytes from firstCluster. A file whose entry is deleted (or
// whose first cluster is free in the FAT, as in a deleted folder) is read from the clusters
// after its first one that the FAT marks free, up to its size: a best effort, since the FAT
// no longer says where it went. volumeEnd is the first sector after the volume.
[[nodiscard]] FileLayout FatFileLayout(ClusterChainReader& chains, const FatVolumeParams& params,
                                       std::uint32_t firstCluster, std::uint64_t size, bool deleted,
                                       std::uint64_t volumeEnd);

// The layout of a deleted file of size bytes from the clusters the weighing of the volume's
// deleted files gave it (FatDeletedFiles).
[[nodiscard]] FileLayout FatGuessLayout(const FatVolumeParams& params, const FatGuess& guess, std::uint64_t size);

}  // namespace quorlan
