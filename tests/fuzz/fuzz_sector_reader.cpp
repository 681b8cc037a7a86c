// Fuzzes the reader's crossing of bad areas: the input names unreadable stretches of a 64 Ki-sector
// disk and a series of zero-filled reads. Every sector of every read must arrive with its own
// bytes or as zeros, the zeros must be what the reader counts as unreadable, no zero may lie
// before a bad stretch's start or more than one skip past its end, and a read that touches no bad
// sector must not be counted unreadable at all unless it continues a bad area.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/sector_reader.h"

namespace {

constexpr std::uint64_t kDiskSectors = 1u << 16;

struct Stretch {
    std::uint64_t first, count;
};

class BadSource final : public quorlan::SectorSource {
public:
    explicit BadSource(std::vector<Stretch> bad) : m_bad(std::move(bad)) {}
    std::int64_t readAt(std::uint64_t offset, std::span<std::byte> buffer) override {
        using quorlan::kSectorSize;
        const std::uint64_t size = kDiskSectors * kSectorSize;
        if (offset >= size) return 0;
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size - offset));
        if (n > 0) {
            const std::uint64_t from = offset / kSectorSize, to = (offset + n - 1) / kSectorSize + 1;
            for (const Stretch& s : m_bad) {
                if (s.first < to && from < s.first + s.count) return -1;
            }
        }
        for (std::size_t i = 0; i < n; ++i) buffer[i] = byteAt(offset + i);
        return static_cast<std::int64_t>(n);
    }
    std::uint64_t sizeBytes() const override { return kDiskSectors * quorlan::kSectorSize; }
    static std::byte byteAt(std::uint64_t at) {
        return static_cast<std::byte>(((at / quorlan::kSectorSize) * 7 + at % quorlan::kSectorSize) % 251 + 1);
    }
    bool bad(std::uint64_t sector) const {
        return std::any_of(m_bad.begin(), m_bad.end(),
                           [&](const Stretch& s) { return sector >= s.first && sector < s.first + s.count; });
    }
    // Whether sector lies within one skip after a bad stretch.
    bool nearBad(std::uint64_t sector) const {
        return std::any_of(m_bad.begin(), m_bad.end(), [&](const Stretch& s) {
            return sector >= s.first && sector < s.first + s.count + quorlan::kMaxSkipSectors;
        });
    }

private:
    std::vector<Stretch> m_bad;
};

std::uint32_t take(const std::uint8_t*& data, std::size_t& size, unsigned bytes) {
    std::uint32_t v = 0;
    for (unsigned i = 0; i < bytes && size > 0; ++i, ++data, --size) v |= static_cast<std::uint32_t>(*data) << (8 * i);
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quorlan;
    std::vector<Stretch> bad;
    for (std::uint32_t n = take(data, size, 1) % 5; n > 0; --n) {
        const std::uint64_t first = take(data, size, 2) % kDiskSectors;
        bad.push_back({first, 1 + take(data, size, 2) % 8192});
    }
    auto owned = std::make_unique<BadSource>(bad);
    const BadSource& source = *owned;
    SectorReader reader(std::move(owned));
    std::vector<std::byte> buffer;
    std::uint64_t zeros = 0;
    while (size >= 4) {
        const std::uint64_t first = take(data, size, 2) % kDiskSectors;
        const std::uint32_t count = 1 + take(data, size, 2) % 4096;
        buffer.assign(std::size_t{count} * kSectorSize, std::byte{0xEE});
        std::vector<std::uint64_t> listed;
        const std::uint32_t missed = reader.ReadSectorsZeroFilled(first, count, buffer, &listed);
        if (listed.size() != missed) __builtin_trap();
        std::uint32_t seen = 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint64_t s = first + i;
            const std::byte* slot = buffer.data() + std::size_t{i} * kSectorSize;
            const bool zero = std::all_of(slot, slot + kSectorSize, [](std::byte b) { return b == std::byte{0}; });
            if (zero) {
                ++seen;
                // Past the disk's end, or bad, or within one skip after a bad stretch.
                if (s < kDiskSectors && !source.bad(s) && !source.nearBad(s)) __builtin_trap();
                if (std::find(listed.begin(), listed.end(), s) == listed.end()) __builtin_trap();
            } else {
                for (std::size_t b = 0; b < kSectorSize; ++b) {
                    if (slot[b] != BadSource::byteAt(s * kSectorSize + b)) __builtin_trap();
                }
            }
        }
        if (seen != missed) __builtin_trap();
        zeros += missed;
    }
    if (reader.unreadableSectors() != zeros) __builtin_trap();
    return 0;
}
