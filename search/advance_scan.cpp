#include "search/advance_scan.h"

#include <bitset>
#include <memory>
#include <string>
#include <vector>

namespace quorlan {

namespace {

// Which detectors want which sectors: one bit per leading byte pair for the quick test of each
// sector, and per detector its own pairs.
class Dispatch {
public:
    explicit Dispatch(std::span<SectorDetector* const> detectors) {
        for (SectorDetector* d : detectors) {
            if (d == nullptr) continue;
            Wanted w{d, d->wantsBootSignature(), std::make_unique<std::bitset<65536>>()};
            for (const LeadingBytes& b : d->leadingBytes()) {
                const std::size_t lead = lead16(b[0], b[1]);
                w.leads->set(lead);
                m_anyLead.set(lead);
            }
            m_anyBoot = m_anyBoot || w.boot;
            m_wanted.push_back(std::move(w));
        }
    }

    // The test every sector passes through: two byte reads and one bit, a few more for a sector
    // that ends in 0x55 0xAA. Sectors that no detector wants stop here.
    void offer(std::uint64_t number, std::span<const std::byte> from) const {
        const std::byte* s = from.data();
        const std::size_t lead = lead16(std::to_integer<std::uint8_t>(s[0]), std::to_integer<std::uint8_t>(s[1]));
        const bool boot = m_anyBoot && s[510] == std::byte{0x55} && s[511] == std::byte{0xAA};
        if (!boot && !m_anyLead.test(lead)) return;
        const ScannedSector sector{number, ByteView(from)};
        for (const Wanted& w : m_wanted) {
            if ((boot && w.boot) || w.leads->test(lead)) w.detector->examine(sector);
        }
    }

private:
    static std::size_t lead16(std::uint8_t b0, std::uint8_t b1) { return b0 | (std::size_t{b1} << 8); }

    struct Wanted {
        SectorDetector* detector;
        bool boot;
        std::unique_ptr<std::bitset<65536>> leads;
    };
    std::bitset<65536> m_anyLead;
    bool m_anyBoot = false;
    std::vector<Wanted> m_wanted;
};

}  // namespace

ScanSummary RunAdvanceScanPass(SectorReader& reader, std::uint64_t start, std::uint64_t end,
                               std::span<SectorDetector* const> detectors, const RunContext& context) {
    const Dispatch dispatch(detectors);
    SearchObserver& observer = context.observer;
    const std::string ofEnd = " of " + std::to_string(end);
    observer.status("Sectors  " + std::to_string(start) + ofEnd);
    const ScanOptions options{.chunkSectors = kAdvanceScanChunkSectors,
                              .lookAheadSectors = kAdvanceLookAheadSectors,
                              .progressOrigin = start};
    return ScanSectors(reader, start, end, options, context, [&](const ScanChunk& chunk) {
        // Sector i of the chunk is seen with everything after it in the chunk's buffer: at least
        // the look-ahead.
        for (std::uint32_t i = 0; i < chunk.sectorCount; ++i) {
            dispatch.offer(chunk.firstSector + i, chunk.bytes.subspan(static_cast<std::size_t>(i) * kSectorSize));
        }
        observer.status("Sectors  " + std::to_string(chunk.firstSector) + ofEnd);
        return ScanStep::Continue;
    });
}

}  // namespace quorlan
