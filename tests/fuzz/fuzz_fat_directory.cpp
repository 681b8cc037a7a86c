// Fuzzes the FAT directory-entry decoding: every entry of a sector is named, with the long-name
// walk reaching back into further sectors of the input.
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/sector_reader.h"
#include "fat/fat_dir.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quorlan;
    const std::size_t sectors = size / kSectorSize;
    if (sectors == 0) return 0;
    std::vector<std::byte> bytes(sectors * kSectorSize);
    std::memcpy(bytes.data(), data, bytes.size());
    const std::uint64_t last = sectors - 1;
    const std::span<const std::byte> sector(bytes.data() + last * kSectorSize, kSectorSize);
    for (std::size_t e = 0; e < kEntriesPerSector; ++e) {
        const ByteView entry(sector.data() + e * kDirEntrySize, kDirEntrySize);
        const ShortNameResult name = ShortName(entry);
        (void)IsListableName(name.name);
        (void)EntryCluster(entry, true);
        const auto longName = ReadLongName(sector, e * kDirEntrySize, last,
                                           [&](std::uint64_t s, std::span<std::byte> out) -> std::optional<std::uint64_t> {
                                               if (s == 0) return std::nullopt;
                                               std::memcpy(out.data(), bytes.data() + (s - 1) * kSectorSize, kSectorSize);
                                               return s - 1;
                                           });
        if (longName) (void)IsListableName(*longName);
    }
    return 0;
}
