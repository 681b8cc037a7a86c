// The one pass over a range of sectors that an Advance Search makes, whatever file systems it looks
// for: every sector is read once, in chunks, and handed to the detectors that want it.
#pragma once

#include <cstdint>
#include <span>

#include "core/run_context.h"
#include "core/sector_detector.h"
#include "core/sector_reader.h"
#include "core/sector_scan.h"

namespace quorlan {

// Sectors read per chunk: 512 KiB.
inline constexpr std::uint32_t kAdvanceScanChunkSectors = 1024;
// Sectors a detector can see after the sector it examines: 64 KiB, the longest INDX buffer (a
// 4 KiB FILE record needs 7 sectors, a FAT boot sector or directory sector none).
inline constexpr std::uint32_t kAdvanceLookAheadSectors = kDetectorLookAheadSectors;

// Visits start <= sector < end once, in disk order, through ScanSectors (chunks of
// kAdvanceScanChunkSectors), and hands each sector to the detectors that want it (see
// SectorDetector), with as many sectors after it as the detector wants (up to
// kAdvanceLookAheadSectors): a sector near a chunk's end waits for the next chunk, or after the
// last one for a read of what follows the range. Each detector sees its sectors in disk order.
// Shows "Sectors  N of END" after each chunk and the sectors done as progress (the caller begins
// the phase). A stop request ends the pass within one chunk; what the detectors recorded stays.
// Unreadable sectors reach the detectors as zeros and are counted in the summary.
[[nodiscard]] ScanSummary RunAdvanceScanPass(SectorReader& reader, std::uint64_t start, std::uint64_t end,
                                             std::span<SectorDetector* const> detectors, const RunContext& context);

}  // namespace quorlan
