// The one pass of an Advance Search: which sectors reach which detector, what each sees after its
// sector, and how a stop and unreadable sectors end up.
#include "search/advance_scan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <set>
#include <stop_token>
#include <string>

#include "tests/support/disk_builder.h"

namespace quorlan {
namespace {

using test::DiskBuilder;

// Records every sector it is handed, with the sector number it finds 127 sectors further on
// (each marked sector of the disks below holds its number at byte 8).
class Recorder final : public SectorDetector {
public:
    Recorder(std::vector<LeadingBytes> leads, bool boot) : m_leads(std::move(leads)), m_boot(boot) {}
    std::vector<LeadingBytes> leadingBytes() const override { return m_leads; }
    bool wantsBootSignature() const override { return m_boot; }
    void examine(const ScannedSector& s) override {
        seen.push_back(s.number);
        EXPECT_GE(s.bytes.size(), (kAdvanceLookAheadSectors + 1) * kSectorSize) << "sector " << s.number;
        farther.push_back(s.bytes.u64le((kAdvanceLookAheadSectors - 1) * kSectorSize + 8).value_or(~0ull));
        if (onExamine) onExamine(s.number);
    }
    std::vector<std::uint64_t> seen;
    std::vector<std::uint64_t> farther;  // the number held by the sector 127 sectors after each seen one
    std::function<void(std::uint64_t)> onExamine;

private:
    std::vector<LeadingBytes> m_leads;
    bool m_boot;
};

// A disk whose every sector holds its number at byte 8, and some sectors marked: "FILE" records,
// "INDX" buffers and boot signatures.
DiskBuilder markedDisk(std::uint64_t sectors, const std::set<std::uint64_t>& files,
                       const std::set<std::uint64_t>& indx, const std::set<std::uint64_t>& boots) {
    DiskBuilder d(sectors);
    for (std::uint64_t s = 0; s < sectors; ++s) {
        d.u32(s, 8, static_cast<std::uint32_t>(s)).u32(s, 12, 0);
        if (files.count(s) != 0) d.text(s, 0, "FILE");
        if (indx.count(s) != 0) d.text(s, 0, "INDX");
        if (boots.count(s) != 0) d.signature(s);
    }
    return d;
}

TEST(AdvanceScanPass, HandsEachSectorOnceToTheDetectorsThatWantIt) {
    // Chunks are 1024 sectors: 1023 is the last sector of the first chunk, 2047 of the second.
    const std::set<std::uint64_t> files{5, 1023, 1500, 2047, 3060};
    const std::set<std::uint64_t> indx{1024, 2100};
    const std::set<std::uint64_t> boots{0, 1023, 3000};
    const DiskBuilder disk = markedDisk(3100, files, indx, boots);
    auto reader = disk.reader();
    Recorder records({{'F', 'I'}}, false);
    Recorder buffersAndBoots({{'I', 'N'}}, true);
    Recorder nothing({}, false);
    SectorDetector* detectors[] = {&records, &buffersAndBoots, &nothing};
    NullObserver quiet;
    // The range ends before the disk does: sectors 3050 on are never handed over, but a detector
    // still sees them after its sector.
    const ScanSummary summary = RunAdvanceScanPass(*reader, 0, 3050, detectors, RunContext{quiet, {}});
    EXPECT_EQ(summary.end, ScanEnd::Finished);
    EXPECT_EQ(summary.nextSector, 3050u);
    EXPECT_EQ(records.seen, (std::vector<std::uint64_t>{5, 1023, 1500, 2047}));
    EXPECT_EQ(buffersAndBoots.seen, (std::vector<std::uint64_t>{0, 1023, 1024, 2100, 3000}));
    EXPECT_TRUE(nothing.seen.empty());
    // 127 sectors on, across chunk boundaries and the range's end; zeros past the disk's end.
    EXPECT_EQ(records.farther, (std::vector<std::uint64_t>{132, 1150, 1627, 2174}));
    EXPECT_EQ(buffersAndBoots.farther, (std::vector<std::uint64_t>{127, 1150, 1151, 2227, 0}));
}

TEST(AdvanceScanPass, RangeStartsAnywhereAndAStopEndsItWithinOneChunk) {
    // 2647 ends the chunk in which the stop comes: it is still examined, with the sectors after it.
    const std::set<std::uint64_t> files{10, 700, 1800, 2647, 2900, 4000};
    const DiskBuilder disk = markedDisk(5000, files, {}, {});
    auto reader = disk.reader();
    Recorder records({{'F', 'I'}}, false);
    SectorDetector* detectors[] = {&records};
    NullObserver quiet;
    std::stop_source stop;
    records.onExamine = [&](std::uint64_t s) {
        if (s == 1800) stop.request_stop();
    };
    const ScanSummary summary = RunAdvanceScanPass(*reader, 600, 5000, detectors, RunContext{quiet, stop.get_token()});
    EXPECT_EQ(summary.end, ScanEnd::Stopped);
    EXPECT_EQ(records.seen, (std::vector<std::uint64_t>{700, 1800, 2647}));
    EXPECT_EQ(records.farther.back(), 2774u);
    EXPECT_EQ(summary.nextSector, 2648u) << "the chunk holding 1800 (1624 to 2647) is finished, no further one";
}

TEST(AdvanceScanPass, UnreadableSectorsReachTheDetectorsAsZerosAndAreCounted) {
    const DiskBuilder disk = markedDisk(2100, {100, 101, 1500}, {}, {});
    auto reader = std::make_unique<SectorReader>(
        std::make_unique<FaultySectorSource>(disk.source(), std::set<std::uint64_t>{101, 1500, 1501}));
    Recorder records({{'F', 'I'}}, false);
    SectorDetector* detectors[] = {&records};
    NullObserver quiet;
    const ScanSummary summary = RunAdvanceScanPass(*reader, 0, 2100, detectors, RunContext{quiet, {}});
    EXPECT_EQ(records.seen, (std::vector<std::uint64_t>{100}));
    EXPECT_EQ(summary.unreadableSectors, 3u);
}

}  // namespace
}  // namespace quorlan
