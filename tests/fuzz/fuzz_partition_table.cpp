// Fuzzes the partition-table reader: the input is the first sectors of a disk whose size is
// taken from the input's first bytes, so that chains, the sanity test and superfloppies are hit.
#include <cstdint>
#include <cstring>
#include <vector>

#include "disks/partition_table.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quorlan;
    if (size < 4) return 0;
    std::uint32_t diskSectors = 0;
    std::memcpy(&diskSectors, data, 4);
    // An input of exactly 4 bytes leaves an empty vector, whose data() may be null: no copy then.
    std::vector<std::byte> bytes(size - 4);
    if (!bytes.empty()) std::memcpy(bytes.data(), data + 4, bytes.size());
    // The disk claims diskSectors sectors but holds only what the input gives: reads past it
    // fail and fall back, as on a truncated image.
    class Claimed final : public SectorSource {
    public:
        Claimed(std::vector<std::byte> b, std::uint64_t total) : m_inner(std::move(b)), m_total(total) {}
        std::int64_t readAt(std::uint64_t offset, std::span<std::byte> buffer) override { return m_inner.readAt(offset, buffer); }
        std::uint64_t sizeBytes() const override { return m_total * kSectorSize; }
    private:
        MemorySectorSource m_inner;
        std::uint64_t m_total;
    };
    SectorReader reader(std::make_unique<Claimed>(std::move(bytes), diskSectors));
    const DiskPartitionList list = ReadPartitionTable(reader, reader.totalSectors());
    if (list.partitions.size() > static_cast<std::size_t>(kMaxPartitions)) __builtin_trap();
    return 0;
}
