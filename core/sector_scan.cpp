// The chunked scan loop: two chunk buffers filled in turn, on a second thread when asked, and
// handed to the visitor one chunk at a time with its look-ahead.
#include "core/sector_scan.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>

namespace quorlan {

std::uint64_t ReadSectorRange(SectorReader& reader, std::uint64_t sector, std::uint64_t count,
                              std::span<std::byte> buffer, std::vector<std::uint64_t>* unreadable) {
    count = std::min<std::uint64_t>(count, buffer.size() / kSectorSize);
    const std::uint64_t disk = reader.totalSectors();
    const std::uint64_t held = sector < disk ? std::min(count, disk - sector) : 0;
    std::uint64_t missed = 0;
    for (std::uint64_t done = 0; done < held;) {
        const auto run = static_cast<std::uint32_t>(std::min<std::uint64_t>(kMaxRunSectors, held - done));
        missed += reader.ReadSectorsZeroFilled(sector + done, run, buffer.subspan(done * kSectorSize), unreadable);
        done += run;
    }
    std::memset(buffer.data() + held * kSectorSize, 0, (count - held) * kSectorSize);
    return missed;
}

SectorWindow::SectorWindow(SectorReader& reader, std::uint32_t windowSectors)
    : m_reader(reader), m_bytes(static_cast<std::size_t>(windowSectors) * kSectorSize) {}

std::span<const std::byte> SectorWindow::sectors(std::uint64_t sector, std::uint32_t count) {
    const std::uint64_t window = m_bytes.size() / kSectorSize;
    const std::uint64_t disk = m_reader.totalSectors();
    if (count == 0 || count > window || sector >= disk || disk - sector < count) return {};
    if (sector < m_start || sector - m_start > m_count || m_count - (sector - m_start) < count) {
        m_start = sector;
        m_count = std::min(window, disk - sector);
        (void)ReadSectorRange(m_reader, m_start, m_count, m_bytes);
    }
    return std::span<const std::byte>(m_bytes).subspan((sector - m_start) * kSectorSize, count * kSectorSize);
}

namespace {

constexpr auto kProgressInterval = std::chrono::milliseconds(100);

// The chunks of a range, numbered from 0, filled into two buffers in turn: chunk k lives in slot
// k % 2 until it is released. Each slot holds its chunk and the look-ahead after it. The reads
// are shifted by the look-ahead: chunk k's first look-ahead sectors were read with chunk k - 1
// (as its look-ahead) and are copied from that slot, so that the read for chunk k starts after
// them and every sector is read once. Filled by the visiting thread on demand, or by a producer
// thread that fills chunk k + 1 while chunk k is visited.
class ChunkRing {
public:
    struct Slot {
        std::vector<std::byte> bytes;  // (chunk + look-ahead) sectors
        std::uint32_t count = 0;       // the chunk's own sectors
        std::uint32_t unreadable = 0;  // of the chunk's own sectors
    };

    ChunkRing(SectorReader& reader, std::uint64_t start, std::uint64_t end, std::uint32_t chunk,
              std::uint32_t lookAhead, bool threaded)
        : m_reader(reader),
          m_start(start),
          m_end(end),
          m_chunk(chunk),
          m_lookAhead(lookAhead),
          m_chunks((end - start) / chunk + ((end - start) % chunk != 0 ? 1 : 0)) {
        for (Slot& s : m_slots) s.bytes.resize((static_cast<std::size_t>(chunk) + lookAhead) * kSectorSize);
        if (threaded && m_chunks > 1) m_producer = std::thread([this] { produce(); });
    }

    ChunkRing(const ChunkRing&) = delete;
    ChunkRing& operator=(const ChunkRing&) = delete;

    ~ChunkRing() {
        if (!m_producer.joinable()) return;
        {
            const std::lock_guard lock(m_mutex);
            m_quit = true;
        }
        m_changed.notify_all();
        m_producer.join();
    }

    [[nodiscard]] std::uint64_t chunks() const { return m_chunks; }
    [[nodiscard]] std::uint64_t firstSector(std::uint64_t k) const { return m_start + k * m_chunk; }

    // Chunk k, filled (waits for the producer, or reads it now); chunks are acquired in order.
    // Rethrows what the producer threw.
    const Slot& acquire(std::uint64_t k) {
        if (!m_producer.joinable()) {
            fill(k);
        } else {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [&] { return m_filled > k || m_failure; });
            if (m_filled <= k) std::rethrow_exception(m_failure);
        }
        return slot(k);
    }

    // Chunk k is no longer needed: its slot may take chunk k + 2.
    void release(std::uint64_t k) {
        if (!m_producer.joinable()) return;
        {
            const std::lock_guard lock(m_mutex);
            m_released = k + 1;
        }
        m_changed.notify_all();
    }

private:
    Slot& slot(std::uint64_t k) { return m_slots[k % m_slots.size()]; }

