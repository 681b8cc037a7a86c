// Recognising NTFS boot sectors and deriving the volume parameters from either copy.
#pragma once

#include <cstdint>
#include <optional>

#include "core/bytes.h"
#include "core/sector_reader.h"
#include "items/volume.h"

namespace quorlan {

// Offsets in an NTFS boot sector.
inline constexpr std::size_t kNtfsOemId = 0x03;              // "NTFS    "
inline constexpr std::size_t kNtfsBytesPerSector = 0x0B;     // u16
inline constexpr std::size_t kNtfsSectorsPerCluster = 0x0D;  // u8
inline constexpr std::size_t kNtfsSectorsPerTrack = 0x18;    // u16: geometry the volume was formatted with
inline constexpr std::size_t kNtfsHeads = 0x1A;              // u16: likewise
inline constexpr std::size_t kNtfsHiddenSectors = 0x1C;      // u32: sectors before the volume
inline constexpr std::size_t kNtfsTotalSectors = 0x28;       // u64: the volume's sectors, less the backup
inline constexpr std::size_t kNtfsMftCluster = 0x30;         // u64: cluster of $MFT record 0
inline constexpr std::size_t kNtfsMirrorCluster = 0x38;      // u64: cluster of the $MFTMirr copy
inline constexpr std::size_t kNtfsRecordSize = 0x40;         // i8: clusters per record, or -log2(bytes)
inline constexpr std::size_t kNtfsIndexSize = 0x44;          // i8: clusters per index buffer, likewise
inline constexpr std::size_t kNtfsBootSignature = 510;       // 0x55 0xAA

// True when the sector is a plausible NTFS boot sector: 0x55 0xAA, the OEM id "NTFS    ",
// 512 bytes per sector and a power-of-two cluster size.
[[nodiscard]] bool IsNtfsBootSector(ByteView sector);

// A size field of the boot sector (kNtfsRecordSize, kNtfsIndexSize) in sectors: a positive byte
// counts clusters of spc sectors; a negative one n gives 2^-n bytes (0xF6: 1024). 0 when the
// field makes no sense (below 512 bytes or above 1 MiB).
[[nodiscard]] std::uint64_t NtfsSizeFieldSectors(ByteView boot, std::size_t offset, std::uint64_t spc);

struct NtfsVolumeParams {
    std::uint64_t volumeStart = 0;
    std::uint64_t sectorsPerCluster = 0;
    std::uint64_t mftSector = 0;        // sector of MFT record 0; 0 when not confirmed
    std::uint64_t mirrorSector = 0;     // sector of the mirror's record 0; 0 when not confirmed
    std::uint64_t recordSectors = 0;    // sectors per file record
    std::uint64_t indexBufferSectors = 0;
};

// The working parameters of an NTFS volume, in the record the FAT searches use: the volume start
// in Cluster0Start, its sectors per cluster in SPC, and the four NTFS values.
[[nodiscard]] FatVolumeParams NtfsWorkingParams(const NtfsVolumeParams& ntfs);
// The NTFS values back out of that record.
[[nodiscard]] NtfsVolumeParams NtfsVolumeOf(const FatVolumeParams& params);

// Checks the boot sector at volumeStart, switching to the copy in the partition's last sector
// (volumeEnd - 1, volumeEnd being the first sector after the partition) whenever a check fails,
// and confirms the $MFT and its mirror by their "FILE" markers. Empty when nothing fits.
[[nodiscard]] std::optional<NtfsVolumeParams> ValidateNtfsBootSector(SectorReader& reader, std::uint64_t volumeStart,
                                                                     std::uint64_t volumeEnd);

}  // namespace quorlan
