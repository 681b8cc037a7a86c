#include "disks/lost_partitions.h"

#include <gtest/gtest.h>

#include <random>
#include <stop_token>

#include "tests/support/disk_builder.h"

namespace quorlan {
namespace {

using test::DiskBuilder;

constexpr std::uint64_t kCylinder = 255 * 63;

// A FAT boot sector with its sector count and geometry: the 32-bit count, or for a volume below
// 65536 sectors the 16-bit one (as mkfs.fat and DOS write them).
void fatVolume(DiskBuilder& disk, std::uint64_t at, bool fat32, std::uint32_t sectors, std::uint16_t heads = 255,
               std::uint16_t sectorsPerTrack = 63, std::uint32_t hidden = 0) {
    disk.fatBootSector(at, fat32);
    if (!fat32 && sectors < 65536) {
        disk.u16(at, 19, static_cast<std::uint16_t>(sectors));
    } else {
        disk.u32(at, 32, sectors);
    }
    disk.u16(at, 24, sectorsPerTrack).u16(at, 26, heads).u32(at, 28, hidden == 0 ? static_cast<std::uint32_t>(at) : hidden);
    if (fat32) disk.u16(at, 50, 6);  // the backup boot sector's place
}

// An NTFS boot sector; count leaves out the backup in the partition's last sector.
void ntfsVolume(DiskBuilder& disk, std::uint64_t at, std::uint32_t count) {
    disk.ntfsBootSector(at).u32(at, 0x28, count).u16(at, 0x18, 63).u16(at, 0x1A, 255).u32(at, 0x1C,
                                                                                              static_cast<std::uint32_t>(at));
}

struct Found {
    const char* type;
    std::uint64_t start;
    std::uint64_t end;
    PartitionSource source;
    std::uint64_t evidence;
};

void expectFound(const LostPartitionResult& result, const std::vector<Found>& expected) {
    ASSERT_EQ(result.found.size(), expected.size()) << "found " << result.found.size();
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const PartitionEntry& p = result.found[i];
        EXPECT_EQ(PartitionTypeName(p.type), expected[i].type) << "found " << i;
        EXPECT_EQ(p.start, expected[i].start) << "found " << i;
        EXPECT_EQ(p.end, expected[i].end) << "found " << i;
        EXPECT_EQ(p.source, expected[i].source) << "found " << i;
        EXPECT_EQ(p.evidence, expected[i].evidence) << "found " << i;
    }
}

LostPartitionResult search(SectorReader& reader, const DiskPartitionList& listed = {},
                           LostPartitionRequest request = {}) {
    NullObserver observer;
    return SearchLostPartitions(reader, listed, request, RunContext{observer, {}});
}

TEST(RecogniseBootSector, TypesInOrderAndTheirSizes) {
    const struct {
        const char* what;
        void (*make)(DiskBuilder&);
        const char* type;  // nullptr: not recognised
        std::uint64_t sectors;
    } cases[] = {
        {"FAT32, 32-bit count", [](DiskBuilder& d) { fatVolume(d, 0, true, 80262); }, "FAT32", 80262},
        {"FAT16, 16-bit count", [](DiskBuilder& d) { fatVolume(d, 0, false, 48132); }, "FAT16", 48132},
        {"FAT16, 32-bit count", [](DiskBuilder& d) { fatVolume(d, 0, false, 200000); }, "FAT16", 200000},
        {"NTFS counts its backup sector", [](DiskBuilder& d) { ntfsVolume(d, 0, 79871); }, "NTFS", 79872},
        {"size 0", [](DiskBuilder& d) { d.fatBootSector(0, true); }, nullptr, 0},
        {"NTFS of size 0", [](DiskBuilder& d) { d.ntfsBootSector(0); }, nullptr, 0},
        {"0xAA missing", [](DiskBuilder& d) { fatVolume(d, 0, true, 1000); d.byte(0, 511, 0); }, nullptr, 0},
        {"type text only", [](DiskBuilder& d) { d.text(0, 82, "FAT32   ").signature(0).u32(0, 32, 1000); }, nullptr, 0},
        {"three FATs", [](DiskBuilder& d) { fatVolume(d, 0, true, 1000); d.byte(0, 16, 3); }, nullptr, 0},
        {"NTFS of 2^64 - 1 sectors", [](DiskBuilder& d) { d.ntfsBootSector(0).u32(0, 0x28, ~0u).u32(0, 0x2C, ~0u); },
         nullptr, 0},
    };
    for (const auto& c : cases) {
        DiskBuilder disk(1);
        c.make(disk);
        const auto bytes = disk.bytes();
        const auto boot = RecogniseBootSector(ByteView(bytes));
        ASSERT_EQ(boot.has_value(), c.type != nullptr) << c.what;
        if (!boot) continue;
        EXPECT_EQ(PartitionTypeName(boot->type), c.type) << c.what;
        EXPECT_EQ(boot->sectors, c.sectors) << c.what;
    }
}

TEST(SearchLostPartitions, FindsVolumesWhereCylindersAndTracksBegin) {
    // 12 cylinders of 255 x 63 without a table: FAT32 in cylinder 0's second track, NTFS at
    // cylinder 5's first sector, FAT16 with its count in the 16-bit field at cylinder 7 + 63.
    DiskBuilder disk(12 * kCylinder);
    fatVolume(disk, 63, true, 5 * kCylinder - 63);
    ntfsVolume(disk, 5 * kCylinder, 2 * kCylinder - 1);
    fatVolume(disk, 7 * kCylinder + 63, false, 3 * kCylinder - 63, 255, 63, 63);
    // Not where a partition begins: neither a cylinder's first two tracks nor a 1 MiB boundary.
    fatVolume(disk, 10 * kCylinder + 100, true, 1000);

    const auto result = search(*disk.reader());
    expectFound(result, {{"FAT32", 63, 5 * kCylinder, PartitionSource::BootSector, 63},
                         {"NTFS", 5 * kCylinder, 7 * kCylinder, PartitionSource::BootSector, 5 * kCylinder},
                         {"FAT16", 7 * kCylinder + 63, 10 * kCylinder, PartitionSource::BootSector, 7 * kCylinder + 63}});
    EXPECT_FALSE(result.stopped);
    EXPECT_FALSE(result.limitReached);
}

TEST(SearchLostPartitions, OneMibBoundariesAndTheGeometryOfAVolumeFound) {
    // A stick of today: FAT32 at 2048 and NTFS behind it, neither at a cylinder of 255 x 63.
    {
        DiskBuilder disk(131072);
        fatVolume(disk, 2048, true, 81920, 64, 32);
        ntfsVolume(disk, 83968, 40959);
        expectFound(search(*disk.reader()), {{"FAT32", 2048, 83968, PartitionSource::BootSector, 2048},
                                             {"NTFS", 83968, 124928, PartitionSource::BootSector, 83968}});
    }
    // A disk formatted with 16 heads: the first volume, at 63, says so, and the cylinders of
    // 16 x 63 (1008 sectors) hold the others. Told 255 heads instead, the search misses them.
    for (const std::uint16_t heads : {std::uint16_t{16}, std::uint16_t{255}}) {
        DiskBuilder disk(310 * 1008);
        fatVolume(disk, 63, false, 52353, heads, 63, 63);
        fatVolume(disk, 52 * 1008, false, 52416, 16, 63);
        fatVolume(disk, 208 * 1008 + 63, false, 52353, 16, 63, 63);
        const auto result = search(*disk.reader());
        if (heads == 255) {
            EXPECT_EQ(result.found.size(), 1u);
            continue;
        }
        expectFound(result, {{"FAT16", 63, 52416, PartitionSource::BootSector, 63},
                             {"FAT16", 52416, 104832, PartitionSource::BootSector, 52416},
                             {"FAT16", 209727, 262080, PartitionSource::BootSector, 209727}});
    }
}

TEST(SearchLostPartitions, DiskGeometryOtherThan63SectorsPerTrackIsSearchedAs255x63) {
    DiskBuilder disk(3 * kCylinder);
    fatVolume(disk, kCylinder + 63, true, 10000);
    fatVolume(disk, 2 * 64 * 32 + 32, true, 10000);  // cylinder 2 + one track of 64 x 32
    LostPartitionRequest request;
    request.heads = 64;
    request.sectorsPerTrack = 32;
    expectFound(search(*disk.reader(), {}, request),
                {{"FAT32", kCylinder + 63, kCylinder + 10063, PartitionSource::BootSector, kCylinder + 63}});
    // With 63 sectors per track, the disk's heads are taken.
    DiskBuilder sixteen(100 * 1008);
    fatVolume(sixteen, 50 * 1008 + 63, true, 10000, 255, 63, 63);
    request.heads = 16;
    request.sectorsPerTrack = 63;
    EXPECT_EQ(search(*sixteen.reader(), {}, request).found.size(), 1u);
}

TEST(SearchLostPartitions, WhatTheTableListsIsNotListedTwice) {
    DiskBuilder disk(200000);
    disk.entry(0, 0, 0x0C, 2048, 81920).entry(0, 1, 0x07, 83968, 40960).entry(0, 2, 0x06, 124928, 40000);
    fatVolume(disk, 2048, true, 81920);
    ntfsVolume(disk, 83968, 40959);                   // the table's end: count + the backup sector
    fatVolume(disk, 124928, false, 40000);            // its size in the 16-bit field only
    fatVolume(disk, 165888 - 2048 * 2, true, 2048);   // inside the FAT16 volume, found again
    auto reader = disk.reader();
    const DiskPartitionList listed = ReadPartitionTable(*reader, disk.sectors());
    ASSERT_EQ(listed.partitions.size(), 3u);
    expectFound(search(*reader, listed),
                {{"FAT32", 161792, 163840, PartitionSource::BootSector, 161792}});
}

TEST(SearchLostPartitions, VolumesWhoseFirstBootSectorIsDamagedAreFoundByTheirBackups) {
    DiskBuilder disk(131072);
    // FAT32 at 2048 with its boot sector zeroed: the copy at 2054 names it.
    fatVolume(disk, 2054, true, 40960);
    // NTFS at 43008 to 81920 (a 1 MiB boundary), its first boot sector zeroed: the copy in its
    // last sector names its start.
    ntfsVolume(disk, 81919, 38911);
    // NTFS at 90000, not at a place of its own, ending with the disk: found by its backup, and
    // its first boot sector, which is intact, confirms it.
    ntfsVolume(disk, 90000, 41071);
    ntfsVolume(disk, 131071, 41071);
    expectFound(search(*disk.reader()), {{"FAT32", 2048, 43008, PartitionSource::BackupBootSector, 2054},
                                         {"NTFS", 43008, 81920, PartitionSource::BackupBootSector, 81919},
                                         {"NTFS", 90000, 131072, PartitionSource::BootSector, 90000}});

    // A FAT32 copy whose parameter block puts the backup elsewhere is some other volume's sector.
    DiskBuilder other(131072);
    fatVolume(other, 2054, true, 40960);
    other.u16(2054, 50, 0);
    EXPECT_TRUE(search(*other.reader()).found.empty());
}

TEST(SearchLostPartitions, ExtendedBootRecordsOnTheWayAddTheirPartitions) {
    // The table is gone; the extended partition began at 4096, and its first record lists a
    // partition at record + 63 and, in entry 2, the link to a second record.
    DiskBuilder disk(200000);
    disk.entry(4096, 0, 0x06, 63, 20000).entry(4096, 1, 0x0B, 20063, 20000).entry(4096, 2, 0x05, 50000, 30000);
    disk.entry(54096, 0, 0x0E, 63, 20000);
    fatVolume(disk, 4159, false, 20000);
    fatVolume(disk, 24159, true, 20000);
    // The second record's partition has no boot sector: its table type names it.
    const auto result = search(*disk.reader());
    expectFound(result, {{"FAT16", 4159, 24159, PartitionSource::ExtendedRecord, 4096},
                         {"FAT32", 24159, 44159, PartitionSource::ExtendedRecord, 4096},
                         {"FAT16", 54159, 74159, PartitionSource::ExtendedRecord, 54096}});
    EXPECT_EQ(result.found[2].tableType, 0x0E);

    // A signed sector whose entries run off the disk is no extended record.
    DiskBuilder bogus(200000);
    bogus.entry(4096, 0, 0x06, 63, 300000);
    EXPECT_TRUE(search(*bogus.reader()).found.empty());
}

TEST(SearchLostPartitions, StopsAt26PartitionsAndOnRequest) {
    DiskBuilder disk(40 * 2048 + 2048);
    for (std::uint64_t i = 1; i <= 40; ++i) fatVolume(disk, i * 2048, true, 2048);
    DiskPartitionList listed;
    listed.partitions.push_back({FileSystemType::Fat32, 2048, 4096, 0x0C, true});
    const auto full = search(*disk.reader(), listed);
    EXPECT_TRUE(full.limitReached);
    EXPECT_EQ(full.found.size(), 25u);
    EXPECT_EQ(full.found.back().start, 26u * 2048);

    // A stop between two reads keeps what was found until then.
    class StopAfter final : public NullObserver {
    public:
        StopAfter(std::stop_source& source, std::uint64_t after) : m_source(source), m_after(after) {}
        void setDone(std::uint64_t done) override {
            if (done == m_after) m_source.request_stop();
        }

    private:
        std::stop_source& m_source;
        std::uint64_t m_after;
    };
    std::stop_source source;
    StopAfter observer(source, 8);
    const auto stopped = SearchLostPartitions(*disk.reader(), {}, {}, RunContext{observer, source.get_token()});
    EXPECT_TRUE(stopped.stopped);
    ASSERT_FALSE(stopped.found.empty());
    EXPECT_LT(stopped.found.size(), 8u);
    for (std::size_t i = 0; i < stopped.found.size(); ++i) EXPECT_EQ(stopped.found[i].start, (i + 1) * 2048);
}

TEST(SearchLostPartitions, EmptyAndRandomDisksEndCleanly) {
    DiskBuilder empty(1 << 20);
    const auto none = search(*empty.reader());
    EXPECT_TRUE(none.found.empty());
    EXPECT_FALSE(none.stopped);

    // Random bytes everywhere, and random sectors that carry the signature at the places the
    // search probes: it ends, within its reads, with at most 26 partitions.
    std::mt19937 random(20241210);
    std::vector<std::byte> bytes(8u << 20);
    for (auto& b : bytes) b = static_cast<std::byte>(random());
    SectorReader noise(std::make_unique<MemorySectorSource>(bytes));
    EXPECT_LE(search(noise).found.size(), 26u);

    for (int round = 0; round < 40; ++round) {
        DiskBuilder disk(1 << 18);
        for (int k = 0; k < 300; ++k) {
            const std::uint64_t places[] = {random() % 128 * 2048, random() % 16 * kCylinder + 63,
                                            random() % 128 * 2048 - 1, random() % 128 * 2048 + 6};
            const std::uint64_t at = places[random() % 4] % (1 << 18);
            for (std::size_t i = 0; i < kSectorSize; i += 4) disk.u32(at, i, static_cast<std::uint32_t>(random()));
            const std::uint8_t types[] = {0x05, 0x0F, 0x06, 0x0B, 0x07, 0x00};
            for (std::size_t e = 0; e < 4; ++e) {
                disk.byte(at, 0x1BE + 16 * e, random() % 2 ? 0 : 0x80);
                disk.byte(at, 0x1BE + 16 * e + 4, types[random() % 6]);
            }
            if (random() % 2) disk.text(at, random() % 2 ? 82 : 3, random() % 2 ? "FAT32   " : "NTFS    ");
            disk.signature(at);
        }
        const auto result = search(*disk.reader());
        EXPECT_LE(result.found.size(), 26u);
        EXPECT_LE(result.sectorsRead, kMinSearchReads + kMaxExtendedRecords * 5);
    }
}

TEST(SearchLostPartitions, ReadsStayBelowOneSectorIn256AndAreCountedHonestly) {
    // 4 GiB, a FAT32 volume at 2048 formatted with 64 x 32 (whose cylinders are probed too) and
    // nothing else.
    const std::uint64_t total = 8u << 20;
    DiskBuilder disk(total);
    fatVolume(disk, 2048, true, 1u << 20, 64, 32);
    auto counting = std::make_unique<CountingSectorSource>(disk.source());
    const CountingSectorSource& counts = *counting;
    SectorReader reader(std::move(counting));
    const auto result = search(reader);
    EXPECT_EQ(result.found.size(), 1u);
    EXPECT_EQ(counts.requests(), result.sectorsRead);
    EXPECT_EQ(counts.bytesRead(), result.sectorsRead * kSectorSize);
    EXPECT_LT(result.sectorsRead, total / 256);
    EXPECT_GT(result.sectorsRead, total / 2048) << "every 1 MiB boundary is probed";
}

TEST(SearchLostPartitions, ARangeLimitsWhereVolumesAreLookedFor) {
    DiskBuilder disk(1 << 21);
    fatVolume(disk, 2048, true, 10000);
    fatVolume(disk, 1 << 20, true, 10000);
    LostPartitionRequest request;
    request.rangeStart = 500000;
    request.rangeEnd = 2000000;
    const auto result = search(*disk.reader(), {}, request);
    expectFound(result, {{"FAT32", 1 << 20, (1 << 20) + 10000, PartitionSource::BootSector, 1 << 20}});
    EXPECT_EQ(result.rangeStart, 500000u);
    EXPECT_EQ(result.rangeEnd, 2000000u);
}

TEST(AddFoundPartitions, NumbersThemAfterTheTableUpTo26) {
    DiskPartitionList list;
    list.partitions.push_back({FileSystemType::Fat32, 2048, 4096, 0x0C, true});
    std::vector<PartitionEntry> found;
    for (std::uint64_t i = 1; i <= 30; ++i) {
        PartitionEntry p{FileSystemType::Ntfs, i * 8192, i * 8192 + 100, 0, false};
        p.source = PartitionSource::BootSector;
        found.push_back(p);
    }
    found.insert(found.begin(), list.partitions.front());  // already listed
    EXPECT_EQ(AddFoundPartitions(list, found), 25u);
    EXPECT_EQ(list.partitions.size(), 26u);
    EXPECT_TRUE(list.limitReached);
    EXPECT_EQ(list.partitions[1].start, 8192u);
    EXPECT_EQ(PartitionNodeText(2, list.partitions[1].type), "Partition - 2 ( NTFS )");
}

}  // namespace
}  // namespace quorlan
