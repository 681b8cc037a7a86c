#include "fat/fat_volume.h"

#include <gtest/gtest.h>

#include "tests/support/disk_builder.h"
#include "fat/fat_boot_sector.h"
#include "tests/support/fat_builder.h"

namespace quorlan {
namespace {

using test::DiskBuilder;
using test::FatBuilder;

void expectSameLayout(const FatVolumeParams& got, const FatVolumeParams& want) {
    EXPECT_EQ(got.SPF, want.SPF);
    EXPECT_EQ(got.SPC, want.SPC);
    EXPECT_EQ(got.RootStart, want.RootStart);
    EXPECT_EQ(got.RootSectors, want.RootSectors);
    EXPECT_EQ(got.ReserveSectors, want.ReserveSectors);
    EXPECT_EQ(got.Cluster0Start, want.Cluster0Start);
    EXPECT_EQ(got.firstFAT, want.firstFAT);
    EXPECT_EQ(got.secondFAT, want.secondFAT);
    EXPECT_EQ(got.PartType, want.PartType);
}

TEST(ReadFatBootSector, ReadsBothTypesAndFallsBackToTheFat32Backup) {
    for (const bool fat32 : {false, true}) {
        DiskBuilder disk(20000);
        FatBuilder fat(disk, 2048, fat32);
        fat.bootSector();
        SectorReader reader(disk.source());
        const auto params = ReadFatBootSector(reader, 2048, fat32 ? FileSystemType::Fat32 : FileSystemType::Fat16);
        ASSERT_TRUE(params.has_value()) << fat32;
        expectSameLayout(*params, fat.p);
    }
    {   // FAT32 with its first boot sector wiped: the backup six sectors on serves.
        DiskBuilder disk(20000);
        FatBuilder fat(disk, 2048, true);
        fat.bootSector();
        for (std::size_t i = 0; i < 512; ++i) disk.byte(2048 + 6, i, 0);
        SectorReader copy(disk.source());
        std::array<std::byte, kSectorSize> boot{};
        ASSERT_EQ(copy.ReadSectors(2048, 1, boot), 1);
        for (std::size_t i = 0; i < 512; ++i) disk.byte(2048 + 6, i, std::to_integer<std::uint8_t>(boot[i]));
        for (std::size_t i = 0; i < 512; ++i) disk.byte(2048, i, 0);
        SectorReader reader(disk.source());
        const auto params = ReadFatBootSector(reader, 2048, FileSystemType::Fat32);
        ASSERT_TRUE(params.has_value());
        expectSameLayout(*params, fat.p);
    }
}

TEST(ReadFatBootSector, RefusesDamagedVolumes) {
    {   // FAT16 without 0x55 0xAA fails at once, even with a good copy at +6.
        DiskBuilder disk(20000);
        FatBuilder(disk, 2048, false).bootSector();
        FatBuilder(disk, 2048 + 6, false).bootSector();
        disk.signature(2048, 0, 0);
        SectorReader reader(disk.source());
        EXPECT_FALSE(ReadFatBootSector(reader, 2048, FileSystemType::Fat16).has_value());
    }
    {   // A second FAT that does not begin with the media byte 0xF8.
        DiskBuilder disk(20000);
        FatBuilder fat(disk, 2048, false);
        fat.bootSector();
        disk.byte(fat.p.secondFAT, 0, 0xF0);
        SectorReader reader(disk.source());
        EXPECT_FALSE(ReadFatBootSector(reader, 2048, FileSystemType::Fat16).has_value());
    }
    {   // A cluster size of 0 could never be scanned.
        DiskBuilder disk(20000);
        FatBuilder fat(disk, 2048, true);
        fat.bootSector();
        disk.byte(2048, 13, 0);
        SectorReader reader(disk.source());
        EXPECT_FALSE(ReadFatBootSector(reader, 2048, FileSystemType::Fat32).has_value());
    }
}

TEST(InferFatParams, WorksTheLayoutOutFromTwoFolders) {
    NullObserver quiet;
    for (const bool fat32 : {false, true}) {
        DiskBuilder disk(60000);
        FatBuilder fat(disk, 2048, fat32, 4, 100);
        // No boot sector at all; the FAT's media bytes mark the reserved sectors.
        disk.byte(fat.p.firstFAT, 0, 0xF8).byte(fat.p.firstFAT, 1, 0xFF);
        fat.directory(5, 0).directory(9, 5);  // 16 sectors apart with 4 sectors per cluster
        SectorReader reader(disk.source());
        const auto params = InferFatParams(reader, 2048, 60000,
                                           fat32 ? FileSystemType::Fat32 : FileSystemType::Fat16,
                                           RunContext{quiet, {}});
        ASSERT_TRUE(params.has_value()) << fat32;
        expectSameLayout(*params, fat.p);
    }
    {   // One folder is not enough.
        DiskBuilder disk(60000);
        FatBuilder fat(disk, 2048, true, 4, 100);
        fat.directory(5, 0);
        SectorReader reader(disk.source());
        EXPECT_FALSE(InferFatParams(reader, 2048, 60000, FileSystemType::Fat32, RunContext{quiet, {}}).has_value());
    }
}

TEST(FollowClusterChain, EndsWhereTheFatSaysAndWhereItIsDamaged) {
    struct Case {
        const char* what;
        bool fat32;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> links;
        std::uint32_t first;
        std::vector<std::uint32_t> chain;
    };
    const Case cases[] = {
        {"FAT16 end mark", false, {{2, 3}, {3, 4}, {4, 0xFFFF}}, 2, {2, 3, 4}},
        {"FAT16 end range", false, {{2, 3}, {3, 0xFFF8}}, 2, {2, 3}},
        {"FAT32 bad cluster", true, {{2, 0x0FFFFFF7}}, 2, {2}},
        {"FAT32 end mark", true, {{2, 3}, {3, 0x0FFFFFFF}}, 2, {2, 3}},
        {"free entry", true, {{7, 0}}, 7, {7}},
        {"loop", true, {{2, 3}, {3, 4}, {4, 2}}, 2, {2, 3, 4}},
        {"self loop", false, {{5, 5}}, 5, {5}},
        {"past the cluster count", true, {{2, 3}, {3, 200000}}, 2, {2, 3}},
        {"first cluster beyond the FAT", true, {}, 100000, {100000}},
    };
    for (const Case& c : cases) {
        DiskBuilder disk(20000);
        FatBuilder fat(disk, 0, c.fat32, 4, 16);
        for (const auto& [from, to] : c.links) fat.fat(from, to);
        SectorReader reader(disk.source());
        ClusterChainReader chains(reader, fat.p);
        EXPECT_EQ(chains.FollowClusterChain(c.first), c.chain) << c.what;
    }
    // An unreadable FAT sector ends a chain.
    DiskBuilder disk(20000);
    FatBuilder fat(disk, 0, true, 4, 16);
    fat.fat(2, 200).fat(200, 201).fat(201, 0x0FFFFFFF);
    SectorReader reader(std::make_unique<FaultySectorSource>(
        disk.source(), std::set<std::uint64_t>{fat.p.firstFAT + 1}));
    ClusterChainReader chains(reader, fat.p);
    EXPECT_EQ(chains.FollowClusterChain(2), (std::vector<std::uint32_t>{2, 200}));
    FatVolumeParams ntfs = fat.p;
    ntfs.PartType = FileSystemType::Ntfs;
    EXPECT_TRUE(ClusterChainReader(reader, ntfs).FollowClusterChain(2).empty());
}

// A 1.44 MB floppy's FAT12: two 12-bit entries packed into three bytes, one sector after the boot
// sector, nine sectors per FAT.
FatVolumeParams floppyParams() {
    FatVolumeParams p;
    p.PartType = FileSystemType::Fat12;
    p.SPC = 1;
    p.SPF = 9;
    p.ReserveSectors = 1;
    p.firstFAT = 1;
    p.secondFAT = 10;
    p.RootSectors = 14;
    p.RootStart = 19;
    p.Cluster0Start = 31;
    return p;
}

// Writes the 12-bit entry of cluster c into the FAT at sector firstFat.
void fat12Entry(DiskBuilder& disk, std::uint64_t firstFat, std::uint32_t c, std::uint16_t value) {
    const std::uint64_t offset = std::uint64_t{c} * 3 / 2;
    const auto at = [&](std::uint64_t o) { return std::pair{firstFat + o / 512, static_cast<std::size_t>(o % 512)}; };
    SectorReader peek(disk.source());
    std::array<std::byte, 1024> bytes{};
    (void)peek.ReadSectors(firstFat + offset / 512, 2, bytes);
    const std::size_t in = offset % 512;
    std::uint16_t word = static_cast<std::uint16_t>(std::to_integer<std::uint16_t>(bytes[in]) |
                                                    (std::to_integer<std::uint16_t>(bytes[in + 1]) << 8));
    word = c % 2 == 0 ? static_cast<std::uint16_t>((word & 0xF000) | value)
                      : static_cast<std::uint16_t>((word & 0x000F) | (value << 4));
    const auto [s0, o0] = at(offset);
    const auto [s1, o1] = at(offset + 1);
    disk.byte(s0, o0, static_cast<std::uint8_t>(word & 0xFF)).byte(s1, o1, static_cast<std::uint8_t>(word >> 8));
}

TEST(FollowClusterChain, Fat12EntriesArePackedTwoPerThreeBytes) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::uint32_t, std::uint16_t>> links;
        std::uint32_t first;
        std::vector<std::uint32_t> chain;
    };
    // Cluster 341's entry is the word at byte 511: its high nibble lies in the FAT's second sector.
    const Case cases[] = {
        {"even and odd neighbours", {{2, 3}, {3, 4}, {4, 0xFFF}}, 2, {2, 3, 4}},
        {"an entry across two sectors", {{340, 341}, {341, 342}, {342, 0xFF8}}, 340, {340, 341, 342}},
        {"bad cluster", {{6, 7}, {7, 0xFF7}}, 6, {6, 7}},
        {"free entry", {{9, 0}}, 9, {9}},
        {"loop", {{10, 11}, {11, 10}}, 10, {10, 11}},
        {"past the FAT's entries", {{12, 13}, {13, 3500}}, 12, {12, 13}},
    };
    for (const Case& c : cases) {
        DiskBuilder disk(2880);
        const FatVolumeParams p = floppyParams();
        for (const auto& [from, to] : c.links) fat12Entry(disk, p.firstFAT, from, to);
        SectorReader reader(disk.source());
        ClusterChainReader chains(reader, p);
        EXPECT_EQ(chains.FollowClusterChain(c.first), c.chain) << c.what;
        for (const auto& [from, to] : c.links) EXPECT_EQ(chains.entry(from), to) << c.what << " " << from;
    }
    EXPECT_EQ(floppyParams().fatEntries(), 3072u);  // nine sectors of 12-bit entries
}

