// What a Standard Search costs a stick: the bytes and read requests it asks of the medium, counted
// by a CountingSectorSource under the engine, and its time. For a FAT partition it also counts the
// directory-cluster scan alone in its variants: skipping the live tree with runs apart by at most
// a gap joined (several gaps), and reading every cluster, the scan before the live tree was
// skipped.
//
//   quorlan-search-reads IMAGE --partition N [--cold] [--gap-kib N]...
//
// --cold drops the image from the page cache (posix_fadvise DONTNEED) before every run.
#include <fcntl.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "disks/partition_table.h"
#include "fat/fat_search.h"
#include "items/tables.h"
#include "search/search_driver.h"

namespace {

using namespace quorlan;
using Clock = std::chrono::steady_clock;

struct Opened {
    std::unique_ptr<SectorReader> reader;
    CountingSectorSource* counts = nullptr;
};

Opened open(const char* path, bool cold) {
    auto source = FdSectorSource::open(path);
    if (!source) {
        std::fprintf(stderr, "%s\n", source.error().message.c_str());
        std::exit(1);
    }
    if (cold) (void)::posix_fadvise((*source)->fd(), 0, 0, POSIX_FADV_DONTNEED);
    auto counting = std::make_unique<CountingSectorSource>(std::move(source).value());
    Opened out;
    out.counts = counting.get();
    out.reader = std::make_unique<SectorReader>(std::move(counting));
    return out;
}

double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

void line(const char* what, const CountingSectorSource& counts, double s, const std::string& note) {
    std::printf("%-34s %10.1f MB %9llu requests %8.3f s  %s\n", what, static_cast<double>(counts.bytesRead()) / 1e6,
                static_cast<unsigned long long>(counts.requests()), s, note.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4 || std::strcmp(argv[2], "--partition") != 0) {
        std::fprintf(stderr, "usage: quorlan-search-reads IMAGE --partition N [--cold] [--gap-kib N]...\n");
        return 2;
    }
    const char* image = argv[1];
    const std::size_t index = std::stoul(argv[3]) - 1;
    bool cold = false;
    std::vector<std::uint64_t> gaps;
    for (int i = 4; i < argc; ++i) {
        if (std::strcmp(argv[i], "--cold") == 0) {
            cold = true;
        } else if (std::strcmp(argv[i], "--gap-kib") == 0 && i + 1 < argc) {
            gaps.push_back(std::stoull(argv[++i]) * 1024);
        }
    }

    Opened disk = open(image, cold);
    const DiskPartitionList list = ReadPartitionTable(*disk.reader, disk.reader->totalSectors(), nullptr);
    if (index >= list.partitions.size()) {
        std::fprintf(stderr, "no partition %zu\n", index + 1);
        return 1;
    }
    const PartitionEntry& p = list.partitions[index];
    SearchRequest request;
    request.type = p.type;
    request.rangeStart = p.start;
    request.rangeEnd = p.end;
    if (IsFatType(p.type)) {
        request.validated = ValidateFatPartition(*disk.reader, p.type, p.start);
    } else {
        request.ntfs = ValidateNtfsBootSector(*disk.reader, p.start, p.end);
    }

    NullObserver quiet;
    {
        Opened run = open(image, cold);
        RecoveryState state;
        const auto t0 = Clock::now();
        const SearchResult result = RunSearch(request, *run.reader, state, RunContext{quiet, {}});
        const double s = seconds(t0);
        std::string note = std::to_string(state.model.nodes.size()) + " folders";
        if (!result.everyCluster.empty()) note += "; every cluster read: " + result.everyCluster;
        line("Standard Search (RunSearch)", *run.counts, s, note);
    }
    if (!request.validated) return 0;

    // The directory-cluster scan alone, in its variants.
    auto scan = [&](const char* what, const DirectoryScanOptions& options) {
        Opened run = open(image, cold);
        RecordTable table = MakeFatEntryTable();
        const auto t0 = Clock::now();
        const DirectoryScanReport report =
            ScanDirectoryClusters(*run.reader, *request.validated, request.rangeEnd, table, RunContext{quiet, {}},
                                  options);
        const double s = seconds(t0);
        std::string note = std::to_string(table.RowCount() - 1) + " folders, " + std::to_string(report.runs) +
                           " runs, " + std::to_string(report.sectorsScanned * kSectorSize / 1000000) + " MB scanned";
        if (!report.everyCluster.empty() && options.everyCluster.empty()) {
            note += "; every cluster: " + report.everyCluster;
        }
        line(what, *run.counts, s, note);
    };
    if (gaps.empty()) gaps = {0, 64 * 1024, 1024 * 1024};
    for (const std::uint64_t gap : gaps) {
        const std::string what = "scan, live tree skipped, gap " + std::to_string(gap / 1024) + " KiB";
        DirectoryScanOptions options;
        options.mergeGapBytes = gap;
        scan(what.c_str(), options);
    }
    DirectoryScanOptions every;
    every.everyCluster = "asked";
    scan("scan of every cluster", every);
    return 0;
}
