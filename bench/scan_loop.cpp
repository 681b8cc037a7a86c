// Times the engine's chunked scan loop against the least a scan of every sector can cost: a plain
// pread loop in the same chunk size that tests each sector for the boot signature 0x55 0xAA at
// 510 and a 4-byte magic at 0. Both read the image from the page cache; the ratio shows what the
// loop itself costs.
//
//   quorlan-scan-bench IMAGE [--chunk-kib N]... [--runs N] [--work N]
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/reference_loop.h"
#include "core/device_table.h"
#include "core/sector_scan.h"
#include "core/unique_fd.h"

namespace {

using quorlan::kSectorSize;
using Clock = std::chrono::steady_clock;

using quorlan::bench::best;
using quorlan::bench::Counts;
using quorlan::bench::median;

// Extra passes over every byte per chunk (--work N), standing for a visitor that does more than
// test two places of each sector; 0 for the benchmark's own figures.
int g_work = 0;

// (a) The reference: pread in chunks, test every sector.
Counts referenceLoop(int fd, std::size_t chunkBytes) { return quorlan::bench::referenceLoop(fd, chunkBytes, g_work); }

// (b) The engine's loop over the whole disk with the same test.
Counts coreLoop(quorlan::SectorReader& reader, std::uint32_t chunkSectors, std::uint32_t lookAhead, bool readAhead) {
    Counts counts;
    quorlan::NullObserver quiet;
    const quorlan::ScanOptions options{
        .chunkSectors = chunkSectors, .lookAheadSectors = lookAhead, .readAhead = readAhead};
    (void)quorlan::ScanSectors(reader, 0, reader.totalSectors(), options, quorlan::RunContext{quiet, {}},
                               [&](const quorlan::ScanChunk& chunk) {
                                   quorlan::bench::testSectors(chunk.bytes.data(), chunk.sectorCount, counts, g_work);
                                   return quorlan::ScanStep::Continue;
                               });
    return counts;
}

struct Variant {
    std::string name;
    std::uint32_t lookAhead = 0;
    bool readAhead = false;
    std::vector<double> seconds;
};

int usage() {
    std::fprintf(stderr, "usage: quorlan-scan-bench IMAGE [--chunk-kib N]... [--runs N] [--work N]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    const std::string image = argv[1];
    std::vector<std::uint32_t> chunksKib;
    int runs = 5;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--chunk-kib" && i + 1 < argc) {
            chunksKib.push_back(static_cast<std::uint32_t>(std::stoul(argv[++i])));
        } else if (arg == "--work" && i + 1 < argc) {
            g_work = std::max(0, std::stoi(argv[++i]));
        } else if (arg == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::stoi(argv[++i]));
        } else {
            return usage();
        }
    }
    if (chunksKib.empty()) chunksKib = {512};

    auto opened = quorlan::openSectorReader(image);
    if (!opened.ok()) {
        std::fprintf(stderr, "quorlan-scan-bench: %s\n", opened.error().message.c_str());
        return 1;
    }
    quorlan::SectorReader& reader = **opened;
    const quorlan::UniqueFd fd(::open(image.c_str(), O_RDONLY | O_CLOEXEC));
    const double mb = static_cast<double>(reader.totalSectors() * kSectorSize) / 1e6;
    std::printf("image %s: %.0f MB, best and median of %d runs, from the page cache\n", image.c_str(), mb, runs);

    for (const std::uint32_t kib : chunksKib) {
        const std::uint32_t chunkSectors = kib * 1024 / kSectorSize;
        if (chunkSectors == 0 || chunkSectors > quorlan::kMaxRunSectors) return usage();
        const std::size_t chunkBytes = static_cast<std::size_t>(chunkSectors) * kSectorSize;
        std::vector<Variant> variants{{"(a) reference pread loop", 0, false, {}},
                                      {"(b) core loop, in line", 0, false, {}},
                                      {"(b) core loop, read-ahead thread", 0, true, {}},
                                      {"(b) core loop, in line, 64 KiB look-ahead", 128, false, {}},
                                      {"(b) core loop, read-ahead, 64 KiB look-ahead", 128, true, {}}};
        // One untimed pass brings the whole image into the page cache and gives the counts that
        // every timed pass must match.
        const Counts expected = referenceLoop(fd.get(), chunkBytes);
        // Runs alternate between the loops, so that a busy moment of the machine hits each alike.
        for (int r = 0; r < runs; ++r) {
            for (std::size_t v = 0; v < variants.size(); ++v) {
                const auto t0 = Clock::now();
                const Counts counts = v == 0 ? referenceLoop(fd.get(), chunkBytes)
                                             : coreLoop(reader, chunkSectors, variants[v].lookAhead,
                                                        variants[v].readAhead);
                variants[v].seconds.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
                if (!(counts == expected)) {
                    std::fprintf(stderr, "quorlan-scan-bench: %s found other sectors than the reference\n",
                                 variants[v].name.c_str());
                    return 1;
                }
            }
        }
        std::printf("\nchunk %u KiB (%u sectors); %llu signed sectors, %llu with the magic\n", kib, chunkSectors,
                    static_cast<unsigned long long>(expected.signatures),
                    static_cast<unsigned long long>(expected.magics));
        std::printf("  %-46s %9s %9s %9s %13s\n", "loop", "best s", "median s", "MB/s", "ratio to (a)");
        const double reference = best(variants[0].seconds);
        const double referenceMedian = median(variants[0].seconds);
        for (const Variant& v : variants) {
            std::printf("  %-46s %9.3f %9.3f %9.0f %6.2f %6.2f\n", v.name.c_str(), best(v.seconds), median(v.seconds),
                        mb / best(v.seconds), best(v.seconds) / reference, median(v.seconds) / referenceMedian);
        }
    }
    std::printf("\nratio: best / best and median / median; the Advance scan must stay at or below 1.25\n");
    return 0;
}