TEST(ReadFatBootSector, TakesTheFloppysOwnMediaByte) {
    // A 1.44 MB floppy as mkfs.fat formats it: media byte 0xF0 in the boot sector and the FATs.
    for (const std::uint8_t media : std::initializer_list<std::uint8_t>{0xF0, 0xF9, 0xE5}) {
        DiskBuilder disk(2880);
        disk.byte(0, 0, 0xEB).byte(0, 1, 0x3C).byte(0, 2, 0x90).u16(0, 11, 512).byte(0, 13, 1).u16(0, 14, 1);
        disk.byte(0, 16, 2).u16(0, 17, 224).u16(0, 19, 2880).byte(0, 21, media).u16(0, 22, 9).text(0, 54, "FAT12   ");
        disk.signature(0);
        for (const std::uint64_t fat : {std::uint64_t{1}, std::uint64_t{10}})
            disk.byte(fat, 0, media).byte(fat, 1, 0xFF).byte(fat, 2, 0xFF);
        SectorReader reader(disk.source());
        const auto params = ReadFatBootSector(reader, 0, FileSystemType::Fat12);
        if (media == 0xE5) {  // no media descriptor
            EXPECT_FALSE(params.has_value());
            continue;
        }
        ASSERT_TRUE(params.has_value()) << int{media};
        expectSameLayout(*params, floppyParams());
        // The same sector names the volume FAT12 for an unpartitioned disk.
        std::array<std::byte, kSectorSize> boot{};
        ASSERT_EQ(reader.ReadSectors(0, 1, boot), 1);
        EXPECT_EQ(ClassifyFatBootSector(ByteView(boot)), FileSystemType::Fat12);
    }
}

TEST(InferFatParams, WorksAFloppysLayoutOutFromTwoFolders) {
    // Folders at clusters 2 and 40: on a floppy cluster numbers run close to sector numbers.
    NullObserver quiet;
    DiskBuilder disk(2880);
    const FatVolumeParams p = floppyParams();
    disk.byte(1, 0, 0xF0).byte(1, 1, 0xFF).byte(1, 2, 0xFF);
    for (const std::uint32_t c : {2u, 40u}) {
        const std::uint64_t s = ClusterToSector(p, c);
        disk.text(s, 0, ".          ").byte(s, 11, 0x10).u16(s, 26, static_cast<std::uint16_t>(c));
        disk.text(s, 32, "..         ").byte(s, 43, 0x10);
    }
    SectorReader reader(disk.source());
    const auto params = InferFatParams(reader, 0, 2880, FileSystemType::Fat12, RunContext{quiet, {}});
    ASSERT_TRUE(params.has_value());
    expectSameLayout(*params, p);
}

}  // namespace
}  // namespace quorlan
