#include "search/advance_scan.h"

#include <algorithm>
#include <bitset>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace quorlan {

namespace {

constexpr std::size_t kTailBytes = std::size_t{kAdvanceLookAheadSectors} * kSectorSize;

// Hands sectors to the detectors that want them. A sector is examined at once when the bytes in
// hand after it cover what its detector reads; one in the last sectors of a chunk that does not
// (a FILE record or INDX buffer may run on into the next chunk) waits, with a copy of the chunk's
// tail, until the next chunk's first sectors are there. So the chunks are read with no look-ahead
// and nothing is copied unless such a sector turns up, and every sector is still read once.
class Dispatch {
public:
    Dispatch(SectorReader& reader, std::span<SectorDetector* const> detectors)
        : m_reader(reader), m_tail(2 * kTailBytes) {
        for (SectorDetector* d : detectors) {
            if (d == nullptr) continue;
            Wanted w{d, d->wantsBootSignature(),
                     std::clamp<std::uint32_t>(d->sectorsWanted(), 1, 1 + kAdvanceLookAheadSectors),
                     std::make_unique<std::bitset<65536>>()};
            for (const LeadingBytes& b : d->leadingBytes()) {
                const std::size_t lead = lead16(b[0], b[1]);
                w.leads->set(lead);
                m_anyLead.set(lead);
            }
            m_anyBoot = m_anyBoot || w.boot;
            m_wanted.push_back(std::move(w));
        }
    }

    // One chunk of the pass: first the sectors of the previous chunk that waited for this one.
    void chunk(const ScanChunk& c) {
        if (!m_waiting.empty()) {
            const std::size_t have = std::min<std::size_t>(kTailBytes, c.bytes.size());
            std::memcpy(m_tail.data() + m_tailBytes, c.bytes.data(), have);
            if (have < kTailBytes) readAfter(c.firstSector + c.sectorCount, m_tailBytes + have);
            examineWaiting();
        }
        const std::size_t count = c.sectorCount;
        for (std::size_t i = 0; i < count; ++i) {
            const std::span<const std::byte> from = c.bytes.subspan(i * kSectorSize);
            const std::byte* s = from.data();
            const std::size_t lead = lead16(std::to_integer<std::uint8_t>(s[0]), std::to_integer<std::uint8_t>(s[1]));
            const bool boot = m_anyBoot && s[510] == std::byte{0x55} && s[511] == std::byte{0xAA};
            // Two byte reads and one bit for a sector that no detector wants.
            if (!boot && !m_anyLead.test(lead)) continue;
            const ScannedSector sector{c.firstSector + i, ByteView(from)};
            for (std::size_t d = 0; d < m_wanted.size(); ++d) {
                const Wanted& w = m_wanted[d];
                if (!((boot && w.boot) || w.leads->test(lead))) continue;
                if (w.sectors <= count - i) {
                    w.detector->examine(sector);
                } else {
                    wait(c, i, d);
                }
            }
        }
    }

    // After the pass: the sectors still waiting see the disk after the last chunk.
    void finish() {
        if (m_waiting.empty()) return;
        readAfter(m_tailFirst + m_tailBytes / kSectorSize, m_tailBytes);
        examineWaiting();
    }

private:
    static std::size_t lead16(std::uint8_t b0, std::uint8_t b1) { return b0 | (std::size_t{b1} << 8); }

    struct Wanted {
        SectorDetector* detector;
        bool boot;
        std::uint32_t sectors;  // what it reads from a sector on
        std::unique_ptr<std::bitset<65536>> leads;
    };
    struct Waiting {
        std::uint64_t sector;
        std::size_t detector;
    };

    // Sector i of chunk c waits for detector d; the first to wait copies the chunk's tail.
    void wait(const ScanChunk& c, std::size_t i, std::size_t d) {
        if (m_waiting.empty()) {
            const std::size_t tail = std::min<std::size_t>(kAdvanceLookAheadSectors, c.sectorCount);
            m_tailFirst = c.firstSector + c.sectorCount - tail;
            m_tailBytes = tail * kSectorSize;
            std::memcpy(m_tail.data(), c.bytes.data() + (c.sectorCount - tail) * kSectorSize, m_tailBytes);
        }
        m_waiting.push_back({c.firstSector + i, d});
    }

    // Fills the tail buffer from byte at on with the sectors from sector on: the disk beyond the
    // pass's range, zeros past its end.
    void readAfter(std::uint64_t sector, std::size_t at) {
        (void)ReadSectorRange(m_reader, sector, (m_tail.size() - at) / kSectorSize,
                              std::span(m_tail).subspan(at));
    }

    void examineWaiting() {
        for (const Waiting& w : m_waiting) {
            const std::size_t offset = static_cast<std::size_t>(w.sector - m_tailFirst) * kSectorSize;
            const std::span<const std::byte> from = std::span<const std::byte>(m_tail).subspan(offset);
            m_wanted[w.detector].detector->examine({w.sector, ByteView(from)});
        }
        m_waiting.clear();
    }

    SectorReader& m_reader;
    std::bitset<65536> m_anyLead;
    bool m_anyBoot = false;
    std::vector<Wanted> m_wanted;
    // The tail of the last chunk (m_tailBytes from sector m_tailFirst), then room for as much of
    // what follows it; and the sectors in it that wait, in disk order.
    std::vector<std::byte> m_tail;
    std::uint64_t m_tailFirst = 0;
    std::size_t m_tailBytes = 0;
    std::vector<Waiting> m_waiting;
};

}  // namespace

ScanSummary RunAdvanceScanPass(SectorReader& reader, std::uint64_t start, std::uint64_t end,
                               std::span<SectorDetector* const> detectors, const RunContext& context) {
    Dispatch dispatch(reader, detectors);
    SearchObserver& observer = context.observer;
    const std::string ofEnd = " of " + std::to_string(end);
    observer.status("Sectors  " + std::to_string(start) + ofEnd);
    const ScanOptions options{.chunkSectors = kAdvanceScanChunkSectors, .progressOrigin = start};
    const ScanSummary summary = ScanSectors(reader, start, end, options, context, [&](const ScanChunk& chunk) {
        dispatch.chunk(chunk);
        observer.status("Sectors  " + std::to_string(chunk.firstSector) + ofEnd);
        return ScanStep::Continue;
    });
    dispatch.finish();
    return summary;
}

}  // namespace quorlan
