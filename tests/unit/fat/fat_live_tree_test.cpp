// The walk of the live tree and the directory-cluster scan that skips what it owns: which
// clusters are owned, when the FAT is not trusted, what is read, and that the folders found stay
// those of a scan of every cluster.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <thread>

#include "fat/fat_live_tree.h"
#include "fat/fat_search.h"
#include "items/tables.h"
#include "search/search_driver.h"
#include "tests/support/disk_builder.h"
#include "tests/support/fat_builder.h"
#include "tests/support/result_listing.h"

namespace quorlan {
namespace {

using test::DiskBuilder;
using test::FatBuilder;

constexpr std::uint8_t kDir = 0x10;
constexpr std::uint8_t kFile = 0x20;
constexpr std::uint32_t kEnd = 0x0FFFFFFF;
constexpr std::uint32_t kBigFirst = 10;
constexpr std::uint32_t kBigClusters = 400;

// A FAT32 volume with one sector per cluster (cluster c at sector 2078 + c) and both FAT copies:
//   root (2):  PHOTOS (3), BIG.BIN (clusters 10-409), deleted folder OLD (4, free), A.TXT (450)
//   3:         SUB (5), IMG.JPG (460-461)
//   5:         empty
//   600:       a lost folder: allocated, but no live entry reaches it
//   12:        inside BIG.BIN, the bytes of a folder's first sector naming cluster 12
struct Volume {
    DiskBuilder disk{8000};
    FatBuilder fat{disk, 0, true, 1, 1024};
    Volume() {
        fat.bootSector().mirrored();
        fat.chain(2, 1).chain(3, 1).chain(5, 1).chain(kBigFirst, kBigClusters).chain(450, 1).chain(460, 2).chain(600, 1);
        const std::uint64_t root = fat.sectorOf(2);
        fat.rawEntry(root, 0, "PHOTOS     ", kDir, 3, 0);
        fat.rawEntry(root, 1, "BIG     BIN", kFile, kBigFirst, kBigClusters * 512);
        fat.rawEntry(root, 2, "\xE5OLD       ", kDir, 4, 0);
        fat.rawEntry(root, 3, "A       TXT", kFile, 450, 100);
        fat.directory(3, 0).directory(4, 0).directory(5, 3).directory(600, 599).directory(12, 0);
        fat.rawEntry(fat.sectorOf(3), 2, "SUB        ", kDir, 5, 0);
        fat.rawEntry(fat.sectorOf(3), 3, "IMG     JPG", kFile, 460, 1000);
    }
    [[nodiscard]] std::unique_ptr<SectorReader> reader() const { return disk.reader(); }
};

std::set<std::uint64_t> ownedSet(const LiveClusters& live) {
    std::set<std::uint64_t> out;
    for (std::uint64_t c = 0; c < live.owned.size(); ++c) {
        if (live.owned[c]) out.insert(c);
    }
    return out;
}

// The "self" cells of the folder rows a scan wrote, after the "QLN_Miscellaneous" row.
std::vector<std::string> scannedSelves(SectorReader& reader, const FatVolumeParams& params,
                                       const DirectoryScanOptions& options = {}, DirectoryScanReport* report = nullptr) {
    RecordTable table = MakeFatEntryTable();
    NullObserver quiet;
    const DirectoryScanReport r = ScanDirectoryClusters(reader, params, 8000, table, RunContext{quiet, {}}, options);
    if (report != nullptr) *report = r;
    std::vector<std::string> selves;
    for (int row = 1; row < table.RowCount(); ++row) selves.emplace_back(table.GetCell(row, "self"));
    return selves;
}

DirectoryScanOptions everyCluster() {
    DirectoryScanOptions options;
    options.everyCluster = "asked";
    return options;
}

TEST(WalkLiveTree, OwnsTheChainsOfLiveFoldersAndFilesAndReadsOnlyTheFolders) {
    Volume v;
    auto reader = v.reader();
    std::vector<std::uint64_t> visited;
    NullObserver quiet;
    const LiveClusters live = WalkLiveTree(*reader, v.fat.p, 8000, RunContext{quiet, {}},
                                           [&](std::uint64_t cluster, std::uint64_t sector, ByteView) {
        EXPECT_EQ(sector, v.fat.sectorOf(static_cast<std::uint32_t>(cluster)));
        visited.push_back(cluster);
    });
    ASSERT_EQ(live.untrusted, "");
    std::set<std::uint64_t> expected{2, 3, 5, 450, 460, 461};
    for (std::uint32_t c = kBigFirst; c < kBigFirst + kBigClusters; ++c) expected.insert(c);
    EXPECT_EQ(ownedSet(live), expected) << "neither the deleted folder (4) nor the lost one (600) is owned";
    EXPECT_EQ(std::set<std::uint64_t>(visited.begin(), visited.end()), (std::set<std::uint64_t>{2, 3, 5}));
    EXPECT_EQ(visited.size(), 3u) << "each folder cluster is read once";
}

TEST(ScanDirectoryClusters, SkipsTheLiveTreeAndFindsWhatAScanOfEveryClusterFinds) {
    Volume v;
    auto counting = std::make_unique<CountingSectorSource>(v.disk.source());
    const CountingSectorSource& walkCounts = *counting;
    SectorReader walkReader(std::move(counting));
    DirectoryScanReport report;
    const auto walked = scannedSelves(walkReader, v.fat.p, {}, &report);
    EXPECT_EQ(report.everyCluster, "");

    counting = std::make_unique<CountingSectorSource>(v.disk.source());
    const CountingSectorSource& fullCounts = *counting;
    SectorReader fullReader(std::move(counting));
    const auto full = scannedSelves(fullReader, v.fat.p, everyCluster());

    EXPECT_EQ(full, (std::vector<std::string>{"3", "4", "5", "12", "600"}));
    EXPECT_EQ(walked, (std::vector<std::string>{"3", "4", "5", "600"}))
        << "the live folders come from the walk, the deleted and the lost one from the scan; cluster 12 is a "
           "part of BIG.BIN";
    // The walk reads both FAT copies (the entries of clusters 0-5921: 47 sectors each) and the
    // three live folders; the scan skips BIG.BIN, and reads at most a few owned clusters where it
    // joins runs.
    const std::uint64_t fatBytes = 2 * 47 * kSectorSize;
    EXPECT_LE(walkCounts.bytesRead() + kBigClusters * kSectorSize, fullCounts.bytesRead() + fatBytes + 16 * kSectorSize);
    EXPECT_LT(walkCounts.bytesRead(), fullCounts.bytesRead());
}

TEST(ScanDirectoryClusters, RowsInClusterOrderWithTheFieldsOfTheDotEntry) {
    Volume v;
    auto reader = v.reader();
    RecordTable table = MakeFatEntryTable();
    NullObserver quiet;
    (void)ScanDirectoryClusters(*reader, v.fat.p, 8000, table, RunContext{quiet, {}});
    ASSERT_EQ(table.RowCount(), 5);
    EXPECT_EQ(table.GetCell(0, "Name"), "QLN_Miscellaneous");
    const std::vector<std::string> names{"Dir1", "Dir2", "Dir3", "Dir4"};
    for (int r = 1; r < 5; ++r) EXPECT_EQ(table.GetCell(r, "Name"), names[static_cast<std::size_t>(r - 1)]);
    // Folder 5, found by the walk, and folder 600, found by the scan, hold the same columns.
    EXPECT_EQ(table.GetCell(3, "sector"), std::to_string(v.fat.sectorOf(5)));
    EXPECT_EQ(table.GetCell(3, "parent"), "3");
    EXPECT_EQ(table.GetCell(4, "sector"), std::to_string(v.fat.sectorOf(600)));
    EXPECT_EQ(table.GetCell(4, "parent"), "599");
    for (const int r : {3, 4}) {
        EXPECT_EQ(table.GetCell(r, "date"), std::to_string(0x3A4F));
        EXPECT_EQ(table.GetCell(r, "time"), std::to_string(0x7000));
        EXPECT_EQ(table.GetCell(r, "attr"), "16");
        EXPECT_EQ(table.GetCell(r, "Type"), "FOLDER");
    }
}

// Each case damages the volume so that its FAT cannot be trusted; the scan then reads every
// cluster and finds what a scan of every cluster finds (cluster 12 included).
TEST(ScanDirectoryClusters, ReadsEveryClusterWhenTheFatCannotBeTrusted) {
    struct Case {
        const char* what;
        std::function<void(Volume&)> damage;
        std::set<std::uint64_t> badSectors;
        const char* reason;  // a part of the reason given
    };
    const std::vector<Case> cases{
        {"the copies differ", [](Volume& v) { v.fat.copyEntry(v.fat.p.secondFAT, 700, kEnd); }, {}, "copies of the FAT differ"},
        {"an entry names no cluster", [](Volume& v) { v.fat.fat(701, 0x00FFFFFF); }, {}, "names no cluster (cluster 701)"},
        {"reserved top bits set", [](Volume& v) { v.fat.fat(702, 0x1FFFFFFF); }, {}, "names no cluster (cluster 702)"},
        {"two files share clusters", [](Volume& v) { v.fat.fat(450, 15); }, {}, "two chains share cluster 15"},
        {"a chain runs into a free cluster", [](Volume& v) { v.fat.fat(461, 0); }, {}, "live file breaks off at cluster 461"},
        {"a chain runs into a bad cluster", [](Volume& v) { v.fat.fat(11, 0x0FFFFFF7); }, {}, "live file breaks off at cluster 11"},
        {"a live file starts in a free cluster", [](Volume& v) { v.fat.fat(450, 0); }, {}, "live file breaks off at cluster 450"},
        {"a folder's chain loops", [](Volume& v) { v.fat.fat(3, 3); }, {}, "live folder breaks off at cluster 3"},
        {"a folder is reached twice", [](Volume& v) { v.fat.rawEntry(v.fat.sectorOf(5), 2, "LOOP       ", kDir, 3, 0); }, {},
         "two chains share cluster 3"},
        {"an entry names a cluster beyond the FAT",
         [](Volume& v) { v.fat.rawEntry(v.fat.sectorOf(5), 2, "FAR     TXT", kFile, 0x00FFFFF0, 10); }, {}, "beyond the FAT"},
        {"a sector of the FAT cannot be read", [](Volume&) {}, {33}, "a sector of the FAT cannot be read"},
        {"a sector of the second FAT cannot be read", [](Volume&) {}, {1057}, "second FAT cannot be read"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Volume v;
        c.damage(v);
        SectorReader reader(std::make_unique<FaultySectorSource>(v.disk.source(), c.badSectors));
        NullObserver quiet;
        const LiveClusters live = WalkLiveTree(reader, v.fat.p, 8000, RunContext{quiet, {}}, [](auto, auto, ByteView) {});
        EXPECT_NE(live.untrusted.find(c.reason), std::string::npos) << live.untrusted;
        EXPECT_TRUE(live.owned.empty());
        DirectoryScanReport report;
        const auto selves = scannedSelves(reader, v.fat.p, {}, &report);
        EXPECT_EQ(report.everyCluster, live.untrusted);
        EXPECT_EQ(selves, scannedSelves(reader, v.fat.p, everyCluster()));
        EXPECT_TRUE(std::find(selves.begin(), selves.end(), "12") != selves.end());
    }
}

TEST(FatStandardSearch, InferredParametersReadEveryClusterAndSaySo) {
    Volume v;
    for (std::size_t i = 0; i < 512; ++i) v.disk.byte(0, i, 0);
    auto reader = v.reader();
    RecoveryState state;
    std::vector<std::string> statuses;
    struct Recorder final : NullObserver {
        std::vector<std::string>& lines;
        explicit Recorder(std::vector<std::string>& l) : lines(l) {}
        void status(std::string_view line) override { lines.emplace_back(line); }
    } recorder(statuses);
    const SearchResult result =
        RunSearch({FileSystemType::Fat32, 0, 8000, std::nullopt, {}}, *reader, state, RunContext{recorder, {}});
    ASSERT_TRUE(result.parametersInferred);
    EXPECT_NE(result.everyCluster, "");
    EXPECT_TRUE(std::find(statuses.begin(), statuses.end(), "Reading every cluster: " + result.everyCluster) !=
                statuses.end());
}

// Requests a stop when the scan announces its first chunk.
class StopAtFirstChunk final : public NullObserver {
public:
    explicit StopAtFirstChunk(std::stop_source& source) : m_source(source) {}
    void status(std::string_view line) override {
        if (line.starts_with("Sectors  ") && line != "Sectors  0 of 8000") m_source.request_stop();
    }

private:
    std::stop_source& m_source;
};

TEST(FatStandardSearch, AStopDuringTheScanKeepsTheFoldersOfTheWalk) {
    Volume v;
    auto reader = v.reader();
    RecoveryState state;
    std::stop_source stop;
    StopAtFirstChunk observer(stop);
    SearchResult result;
    std::jthread worker([&] {
        result = RunSearch({FileSystemType::Fat32, 0, 8000, ReadFatBootSector(*reader, 0, FileSystemType::Fat32), {}},
                           *reader, state, RunContext{observer, stop.get_token()});
    });
    worker.join();
    EXPECT_EQ(result.outcome, SearchOutcome::Stopped);
    EXPECT_EQ(result.everyCluster, "");
    const auto [folders, files] = test::everything(state, *reader);
    // The scan's first chunk (the first run: clusters 4 to 9) holds the deleted folder OLD.
    EXPECT_EQ(folders, (std::set<std::string>{"PHOTOS", "PHOTOS/SUB", "_OLD (deleted)", "QLN_Miscellaneous"}));
}

// A real stick (mkfs.fat, mtools): BIG.BIN fills half of it. The search reads no more than the
// free space and the metadata, and finds what a scan of every cluster finds but the folder-like
// bytes inside BIG.BIN.
// A floppy's FAT12 packs two entries into three bytes: the walk decodes them, trusts the FAT
// (mkfs.fat and mtools wrote it) and finds the folders a scan of every cluster finds.
TEST(WalkLiveTree, ReadsTheFat12OfAFloppy) {
    const std::filesystem::path image = std::filesystem::path(QUORLAN_FIXTURE_DIR) / "floppy.img";
    auto opened = FdSectorSource::open(image);
    ASSERT_TRUE(opened) << opened.error().message;
    SectorReader reader(std::move(opened).value());
    const std::uint64_t total = reader.totalSectors();
    const auto params = ReadFatBootSector(reader, 0, FileSystemType::Fat12);
    ASSERT_TRUE(params.has_value());
    NullObserver quiet;
    const LiveClusters live = WalkLiveTree(reader, *params, total, RunContext{quiet, {}},
                                           [](std::uint64_t, std::uint64_t, ByteView) {});
    ASSERT_EQ(live.untrusted, "");
    EXPECT_FALSE(ownedSet(live).empty());

    const auto selves = [&](const DirectoryScanOptions& options) {
        RecordTable table = MakeFatEntryTable();
        const DirectoryScanReport report =
            ScanDirectoryClusters(reader, *params, total, table, RunContext{quiet, {}}, options);
        EXPECT_EQ(report.everyCluster, options.everyCluster);
        std::vector<std::string> out;
        for (int row = 1; row < table.RowCount(); ++row) out.emplace_back(table.GetCell(row, "self"));
        return out;
    };
    const auto walked = selves({});
    EXPECT_FALSE(walked.empty());
    EXPECT_EQ(walked, selves(everyCluster()));
}

TEST(FatStandardSearch, ReadsNeitherTheBigFileNorMoreThanTheFreeSpaceAndTheMetadata) {
    const std::filesystem::path image = std::filesystem::path(QUORLAN_FIXTURE_DIR) / "fat32-bigfile.img";
    auto opened = FdSectorSource::open(image);
    ASSERT_TRUE(opened) << opened.error().message;
    auto counting = std::make_unique<CountingSectorSource>(std::move(opened).value());
    const CountingSectorSource& counts = *counting;
    SectorReader reader(std::move(counting));
    const std::uint64_t total = reader.totalSectors();
    const auto params = ReadFatBootSector(reader, 0, FileSystemType::Fat32);
    ASSERT_TRUE(params.has_value());

    // Free clusters, counted from FAT copy 1 directly.
    const std::uint64_t dataStart = ClusterToSector(*params, 2);
    const std::uint64_t clusters = (total - dataStart) / params->SPC;
    std::vector<std::byte> fat(params->SPF * kSectorSize);
    ASSERT_EQ(reader.ReadSectors(params->firstFAT, static_cast<std::uint32_t>(params->SPF), fat), 1);
    std::uint64_t free = 0;
    for (std::uint64_t c = 2; c < clusters + 2; ++c) if (ByteView(fat).u32le(c * 4).value() == 0) ++free;
    const std::uint64_t clusterBytes = params->SPC * kSectorSize;
    const std::uint64_t bigBytes = 24u << 20;
    ASSERT_GT(total * kSectorSize - free * clusterBytes, bigBytes) << "BIG.BIN is live";

    const std::uint64_t before = counts.bytesRead();
    RecoveryState state;
    NullObserver quiet;
    const SearchResult result = RunSearch({FileSystemType::Fat32, 0, total, params, {}}, reader, state, RunContext{quiet, {}});
    const std::uint64_t read = counts.bytesRead() - before;
    EXPECT_EQ(result.everyCluster, "");
    // Metadata: everything before the data area (boot sectors, both FATs) and the live folders'
    // clusters (a few), with room for the owned clusters read where runs are joined (64 KiB).
    const std::uint64_t metadata = dataStart * kSectorSize + 64 * 1024 + 16 * clusterBytes;
    EXPECT_LE(read, free * clusterBytes + metadata);

    const auto [folders, files] = test::everything(state, reader);
    EXPECT_EQ(folders, (std::set<std::string>{"Kept", "Kept/Inner", "_OST (deleted)", "_OST/SUB (deleted)",
                                              "Gone (deleted)", "QLN_Miscellaneous"}));
    EXPECT_TRUE(files.contains("BIG.BIN"));
    EXPECT_TRUE(files.contains("_OST/SUB/table.csv (deleted)"));

    // A scan of every cluster finds the same folders, and the folder-like cluster 1003 of BIG.BIN.
    RecordTable walked = MakeFatEntryTable();
    RecordTable full = MakeFatEntryTable();
    (void)ScanDirectoryClusters(reader, *params, total, walked, RunContext{quiet, {}});
    (void)ScanDirectoryClusters(reader, *params, total, full, RunContext{quiet, {}}, everyCluster());
    std::set<std::string> walkedSelves;
    std::set<std::string> fullSelves;
    for (int r = 0; r < walked.RowCount(); ++r) walkedSelves.emplace(walked.GetCell(r, "self"));
    for (int r = 0; r < full.RowCount(); ++r) fullSelves.emplace(full.GetCell(r, "self"));
    walkedSelves.insert("1003");
    EXPECT_EQ(walkedSelves, fullSelves);
}

}  // namespace
}  // namespace quorlan
