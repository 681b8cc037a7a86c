// Times the Advance Search's scan of a whole image against the least a scan of every sector can
// cost (bench/reference_loop.h) in the same chunk size, both from the page cache, and prints the
// ratio. Then, in one more search of every type, how long the analysis after the scan takes and
// the rest of the Advance Search of the image (the entries of file system 1, every folder
// listed), the analysis of 50,000 directory clusters, and this process's peak memory.
//
//   quorlan-advance-bench IMAGE [--runs N] [--type FAT16|FAT32|NTFS]
//
// --type (FAT32 unless given) is the type of the second timed search, which looks for it alone.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string_view>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bench/reference_loop.h"
#include "core/device_table.h"
#include "core/unique_fd.h"
#include "fat/fat_advance.h"
#include "items/tables.h"
#include "search/advance_scan.h"
#include "search/advance_search.h"
#include "search/folder_listing.h"

namespace {

using namespace quorlan;
using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

double peakMegabytes() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

// A directory table as a scan of a large stick leaves it: 50,000 directories of one FAT32 volume
// (8 sectors per cluster, cluster 0 at sector 32,000) and, mixed in, 5,000 copies of directories
// elsewhere on the disk whose clusters fit no volume.
RecordTable fiftyThousandDirectories() {
    RecordTable t = MakeDirectoryTable();
    std::mt19937_64 random(5);
    std::uint64_t cluster = 3;
    for (int i = 0; i < 55000; ++i) {
        const bool copy = i % 11 == 10;
        cluster += 1 + random() % 40;
        const std::uint64_t sector = 32000 + cluster * 8 + (copy ? 1 + random() % 7 : 0);
        const int r = t.AppendRow(std::to_string(sector));
        t.SetNumber(r, "Self Cluster", copy ? random() % 2000000 : cluster);
        t.SetNumber(r, "Parent Cluster", cluster / 2);
        t.SetCell(r, "File System", "0");
    }
    return t;
}

int usage() {
    std::fprintf(stderr, "usage: quorlan-advance-bench IMAGE [--runs N] [--type FAT16|FAT32|NTFS]\n");
    return 2;
}

// Notes when the scan's progress reaches the end of its range: the analysis starts then.
class ScanEndClock final : public SearchObserver {
public:
    void beginPhase(std::string_view, std::uint64_t totalUnits) override {
        if (m_phases++ == 0) m_total = totalUnits;
    }
    void setDone(std::uint64_t doneUnits) override {
        if (m_phases == 1 && doneUnits >= m_total && !m_scanEnd) m_scanEnd = Clock::now();
    }
    void status(std::string_view) override {}
    void counter(Counter, std::uint64_t) override {}
    [[nodiscard]] std::optional<Clock::time_point> scanEnd() const { return m_scanEnd; }

private:
    int m_phases = 0;
    std::uint64_t m_total = 0;
    std::optional<Clock::time_point> m_scanEnd;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    const std::string image = argv[1];
    int runs = 5;
    FileSystemType alone = FileSystemType::Fat32;
    for (int i = 2; i < argc; ++i) {
        if (std::string(argv[i]) == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::stoi(argv[++i]));
        } else if (std::string(argv[i]) == "--type" && i + 1 < argc) {
            alone = FileSystemTypeFromText(argv[++i]);
            if (alone != FileSystemType::Fat16 && alone != FileSystemType::Fat32 && alone != FileSystemType::Ntfs) {
                return usage();
            }
        } else {
            return usage();
        }
    }
    auto opened = openSectorReader(image);
    if (!opened.ok()) {
        std::fprintf(stderr, "quorlan-advance-bench: %s\n", opened.error().message.c_str());
        return 1;
    }
    SectorReader& reader = **opened;
    const UniqueFd fd(::open(image.c_str(), O_RDONLY | O_CLOEXEC));
    const double mb = static_cast<double>(reader.totalSectors() * kSectorSize) / 1e6;
    const std::size_t chunkBytes = std::size_t{kAdvanceScanChunkSectors} * kSectorSize;
    std::printf("image %s: %.0f MB, best and median of %d runs, from the page cache; chunks of %zu KiB\n",
                image.c_str(), mb, runs, chunkBytes / 1024);

