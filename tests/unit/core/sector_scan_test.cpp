// The chunked scan loop: order and coverage, look-ahead, unreadable sectors, stopping, and that no
// read-ahead thread outlives a scan.
#include "core/sector_scan.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <thread>

namespace quorlan {
namespace {

// Every sector holds its own number in each of its 64 eight-byte words, plus one (never zero).
std::uint64_t word(std::uint64_t sector) { return sector + 1; }

std::vector<std::byte> numberedDisk(std::uint64_t sectors) {
    std::vector<std::byte> bytes(sectors * kSectorSize);
    for (std::uint64_t s = 0; s < sectors; ++s) {
        const std::uint64_t w = word(s);
        for (std::size_t i = 0; i < kSectorSize; i += 8) std::memcpy(bytes.data() + s * kSectorSize + i, &w, 8);
    }
    return bytes;
}

// The number a sector of the view holds: its own, or 0 for a sector of zeros; -1 for anything else.
std::int64_t sectorWord(std::span<const std::byte> bytes, std::size_t i) {
    std::uint64_t first = 0;
    std::memcpy(&first, bytes.data() + i * kSectorSize, 8);
    for (std::size_t o = 8; o < kSectorSize; o += 8) {
        std::uint64_t w = 0;
        std::memcpy(&w, bytes.data() + i * kSectorSize + o, 8);
        if (w != first) return -1;
    }
    return static_cast<std::int64_t>(first);
}

// A numbered disk that counts, per sector, how often it was read, and the requests in flight.
class CountingSource final : public SectorSource {
public:
    explicit CountingSource(std::uint64_t sectors, std::chrono::microseconds delay = {})
        : m_inner(numberedDisk(sectors)), m_reads(sectors, 0), m_delay(delay) {}
    std::int64_t readAt(std::uint64_t offset, std::span<std::byte> buffer) override {
        ++m_inFlight;
        ++m_requests;
        if (m_delay.count() > 0) std::this_thread::sleep_for(m_delay);
        const std::int64_t n = m_inner.readAt(offset, buffer);
        for (std::int64_t b = 0; b < n; b += static_cast<std::int64_t>(kSectorSize)) {
            ++m_reads[(offset + static_cast<std::uint64_t>(b)) / kSectorSize];
        }
        --m_inFlight;
        return n;
    }
    std::uint64_t sizeBytes() const override { return m_inner.sizeBytes(); }

