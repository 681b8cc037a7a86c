// Recognising FAT boot sectors by their markers and BIOS parameter block.
#pragma once

#include <cstdint>
#include <optional>

#include "core/bytes.h"
#include "items/volume.h"

namespace quorlan {

// Offsets in a FAT boot sector (the BIOS parameter block and the extended blocks after it).
inline constexpr std::size_t kBpbJump = 0;                 // u8: 0xEB or 0xE9, an x86 jump
inline constexpr std::size_t kBpbBytesPerSector = 11;      // u16
inline constexpr std::size_t kBpbSectorsPerCluster = 13;   // u8
inline constexpr std::size_t kBpbReservedSectors = 14;     // u16
inline constexpr std::size_t kBpbNumberOfFats = 16;        // u8
inline constexpr std::size_t kBpbRootEntries = 17;         // u16: FAT12/16 root-directory entries
inline constexpr std::size_t kBpbTotalSectors16 = 19;      // u16: volume sectors when below 65536, else 0
inline constexpr std::size_t kBpbMedia = 21;               // u8: media descriptor, repeated by each FAT's first byte
inline constexpr std::size_t kBpbSectorsPerFat16 = 22;     // u16: FAT12/16 sectors per FAT
inline constexpr std::size_t kBpbSectorsPerTrack = 24;     // u16: geometry the volume was formatted with
inline constexpr std::size_t kBpbHeads = 26;               // u16: likewise
inline constexpr std::size_t kBpbHiddenSectors = 28;       // u32: sectors before the volume
inline constexpr std::size_t kBpbTotalSectors32 = 32;      // u32: volume sectors when the u16 count is 0
inline constexpr std::size_t kBpbSectorsPerFat32 = 36;     // u32: FAT32 sectors per FAT
inline constexpr std::size_t kBpbRootCluster = 44;         // u32: FAT32 root directory's first cluster
inline constexpr std::size_t kBpbBackupBootSector = 50;    // u16: FAT32 sector of the boot-sector copy
inline constexpr std::size_t kFat16TypeText = 54;          // "FAT16   " or "FAT12   " (FAT12/16 extended BPB)
inline constexpr std::size_t kFat32TypeText = 82;          // "FAT32   " (FAT32 extended BPB)
inline constexpr std::size_t kBootSignature = 510;         // 0x55 0xAA
// A FAT32 volume keeps a copy of its boot sector this many sectors after the first.
inline constexpr std::uint64_t kFat32BackupBootSector = 6;
// The first byte of every FAT copy repeats the media descriptor of a fixed disk.
inline constexpr std::byte kMediaFixedDisk{0xF8};
// The media descriptors a FAT12 volume may carry: 0xF0 (the 1.44 MB floppy) and 0xF8 to 0xFF.
[[nodiscard]] constexpr bool IsFat12MediaByte(std::byte b) { return b == std::byte{0xF0} || b >= std::byte{0xF8}; }

// True when the sector is a plausible FAT boot sector (volume start of an unpartitioned stick or
// a floppy): 0x55 0xAA, an x86 jump, 512 bytes per sector, a power-of-two cluster size, one or
// two FATs, at least one reserved sector and the type text.
// Gives Fat32, Fat16 or Fat12 (tested in that order).
[[nodiscard]] std::optional<FileSystemType> ClassifyFatBootSector(ByteView sector);

}  // namespace quorlan
