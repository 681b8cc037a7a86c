// The volume record that both file systems' searches fill and read, the file-system type and the
// search mode.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace quorlan {

enum class FileSystemType { Unknown, Fat12, Fat16, Fat32, Ntfs };

// "FAT12", "FAT16", "FAT32", "NTFS", or "" for Unknown: the texts of the record tables, the
// listings and the recovery log.
[[nodiscard]] std::string_view FileSystemTypeText(FileSystemType type);
// The type a text names exactly; Unknown for any other text.
[[nodiscard]] FileSystemType FileSystemTypeFromText(std::string_view text);

// FAT12 (the floppy) is searched, listed and saved like FAT16; only its FAT entries differ.
[[nodiscard]] constexpr bool IsFatType(FileSystemType type) {
    return type == FileSystemType::Fat12 || type == FileSystemType::Fat16 || type == FileSystemType::Fat32;
}

enum class SearchMode : std::uint8_t { Standard = 1, Advance = 2 };

// "Standard Search" or "Advance Search".
[[nodiscard]] std::string_view SearchModeText(SearchMode mode);
// The mode a stored number names; empty for any other number.
[[nodiscard]] std::optional<SearchMode> SearchModeFromNumber(std::uint8_t number);

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
    FileSystemType PartType = FileSystemType::Unknown;
    std::uint64_t MftSector = 0;
    std::uint64_t MftMirrorSector = 0;
    std::uint64_t RecordSize = 0;       // sectors per file record
    std::uint64_t IndexBufferSize = 0;  // sectors per index buffer

    [[nodiscard]] bool isFat12() const { return PartType == FileSystemType::Fat12; }
    [[nodiscard]] bool isFat32() const { return PartType == FileSystemType::Fat32; }
    [[nodiscard]] bool isFat() const { return IsFatType(PartType); }
    [[nodiscard]] bool isNtfs() const { return PartType == FileSystemType::Ntfs; }
    // Entries in one FAT copy: the number of clusters the FAT can describe. FAT12 packs two
    // 12-bit entries into three bytes and numbers at most 4096 clusters.
    [[nodiscard]] std::uint64_t fatEntries() const {
        if (isFat12()) return SPF >= 12 ? 4096 : SPF * 1024 / 3;
        return SPF * (isFat32() ? 128 : 256);
    }
};

// The first sector of cluster c.
[[nodiscard]] inline std::uint64_t ClusterToSector(const FatVolumeParams& p, std::uint64_t c) {
    return p.Cluster0Start + c * p.SPC;
}

}  // namespace quorlan
