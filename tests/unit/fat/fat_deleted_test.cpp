// Deleted FAT files weighed against the volume's other entries: which clusters each one is given
// and which ones are marked, on layouts built cluster by cluster.
#include "fat/fat_deleted.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fat/fat_file.h"
#include "tests/support/fat_builder.h"

namespace quorlan {
namespace {

using test::DiskBuilder;
using test::FatBuilder;

// An entry of the volume: times in seconds after 10:00:00 on 14 March 2024; kNone for no time.
constexpr int kNone = -1;
struct Entry {
    const char* name;
    std::uint32_t first;
    std::uint32_t clusters;  // its size, in 1 KiB clusters (0: a folder)
    bool deleted;
    int created;
    int written;
};

struct Expected {
    const char* name;
    std::vector<std::uint32_t> clusters;
    bool marked;
    const char* why;  // part of the reason, or "" when unmarked
};

struct Layout {
    const char* what;
    std::vector<Entry> entries;
    std::vector<std::uint32_t> liveChains;  // clusters the FAT gives to live files (each its own chain)
    std::vector<Expected> expected;
    std::uint64_t volumeEnd = 40000;
};

std::int64_t stamp(int seconds) {
    if (seconds == kNone) return kNoStamp;
    // 10:00:00 on 14 March 2024; FatStamp counts hundredths of a second.
    return FatStamp(static_cast<std::uint16_t>((44 << 9) | (3 << 5) | 14), static_cast<std::uint16_t>(10 << 11), 0) +
           std::int64_t{seconds} * 100;
}

// The DFTT #6 layout: frag1.dat in 2 and 4, frag2.dat in 3, 5, 6 and 12, sing.dat in 7,
// mult1.dat in 8-11, the folders dir1 and dir2 in 13 and 14, two live folders in 15 and 16,
// frag3.dat in 17 and 20, mult2.dat in 18-19; the times of the writing that put them there, or
// none (t: the times, or kNone for all).
std::vector<Entry> dftt(bool times) {
    auto t = [&](int s) { return times ? s : 0; };
    return {{"frag1", 2, 2, true, t(0), t(4)},    {"frag2", 3, 4, true, t(2), t(12)},
            {"sing", 7, 1, true, t(8), t(8)},     {"mult1", 8, 4, true, t(10), t(10)},
            {"dir1", 13, 0, true, t(14), t(14)},  {"dir2", 14, 0, true, t(16), t(16)},
            {"svi", 15, 0, false, t(18), t(18)},  {"restore", 16, 0, false, t(18), t(18)},
            {"frag3", 17, 2, true, t(20), t(24)}, {"mult2", 18, 2, true, t(22), t(22)}};
}

const Layout kLayouts[] = {
    {"DFTT #6 with the times of its writing: frag1.dat's last write bounds it before sing.dat, so it takes "
     "cluster 4 from frag2.dat's run, and frag2.dat takes 12",
     dftt(true),
     {15, 16},
     {{"frag1", {2, 4}, true, "another file's first cluster"},
      {"frag2", {3, 5, 6, 12}, true, "another deleted file's clusters"},
      {"sing", {7}, false, ""},
      {"mult1", {8, 9, 10, 11}, false, ""},
      {"frag3", {17, 20}, true, "another file's first cluster"},
      {"mult2", {18, 19}, true, "another deleted file's clusters"}}},
    {"DFTT #6 with times that say nothing: the blocked files take the nearest clusters nobody holds",
     dftt(false),
     {15, 16},
     {{"frag1", {2, 12}, true, "first cluster"},
      {"frag2", {3, 4, 5, 6}, true, "another deleted file's clusters"},
      {"sing", {7}, false, ""},
      {"mult1", {8, 9, 10, 11}, false, ""},
      {"frag3", {17, 20}, true, "first cluster"},
      {"mult2", {18, 19}, true, "another deleted file's clusters"}}},
    {"an entry created out of order bounds nothing: late.txt (created at 300 s in cluster 15) has the older "
     "old.txt behind it, so rep.dat looks past it",
     {{"rep", 12, 2, true, 20, 24},
      {"pic", 13, 2, true, 22, 22},
      {"late", 15, 1, false, 300, 300},
      {"old", 17, 3, false, 30, 30},
      {"after", 30, 1, false, 40, 40}},
     {15, 17, 18, 19, 30},
     {{"rep", {12, 16}, true, "first cluster"}, {"pic", {13, 14}, true, "another deleted file's clusters"}}},
    {"a copy keeps its source's write time, older than its creation: its time bounds nothing",
     // Read as a write at 0 s, copy.dat's time would bound it before later.dat and take 4 from other.dat.
     {{"copy", 2, 2, true, 10, kNone}, {"other", 3, 3, true, 1, 1}, {"later", 6, 1, false, 500, 500}},
     {6},
     {{"copy", {2, 7}, true, "first cluster"}, {"other", {3, 4, 5}, true, "another deleted file's clusters"}}},
    {"a deleted file around a live one, a single cluster, and contiguous files created in another order",
     {{"live", 22, 2, false, 35, 35},
      {"cross", 20, 4, true, 40, 40},
      {"one", 26, 1, true, 50, 50},
      {"bbb", 42, 2, true, 100, 100},
      {"aaa", 40, 2, true, 110, 110}},
     {22, 23},
     {{"cross", {20, 21, 24, 25}, true, "live file"},
      {"one", {26}, false, ""},
      {"bbb", {42, 43}, false, ""},
      {"aaa", {40, 41}, false, ""}}},
    {"a first cluster a live file took, one two entries start at, and a live entry whose chain is gone",
     {{"reused", 33, 2, true, 80, 80},
      {"now", 33, 2, false, 90, 90},
      {"twin1", 50, 2, true, 10, 10},
      {"twin2", 50, 1, true, 12, 12},
      {"chainless", 60, 2, false, 5, 5}},
     {33, 34},
     {{"reused", {35, 36}, true, "now belongs to another file"},
      {"twin1", {50, 51}, true, "another entry starts at its first cluster"},
      {"twin2", {50}, true, "another entry starts at its first cluster"},
      {"chainless", {60, 61}, false, ""}}},
    {"the volume ends before a deleted file's size",
     {{"tail", 20, 5, true, 1, 1}, {"short", 2, 1, true, 1, 1}},
     {},
     {{"tail", {20, 21, 22}, true, "the volume ends before its size"}, {"short", {2}, false, ""}},
     0},  // volumeEnd set below: 23 clusters
};

TEST(FatDeletedFiles, GuessesAndMarks) {
    for (const Layout& layout : kLayouts) {
        SCOPED_TRACE(layout.what);
        DiskBuilder disk(40000);
        FatBuilder fat(disk, 2048, false, 2);
        fat.bootSector();
        for (const std::uint32_t c : layout.liveChains) fat.fat(c, 0xFFFF);
        auto reader = disk.reader();
        ClusterChainReader chains(*reader, fat.p);
        std::vector<FatEntryFact> facts;
        std::vector<std::uint32_t> folders;
        for (std::size_t i = 0; i < layout.entries.size(); ++i) {
            const Entry& e = layout.entries[i];
            FatEntryFact f;
            f.position = 1000 + 32 * i;
            f.firstCluster = e.first;
            f.size = e.clusters * 1024 - (e.clusters > 0 ? 24 : 0);
            f.directory = e.clusters == 0;
            f.deleted = e.deleted;
            f.created = stamp(e.created);
            f.written = e.written == kNone ? stamp(0) : stamp(e.written);
            facts.push_back(f);
            if (f.directory) folders.push_back(e.first);
        }
        const std::uint64_t volumeEnd = layout.volumeEnd > 0 ? layout.volumeEnd : ClusterToSector(fat.p, 23);
        const FatDeletedFiles weighed = FatDeletedFiles::Weigh(chains, fat.p, volumeEnd, facts, folders);
        for (const Expected& x : layout.expected) {
            std::size_t i = 0;
            while (layout.entries[i].name != std::string(x.name)) ++i;
            const FatGuess* g = weighed.Find(facts[i].position);
            ASSERT_NE(g, nullptr) << x.name;
            EXPECT_EQ(g->clusters, x.clusters) << x.name;
            EXPECT_EQ(g->mayBeIncomplete, x.marked) << x.name << ": " << g->why;
            EXPECT_NE(g->why.find(x.why), std::string::npos) << x.name << ": " << g->why;
            if (!x.marked) {
                EXPECT_EQ(g->why, "") << x.name;
            }
        }
        // A directory read twice (a folder found twice) gives its entries twice: nothing changes.
        std::vector<FatEntryFact> twice = facts;
        twice.insert(twice.end(), facts.begin(), facts.end());
        const FatDeletedFiles again = FatDeletedFiles::Weigh(chains, fat.p, volumeEnd, twice, folders);
        for (const FatEntryFact& f : facts) {
            const FatGuess* a = weighed.Find(f.position);
            const FatGuess* b = again.Find(f.position);
            ASSERT_EQ(a == nullptr, b == nullptr);
            if (a != nullptr) {
                EXPECT_EQ(a->clusters, b->clusters);
                EXPECT_EQ(a->why, b->why);
            }
        }
        // Live files and folders are not weighed.
        for (std::size_t i = 0; i < layout.entries.size(); ++i) {
            const bool chainGone = !layout.entries[i].deleted && std::string(layout.entries[i].name) == "chainless";
            if (!layout.entries[i].deleted && !chainGone) {
                EXPECT_EQ(weighed.Find(facts[i].position), nullptr) << layout.entries[i].name;
            }
        }
    }
}

// Clusters are looked for up to 65,536 past a file's first one. Without times that bound it, a
// blocked file never takes clusters from another file's run, also when it finds none it may
// have there: it is saved short, and marked.
TEST(FatDeletedFiles, NoTimesNoTakingWhereTheSearchEnds) {
    DiskBuilder disk(200000);
    FatBuilder fat(disk, 2048, false, 2, 300);
    fat.bootSector();
    for (std::uint32_t c = 7; c < 70000; ++c) fat.fat(c, 0xFFFF);
    auto reader = disk.reader();
    ClusterChainReader chains(*reader, fat.p);
    std::vector<FatEntryFact> facts(3);
    facts[0] = {100, 2, 2000, false, true, stamp(0), stamp(0)};
    facts[1] = {132, 3, 4000, false, true, stamp(0), stamp(0)};
    facts[2] = {164, 7, 70000, false, false, stamp(0), stamp(0)};
    const FatDeletedFiles weighed = FatDeletedFiles::Weigh(chains, fat.p, 200000, facts, {});
    const FatGuess* blocked = weighed.Find(100);
    ASSERT_NE(blocked, nullptr);
    EXPECT_EQ(blocked->clusters, std::vector<std::uint32_t>{2});
    EXPECT_NE(blocked->why.find("no more free clusters"), std::string::npos) << blocked->why;
    const FatGuess* run = weighed.Find(132);
    ASSERT_NE(run, nullptr);
    EXPECT_EQ(run->clusters, (std::vector<std::uint32_t>{3, 4, 5, 6}));
    EXPECT_TRUE(run->mayBeIncomplete) << "it holds the blocked file's nearest candidates";
}

// The guess as the file's bytes: the clusters in order, adjacent ones joined, cut to the size.
TEST(FatDeletedFiles, GuessLayoutFollowsTheClusters) {
    FatVolumeParams p;
    p.PartType = FileSystemType::Fat16;
    p.SPC = 2;
    p.SPF = 16;
    p.Cluster0Start = 100;
    const FatGuess guess{{3, 5, 6, 12}, true, "x"};
    const FileLayout layout = FatGuessLayout(p, guess, 3873);
    ASSERT_EQ(layout.extents.size(), 3u);
    EXPECT_EQ(layout.extents[0].sector, 106u);
    EXPECT_EQ(layout.extents[0].length, 1024u);
    EXPECT_EQ(layout.extents[1].sector, 110u);
    EXPECT_EQ(layout.extents[1].length, 2048u);
    EXPECT_EQ(layout.extents[2].sector, 124u);
    EXPECT_EQ(layout.extents[2].length, 3873u - 3072u);
    EXPECT_TRUE(layout.bestEffort);
    // Fewer clusters than the size takes: the layout covers what there is.
    const FileLayout shortOne = FatGuessLayout(p, FatGuess{{20}, true, "x"}, 3000);
    ASSERT_EQ(shortOne.extents.size(), 1u);
    EXPECT_EQ(shortOne.extents[0].length, 1024u);
    EXPECT_EQ(shortOne.size, 3000u);
}

TEST(FatStamp, DatesAndTimesInHundredths) {
    constexpr std::uint16_t kDay = (44 << 9) | (3 << 5) | 14;  // 14 March 2024
    const struct {
        std::uint16_t date, time;
        std::uint8_t hundredths;
        std::int64_t since;  // hundredths after 14 March 2024 00:00:00, or kNoStamp
    } cases[] = {
        {kDay, 0, 0, 0},
        {kDay, (10 << 11) | (1 << 5) | 2, 150, (36000 + 60 + 4) * 100 + 150},
        {kDay + 1, 0, 0, 8640000},
        {static_cast<std::uint16_t>((44 << 9) | (4 << 5) | 1), 0, 0, 18 * std::int64_t{8640000}},  // 1 April
        {static_cast<std::uint16_t>((45 << 9) | (1 << 5) | 1), 0, 0,
         (366 - 73) * std::int64_t{8640000}},         // 1 January 2025
        {(44 << 9) | (13 << 5) | 1, 0, 0, kNoStamp},  // month 13
        {(44 << 9) | (3 << 5), 0, 0, kNoStamp},       // day 0
        {0, 0, 0, kNoStamp},
        {kDay, 24 << 11, 0, kNoStamp},
        {kDay, 60 << 5, 0, kNoStamp},
        {kDay, 30, 0, kNoStamp},  // 60 seconds
        {kDay, 0, 200, kNoStamp},
    };
    const std::int64_t day = FatStamp(kDay, 0, 0);
    EXPECT_EQ(FatStamp((0 << 9) | (1 << 5) | 1, 0, 0), 0);  // 1 January 1980
    for (const auto& c : cases) {
        const std::int64_t s = FatStamp(c.date, c.time, c.hundredths);
        EXPECT_EQ(s == kNoStamp ? kNoStamp : s - day, c.since) << c.date << " " << c.time << " " << int{c.hundredths};
    }
}

}  // namespace
}  // namespace quorlan
