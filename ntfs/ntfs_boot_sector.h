// Recognising NTFS boot sectors.
#pragma once

#include "core/bytes.h"

namespace quorlan {

inline constexpr std::size_t kNtfsOemId = 3;  // "NTFS    "

// True when the sector is a plausible NTFS boot sector: 0x55 0xAA, the OEM id "NTFS    ",
// 512 bytes per sector and a power-of-two cluster size.
[[nodiscard]] bool IsNtfsBootSector(ByteView sector);

}  // namespace quorlan
