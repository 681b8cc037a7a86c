// Fuzzes the FAT Advance Search from end to end: the sector classifier of the pass, the analysis
// into file systems and the folders of each file system found, on a small disk that the input
// fills. Byte 0 chooses the type looked for; then 8-byte records each place one structure: a
// directory sector (". " and ".." naming two clusters), a sector that begins a FAT, or a FAT32 or
// FAT16 boot sector with numbers from the record; whatever is left is copied as raw sectors
// behind them. Records at the same places overwrite one another, so the analysis meets
// directories that fit several volumes, several cluster sizes, and none.
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/sector_reader.h"
#include "search/advance_search.h"
#include "search/folder_listing.h"

namespace {

using namespace quorlan;

constexpr std::uint64_t kDiskSectors = 512;
constexpr std::uint64_t kRawStart = 440;  // raw input sectors go here

void put16(std::vector<std::byte>& disk, std::size_t at, std::uint32_t v) {
    disk[at] = static_cast<std::byte>(v);
    disk[at + 1] = static_cast<std::byte>(v >> 8);
}
void put32(std::vector<std::byte>& disk, std::size_t at, std::uint32_t v) {
    put16(disk, at, v);
    put16(disk, at + 2, v >> 16);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::vector<std::byte> disk(kDiskSectors * kSectorSize);
    std::size_t at = 1;
    for (; at + 8 <= size && at < 8 * 200; at += 8) {
        const std::uint64_t sector = (data[at] | (data[at + 1] << 8)) % kDiskSectors;
        const std::uint8_t kind = data[at + 2] % 4;
        const std::uint8_t b = data[at + 3];
        std::uint32_t value = 0;
        std::memcpy(&value, data + at + 4, 4);
        const std::size_t s = static_cast<std::size_t>(sector * kSectorSize);
        if (kind == 0) {
            // A directory's first sector: "." naming value's low cluster bits, ".." another one.
            std::memcpy(disk.data() + s, ".          ", 11);
            std::memcpy(disk.data() + s + 32, "..         ", 11);
            put16(disk, s + 26, value & 0x3FF);
            put16(disk, s + 20, b & 1 ? value >> 24 : 0);
            put16(disk, s + 32 + 26, (value >> 10) & 0x3FF);
        } else if (kind == 1) {
            disk[s] = std::byte{0xF8};
            disk[s + 1] = disk[s + 2] = std::byte{0xFF};
            disk[s + 3] = static_cast<std::byte>(b);
        } else {
            // A boot sector: cluster size 2^(b % 8), reserved and FAT sizes from value.
            disk[s + 13] = static_cast<std::byte>(1u << (b % 8));
            put16(disk, s + 14, value & 0x3F);
            put16(disk, s + 17, (value >> 6) & 0x3FF);
            put16(disk, s + 19, (value >> 16) & 0x7FF);
            if (kind == 2) {
                put32(disk, s + 36, (value >> 8) & 0xFF);
                put32(disk, s + 44, value >> 28);
                std::memcpy(disk.data() + s + 82, "FAT32   ", 8);
            } else {
                put16(disk, s + 22, (value >> 8) & 0xFF);
                std::memcpy(disk.data() + s + 54, "FAT16   ", 8);
            }
            put32(disk, s + 32, b & 0x80 ? 0 : value >> 12);
            disk[s + 510] = std::byte{0x55};
            disk[s + 511] = std::byte{0xAA};
        }
    }
    const std::size_t raw = std::min<std::size_t>(size - std::min(size, at), (kDiskSectors - kRawStart) * kSectorSize);
    std::memcpy(disk.data() + kRawStart * kSectorSize, data + at, raw);

    SectorReader reader(std::make_unique<MemorySectorSource>(std::move(disk)));
    AdvanceSearchRequest request;
    static constexpr std::optional<FileSystemType> kTypes[] = {std::nullopt, FileSystemType::Fat16,
                                                               FileSystemType::Fat32, FileSystemType::Ntfs};
    request.type = kTypes[data[0] % 4];
    request.rangeStart = data[0] & 0x80 ? kDiskSectors / 4 : 0;
    request.rangeEnd = kDiskSectors;
    RecoveryState state;
    NullObserver quiet;
    const AdvanceScanResult scan = RunAdvanceSearch(request, reader, state, RunContext{quiet, {}});
    const auto list = IdentifiedFileSystems(state);
    if (list.size() != scan.fileSystems) __builtin_trap();
    for (std::size_t n = 1; n <= list.size() && n <= 8; ++n) {
        if (!RunEntryBuilding(n, reader, state, RunContext{quiet, {}}).ok()) __builtin_trap();
        std::vector<TreeItem*> pending{state.model.tree.root()};
        while (!pending.empty()) {
            TreeItem* item = pending.back();
            pending.pop_back();
            (void)ListFolderRows(state, reader, item, FolderListing::Select);
            for (auto& child : item->children) pending.push_back(child.get());
        }
    }
    return 0;
}
