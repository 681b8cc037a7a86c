// Fuzzes the lost-partition search: the input is a disk size and sectors placed where the search
// probes (the places where partitions begin, the sectors of backup boot sectors, extended records
// and the geometries their parameter blocks name), so that boot sectors, backups and chains of
// any shape are met. The search must end, within its reads, with at most 26 partitions, all
// inside the disk's range.
#include <array>
#include <cstdint>
#include <cstring>
#include <map>

#include "disks/lost_partitions.h"

namespace {

using Sector = std::array<std::byte, quorlan::kSectorSize>;

class Sparse final : public quorlan::SectorSource {
public:
    Sparse(std::map<std::uint64_t, Sector> sectors, std::uint64_t total) : m_sectors(std::move(sectors)), m_total(total) {}
    std::int64_t readAt(std::uint64_t offset, std::span<std::byte> buffer) override {
        const std::uint64_t size = m_total * quorlan::kSectorSize;
        if (offset >= size) return 0;
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size - offset));
        for (std::size_t i = 0; i < n; i += quorlan::kSectorSize) {
            const auto it = m_sectors.find((offset + i) / quorlan::kSectorSize);
            const std::size_t chunk = std::min<std::size_t>(quorlan::kSectorSize, n - i);
            if (it == m_sectors.end()) {
                std::memset(buffer.data() + i, 0, chunk);
            } else {
                std::memcpy(buffer.data() + i, it->second.data(), chunk);
            }
        }
        return static_cast<std::int64_t>(n);
    }
    std::uint64_t sizeBytes() const override { return m_total * quorlan::kSectorSize; }

private:
    std::map<std::uint64_t, Sector> m_sectors;
    std::uint64_t m_total;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quorlan;
    if (size < 4) return 0;
    std::uint32_t word = 0;
    std::memcpy(&word, data, 4);
    const std::uint64_t total = 1 + word % (1u << 18);
    data += 4;
    size -= 4;
    // Each piece: one byte choosing the place (and whether the sector is signed 0x55 0xAA), then
    // up to 128 bytes written at the start of that sector.
    const std::uint64_t places[] = {0, 6, 63, 69, 1008, 1071, 2047, 2048, 2054, 4095, 4096, 4102, 16064, 16065, 16071,
                                    16128, 16134, 32130, total - 1, total / 2 / 2048 * 2048, total / 2 / 2048 * 2048 + 63};
    std::map<std::uint64_t, Sector> sectors;
    while (size >= 1) {
        const std::uint8_t choice = data[0];
        const std::uint64_t at = places[(choice & 0x7F) % std::size(places)] % total;
        const std::size_t n = std::min<std::size_t>(128, size - 1);
        Sector& s = sectors[at];
        std::memcpy(s.data(), data + 1, n);
        // The parameter block and the partition table both matter: copy the bytes again where the
        // table lies, so that one piece can be a boot sector or an extended record.
        std::memcpy(s.data() + 0x1BE, data + 1, std::min<std::size_t>(n, 64));
        if ((choice & 0x80) != 0) {
            s[510] = std::byte{0x55};
            s[511] = std::byte{0xAA};
        }
        data += 1 + n;
        size -= 1 + n;
    }
    SectorReader reader(std::make_unique<Sparse>(std::move(sectors), total));
    NullObserver observer;
    const LostPartitionResult result = SearchLostPartitions(reader, {}, {}, RunContext{observer, {}});
    if (result.found.size() > static_cast<std::size_t>(kMaxPartitions)) __builtin_trap();
    for (const PartitionEntry& p : result.found) {
        if (p.start >= total || p.end <= p.start) __builtin_trap();
    }
    if (result.sectorsRead > kMinSearchReads + 5 * kMaxExtendedRecords + 2) __builtin_trap();
    return 0;
}
