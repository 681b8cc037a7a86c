// Fuzzes the NTFS Advance Search from end to end: the pass, the analysis into file systems (folder
// numbers from index entries, boot sectors, pairs of folders, the volume assumed from the records)
// and the folders and files of each file system found, listed and laid out for saving, on a small
// disk that the input fills. Byte 0 chooses the type looked for and the range; then 8-byte records
// each place one structure whose update sequence checks out, so that the analysis meets many of
// them: a FILE record (folder or file, with or without a number of its own, an index allocation,
// data runs, an extension record's base), an INDX buffer naming a folder and a child, an NTFS boot
// sector, or 4 raw bytes anywhere; whatever is left is copied as raw sectors behind them.
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/sector_reader.h"
#include "ntfs/ntfs_file.h"
#include "search/advance_search.h"
#include "search/folder_listing.h"

namespace {

using namespace quorlan;

constexpr std::uint64_t kDiskSectors = 1024;
constexpr std::uint64_t kRawStart = 960;  // raw input sectors go here

class Disk {
public:
    std::vector<std::byte> bytes = std::vector<std::byte>(kDiskSectors * kSectorSize);

    void u8(std::size_t at, std::uint32_t v) {
        if (at < bytes.size()) bytes[at] = static_cast<std::byte>(v);
    }
    void u16(std::size_t at, std::uint32_t v) {
        u8(at, v);
        u8(at + 1, v >> 8);
    }
    void u32(std::size_t at, std::uint32_t v) {
        u16(at, v);
        u16(at + 2, v >> 16);
    }
    void text(std::size_t at, const char* t) {
        for (std::size_t i = 0; t[i] != 0; ++i) u8(at + i, static_cast<std::uint8_t>(t[i]));
    }
    // Protects the structure of sectors sectors at at, whose update sequence array lies at usa:
    // each sector's tail saved in the array and replaced by the sequence number.
    void protect(std::size_t at, std::size_t usa, std::size_t sectors) {
        u16(at + 4, static_cast<std::uint32_t>(usa));
        u16(at + 6, static_cast<std::uint32_t>(sectors + 1));
        u16(at + usa, 0x0101);
        for (std::size_t s = 0; s < sectors; ++s) {
            const std::size_t tail = at + 512 * s + 510;
            if (tail + 2 > bytes.size()) return;
            u8(at + usa + 2 + 2 * s, std::to_integer<std::uint32_t>(bytes[tail]));
            u8(at + usa + 3 + 2 * s, std::to_integer<std::uint32_t>(bytes[tail + 1]));
            u16(tail, 0x0101);
        }
    }
    // A $FILE_NAME value of a one-letter name at at.
    void fileName(std::size_t at, std::uint32_t parent, char letter, bool folder) {
        u32(at, parent);
        u32(at + 0x08, 1234);
        u32(at + 0x38, folder ? 0x10000000u : 0x20u);
        u8(at + 0x40, 1);
        u8(at + 0x41, 1);
        u16(at + 0x42, static_cast<std::uint8_t>(letter));
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    Disk disk;
    std::size_t at = 1;
    for (; at + 8 <= size && at < 8 * 160; at += 8) {
        const std::uint64_t sector = (data[at] | (data[at + 1] << 8)) % kDiskSectors;
        const std::uint8_t kind = data[at + 2] % 4;
        const std::uint8_t b = data[at + 3];
        std::uint32_t v = 0;
        std::memcpy(&v, data + at + 4, 4);
        const std::size_t s = static_cast<std::size_t>(sector * kSectorSize);
        if (kind == 0) {
            // A FILE record of 1 KiB: flags b & 3; its number v & 0xFF unless b & 0x40 (NTFS 3.0);
            // its name in folder (v >> 8) & 0xFF; with b & 4 an $I30 allocation at cluster
            // (v >> 16) & 0xFF, with b & 8 data in 2 clusters there; with b & 0x10 an extension
            // record of base v >> 24.
            const bool numbered = (b & 0x40) == 0;
            disk.text(s, "FILE");
            disk.u16(s + 0x14, 0x38);
            disk.u16(s + 0x16, b & 3);
            disk.u32(s + 0x1C, 1024);
            if (b & 0x10) disk.u32(s + 0x20, v >> 24);
            if (numbered) disk.u32(s + 0x2C, v & 0xFF);
            std::size_t a = s + 0x38;
            disk.u32(a, 0x30);
            disk.u32(a + 4, 0x68);
            disk.u32(a + 0x10, 0x44);
            disk.u16(a + 0x14, 0x18);
            disk.fileName(a + 0x18, (v >> 8) & 0xFF, static_cast<char>('a' + (b >> 5)), (b & 2) != 0);
            a += 0x68;
            for (const bool index : {true, false}) {
                if (!(b & (index ? 4 : 8))) continue;
                disk.u32(a, index ? 0xA0 : 0x80);
                disk.u32(a + 4, 0x50);
                disk.u8(a + 8, 1);
                disk.u8(a + 9, index ? 4 : 0);
                disk.u16(a + 0x0A, 0x40);
                disk.u16(a + 0x20, 0x48);
                disk.u32(a + 0x18, 1);
                disk.u32(a + 0x28, 8192);
                disk.u32(a + 0x30, index ? 4096 : 3000);
                disk.u32(a + 0x38, index ? 4096 : 3000);
                if (index)
                    disk.text(a + 0x40,
                              "$\0I\0"
                              "3\0"
                              "0");
                disk.u8(a + 0x48, 0x11);
                disk.u8(a + 0x49, 2);
                disk.u8(a + 0x4A, (v >> 16) & 0x7F);
                a += 0x50;
            }
            disk.u32(a, 0xFFFFFFFF);
            disk.protect(s, numbered ? 0x30 : 0x2A, 2);
        } else if (kind == 1) {
            // An INDX buffer of 4 KiB (1 KiB with b & 1), VCN b >> 6, whose first entry names
            // folder v & 0xFF as its parent and child (v >> 8) & 0xFF; with b & 2 a second entry.
            const std::size_t bytes = b & 1 ? 1024 : 4096;
            disk.text(s, "INDX");
            disk.u32(s + 0x10, b >> 6);
            disk.u32(s + 0x18, 0x40 - 0x18);
            disk.u32(s + 0x20, static_cast<std::uint32_t>(bytes - 0x18));
            std::size_t e = s + 0x40;
            for (int k = 0; k < (b & 2 ? 2 : 1); ++k) {
                disk.u32(e, (v >> (8 + 8 * k)) & 0xFF);
                disk.u16(e + 8, 0x58);
                disk.u16(e + 0x0A, 0x44);
                disk.fileName(e + 0x10, v & 0xFF, static_cast<char>('a' + k), (b & 4) != 0);
                e += 0x58;
            }
            disk.u16(e + 8, 0x10);
            disk.u16(e + 0x0C, 2);
            disk.u32(s + 0x1C, static_cast<std::uint32_t>(e + 0x10 - s - 0x18));
            if (b & 0x20) disk.u16(s + 0x1C, 0xFFFF);  // entries past the buffer
            disk.protect(s, 0x28, bytes / 512);
        } else if (kind == 2) {
            // An NTFS boot sector: 2^(b % 8) sectors per cluster; its sectors, $MFT and mirror
            // clusters from v.
            disk.text(s + 3, "NTFS    ");
            disk.u16(s + 11, 512);
            disk.u8(s + 13, 1u << (b % 8));
            disk.u32(s + 0x28, v & 0x3FF);
            disk.u32(s + 0x30, (v >> 10) & 0xFF);
            disk.u32(s + 0x38, (v >> 18) & 0xFF);
            disk.u8(s + 0x40, b & 0x80 ? 0xF4 : 0xF6);
            disk.u8(s + 0x44, 0xF4);
            disk.u16(s + 510, 0xAA55);
        } else {
            disk.u32(s + (b & 0x7F) * 4, v);
        }
    }
    const std::size_t raw = std::min<std::size_t>(size - std::min(size, at), (kDiskSectors - kRawStart) * kSectorSize);
    std::memcpy(disk.bytes.data() + kRawStart * kSectorSize, data + at, raw);

    SectorReader reader(std::make_unique<MemorySectorSource>(std::move(disk.bytes)));
    AdvanceSearchRequest request;
    request.type = data[0] & 1 ? std::optional(FileSystemType::Ntfs) : std::nullopt;
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
            for (const ListedRow& row : ListFolderRows(state, reader, item, FolderListing::Select)) {
                if (!row.isFolder && state.params.isNtfs()) {
                    (void)NtfsFileLayout(reader, NtfsVolumeOf(state.params), state.mftRuns, row.recordSector, row.self,
                                         row.deleted);
                }
            }
            for (auto& child : item->children) pending.push_back(child.get());
        }
    }
    return 0;
}
