// The least a scan of every sector of an image can cost, which the scan benchmarks measure the
// engine against: pread of the image in chunks into one buffer, and for each sector a test for the
// boot signature 0x55 0xAA at 510 and a 4-byte magic at 0. Also the statistics they print.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/sector_reader.h"

namespace quorlan::bench {

struct Counts {
    std::uint64_t signatures = 0;  // sectors ending in 0x55 0xAA
    std::uint64_t magics = 0;      // sectors beginning with the magic
    std::uint64_t sum = 0;         // of the extra work (work passes)
    bool operator==(const Counts&) const = default;
};

// The per-sector test: the signature at 510 and the magic "FILE" at 0; then work more passes over
// every byte, standing for a visitor that does more than test two places of each sector.
inline void testSectors(const std::byte* bytes, std::size_t sectors, Counts& counts, int work = 0) {
    static constexpr char kMagic[4] = {'F', 'I', 'L', 'E'};
    for (std::size_t i = 0; i < sectors; ++i) {
        const std::byte* s = bytes + i * kSectorSize;
        if (s[510] == std::byte{0x55} && s[511] == std::byte{0xAA}) ++counts.signatures;
        if (std::memcmp(s, kMagic, sizeof kMagic) == 0) ++counts.magics;
    }
    for (int pass = 0; pass < work; ++pass) {
        std::uint64_t sum = 0;
        for (std::size_t i = 0; i < sectors * kSectorSize; i += 8) {
            std::uint64_t w = 0;
            std::memcpy(&w, bytes + i, 8);
            sum = (sum ^ w) * 0x100000001B3ull;
        }
        counts.sum += sum;
    }
}

// The reference: pread in chunks of chunkBytes, test every sector.
inline Counts referenceLoop(int fd, std::size_t chunkBytes, int work = 0) {
    std::vector<std::byte> buffer(chunkBytes);
    Counts counts;
    for (off_t offset = 0;; offset += static_cast<off_t>(chunkBytes)) {
        const ssize_t n = ::pread(fd, buffer.data(), chunkBytes, offset);
        if (n <= 0) break;
        testSectors(buffer.data(), static_cast<std::size_t>(n) / kSectorSize, counts, work);
    }
    return counts;
}

inline double best(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }
inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace quorlan::bench
