// FAT volume parameters: from the boot sector, or inferred from directory clusters when the boot
// sector is gone; cluster-to-sector mapping and cluster-chain following.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/run_context.h"
#include "core/sector_reader.h"
#include "items/volume.h"

namespace quorlan {

// Reads the boot sector at partitionStart (with FAT32, its backup at +6 when needed) and checks
// that the second FAT begins with the media byte 0xF8. Empty when the volume is not usable.
[[nodiscard]] std::optional<FatVolumeParams> ReadFatBootSector(SectorReader& reader, std::uint64_t partitionStart,
                                                               FileSystemType type);

// Works the parameters out from the positions of folders' first clusters, for a volume whose
// boot sector is damaged. Scans start <= sector < end; empty when no pair of folders fits.
// Reports progress; a stop request ends it early (empty).
[[nodiscard]] std::optional<FatVolumeParams> InferFatParams(SectorReader& reader, std::uint64_t start,
                                                            std::uint64_t end, FileSystemType type,
                                                            const RunContext& context);

// Follows cluster chains in FAT copy 1, with a small cache of FAT sectors.
class ClusterChainReader {
public:
    ClusterChainReader(SectorReader& reader, const FatVolumeParams& params) : m_reader(reader), m_params(params) {}

    // The cluster numbers of the chain that starts at firstCluster, firstCluster included. Ends
    // at a free, bad-cluster or end-of-chain entry, at an unreadable FAT sector, at a FAT sector index at or
    // beyond SPF, at a cluster already in the chain, and after as many clusters as the FAT has
    // entries. Empty for a volume that is not FAT12, FAT16 or FAT32.
    [[nodiscard]] std::vector<std::uint32_t> FollowClusterChain(std::uint32_t firstCluster);
    // The FAT entry of cluster c, or empty when its sector cannot be read.
    [[nodiscard]] std::optional<std::uint32_t> entry(std::uint32_t c);

    // Serves the entries of clusters 0 .. entries.size() - 1 from a FAT copy already read whole
    // (entries[c] as the FAT holds it) instead of reading FAT sectors; the caller keeps entries
    // alive while this reader is used. Clusters beyond it are read from the disk as before.
    void UseLoadedFat(std::span<const std::uint32_t> entries) { m_loaded = entries; }

private:
    static constexpr std::uint32_t kBlockSectors = 64;  // FAT sectors per cache block
    static constexpr std::size_t kBlocks = 16;
    struct Block {
        std::uint64_t index = ~0ull;  // FAT block number
        std::vector<std::byte> bytes;
        std::vector<bool> readable;  // per sector
    };
    const Block* load(std::uint64_t fatSector);
    // The byte at offset in FAT copy 1, or empty when its sector cannot be read.
    [[nodiscard]] std::optional<std::uint8_t> fatByte(std::uint64_t offset);

    SectorReader& m_reader;
    const FatVolumeParams& m_params;
    std::array<Block, kBlocks> m_cache;
    std::span<const std::uint32_t> m_loaded;
};

}  // namespace quorlan
