// Fuzzes the walk of a FAT volume's live tree and the directory-cluster scan that skips what it
// owns. The input is a tiny volume of 8 sectors, one sector per cluster: its first byte chooses
// the type (bit 0: FAT32) and whether copy 2 of the FAT mirrors copy 1 (bit 1), so that the walk
// gets past the copy check; then come copy 1 (sector 1), copy 2 unless mirrored (sector 2), and
// the data area from sector 3 (the FAT16 root region, then clusters 2 on; the FAT32 root at
// cluster 2). A short input leaves the rest zeros. Besides not crashing or hanging: the scan that
// skips the live tree finds no folder that a scan of every cluster does not find.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/sector_reader.h"
#include "fat/fat_search.h"
#include "items/tables.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quorlan;
    if (size < 2) return 0;
    constexpr std::size_t kSectors = 8;
    std::vector<std::byte> bytes(kSectors * kSectorSize);
    const bool mirrored = (data[0] & 2) != 0;
    const std::uint8_t* in = data + 1;
    std::size_t left = size - 1;
    auto fill = [&](std::size_t sector, std::size_t count) {
        const std::size_t n = std::min(left, count * kSectorSize);
        std::memcpy(bytes.data() + sector * kSectorSize, in, n);
        in += n;
        left -= n;
    };
    fill(1, 1);
    if (mirrored) {
        std::memcpy(bytes.data() + 2 * kSectorSize, bytes.data() + kSectorSize, kSectorSize);
    } else {
        fill(2, 1);
    }
    fill(3, kSectors - 3);
    const std::uint64_t sectors = kSectors;

    FatVolumeParams params;
    params.PartType = (data[0] & 1) != 0 ? FileSystemType::Fat32 : FileSystemType::Fat16;
    params.SPC = 1;
    params.SPF = 1;
    params.ReserveSectors = 1;
    params.firstFAT = 1;
    params.secondFAT = 2;
    params.RootStart = params.isFat32() ? 2 : 3;
    params.RootSectors = params.isFat32() ? 0 : 1;
    params.Cluster0Start = params.isFat32() ? 1 : 2;  // FAT16: sector 3 is the root region
    SectorReader reader(std::make_unique<MemorySectorSource>(std::move(bytes)));
    NullObserver quiet;
    const RunContext context{quiet, {}};

    auto selves = [&](const DirectoryScanOptions& options) {
        RecordTable table = MakeFatEntryTable();
        (void)ScanDirectoryClusters(reader, params, sectors, table, context, options);
        std::vector<std::string> out;
        for (int r = 1; r < table.RowCount(); ++r) out.emplace_back(table.GetCell(r, "self"));
        std::sort(out.begin(), out.end());
        return out;
    };
    const std::vector<std::string> walked = selves({});
    DirectoryScanOptions every;
    every.everyCluster = "fuzz";
    const std::vector<std::string> full = selves(every);
    if (!std::includes(full.begin(), full.end(), walked.begin(), walked.end())) std::abort();
    return 0;
}