    // One untimed pass brings the image into the page cache.
    (void)bench::referenceLoop(fd.get(), chunkBytes);
    struct Variant {
        const char* name;
        std::optional<FileSystemType> type;
        std::vector<double> seconds;
    };
    const std::string aloneName = "(b) Advance scan and analysis, " + std::string(FileSystemTypeText(alone));
    std::vector<Variant> variants{{"(a) reference pread loop", std::nullopt, {}},
                                  {"(b) Advance scan and analysis, every type", std::nullopt, {}},
                                  {aloneName.c_str(), alone, {}}};
    RecoveryState state;
    NullObserver quiet;
    std::size_t fileSystems = 0;
    for (int r = 0; r < runs; ++r) {
        for (std::size_t v = 0; v < variants.size(); ++v) {
            const auto t0 = Clock::now();
            if (v == 0) {
                (void)bench::referenceLoop(fd.get(), chunkBytes);
            } else {
                AdvanceSearchRequest request;
                request.type = variants[v].type;
                request.rangeEnd = reader.totalSectors();
                const std::size_t found = RunAdvanceSearch(request, reader, state, RunContext{quiet, {}}).fileSystems;
                if (v == 1) fileSystems = found;
            }
            variants[v].seconds.push_back(seconds(t0));
        }
    }
    std::printf("  %-44s %9s %9s %9s %13s\n", "loop", "best s", "median s", "MB/s", "ratio to (a)");
    const double reference = bench::best(variants[0].seconds);
    const double referenceMedian = bench::median(variants[0].seconds);
    for (const Variant& v : variants) {
        std::printf("  %-44s %9.3f %9.3f %9.0f %6.2f %6.2f\n", v.name, bench::best(v.seconds),
                    bench::median(v.seconds), mb / bench::best(v.seconds), bench::best(v.seconds) / reference,
                    bench::median(v.seconds) / referenceMedian);
    }
    std::printf("ratio: best / best and median / median; the scan must stay at or below 1.25\n");
    if (fileSystems == 0) {
        std::fprintf(stderr, "quorlan-advance-bench: no file system identified on %s\n", image.c_str());
        return 1;
    }

    // One more search of every type, whose analysis is timed from the end of the scan; then the
    // rest of the search: file system 1's entries, and every folder listed as `search --files`.
    ScanEndClock clock;
    AdvanceSearchRequest every;
    every.rangeEnd = reader.totalSectors();
    (void)RunAdvanceSearch(every, reader, state, RunContext{clock, {}});
    const double analysed = clock.scanEnd() ? seconds(*clock.scanEnd()) : 0.0;
    const auto t0 = Clock::now();
    if (!RunEntryBuilding(1, reader, state, RunContext{quiet, {}}).ok()) return 1;
    const double building = seconds(t0);
    std::printf("\nanalysis after the scan %.3f s, entries of file system 1 %.3f s: %.3f s together\n", analysed,
                building, analysed + building);
    std::size_t files = 0;
    std::vector<TreeItem*> pending{state.model.tree.root()};
    while (!pending.empty()) {
        TreeItem* item = pending.back();
        pending.pop_back();
        for (const ListedRow& row : ListFolderRows(state, reader, item, FolderListing::Select)) files += !row.isFolder;
        for (auto& child : item->children) pending.push_back(child.get());
    }
    std::printf("file system 1: %zu folders built in %.3f s; %zu files listed in %.3f s more\n",
                state.model.nodes.size(), building, files, seconds(t0) - building);

    RecordTable dirs = fiftyThousandDirectories();
    RecordTable boot = MakeFileSystemTable();
    RecordTable found = MakeFileSystemTable();
    const auto t1 = Clock::now();
    const FatAnalysisResult analysis = AnalyzeFatScan(boot, dirs, {}, std::nullopt, found, quiet);
    std::printf("analysis of %d directory clusters without boot sector: %.3f s, %zu file system(s)\n", dirs.RowCount(),
                seconds(t1), analysis.fileSystems);
    std::printf("peak memory of this process: %.1f MB\n", peakMegabytes());
    return 0;
}
