// How the reader crosses bad areas: what a stretch of unreadable sectors costs in reads, that
// every sector passed over is counted and given as zeros, and that reading resumes at full speed
// after it.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "core/sector_reader.h"
#include "core/sector_scan.h"
#include "tests/support/fault_source.h"

namespace quorlan {
namespace {

using test::FaultInjectingSource;
using test::Faults;
using test::SectorRange;

// A disk of n sectors whose every sector holds its own number + 1 in its first 8 bytes, made up
// on the fly so that a 1 GiB disk costs no memory.
class NumberedSource final : public SectorSource {
public:
    explicit NumberedSource(std::uint64_t sectors) : m_sectors(sectors) {}
    std::int64_t readAt(std::uint64_t offset, std::span<std::byte> buffer) override {
        const std::uint64_t size = m_sectors * kSectorSize;
        if (offset >= size) return 0;
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size - offset));
        std::memset(buffer.data(), 0, n);
        for (std::uint64_t at = offset; at < offset + n; at = (at / kSectorSize + 1) * kSectorSize) {
            if (at % kSectorSize != 0 || at + 8 > offset + n) continue;
            const std::uint64_t value = at / kSectorSize + 1;
            std::memcpy(buffer.data() + (at - offset), &value, 8);
        }
        return static_cast<std::int64_t>(n);
    }
    std::uint64_t sizeBytes() const override { return m_sectors * kSectorSize; }

private:
    std::uint64_t m_sectors;
};

std::uint64_t sectorValue(std::span<const std::byte> bytes, std::size_t i) {
    std::uint64_t v = 0;
    std::memcpy(&v, bytes.data() + i * kSectorSize, 8);
    return v;
}

struct ScanOutcome {
    std::uint64_t requests = 0;
    std::uint64_t unreadable = 0;        // the scan's count
    std::uint64_t readerUnreadable = 0;  // the reader's count
    std::uint64_t firstZero = ~0ull;     // the first and last sectors that came as zeros
    std::uint64_t lastZero = 0;
    std::uint64_t zeros = 0;
};

// Scans a numbered disk of `sectors` with the given bad areas in chunks of chunkSectors, checking
// that every sector arrives either with its number or as zeros.
ScanOutcome scanWithBadAreas(std::uint64_t sectors, std::vector<SectorRange> bad, std::uint32_t chunkSectors) {
    Faults faults;
    faults.unreadable = std::move(bad);
    auto owned = std::make_unique<FaultInjectingSource>(std::make_unique<NumberedSource>(sectors), faults);
    FaultInjectingSource& source = *owned;
    SectorReader reader(std::move(owned));
    NullObserver quiet;
    ScanOutcome out;
    const ScanSummary summary = ScanSectors(
        reader, 0, sectors, ScanOptions{chunkSectors, 0, false, 0}, RunContext{quiet, {}}, [&](const ScanChunk& c) {
            for (std::uint32_t i = 0; i < c.sectorCount; ++i) {
                const std::uint64_t s = c.firstSector + i;
                const std::uint64_t v = sectorValue(c.bytes, i);
                if (v == 0) {
                    out.firstZero = std::min(out.firstZero, s);
                    out.lastZero = std::max(out.lastZero, s);
                    ++out.zeros;
                } else {
                    EXPECT_EQ(v, s + 1) << "sector " << s << " came with another sector's bytes";
                }
            }
            return ScanStep::Continue;
        });
    EXPECT_EQ(summary.end, ScanEnd::Finished);
    out.requests = source.requests();
    out.unreadable = summary.unreadableSectors;
    out.readerUnreadable = reader.unreadableSectors();
    return out;
}

