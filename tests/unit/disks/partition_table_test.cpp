#include "disks/partition_table.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/support/disk_builder.h"

namespace quorlan {
namespace {

using test::DiskBuilder;

struct Expected {
    const char* type;
    std::uint64_t start;
    std::uint64_t end;
    bool primary;
};

void expectPartitions(const DiskPartitionList& list, const std::vector<Expected>& expected) {
    ASSERT_EQ(list.partitions.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const PartitionEntry& p = list.partitions[i];
        EXPECT_EQ(PartitionTypeName(p.type), expected[i].type) << "partition " << i + 1;
        EXPECT_EQ(p.start, expected[i].start) << "partition " << i + 1;
        EXPECT_EQ(p.end, expected[i].end) << "partition " << i + 1;
        EXPECT_EQ(p.fromMbr, expected[i].primary) << "partition " << i + 1;
    }
}

TEST(ReadPartitionTable, PrimariesThenLogicalsInChainOrderWithMarkerPrecedence) {
    DiskBuilder disk(400000);
    disk.entry(0, 0, 0x0C, 2048, 40000).fatBootSector(2048, false)     // says FAT16: wins over 0x0C
        .entry(0, 1, 0x83, 42048, 20000).fatBootSector(42048, true)    // Linux code, FAT32 inside
        .entry(0, 2, 0x07, 62048, 20000)                               // no marker: the code stands
        .entry(0, 3, 0x0F, 82048, 300000);                             // extended
    // Chain: 82048 -> 82048+30000 -> 82048+60000.
    disk.entry(82048, 0, 0x06, 63, 20000).entry(82048, 1, 0x05, 30000, 25000);
    disk.entry(112048, 0, 0x0B, 63, 20000).entry(112048, 1, 0x05, 60000, 25000);
    disk.entry(142048, 0, 0x83, 63, 20000);  // Linux, no marker: skipped
    disk.entry(142048, 1, 0x05, 90000, 25000);
    disk.entry(172048, 0, 0x0E, 63, 20000);

    const auto list = ReadPartitionTable(*disk.reader(), disk.sectors());
    expectPartitions(list, {{"FAT16", 2048, 42048, true},
                            {"FAT32", 42048, 62048, true},
                            {"NTFS", 62048, 82048, true},
                            {"FAT16", 82111, 102111, false},
                            {"FAT32", 112111, 132111, false},
                            {"FAT16", 172111, 192111, false}});
    EXPECT_TRUE(list.partitionFound);
    EXPECT_FALSE(list.corrupt);
    EXPECT_EQ(list.chainEnd, ChainEnd::None);
    EXPECT_EQ(list.defaultSelection(), 0u);
    EXPECT_EQ(PartitionNodeText(1, list.partitions[0].type), "Partition - 1 ( FAT16 )");
    EXPECT_EQ(PartitionNodeText(5, list.partitions[4].type), "Partition - 5 ( FAT32 )");
}

TEST(ReadPartitionTable, ExtendedRecordsAreReadInAllFourEntries) {
    // As on the public test image ext-part-test-2.dd: the first extended record lists two
    // partitions and, in entry 2, the link to the next record; entry 3 of that one holds a third.
    DiskBuilder disk(400000);
    disk.entry(0, 0, 0x06, 63, 50000).entry(0, 1, 0x05, 157248, 200000);
    disk.entry(157248, 0, 0x04, 63, 52353).entry(157248, 1, 0x04, 52479, 52353).entry(157248, 2, 0x05, 104832, 50400);
    disk.entry(262080, 3, 0x06, 63, 50337);
    const auto list = ReadPartitionTable(*disk.reader(), disk.sectors());
    expectPartitions(list, {{"FAT16", 63, 50063, true},
                            {"FAT16", 157311, 209664, false},
                            {"FAT16", 209727, 262080, false},
                            {"FAT16", 262143, 312480, false}});
    EXPECT_EQ(list.chainEnd, ChainEnd::None);
}

TEST(ReadPartitionTable, SignatureNeedsOnlyOneOfTheTwoBytes) {
    const struct {
        std::uint8_t b510, b511;
        bool listed;
    } cases[] = {{0x55, 0xAA, true}, {0x00, 0xAA, true}, {0x55, 0x00, true}, {0x00, 0x00, false}};
    for (const auto& c : cases) {
        DiskBuilder disk(100000);
        disk.entry(0, 0, 0x06, 2048, 40000).signature(0, c.b510, c.b511);
        const auto list = ReadPartitionTable(*disk.reader(), disk.sectors());
        EXPECT_EQ(list.partitionFound, c.listed) << int(c.b510) << " " << int(c.b511);
        EXPECT_EQ(list.tableSigned, c.listed);
    }
}

TEST(ReadPartitionTable, EntryNearTheEndFailsTheSanityTestAndRaisesTheNotice) {
    CorruptTableNotice notice;
    int raised = 0;
    notice.setHook([&] { ++raised; });
    notice.setOnDiskPage(true);

    DiskBuilder disk(100000);
    disk.entry(0, 0, 0x06, 2048, 40000)
        .entry(0, 1, 0x0B, 100000 - 0x6000 + 1, 100)  // 24,575 sectors before the end: corrupt
        .entry(0, 2, 0x07, 50000, 10000);              // never reached
    const auto list = ReadPartitionTable(*disk.reader(&notice), disk.sectors(), &notice);
    EXPECT_TRUE(list.corrupt);
    expectPartitions(list, {{"FAT16", 2048, 42048, true}});
    EXPECT_EQ(raised, 1);

    // Exactly 24,576 sectors before the end passes; a start beyond the end fails (signed test).
    DiskBuilder edge(100000);
    edge.entry(0, 0, 0x06, 100000 - 0x6000, 100);
    EXPECT_FALSE(ReadPartitionTable(*edge.reader(), edge.sectors()).corrupt);
    DiskBuilder beyond(100000);
    beyond.entry(0, 0, 0x06, 200000, 100);
    EXPECT_TRUE(ReadPartitionTable(*beyond.reader(), beyond.sectors()).corrupt);
}

TEST(ReadPartitionTable, DamagedExtendedChainsEnd) {
    {   // a record that links to itself
        DiskBuilder disk(200000);
        disk.entry(0, 0, 0x0F, 2048, 100000);
        disk.entry(2048, 0, 0x06, 63, 20000).entry(2048, 1, 0x05, 0, 100000);
        const auto list = ReadPartitionTable(*disk.reader(), disk.sectors());
        EXPECT_EQ(list.chainEnd, ChainEnd::Loop);
        expectPartitions(list, {{"FAT16", 2111, 22111, false}});
        EXPECT_FALSE(list.defaultSelection().has_value()) << "the first partition is a logical one";
    }
    {   // A -> B -> A: each logical partition once
        DiskBuilder disk(200000);
        disk.entry(0, 0, 0x0F, 2048, 100000);
        disk.entry(2048, 0, 0x06, 63, 1000).entry(2048, 1, 0x05, 5000, 1000);
        disk.entry(7048, 0, 0x0B, 63, 1000).entry(7048, 1, 0x0F, 0, 1000);
        const auto list = ReadPartitionTable(*disk.reader(), disk.sectors());
        EXPECT_EQ(list.chainEnd, ChainEnd::Loop);
        expectPartitions(list, {{"FAT16", 2111, 3111, false}, {"FAT32", 7111, 8111, false}});
    }
    {   // a link past the end of the disk
        DiskBuilder disk(200000);
        disk.entry(0, 0, 0x0F, 2048, 100000);
        disk.entry(2048, 0, 0x06, 63, 1000).entry(2048, 1, 0x05, 0xF0000000u, 1000);
        const auto list = ReadPartitionTable(*disk.reader(), disk.sectors());
        EXPECT_EQ(list.chainEnd, ChainEnd::OutOfDisk);
        EXPECT_EQ(list.partitions.size(), 1u);
    }
    {   // an endless chain of records that list nothing
        DiskBuilder disk(2000000);
        disk.entry(0, 0, 0x0F, 2048, 1000000);
        for (std::uint32_t i = 0; i < 400; ++i) disk.entry(2048 + i * 100, 1, 0x05, (i + 1) * 100, 100);
        const auto list = ReadPartitionTable(*disk.reader(), disk.sectors());
        EXPECT_EQ(list.chainEnd, ChainEnd::TooLong);
        EXPECT_TRUE(list.partitions.empty());
    }
    {   // an unreadable extended record reads as empty and ends the chain
        DiskBuilder disk(200000);
        disk.entry(0, 0, 0x06, 100, 1000).entry(0, 1, 0x0F, 2048, 100000);
        disk.entry(2048, 0, 0x06, 63, 1000).entry(2048, 1, 0x05, 0, 1000);  // would loop if re-read stale
        SectorReader reader(std::make_unique<FaultySectorSource>(disk.source(), std::set<std::uint64_t>{2048}));
        const auto list = ReadPartitionTable(reader, disk.sectors());
        expectPartitions(list, {{"FAT16", 100, 1100, true}});
        EXPECT_EQ(reader.unreadableSectors(), 2u);  // read for its marker, then as a record
    }
}

TEST(ReadPartitionTable, ListsAtMost26Partitions) {
    DiskBuilder disk(2000000);
    disk.entry(0, 0, 0x0F, 2048, 1000000);
    for (std::uint32_t i = 0; i < 30; ++i) {
        disk.entry(2048 + i * 1000, 0, 0x06, 63, 900);
        if (i + 1 < 30) disk.entry(2048 + i * 1000, 1, 0x05, (i + 1) * 1000, 1000);
    }
    const auto list = ReadPartitionTable(*disk.reader(), disk.sectors());
    EXPECT_EQ(list.partitions.size(), 26u);
    EXPECT_TRUE(list.limitReached);
    EXPECT_EQ(list.partitions.back().start, 2048u + 25 * 1000 + 63);
}

TEST(ReadPartitionTable, UnpartitionedStickIsOneVolume) {
    const struct {
        const char* type;
        void (*make)(DiskBuilder&);
    } cases[] = {
        {"FAT32", [](DiskBuilder& d) { d.fatBootSector(0, true); }},
        {"FAT16", [](DiskBuilder& d) { d.fatBootSector(0, false); }},
        {"NTFS", [](DiskBuilder& d) { d.ntfsBootSector(0); }},
    };
    for (const auto& c : cases) {
        DiskBuilder disk(80000);
        c.make(disk);
        // Boot code where the table would lie must not be read as partitions.
        disk.u32(0, 0x1BE + 8, 12345).byte(0, 0x1BE + 4, 0x07);
        const auto list = ReadPartitionTable(*disk.reader(), disk.sectors());
        EXPECT_TRUE(list.superfloppy) << c.type;
        expectPartitions(list, {{c.type, 0, 80000, true}});
    }
    // A master boot record whose code merely contains a type text is still a table.
    DiskBuilder mbr(100000);
    mbr.text(0, 82, "FAT32").entry(0, 0, 0x0C, 2048, 40000);
    const auto list = ReadPartitionTable(*mbr.reader(), mbr.sectors());
    EXPECT_FALSE(list.superfloppy);
    expectPartitions(list, {{"FAT32", 2048, 42048, true}});
}

TEST(ReadPartitionTable, UnreadableOrGarbageSectorZeroNeverFaults) {
    DiskBuilder disk(100000);
    disk.entry(0, 0, 0x06, 2048, 40000);
    SectorReader unreadable(std::make_unique<FaultySectorSource>(disk.source(), std::set<std::uint64_t>{0}));
    EXPECT_FALSE(ReadPartitionTable(unreadable, disk.sectors()).partitionFound);

    // Random tables: whatever they say, reading ends with at most 26 partitions.
    std::mt19937 random(12345);
    for (int round = 0; round < 300; ++round) {
        DiskBuilder garbage(1u << 20);
        for (std::size_t i = 0x1BE; i < 0x1FE; ++i) garbage.byte(0, i, static_cast<std::uint8_t>(random()));
        const std::uint8_t types[] = {0x05, 0x0F, 0x06, 0x0B, 0x07, 0x00};
        for (int e = 0; e < 4; ++e) {
            garbage.byte(0, 0x1BE + 16 * static_cast<std::size_t>(e) + 4, types[random() % 6]);
            garbage.u32(0, 0x1BE + 16 * static_cast<std::size_t>(e) + 8, static_cast<std::uint32_t>(random() % (1u << 20)));
        }
        for (int r = 0; r < 40; ++r) {
            const std::uint64_t s = random() % (1u << 20);
            garbage.entry(s, 0, types[random() % 6], static_cast<std::uint32_t>(random() % (1u << 20)), 100);
            garbage.entry(s, 1, types[random() % 2], static_cast<std::uint32_t>(random() % (1u << 20)), 100);
        }
        const auto list = ReadPartitionTable(*garbage.reader(), garbage.sectors());
        EXPECT_LE(list.partitions.size(), 26u);
    }
}

TEST(PartitionDetails, RowsOfBothModes) {
    const PartitionEntry p{FileSystemType::Fat32, 2048, 2048 + 4096000, 0x0C, true};
    const DetailRows standard = PartitionDetailsRows(SearchMode::Standard, 1, 0, p);
    const DetailRows expectedStandard = {
        {"1.   Disk Number                    :  ", "1"},
        {"2.   Partition Number              :  ", "1"},
        {"3.   Partition Type                   :  ", "FAT32"},
        {"4.   Search Mode                   :  ", "Standard"},
        {"5.   Start Sector                     :  ", "2048"},
        {"6.   End Sector                      :  ", "4098048"},
        {"7.   Size                                 :  ", "2000 MB"}};
    EXPECT_EQ(standard, expectedStandard);
    const DetailRows advance = PartitionDetailsRows(SearchMode::Advance, 1, 2, p);
    const DetailRows expectedAdvance = {{"1.   Partition Number          :          ", "3"},
                                        {"2.   Search Mode               :          ", "Advance"},
                                        {"3.   Size                             :  ", "2000 MB"}};
    EXPECT_EQ(advance, expectedAdvance);

    const DetailRows unknown = UnknownPartitionDetailsRows(SearchMode::Standard, 0, 0, "15663104", "7647 MB");
    EXPECT_EQ(unknown[2].second, "Unknown Partition");
    EXPECT_EQ(unknown[4].second, "0");
    EXPECT_EQ(unknown[5].second, "15663104");
    EXPECT_EQ(unknown[6].second, "7647 MB");
    EXPECT_EQ(UnknownPartitionDetailsRows(SearchMode::Advance, 0, 0, "15663104", "7647 MB")[2].second, "7647 MB");

    // A partition the lost-partition search found says how, in one more row.
    PartitionEntry found{FileSystemType::Ntfs, 2048, 81920, 0, false};
    found.source = PartitionSource::BackupBootSector;
    found.evidence = 81919;
    const DetailRows foundRows = PartitionDetailsRows(SearchMode::Standard, 0, 3, found);
    ASSERT_EQ(foundRows.size(), 8u);
    EXPECT_EQ(foundRows[7], (std::pair<std::string, std::string>{"8.   Found By                         :  ",
                                                                  "Backup Boot Sector (sector 81919)"}));
    EXPECT_EQ(PartitionDetailsRows(SearchMode::Advance, 0, 3, found).back().second, "Backup Boot Sector (sector 81919)");
}

}  // namespace
}  // namespace quorlan