    MemorySectorSource m_inner;
    std::vector<int> m_reads;  // touched by one reading thread at a time
    std::chrono::microseconds m_delay;
    std::atomic<int> m_inFlight{0};
    std::atomic<std::uint64_t> m_requests{0};
};

// Threads of this process: a read-ahead thread left running would show here.
std::size_t threadCount() {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) ++n;
    return n;
}

// Records setDone values.
class ProgressLog final : public SearchObserver {
public:
    void beginPhase(std::string_view, std::uint64_t) override {}
    void setDone(std::uint64_t done) override { values.push_back(done); }
    void status(std::string_view) override {}
    void counter(Counter, std::uint64_t) override {}
    std::vector<std::uint64_t> values;
};

TEST(ScanSectors, VisitsEverySectorOnceInOrderWithItsLookAhead) {
    struct Case {
        std::uint64_t disk, start, end;
        std::uint32_t chunk, lookAhead;
    } cases[] = {
        {64, 0, 64, 16, 0},    // whole chunks, the whole disk
        {64, 0, 64, 16, 4},    // the last chunk's look-ahead lies past the disk: zeros
        {100, 3, 61, 16, 8},   // a short last chunk; its look-ahead is the disk beyond the range
        {100, 0, 65, 16, 8},   // a last chunk of one sector, shorter than the look-ahead
        {100, 10, 30, 64, 3},  // one chunk larger than the range
        {100, 5, 25, 1, 1},    // chunks of one sector
        {50, 40, 70, 8, 4},    // the range runs past the disk: zeros, never read
        {50, 60, 75, 4, 2},    // the range lies wholly past the disk
        {64, 0, 64, 8, 20},    // a look-ahead longer than a chunk is cut to one chunk
        {64, 5, 21, 0, 0},     // a chunk size of 0 is taken as 1
        {64, 20, 20, 8, 2},    // an empty range
        {64, 30, 20, 8, 2},    // an end before the start
    };
    for (const Case& c : cases) {
        for (const bool readAhead : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "disk " << c.disk << " range " << c.start << "-" << c.end
                                              << " chunk " << c.chunk << " look-ahead " << c.lookAhead
                                              << (readAhead ? " read-ahead" : " in line"));
            auto owned = std::make_unique<CountingSource>(c.disk);
            CountingSource& source = *owned;
            SectorReader reader(std::move(owned));
            ProgressLog progress;
            const std::uint32_t chunk = std::max<std::uint32_t>(c.chunk, 1);
            const std::uint32_t lookAhead = std::min(c.lookAhead, chunk);
            std::uint64_t next = c.start;
            const ScanOptions options{c.chunk, c.lookAhead, readAhead, c.start};
            const RunContext context{progress, {}};
            const ScanSummary summary = ScanSectors(reader, c.start, c.end, options, context, [&](const ScanChunk& v) {
                EXPECT_EQ(v.firstSector, next);
                EXPECT_EQ(v.sectorCount, std::min<std::uint64_t>(chunk, c.end - v.firstSector));
                EXPECT_EQ(v.bytes.size(), (v.sectorCount + lookAhead) * kSectorSize);
                EXPECT_EQ(v.unreadableSectors, 0u);
                for (std::size_t i = 0; i < v.bytes.size() / kSectorSize; ++i) {
                    const std::uint64_t sector = v.firstSector + i;
                    const std::int64_t expected = sector < c.disk ? static_cast<std::int64_t>(word(sector)) : 0;
                    EXPECT_EQ(sectorWord(v.bytes, i), expected) << "sector " << sector;
                }
                next = v.firstSector + v.sectorCount;
                return ScanStep::Continue;
            });
            EXPECT_EQ(summary.end, ScanEnd::Finished);
            EXPECT_EQ(next, std::max(c.start, c.end)) << "every sector of the range visited";
            EXPECT_EQ(summary.nextSector, next);
            EXPECT_EQ(summary.unreadableSectors, 0u);
            // Each sector of the range the disk holds is read once, and so is each look-ahead
            // sector past the range; nothing else is read.
            for (std::uint64_t s = 0; s < c.disk; ++s) {
                const bool inRange = s >= c.start && s < c.end;
                const bool pastRange = c.end > c.start && s >= c.end && s < c.end + lookAhead;
                EXPECT_EQ(source.m_reads[s], inRange || pastRange ? 1 : 0) << "reads of sector " << s;
            }
            ASSERT_FALSE(progress.values.empty());
            EXPECT_TRUE(std::is_sorted(progress.values.begin(), progress.values.end()));
            EXPECT_EQ(progress.values.back(), c.end > c.start ? c.end - c.start : 0);
        }
    }
}