TEST(BadArea, A64MiBUnreadableAreaCostsAFewHundredReads) {
    // 1 GiB disk; 64 MiB (131,072 sectors) unreadable from an odd place or from a chunk
    // boundary, scanned in chunks of
    // 1024 sectors (the Advance scan's) and of 2048 (the scan's default). Asking for every
    // sector would cost 131,072 reads.
    constexpr std::uint64_t kDisk = 2u << 20;
    constexpr SectorRange kBad{1'000'003, 131'072};
    for (const std::uint32_t chunk : {1024u, 2048u}) {
        for (const SectorRange bad : {kBad, SectorRange{1u << 20, kBad.count}}) {
            SCOPED_TRACE(::testing::Message() << "chunks of " << chunk << ", area from " << bad.first);
            const ScanOutcome o = scanWithBadAreas(kDisk, {bad}, chunk);
            // A clean disk costs one request per chunk. The chunk where the area begins is read one
            // sector at a time up to the area (the fallback, leadIn reads); the area itself then
            // costs 64 failures, a few widening skips and about one probe per chunk: under 300
            // reads.
            const std::uint64_t chunks = kDisk / chunk;
            const std::uint64_t leadIn = bad.first % chunk;
            ASSERT_GE(o.requests, chunks);
            EXPECT_LE(o.requests - chunks, leadIn + 300) << "the bad area cost " << (o.requests - chunks) << " reads";
            // Every unreadable sector is counted and comes as zeros; the skip may carry past the
            // area's end by at most one skip width, and never starts before the area.
            EXPECT_EQ(o.firstZero, bad.first);
            EXPECT_GE(o.lastZero, bad.end() - 1);
            EXPECT_LT(o.lastZero, bad.end() + kMaxSkipSectors);
            EXPECT_EQ(o.zeros, o.lastZero - o.firstZero + 1) << "the zeros are one stretch";
            EXPECT_EQ(o.unreadable, o.zeros);
            EXPECT_EQ(o.readerUnreadable, o.zeros);
        }
    }
}

TEST(BadArea, ShortStretchesAreAskedForSectorBySector) {
    // Fewer than kFailuresBeforeSkip failures in a row never start a skip: every readable sector
    // between and after them arrives, at one request per sector of the failed chunk.
    struct Case {
        std::vector<SectorRange> bad;
        std::uint64_t requests;
        std::uint64_t zeros;
    } cases[] = {
        // Five chunk requests, then 64 single reads for each chunk that failed.
        {{{10, 1}, {40, 3}}, 5 + 64, 4},                     // two stretches in chunk 0
        {{{64 + 5, kFailuresBeforeSkip - 1}}, 5 + 128, 63},  // one short of a skip, across chunks 1 and 2
        {{{250, 10}}, 5 + 128, 10},                          // across chunks 3 and 4
    };
    for (const Case& c : cases) {
        const ScanOutcome o = scanWithBadAreas(320, c.bad, 64);
        EXPECT_EQ(o.requests, c.requests);
        EXPECT_EQ(o.zeros, c.zeros);
        EXPECT_EQ(o.unreadable, c.zeros);
    }
}

TEST(BadArea, SkipWidensWhileProbesFailAndReadingResumesInOneRequestAfter) {
    // 64 failures in a row, then skips of 64, 128, 256, ... each followed by one probe, up to
    // kMaxSkipSectors; the first probe that succeeds reads the rest of its run in one request.
    auto owned = std::make_unique<FaultInjectingSource>(std::make_unique<NumberedSource>(20000),
                                                        Faults{{{100, 5000}}, {}, {}, {}, {}});
    FaultInjectingSource& source = *owned;
    SectorReader reader(std::move(owned));
    std::vector<std::byte> buffer(10000 * kSectorSize, std::byte{0xEE});
    EXPECT_EQ(reader.ReadSectors(0, 10000, buffer), 0);
    // Sectors 0-99 one by one, 64 failures (100-163), then probes at 228, 357, 614, 1127,
    // 2152, 4201 (skips of 64 ... 2048) and 6250: that one succeeds and 6251-9999 come in one
    // request. The skip of 2048 from 4202 ran past the area's end (5100) to 6249.
    EXPECT_EQ(source.requests(), 1u + 100 + 64 + 7 + 1);
    EXPECT_EQ(reader.unreadableSectors(), 6250u - 100);
    EXPECT_EQ(sectorValue(buffer, 99), 100u);
    EXPECT_EQ(std::to_integer<int>(buffer[100 * kSectorSize]), 0xEE) << "ReadSectors leaves unread slots alone";
    EXPECT_EQ(std::to_integer<int>(buffer[6249 * kSectorSize]), 0xEE);
    EXPECT_EQ(sectorValue(buffer, 6250), 6251u);
    EXPECT_EQ(sectorValue(buffer, 9999), 10000u);

    // The next run starts where the last ended, outside the bad area: one request again.
    const std::uint64_t before = source.requests();
    EXPECT_EQ(reader.ReadSectorsZeroFilled(10000, 1000, buffer), 0u);
    EXPECT_EQ(source.requests(), before + 1);
}

TEST(BadArea, ARunThatContinuesABadAreaProbesBeforeAskingForTheWholeRun) {
    auto owned = std::make_unique<FaultInjectingSource>(std::make_unique<NumberedSource>(4096),
                                                        Faults{{{0, 3000}}, {}, {}, {}, {}});
    FaultInjectingSource& source = *owned;
    SectorReader reader(std::move(owned));
    std::vector<std::byte> buffer(128 * kSectorSize);
    EXPECT_EQ(reader.ReadSectorsZeroFilled(0, 128, buffer),
              128u);  // 1 + 64 + 1 probe: skip of 64 to the end
    const std::uint64_t first = source.requests();
    EXPECT_EQ(first, 1u + 64 + 0);
    // Each following run of the area costs one probe, not a whole-run request and a probe.
    for (std::uint64_t s = 128; s < 2048; s += 128) EXPECT_EQ(reader.ReadSectorsZeroFilled(s, 128, buffer), 128u);
    EXPECT_EQ(source.requests(), first + 15);
    // A run elsewhere starts afresh: a whole-run request, then 64 failures before a skip.
    EXPECT_EQ(reader.ReadSectorsZeroFilled(2500, 100, buffer), 100u);
    EXPECT_EQ(source.requests(), first + 15 + 1 + 64);
    EXPECT_EQ(reader.unreadableSectors(), 2048u + 100);
}

}  // namespace
}  // namespace quorlan