    // Reads chunk k and its look-ahead into its slot. Chunks are filled in order, by one thread
    // at a time; chunk k - 1's slot is only read, so the visitor may still be reading it.
    void fill(std::uint64_t k) {
        Slot& s = slot(k);
        const std::uint64_t first = firstSector(k);
        s.count = static_cast<std::uint32_t>(std::min<std::uint64_t>(m_chunk, m_end - first));
        std::uint64_t have = 0;
        if (k > 0 && m_lookAhead > 0) {
            // Chunk k - 1 is whole: its look-ahead begins at byte chunk x 512 of its slot.
            std::memcpy(s.bytes.data(), slot(k - 1).bytes.data() + static_cast<std::size_t>(m_chunk) * kSectorSize,
                        static_cast<std::size_t>(m_lookAhead) * kSectorSize);
            have = m_lookAhead;
        }
        const std::uint64_t chunkEnd = first + s.count;
        const std::uint64_t readEnd = chunkEnd + m_lookAhead;
        m_missed.clear();
        (void)ReadSectorRange(m_reader, first + have, readEnd - first - have,
                              std::span(s.bytes).subspan(static_cast<std::size_t>(have) * kSectorSize), &m_missed);
        // Sectors missed in the look-ahead belong to the next chunk (those within the range).
        s.unreadable = m_carried;
        m_carried = 0;
        for (const std::uint64_t sector : m_missed) {
            if (sector < chunkEnd) {
                ++s.unreadable;
            } else if (sector < m_end) {
                ++m_carried;
            }
        }
    }

    void produce() {
        try {
            for (std::uint64_t k = 0; k < m_chunks; ++k) {
                {
                    std::unique_lock lock(m_mutex);
                    m_changed.wait(lock, [&] { return m_quit || k < m_released + m_slots.size(); });
                    if (m_quit) return;
                }
                fill(k);
                {
                    const std::lock_guard lock(m_mutex);
                    m_filled = k + 1;
                }
                m_changed.notify_all();
            }
        } catch (...) {
            {
                const std::lock_guard lock(m_mutex);
                m_failure = std::current_exception();
            }
            m_changed.notify_all();
        }
    }

    SectorReader& m_reader;
    const std::uint64_t m_start;
    const std::uint64_t m_end;
    const std::uint32_t m_chunk;
    const std::uint32_t m_lookAhead;
    const std::uint64_t m_chunks;
    std::array<Slot, 2> m_slots;
    // Kept by whichever thread fills: the sectors a read missed, and how many of the next
    // chunk's first sectors (read as look-ahead) were missed.
    std::vector<std::uint64_t> m_missed;
    std::uint32_t m_carried = 0;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::uint64_t m_filled = 0;    // chunks 0 .. m_filled - 1 are in their slots (or were)
    std::uint64_t m_released = 0;  // chunks 0 .. m_released - 1 are no longer held
    bool m_quit = false;
    std::exception_ptr m_failure;
    std::thread m_producer;  // last: started once everything above is in place
};

}  // namespace

ScanSummary ScanSectors(SectorReader& reader, std::uint64_t start, std::uint64_t end, const ScanOptions& options,
                        const RunContext& context, const ScanVisitor& visit) {
    ScanSummary summary;
    summary.nextSector = start;
    const std::uint32_t chunk = std::clamp<std::uint32_t>(options.chunkSectors, 1, kMaxRunSectors);
    const std::uint32_t lookAhead = std::min(options.lookAheadSectors, chunk);
    SearchObserver& observer = context.observer;
    const auto report = [&](std::uint64_t sector) {
        observer.setDone(sector > options.progressOrigin ? sector - options.progressOrigin : 0);
    };
    if (end <= start) {
        report(end);
        return summary;
    }

    ChunkRing ring(reader, start, end, chunk, lookAhead, options.readAhead);
    auto lastReport = std::chrono::steady_clock::now();
    for (std::uint64_t k = 0; k < ring.chunks(); ++k) {
        if (context.stopRequested()) {
            summary.end = ScanEnd::Stopped;
            break;
        }
        const ChunkRing::Slot& current = ring.acquire(k);
        const ScanChunk view{ring.firstSector(k), current.count,
                             std::span<const std::byte>(current.bytes)
                                 .first((static_cast<std::size_t>(current.count) + lookAhead) * kSectorSize),
                             current.unreadable};
        summary.unreadableSectors += current.unreadable;
        const ScanStep step = visit(view);
        summary.nextSector = view.firstSector + view.sectorCount;
        ring.release(k);
        if (step == ScanStep::Stop) {
            summary.end = ScanEnd::VisitorStopped;
            break;
        }
        if (const auto now = std::chrono::steady_clock::now(); now - lastReport >= kProgressInterval) {
            lastReport = now;
            report(summary.nextSector);
        }
    }
    report(summary.nextSector);
    return summary;
}

}  // namespace quorlan
