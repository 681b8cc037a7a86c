#include "fat/fat_file.h"

#include <algorithm>

namespace quorlan {

namespace {

// Appends a cluster's sectors, joining it to the last extent when it follows on the disk.
void appendCluster(FileLayout& layout, std::uint64_t sector, std::uint64_t bytes) {
    if (!layout.extents.empty()) {
        Extent& last = layout.extents.back();
        if (last.kind == Extent::Kind::Sectors && last.sector + last.length / kSectorSize == sector) {
            last.length += bytes;
            return;
        }
    }
    Extent e;
    e.kind = Extent::Kind::Sectors;
    e.sector = sector;
    e.length = bytes;
    layout.extents.push_back(std::move(e));
}

// Cuts the extents to the size: the last cluster holds the file's end.
void cutToSize(FileLayout& layout, std::uint64_t size) {
    std::uint64_t total = 0;
    for (Extent& e : layout.extents) {
        e.length = std::min(e.length, size - total);
        total += e.length;
    }
}

}  // namespace

std::uint64_t FatClusterEnd(const FatVolumeParams& params, std::uint64_t volumeEnd) {
    std::uint64_t end = params.fatEntries();
    if (params.SPC > 0 && volumeEnd > params.Cluster0Start) {
        end = std::min(end, (volumeEnd - params.Cluster0Start) / params.SPC);
    }
    return end;
}

FileLayout FatFileLayout(ClusterChainReader& chains, const FatVolumeParams& params, std::uint32_t firstCluster,
                         std::uint64_t size, bool deleted, std::uint64_t volumeEnd) {
    FileLayout layout;
    layout.size = size;
    if (size == 0) return layout;
    const std::uint64_t clusterBytes = params.SPC * kSectorSize;
    if (!params.isFat() || clusterBytes == 0) {
        layout.failed = true;
        layout.problem = "the volume's parameters are unknown";
        return layout;
    }
    const std::uint64_t clusterEnd = FatClusterEnd(params, volumeEnd);
    if (firstCluster < 2 || firstCluster >= clusterEnd) {
        layout.failed = true;
        layout.problem = "the file has no valid first cluster (" + std::to_string(firstCluster) + ")";
        return layout;
    }
    const std::uint64_t needed = (size + clusterBytes - 1) / clusterBytes;
    std::uint64_t taken = 0;
    const auto firstEntry = chains.entry(firstCluster);
    const bool chainGone = !firstEntry || *firstEntry == 0;
    if (!deleted && !chainGone) {
        for (const std::uint32_t c : chains.FollowClusterChain(firstCluster)) {
            if (taken == needed || c >= clusterEnd) break;
            appendCluster(layout, ClusterToSector(params, c), clusterBytes);
            ++taken;
        }
        if (taken < needed) {
            layout.problem = "the cluster chain ends after " + std::to_string(taken) + " of " +
                             std::to_string(needed) + " clusters";
        }
    } else {
        // The chain is gone: the free clusters from the first one on. A cluster the FAT gives to
        // another file cannot hold this file's data any more.
        layout.bestEffort = true;
        for (std::uint64_t c = firstCluster; c < clusterEnd && taken < needed; ++c) {
            const auto e = chains.entry(static_cast<std::uint32_t>(c));
            if (e && *e != 0) continue;
            appendCluster(layout, ClusterToSector(params, c), clusterBytes);
            ++taken;
        }
        layout.problem = "deleted file: its content is read from the free clusters after its first one";
        if (taken < needed) layout.problem += "; the volume ends before its size";
    }
    cutToSize(layout, size);
    return layout;
}

FileLayout FatGuessLayout(const FatVolumeParams& params, const FatGuess& guess, std::uint64_t size) {
    FileLayout layout;
    layout.size = size;
    layout.bestEffort = true;
    layout.problem = "deleted file: its clusters are a guess from the free clusters after its first one";
    const std::uint64_t clusterBytes = params.SPC * kSectorSize;
    for (const std::uint32_t c : guess.clusters) appendCluster(layout, ClusterToSector(params, c), clusterBytes);
    if (guess.clusters.size() * clusterBytes < size) layout.problem += "; the volume ends before its size";
    cutToSize(layout, size);
    return layout;
}

}  // namespace quorlan
