// FAT volume parameters: from the boot sector, or inferred from directory clusters when the boot
// sector is gone; cluster-to-sector mapping and cluster-chain following.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/run_context.h"
#include "core/sector_reader.h"

namespace quorlan {

// The parameters of the volume being searched. Sector values are absolute sectors of the disk.
// With NTFS, SPC holds its sectors per cluster and Cluster0Start its start sector, and the four
// NTFS values follow.
struct FatVolumeParams {
    std::uint64_t SPF = 0;             // sectors per FAT
    std::uint64_t SPC = 0;             // sectors per cluster
    std::uint64_t RootSectors = 0;     // FAT16: root-directory sectors; FAT32: 0
    std::uint64_t RootStart = 0;       // FAT16: first root sector; FAT32: the root's first cluster
    std::uint64_t ReserveSectors = 0;  // reserved sectors before the first FAT
    // The sector where cluster 0 would begin: data area start - 2 x SPC. Kept modulo 2^64, so
    // that ClusterToSector is right for every cluster >= 2 even when this "lies" before sector 0.
    std::uint64_t Cluster0Start = 0;
    std::uint64_t firstFAT = 0;
    std::uint64_t secondFAT = 0;
    std::string PartType;  // "FAT16", "FAT32" or "NTFS"
    std::uint64_t MftSector = 0;
    std::uint64_t MftMirrorSector = 0;
    std::uint64_t RecordSize = 0;       // sectors per file record
    std::uint64_t IndexBufferSize = 0;  // sectors per index buffer

    [[nodiscard]] bool isFat32() const { return PartType == "FAT32"; }
    [[nodiscard]] bool isFat() const { return PartType == "FAT16" || PartType == "FAT32"; }
    // Entries in one FAT copy: the number of clusters the FAT can describe.
    [[nodiscard]] std::uint64_t fatEntries() const { return SPF * (isFat32() ? 128 : 256); }
};

// The first sector of cluster c.
[[nodiscard]] inline std::uint64_t ClusterToSector(const FatVolumeParams& p, std::uint64_t c) {
    return p.Cluster0Start + c * p.SPC;
}

// Reads the boot sector at partitionStart (with FAT32, its backup at +6 when needed) and checks
// that the second FAT begins with the media byte 0xF8. Empty when the volume is not usable.
[[nodiscard]] std::optional<FatVolumeParams> ReadFatBootSector(SectorReader& reader, std::uint64_t partitionStart,
                                                               const std::string& partType);

// Works the parameters out from the positions of folders' first clusters, for a volume whose
// boot sector is damaged. Scans start <= sector < end; empty when no pair of folders fits.
// Reports progress; a stop request ends it early (empty).
[[nodiscard]] std::optional<FatVolumeParams> InferFatParams(SectorReader& reader, std::uint64_t start,
                                                            std::uint64_t end, const std::string& partType,
                                                            const RunContext& context);

// Follows cluster chains in FAT copy 1, with a small cache of FAT sectors.
class ClusterChainReader {
public:
    ClusterChainReader(SectorReader& reader, const FatVolumeParams& params) : m_reader(reader), m_params(params) {}

    // The cluster numbers of the chain that starts at firstCluster, firstCluster included. Ends
    // at a free, bad-cluster or end-of-chain entry, at an unreadable FAT sector, at a FAT sector index at or
    // beyond SPF, at a cluster already in the chain, and after as many clusters as the FAT has
    // entries. Empty for a volume that is not FAT16 or FAT32.
    [[nodiscard]] std::vector<std::uint32_t> FollowClusterChain(std::uint32_t firstCluster);
    // The FAT entry of cluster c, or empty when its sector cannot be read.
    [[nodiscard]] std::optional<std::uint32_t> entry(std::uint32_t c);

private:
    static constexpr std::uint32_t kBlockSectors = 64;  // FAT sectors per cache block
    static constexpr std::size_t kBlocks = 16;
    struct Block {
        std::uint64_t index = ~0ull;  // FAT block number
        std::vector<std::byte> bytes;
        std::vector<bool> readable;  // per sector
    };
    const Block* load(std::uint64_t fatSector);

    SectorReader& m_reader;
    const FatVolumeParams& m_params;
    std::array<Block, kBlocks> m_cache;
};

}  // namespace quorlan