TEST(ScanSectors, UnreadableSectorsComeAsZerosAndAreCountedOnce) {
    struct Case {
        std::set<std::uint64_t> bad;
        std::uint64_t end;
        std::vector<std::uint32_t> perChunk;  // unreadable sectors each chunk reports
        std::uint64_t inRange;                // of the range, in the summary
        std::uint64_t requests;
    } cases[] = {
        // 17 and 18 also lie in chunk 0's look-ahead. Reads are shifted by the look-ahead: 0-19
        // (fails: 20 single reads), 20-35, 36-51 (fails: 16 single reads), 52-63.
        {{3, 17, 18, 40}, 64, {1, 2, 1, 0}, 4, 4 + 20 + 16},
        // The range ends at 34: sector 34, read with chunk 1's look-ahead, lies past the range
        // and is not counted (the reader counts it: it was read and failed).
        {{33, 34}, 34, {0, 0, 1}, 1, 3 + 16},
    };
    for (const Case& c : cases) {
        for (const bool readAhead : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "range end " << c.end << (readAhead ? " read-ahead" : " in line"));
            auto faulty =
                std::make_unique<FaultySectorSource>(std::make_unique<MemorySectorSource>(numberedDisk(64)), c.bad);
            FaultySectorSource& source = *faulty;
            SectorReader reader(std::move(faulty));
            NullObserver quiet;
            std::vector<std::uint32_t> perChunk;
            const ScanSummary summary = ScanSectors(reader, 0, c.end, ScanOptions{16, 4, readAhead, 0},
                                                    RunContext{quiet, {}}, [&](const ScanChunk& v) {
                perChunk.push_back(v.unreadableSectors);
                for (std::size_t i = 0; i < v.bytes.size() / kSectorSize; ++i) {
                    const std::uint64_t sector = v.firstSector + i;
                    const std::int64_t expected =
                        c.bad.contains(sector) || sector >= 64 ? 0 : static_cast<std::int64_t>(word(sector));
                    EXPECT_EQ(sectorWord(v.bytes, i), expected) << "sector " << sector;
                }
                return ScanStep::Continue;
            });
            EXPECT_EQ(perChunk, c.perChunk);
            EXPECT_EQ(summary.unreadableSectors, c.inRange);
            EXPECT_EQ(reader.unreadableSectors(), c.bad.size()) << "no sector is read, or counted, twice";
            EXPECT_EQ(source.requests(), c.requests);
        }
    }
}

TEST(ScanSectors, StopsWithinOneChunkAndLeavesNoThreadBehind) {
    const std::size_t threadsBefore = threadCount();
    for (const bool readAhead : {false, true}) {
        SCOPED_TRACE(readAhead ? "read-ahead" : "in line");
        // Slow reads, so that the read-ahead thread is busy when the stop comes.
        auto owned = std::make_unique<CountingSource>(4096, std::chrono::microseconds(500));
        CountingSource& source = *owned;
        auto reader = std::make_unique<SectorReader>(std::move(owned));
        NullObserver quiet;
        std::stop_source stop;
        int visited = 0;
        const ScanSummary summary = ScanSectors(*reader, 0, 4096, ScanOptions{8, 4, readAhead, 0},
                                                RunContext{quiet, stop.get_token()}, [&](const ScanChunk&) {
                                                    if (++visited == 3) stop.request_stop();
                                                    return ScanStep::Continue;
                                                });
        EXPECT_EQ(summary.end, ScanEnd::Stopped);
        EXPECT_EQ(visited, 3) << "no chunk is visited after the stop";
        EXPECT_EQ(summary.nextSector, 24u);
        EXPECT_EQ(source.m_inFlight.load(), 0) << "no read runs on after the scan returned";
        const std::uint64_t requests = source.m_requests.load();
        EXPECT_LE(requests, 3u + 2u) << "the read-ahead stays within its two buffers";
        EXPECT_EQ(threadCount(), threadsBefore);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(source.m_requests.load(), requests);
        reader.reset();  // a thread still reading would now read a freed source (the sanitizer sees it)
    }
    EXPECT_EQ(threadCount(), threadsBefore);
}

TEST(ScanSectors, AVisitorThatStopsOrThrowsEndsTheScanAndItsThread) {
    const std::size_t threadsBefore = threadCount();
    for (const bool readAhead : {false, true}) {
        SCOPED_TRACE(readAhead ? "read-ahead" : "in line");
        SectorReader reader(std::make_unique<CountingSource>(1024, std::chrono::microseconds(200)));
        NullObserver quiet;
        int visited = 0;
        const RunContext context{quiet, {}};
        const ScanSummary summary =
            ScanSectors(reader, 0, 1024, ScanOptions{16, 0, readAhead, 0}, context, [&](const ScanChunk&) {
                return ++visited == 2 ? ScanStep::Stop : ScanStep::Continue;
            });
        EXPECT_EQ(summary.end, ScanEnd::VisitorStopped);
        EXPECT_EQ(summary.nextSector, 32u);
        EXPECT_EQ(visited, 2);
        EXPECT_EQ(threadCount(), threadsBefore);

        visited = 0;
        EXPECT_THROW((void)ScanSectors(reader, 0, 1024, ScanOptions{16, 8, readAhead, 0}, context,
                                       [&](const ScanChunk&) -> ScanStep {
                                           if (++visited == 3) throw std::runtime_error("visitor failed");
                                           return ScanStep::Continue;
                                       }),
                     std::runtime_error);
        EXPECT_EQ(visited, 3);
        EXPECT_EQ(threadCount(), threadsBefore);
    }
}

