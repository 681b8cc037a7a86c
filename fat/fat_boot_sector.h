// Recognising FAT boot sectors by their markers and BIOS parameter block.
#pragma once

#include <cstdint>
#include <optional>

#include "core/bytes.h"

namespace quorlan {

enum class FatKind { Fat16, Fat32 };

// Offsets in a FAT boot sector.
inline constexpr std::size_t kBpbBytesPerSector = 11;     // u16
inline constexpr std::size_t kBpbSectorsPerCluster = 13;  // u8
inline constexpr std::size_t kBpbReservedSectors = 14;    // u16
inline constexpr std::size_t kBpbNumberOfFats = 16;       // u8
inline constexpr std::size_t kFat16TypeText = 54;         // "FAT16   " (FAT12/16 extended BPB)
inline constexpr std::size_t kFat32TypeText = 82;         // "FAT32   " (FAT32 extended BPB)

// True when the sector is a plausible FAT16 or FAT32 boot sector (volume start of an
// unpartitioned stick): 0x55 0xAA, an x86 jump, 512 bytes per sector, a power-of-two cluster
// size, one or two FATs, at least one reserved sector and the type text.
[[nodiscard]] std::optional<FatKind> ClassifyFatBootSector(ByteView sector);

}  // namespace quorlan
