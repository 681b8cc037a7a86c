// Every search mode over fixture disks read through a failing medium: unreadable stretches (EIO),
// short reads, slow reads and bytes that change from one read to the next, over the places that
// matter (the FAT, the $MFT, a directory, the data area, the disk's end). Each run must end
// within its bound, report the sectors it could not read, and show what the readable part holds:
// the same search over the image with those sectors zeroed finds nothing the damaged run misses,
// and saves no file byte for byte that the damaged run saves differently.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <set>
#include <utility>

#include "core/device_table.h"
#include "tests/support/damage_runs.h"
#include "tests/support/fault_source.h"

namespace quorlan::test {
namespace {

// A run of the search, listing, saving or lost-partition search of these small images takes
// well under a second; under the sanitizers a few seconds. Anything near this bound is a hang.
constexpr std::chrono::seconds kBound{120};

std::string fixture(const std::string& name) {
    return std::string(QUORLAN_FIXTURE_DIR) + "/" + name;
}

std::vector<std::byte> imageBytes(const std::string& path) {
    std::vector<std::byte> bytes(static_cast<std::size_t>(std::filesystem::file_size(path)));
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

// Where the structures of an image's first partition lie.
struct Layout {
    std::uint64_t start = 0, end = 0, disk = 0;
    std::uint64_t table = 0;      // FAT: the first FAT; NTFS: MFT record 0
    std::uint64_t tableSpan = 0;  // FAT: sectors per FAT; NTFS: 64 records
    std::uint64_t directory = 0;  // FAT16: the root directory; FAT32: the root's first cluster; NTFS: record 5
    std::uint64_t directorySpan = 0;
};

Layout layoutOf(const std::string& image) {
    auto reader = openSectorReader(image);
    EXPECT_TRUE(reader.ok());
    Layout l;
    if (!reader.ok()) return l;
    SectorReader& r = **reader;
    l.disk = r.totalSectors();
    const DiskPartitionList list = ReadPartitionTable(r, l.disk);
    EXPECT_FALSE(list.partitions.empty()) << image;
    if (list.partitions.empty()) return l;
    const PartitionEntry& p = list.partitions[0];
    l.start = p.start;
    l.end = p.end;
    if (IsFatType(p.type)) {
        const auto params = ValidateFatPartition(r, p.type, p.start);
        EXPECT_TRUE(params.has_value()) << image;
        if (!params) return l;
        l.table = params->firstFAT;
        l.tableSpan = params->SPF;
        l.directory = params->isFat32() ? ClusterToSector(*params, params->RootStart) : params->RootStart;
        l.directorySpan = params->isFat32() ? params->SPC : params->RootSectors;
    } else {
        const auto ntfs = ValidateNtfsBootSector(r, p.start, p.end);
        EXPECT_TRUE(ntfs.has_value()) << image;
        if (!ntfs) return l;
        l.table = ntfs->mftSector;
        l.tableSpan = 64 * ntfs->recordSectors;
        l.directory = ntfs->mftSector + 5 * ntfs->recordSectors;
        l.directorySpan = ntfs->recordSectors;
    }
    return l;
}

struct Recipe {
    const char* name;
    Faults (*faults)(const Layout&);
    // The sectors a reference image has zeroed: what the damaged run cannot read (plus, after a
    // stretch long enough to be skipped, the skip's margin). Empty: all is readable, and the
    // reference is the intact image.
    std::vector<SectorRange> (*zeroed)(const Layout&);
};

SectorRange tablePart(const Layout& l) {
    return {l.table + 1, std::min<std::uint64_t>(8, l.tableSpan - 1)};
}
SectorRange directoryPart(const Layout& l) {
    return {l.directory, std::min<std::uint64_t>(l.directorySpan, 8)};
}
SectorRange dataStretch(const Layout& l) {
    return {l.start + (l.end - l.start) / 2, 1000};
}
SectorRange diskTail(const Layout& l) {
    return {l.disk - l.disk / 4, l.disk / 4};
}
SectorRange withSkipMargin(SectorRange r) {
    return {r.first, r.count + kMaxSkipSectors};
}

const Recipe kRecipes[] = {
    {"FAT or $MFT sectors unreadable",
     [](const Layout& l) {
         return Faults{{tablePart(l)}, {}, {}, {}, {}};
     },
     [](const Layout& l) { return std::vector<SectorRange>{tablePart(l)}; }},
    {"directory or folder record unreadable",
     [](const Layout& l) {
         return Faults{{directoryPart(l)}, {}, {}, {}, {}};
     },
     [](const Layout& l) { return std::vector<SectorRange>{directoryPart(l)}; }},
    {"1000 sectors of the data area unreadable",
     [](const Layout& l) {
         return Faults{{dataStretch(l)}, {}, {}, {}, {}};
     },
     [](const Layout& l) { return std::vector<SectorRange>{withSkipMargin(dataStretch(l))}; }},
    {"the last quarter of the disk unreadable",
     [](const Layout& l) {
         return Faults{{diskTail(l)}, {}, {}, {}, {}};
     },
     [](const Layout& l) { return std::vector<SectorRange>{diskTail(l)}; }},
    {"FAT, $MFT and directory read short",
     [](const Layout& l) {
         return Faults{{}, {tablePart(l), directoryPart(l)}, {}, {}, {}};
     },
     [](const Layout& l) {
         return std::vector<SectorRange>{tablePart(l), directoryPart(l)};
     }},
    {"FAT, $MFT and directory slow (5 ms a read)",
     [](const Layout& l) {
         return Faults{{}, {}, {tablePart(l), directoryPart(l)}, std::chrono::milliseconds(5), {}};
     },
     nullptr},
    {"FAT, $MFT and directory change between reads",
     [](const Layout& l) {
         return Faults{{}, {}, {}, {}, {{l.table, l.tableSpan}, directoryPart(l)}};
     },
     nullptr},
};

constexpr DamageMode kModes[] = {DamageMode::Standard, DamageMode::Saving, DamageMode::LostPartitions,
                                 DamageMode::Advance};

DamageOutcome runOver(std::unique_ptr<SectorSource> source, DamageMode mode) {
    SectorReader reader(std::move(source));
    return RunDamageModeWithin(reader, mode, kBound);
}

template <typename C>
std::vector<std::string> missing(const C& wanted, const C& have) {
    std::vector<std::string> out;
    for (const auto& w : wanted) {
        if (!have.contains(w)) out.push_back(w);
    }
    return out;
}

class DamageRecipes : public ::testing::TestWithParam<const char*> {};

TEST_P(DamageRecipes, EveryModeEndsReportsWhatItCouldNotReadAndKeepsWhatIsReadable) {
    const std::string image = fixture(GetParam());
    const Layout layout = layoutOf(image);
    ASSERT_GT(layout.end, layout.start);
    const auto intactBytes = std::make_shared<const std::vector<std::byte>>(imageBytes(image));
    ASSERT_EQ(intactBytes->size(), layout.disk * kSectorSize);

    std::size_t incompleteListed = 0;  // files listed as incomplete over all recipes
    std::map<DamageMode, DamageOutcome> intact;
    for (const DamageMode mode : kModes) {
        intact[mode] = runOver(std::make_unique<SharedBytesSource>(intactBytes), mode);
        EXPECT_EQ(intact[mode].unreadable, 0u);
    }
    ASSERT_FALSE(intact[DamageMode::Saving].saved.empty());

    for (const Recipe& recipe : kRecipes) {
        const Faults faults = recipe.faults(layout);
        std::shared_ptr<const std::vector<std::byte>> zeroed;
        if (recipe.zeroed != nullptr) {
            std::vector<std::byte> zeroedBytes = *intactBytes;
            for (const SectorRange& r : recipe.zeroed(layout)) {
                const std::uint64_t end = std::min(r.end(), layout.disk);
                std::fill(zeroedBytes.begin() + static_cast<std::ptrdiff_t>(r.first * kSectorSize),
                          zeroedBytes.begin() + static_cast<std::ptrdiff_t>(end * kSectorSize), std::byte{0});
            }
            zeroed = std::make_shared<const std::vector<std::byte>>(std::move(zeroedBytes));
        }
        for (const DamageMode mode : kModes) {
            SCOPED_TRACE(::testing::Message() << recipe.name << ", " << DamageModeName(mode));
            auto faulty =
                std::make_unique<FaultInjectingSource>(std::make_unique<SharedBytesSource>(intactBytes), faults);
            const FaultInjectingSource& source = *faulty;
            SectorReader reader(std::move(faulty));
            const DamageOutcome damaged = RunDamageModeWithin(reader, mode, kBound);
            ASSERT_TRUE(damaged.ended);

            // Reported: a run that met unreadable or short sectors counts them; one that did not, none.
            EXPECT_EQ(damaged.unreadable > 0, source.faultedRequests() > 0)
                << damaged.unreadable << " unreadable, " << source.faultedRequests() << " failed requests";
            incompleteListed += damaged.incomplete.size();
            if (!faults.changing.empty()) continue;  // what arrives is not the disk's: only ending is asked

            const DamageOutcome reference =
                recipe.zeroed == nullptr ? intact[mode] : runOver(std::make_unique<SharedBytesSource>(zeroed), mode);
            EXPECT_EQ(missing(reference.items, damaged.items), std::vector<std::string>{});
            EXPECT_EQ(missing(reference.partitions, damaged.partitions), std::vector<std::string>{});
            const DamageOutcome& whole = intact[mode];
            for (const auto& [path, bytes] : reference.saved) {
                // A file the damage does not touch is saved byte for byte.
                const auto before = whole.saved.find(path);
                if (before == whole.saved.end() || before->second != bytes) continue;
                const auto after = damaged.saved.find(path);
                ASSERT_NE(after, damaged.saved.end()) << path << " was not saved";
                EXPECT_TRUE(after->second == bytes) << path << " was saved with other bytes";
            }
            for (const auto& [path, bytes] : damaged.saved) {
                // A file the damage reached is listed as incomplete (or its bytes are right).
                const auto before = whole.saved.find(path);
                if (before == whole.saved.end() || before->second == bytes) continue;
                EXPECT_TRUE(damaged.incomplete.contains(path)) << path << " differs but is not listed as incomplete";
            }
        }
    }
    EXPECT_GT(incompleteListed, 0u) << "no recipe reached a saved file";
}

// An Advance Search of a 1 GiB disk with a FAT16 volume before a 64 MiB unreadable area and an
// NTFS volume after it: the area costs a few hundred reads (asking for each of its 131,072
// sectors would cost as many reads, each up to seconds on a real stick), and both volumes are
// identified and rebuilt as they are on their own.
TEST(DamageAdvance, A64MiBBadAreaCostsAFewHundredReadsAndTheVolumesAroundItAreFound) {
    constexpr std::uint64_t kDisk = 2u << 20;  // 1 GiB
    constexpr SectorRange kBad{700'001, 131'072};
    constexpr std::uint64_t kSecond = 1'500'000;  // where the NTFS image is placed
    const auto fat = std::make_shared<const std::vector<std::byte>>(imageBytes(fixture("fat16-search.img")));
    const auto ntfs = std::make_shared<const std::vector<std::byte>>(imageBytes(fixture("ntfs-search.img")));
    ASSERT_LT(fat->size() / kSectorSize, kBad.first);
    ASSERT_LT(kSecond + ntfs->size() / kSectorSize, kDisk);

    // Each image searched alone; the NTFS volume's items then carry the start it has on the disk.
    std::set<std::string> wanted;
    std::set<std::string> wantedSystems;
    for (const auto& [bytes, shift] : {std::pair{fat, std::uint64_t{0}}, std::pair{ntfs, kSecond}}) {
        const DamageOutcome alone = runOver(std::make_unique<SharedBytesSource>(bytes), DamageMode::Advance);
        ASSERT_FALSE(alone.partitions.empty());
        const auto moved = [shift](const std::string& tagged) {
            const auto at = tagged.find('@');
            const auto end = tagged.find(':', at);
            const std::uint64_t start = std::stoull(tagged.substr(at + 1, end - at - 1)) + shift;
            return tagged.substr(0, at + 1) + std::to_string(start) + (end == std::string::npos ? "" : tagged.substr(end));
        };
        for (const std::string& p : alone.partitions) wantedSystems.insert(moved(p));
        for (const std::string& item : alone.items) wanted.insert(moved(item));
        EXPECT_GT(alone.items.size(), 10u) << "the image alone gives too little to compare";
    }
    const auto startsOf = [](const std::set<std::string>& systems) {
        std::vector<std::uint64_t> starts;
        for (const std::string& s : systems) starts.push_back(std::stoull(s.substr(s.find('@') + 1)));
        return starts;
    };
    const std::vector<std::uint64_t> starts = startsOf(wantedSystems);
    ASSERT_TRUE(std::any_of(starts.begin(), starts.end(), [&](std::uint64_t s) { return s < kBad.first; }));
    ASSERT_TRUE(std::any_of(starts.begin(), starts.end(), [&](std::uint64_t s) { return s > kBad.end(); }));

    AdvanceSearchRequest wholeDisk;
    wholeDisk.rangeEnd = kDisk;
    const auto disk = [&] {
        return std::make_unique<PlacedSource>(kDisk, std::vector<PlacedSource::Piece>{{0, fat}, {kSecond, ntfs}});
    };
    // The scan's reads of the disk without the bad area, and with it.
    std::uint64_t cleanRequests = 0;
    {
        auto counted = std::make_unique<FaultInjectingSource>(disk(), Faults{});
        const FaultInjectingSource& source = *counted;
        SectorReader reader(std::move(counted));
        RecoveryState state;
        NullObserver quiet;
        (void)RunAdvanceSearch(wholeDisk, reader, state, RunContext{quiet, {}});
        cleanRequests = source.requests();
    }
    Faults faults;
    faults.unreadable = {kBad};
    auto faulty = std::make_unique<FaultInjectingSource>(disk(), faults);
    const FaultInjectingSource& source = *faulty;
    SectorReader reader(std::move(faulty));
    RecoveryState state;
    NullObserver quiet;
    const AdvanceScanResult scan =
        RunAdvanceSearch(wholeDisk, reader, state, RunContext{quiet, {}});
    // The chunk where the area begins is read sector by sector up to it (at most one chunk of
    // reads); the area itself costs 64 failures, the widening skips and a probe per chunk.
    const std::uint64_t extra = source.requests() - cleanRequests;
    EXPECT_LE(extra, 1024u + 300u) << "the bad area cost " << extra << " reads";
    EXPECT_LE(source.faultedRequests(), 300u);
    EXPECT_GE(scan.unreadableSectors, kBad.count);
    EXPECT_LT(scan.unreadableSectors, kBad.count + kMaxSkipSectors);
    EXPECT_EQ(reader.unreadableSectors(), scan.unreadableSectors);

    const DamageOutcome damaged = RunDamageModeWithin(reader, DamageMode::Advance, kBound);
    EXPECT_EQ(missing(wantedSystems, damaged.partitions), std::vector<std::string>{});
    EXPECT_EQ(missing(wanted, damaged.items), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Fixtures, DamageRecipes,
                         ::testing::Values("fat16-search.img", "fat32-search.img", "ntfs-search.img"),
                         [](const auto& param) {
                             std::string name = param.param;
                             std::replace_if(
                                 name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
                             return name;
                         });

}  // namespace
}  // namespace quorlan::test
