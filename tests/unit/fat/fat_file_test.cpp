// Where a FAT file's bytes lie: chains of allocated files, free clusters of deleted ones.
#include "fat/fat_file.h"

#include <gtest/gtest.h>

#include "tests/support/fat_builder.h"

namespace quorlan {
namespace {

using test::DiskBuilder;
using test::FatBuilder;

struct Piece {
    std::uint32_t cluster;  // first cluster of a run of adjacent clusters
    std::uint64_t bytes;
    bool operator==(const Piece&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Piece& p) { return os << "{" << p.cluster << ", " << p.bytes << "}"; }

TEST(FatFileLayout, ChainsOfLiveFilesAndFreeClustersOfDeletedOnes) {
    constexpr std::uint32_t kEnd = 0x0FFFFFFF;
    constexpr std::uint64_t kCluster = 4 * 512;
    const struct {
        const char* what;
        std::uint32_t first;
        std::uint64_t size;
        bool deleted;
        std::vector<Piece> pieces;
        bool bestEffort;
        bool failed;
        const char* problem;  // part of the problem text, or "" for none
    } cases[] = {
        {"live chain, adjacent clusters joined, last cut", 5, 2 * kCluster + 100, false,
         {{5, 2 * kCluster}, {9, 100}}, false, false, ""},
        {"live chain shorter than the size", 20, 3 * kCluster, false, {{20, kCluster}}, false, false, "chain ends after 1 of 3"},
        {"deleted: free clusters after the first, in-use ones skipped", 30, 3 * kCluster, true,
         {{30, kCluster}, {32, 2 * kCluster}}, true, false, "deleted file"},
        {"deleted whose first cluster was given to another file", 31, kCluster, true, {{32, kCluster}}, true, false,
         "deleted file"},
        {"live entry in a deleted folder: its chain is free", 40, 2 * kCluster, false, {{40, 2 * kCluster}}, true,
         false, "deleted file"},
        {"empty file", 0, 0, false, {}, false, false, ""},
        {"no first cluster", 0, 10, false, {}, false, true, "no valid first cluster"},
        {"first cluster past the FAT", 100000, 10, false, {}, false, true, "no valid first cluster"},
    };
    for (const bool fat32 : {false, true}) {
        DiskBuilder disk(40000);
        FatBuilder fat(disk, 2048, fat32);
        fat.bootSector();
        fat.fat(5, 6).fat(6, 9).fat(9, kEnd & (fat32 ? 0x0FFFFFFF : 0xFFFF));
        fat.fat(20, fat32 ? kEnd : 0xFFFF);
        fat.fat(31, fat32 ? kEnd : 0xFFFF);  // another file's cluster amid the deleted file's
        auto reader = disk.reader();
        ClusterChainReader chains(*reader, fat.p);
        for (const auto& c : cases) {
            const FileLayout layout = FatFileLayout(chains, fat.p, c.first, c.size, c.deleted, 40000);
            std::vector<Piece> pieces;
            for (const Extent& e : layout.extents) {
                ASSERT_EQ(e.kind, Extent::Kind::Sectors);
                pieces.push_back({static_cast<std::uint32_t>((e.sector - fat.p.Cluster0Start) / fat.p.SPC), e.length});
            }
            EXPECT_EQ(pieces, c.pieces) << c.what << (fat32 ? " FAT32" : " FAT16");
            EXPECT_EQ(layout.bestEffort, c.bestEffort) << c.what;
            EXPECT_EQ(layout.failed, c.failed) << c.what;
            EXPECT_EQ(layout.size, c.size) << c.what;
            if (*c.problem == '\0') {
                EXPECT_EQ(layout.problem, "") << c.what;
            } else {
                EXPECT_NE(layout.problem.find(c.problem), std::string::npos) << c.what << ": " << layout.problem;
            }
        }
    }
}

TEST(FatFileLayout, ADeletedFileNeverReadsPastTheVolume) {
    DiskBuilder disk(40000);
    FatBuilder fat(disk, 2048, true);
    fat.bootSector();
    auto reader = disk.reader();
    ClusterChainReader chains(*reader, fat.p);
    // The volume ends 3 clusters after cluster 50.
    const std::uint64_t end = fat.p.Cluster0Start + 53 * fat.p.SPC;
    const FileLayout layout = FatFileLayout(chains, fat.p, 50, 10 * 2048, true, end);
    std::uint64_t total = 0;
    for (const Extent& e : layout.extents) total += e.length;
    EXPECT_EQ(total, 3u * 2048);
    EXPECT_NE(layout.problem.find("volume ends"), std::string::npos) << layout.problem;
}

}  // namespace
}  // namespace quorlan
