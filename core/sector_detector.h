// The extension point of the one pass over a disk that an Advance Search makes: detectors that
// look at single sectors (with the sectors that follow them) and record what they recognise.
//
// A detector names the two leading bytes of the structures it recognises (". " for a FAT
// directory cluster, "FI" for an NTFS FILE record, "IN" for an INDX buffer, ...) and whether it
// wants the sectors that end in the boot signature 0x55 0xAA (boot sectors). The pass tests each
// sector once against the union of what its detectors named and hands a matching sector only to
// the detectors that named it; every other sector costs one table look-up. A detector checks the
// rest of its structure itself and records what it finds in tables of its own file system.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "core/bytes.h"
#include "core/run_context.h"

namespace quorlan {

// The most sectors after the one it examines that a detector can see: 64 KiB, the longest INDX
// buffer (a 4 KiB FILE record needs 7, a FAT boot sector or directory sector none).
inline constexpr std::uint32_t kDetectorLookAheadSectors = 128;

// One sector of the pass as a detector sees it.
struct ScannedSector {
    std::uint64_t number = 0;  // absolute sector number on the disk
    // The sector at bytes 0 to 511, followed by the sectors after it on the disk: at least
    // sectorsWanted() - 1 of them (by default kDetectorLookAheadSectors), zeros past the end of the
    // disk. A structure that begins in this sector can be read whole from here, also when it
    // crosses the end of the pass's chunk or of the search range. Valid during the call only.
    ByteView bytes;
};

// The two leading bytes of a sector (bytes 0 and 1).
using LeadingBytes = std::array<std::uint8_t, 2>;

class SectorDetector {
public:
    virtual ~SectorDetector() = default;
    // The leading bytes of the sectors this detector looks at (besides boot sectors).
    [[nodiscard]] virtual std::vector<LeadingBytes> leadingBytes() const = 0;
    // Whether it looks at the sectors whose bytes 510 and 511 are 0x55 0xAA.
    [[nodiscard]] virtual bool wantsBootSignature() const = 0;
    // A sector that begins with one of its leading byte pairs, or (when it wants them) ends in
    // 0x55 0xAA. Called in disk order, once per sector, from the thread that runs the pass.
    virtual void examine(const ScannedSector& sector) = 0;
    // How many sectors, from the one examined on, the detector reads at most (1 to
    // 1 + kDetectorLookAheadSectors). The pass hands a sector near the end of a chunk over only
    // once it holds that many: the fewer, the less it copies.
    [[nodiscard]] virtual std::uint32_t sectorsWanted() const { return 1 + kDetectorLookAheadSectors; }
};

// The counters of one pass, shared by its detectors (a FAT and an NTFS boot sector both count as
// a boot sector found): each change is reported through the observer at once.
class ScanCounters {
public:
    explicit ScanCounters(SearchObserver& observer) : m_observer(observer) {}

    void add(Counter which, std::uint64_t n = 1) {
        std::uint64_t& value = m_values[static_cast<std::size_t>(which)];
        value += n;
        m_observer.counter(which, value);
    }
    // Reports every counter as it stands (0 at the start of a pass).
    void show() {
        for (const Counter c : {Counter::FoldersFound, Counter::BootSectorsFound, Counter::RecordsFound}) {
            m_observer.counter(c, value(c));
        }
    }
    [[nodiscard]] std::uint64_t value(Counter which) const { return m_values[static_cast<std::size_t>(which)]; }

private:
    SearchObserver& m_observer;
    std::array<std::uint64_t, 3> m_values{};
};

}  // namespace quorlan
