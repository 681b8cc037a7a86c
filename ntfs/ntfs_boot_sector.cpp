#include "ntfs/ntfs_boot_sector.h"

#include <bit>

namespace quorlan {

bool IsNtfsBootSector(ByteView sector) {
    if (sector.u8(510) != 0x55 || sector.u8(511) != 0xAA) return false;
    if (!sector.matches(kNtfsOemId, "NTFS    ")) return false;
    if (sector.u16le(11) != 512) return false;  // bytes per sector
    const auto spc = sector.u8(13).value_or(0);  // sectors per cluster
    return spc != 0 && std::has_single_bit(spc);
}

}  // namespace quorlan
