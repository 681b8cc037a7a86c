#include "fat/fat_volume.h"

#include <gtest/gtest.h>

#include "tests/support/disk_builder.h"
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
        const auto params = InferFatParams(reader, 2048, 60000, fat32 ? FileSystemType::Fat32 : FileSystemType::Fat16, RunContext{quiet, {}});
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
    SectorReader reader(std::make_unique<FaultySectorSource>(disk.source(), std::set<std::uint64_t>{fat.p.firstFAT + 1}));
    ClusterChainReader chains(reader, fat.p);
    EXPECT_EQ(chains.FollowClusterChain(2), (std::vector<std::uint32_t>{2, 200}));
    FatVolumeParams ntfs = fat.p;
    ntfs.PartType = FileSystemType::Ntfs;
    EXPECT_TRUE(ClusterChainReader(reader, ntfs).FollowClusterChain(2).empty());
}

}  // namespace
}  // namespace quorlan
