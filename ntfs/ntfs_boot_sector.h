// Recognising NTFS boot sectors and deriving the volume parameters from either copy.
#pragma once

#include <cstdint>
#include <optional>

#include "core/bytes.h"
#include "core/sector_reader.h"

namespace quorlan {

inline constexpr std::size_t kNtfsOemId = 3;  // "NTFS    "

// True when the sector is a plausible NTFS boot sector: 0x55 0xAA, the OEM id "NTFS    ",
// 512 bytes per sector and a power-of-two cluster size.
[[nodiscard]] bool IsNtfsBootSector(ByteView sector);

struct NtfsVolumeParams {
    std::uint64_t volumeStart = 0;
    std::uint64_t sectorsPerCluster = 0;
    std::uint64_t mftSector = 0;        // sector of MFT record 0; 0 when not confirmed
    std::uint64_t mirrorSector = 0;     // sector of the mirror's record 0; 0 when not confirmed
    std::uint64_t recordSectors = 0;    // sectors per file record
    std::uint64_t indexBufferSectors = 0;
};

// Checks the boot sector at volumeStart, switching to the copy in the partition's last sector
// (volumeEnd - 1, volumeEnd being the first sector after the partition) whenever a check fails,
// and confirms the $MFT and its mirror by their "FILE" markers. Empty when nothing fits.
[[nodiscard]] std::optional<NtfsVolumeParams> ValidateNtfsBootSector(SectorReader& reader, std::uint64_t volumeStart,
                                                                     std::uint64_t volumeEnd);

}  // namespace quorlan
