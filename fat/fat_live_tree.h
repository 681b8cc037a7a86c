// The clusters that the live folder tree of a FAT volume owns. A cluster in the chain of a live
// file or folder, reached from the root, holds that file's or folder's bytes; only the other
// clusters (free ones, and allocated ones that no live entry reaches) can hold a lost or deleted
// folder, so the directory-cluster scan need not read the owned ones.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/bytes.h"
#include "core/run_context.h"
#include "core/sector_reader.h"
#include "items/volume.h"

namespace quorlan {

struct LiveClusters {
    // By cluster number: the clusters the live tree owns. Clusters at or beyond its size are not
    // owned. Empty when the FAT cannot be trusted.
    std::vector<bool> owned;
    // Why the FAT cannot be trusted (its copies differ, its entries or chains are damaged, a
    // sector of it cannot be read, ...); empty when it can. An untrusted FAT owns nothing: every
    // cluster has to be scanned.
    std::string untrusted;
    bool stopped = false;  // a stop request ended the walk before it was complete
};

// Called for every data cluster the walk reads (the clusters of live folders), with the number
// and bytes of its first sector, so that the caller judges it as the scan would have.
using LiveClusterVisit = std::function<void(std::uint64_t cluster, std::uint64_t sector, ByteView firstSector)>;

// Reads FAT copy 1 whole (the entries of the clusters that begin below rangeEnd) and checks it:
// copy 2 must hold the same entries, every entry must be free, a bad-cluster mark, an end of
// chain or a cluster of the volume. Then walks the live tree from the root: reads every live
// folder along its chain and marks its clusters, and marks the chain of every live file (an
// entry that is not deleted, not a long-name part, with a name the listing accepts and a first
// cluster). A chain that runs into a free or bad cluster or does not end with an end-of-chain
// mark, a cluster reached twice (chains that cross, a folder reached twice) and an entry naming a
// cluster beyond the FAT make the FAT untrusted. Every folder cluster read is passed to visit.
// Reads: the FAT twice (copy 1 and copy 2) and the live folders, nothing of the files.
[[nodiscard]] LiveClusters WalkLiveTree(SectorReader& reader, const FatVolumeParams& params, std::uint64_t rangeEnd,
                                        const RunContext& context, const LiveClusterVisit& visit);

}  // namespace quorlan