TEST(ScanSectors, ASourceThatThrowsReachesTheCaller) {
    // A source that fails with an exception (not a read error) at sector 100: the exception
    // reaches the caller of the scan, from the read-ahead thread as well.
    class Throwing final : public SectorSource {
    public:
        std::int64_t readAt(std::uint64_t offset, std::span<std::byte> buffer) override {
            if (offset <= 100 * kSectorSize && offset + buffer.size() > 100 * kSectorSize) {
                throw std::runtime_error("source failed");
            }
            return inner.readAt(offset, buffer);
        }
        std::uint64_t sizeBytes() const override { return inner.sizeBytes(); }
        MemorySectorSource inner{numberedDisk(256)};
    };
    const std::size_t threadsBefore = threadCount();
    for (const bool readAhead : {false, true}) {
        SectorReader reader(std::make_unique<Throwing>());
        NullObserver quiet;
        std::uint64_t next = 0;
        EXPECT_THROW((void)ScanSectors(reader, 0, 256, ScanOptions{16, 0, readAhead, 0}, RunContext{quiet, {}},
                                       [&](const ScanChunk& v) {
                                           next = v.firstSector + v.sectorCount;
                                           return ScanStep::Continue;
                                       }),
                     std::runtime_error);
        EXPECT_EQ(next, 96u) << "the chunks before the failing one were visited";
        EXPECT_EQ(threadCount(), threadsBefore);
    }
}

TEST(SectorWindow, ServesRisingLookUpsFromOneReadAndRefusesRunsOffTheDisk) {
    auto faulty = std::make_unique<FaultySectorSource>(std::make_unique<MemorySectorSource>(numberedDisk(100)),
                                                       std::set<std::uint64_t>{12});
    FaultySectorSource& source = *faulty;
    SectorReader reader(std::move(faulty));
    SectorWindow window(reader, 8);

    auto run = window.sectors(4, 2);
    ASSERT_EQ(run.size(), 2 * kSectorSize);
    EXPECT_EQ(sectorWord(run, 0), static_cast<std::int64_t>(word(4)));
    EXPECT_EQ(source.requests(), 1u);
    // Sectors 4 to 11 are in the window: no further read.
    EXPECT_EQ(sectorWord(window.sectors(6, 2), 1), static_cast<std::int64_t>(word(7)));
    EXPECT_EQ(sectorWord(window.sectors(10, 2), 0), static_cast<std::int64_t>(word(10)));
    EXPECT_EQ(source.requests(), 1u);
    // A run that crosses the window's end starts a new window at the run: 11 to 18, sector 12
    // unreadable (zeros), the others read one by one.
    run = window.sectors(11, 2);
    EXPECT_EQ(sectorWord(run, 0), static_cast<std::int64_t>(word(11)));
    EXPECT_EQ(sectorWord(run, 1), 0);
    EXPECT_EQ(source.requests(), 2u + 8u);
    EXPECT_EQ(reader.unreadableSectors(), 1u);
    // Going back reads again; the window near the end of the disk is shorter.
    EXPECT_EQ(sectorWord(window.sectors(97, 3), 2), static_cast<std::int64_t>(word(99)));
    EXPECT_EQ(sectorWord(window.sectors(2, 1), 0), static_cast<std::int64_t>(word(2)));

    EXPECT_TRUE(window.sectors(99, 2).empty()) << "runs past the end of the disk";
    EXPECT_TRUE(window.sectors(100, 1).empty());
    EXPECT_TRUE(window.sectors(~0ull, 1).empty());
    EXPECT_TRUE(window.sectors(0, 9).empty()) << "longer than the window";
    EXPECT_TRUE(window.sectors(0, 0).empty());
}

}  // namespace
}  // namespace quorlan
