#include "fat/fat_boot_sector.h"

#include <bit>

namespace quorlan {

std::optional<FileSystemType> ClassifyFatBootSector(ByteView sector) {
    if (sector.u8(kBootSignature) != 0x55 || sector.u8(kBootSignature + 1) != 0xAA) return std::nullopt;
    const auto jump = sector.u8(kBpbJump);
    if (jump != 0xEB && jump != 0xE9) return std::nullopt;
    if (sector.u16le(kBpbBytesPerSector) != 512) return std::nullopt;
    const auto spc = sector.u8(kBpbSectorsPerCluster).value_or(0);
    if (spc == 0 || !std::has_single_bit(spc)) return std::nullopt;
    if (sector.u16le(kBpbReservedSectors).value_or(0) == 0) return std::nullopt;
    const auto fats = sector.u8(kBpbNumberOfFats).value_or(0);
    if (fats != 1 && fats != 2) return std::nullopt;
    if (sector.matches(kFat32TypeText, "FAT32")) return FileSystemType::Fat32;
    if (sector.matches(kFat16TypeText, "FAT16")) return FileSystemType::Fat16;
    if (sector.matches(kFat16TypeText, "FAT12")) return FileSystemType::Fat12;
    return std::nullopt;
}

}  // namespace quorlan
