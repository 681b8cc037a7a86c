// Fuzzes the walk of a FAT volume's live tree and the directory-cluster scan that skips what it
// owns. The input is a tiny volume: sector 0 chooses the type, sectors 1 and 2 are the two FAT
// copies (copy 1 is mirrored into copy 2 when sector 0 asks, so that the walk gets past the copy
// check), the data area (one sector per cluster) starts at sector 3 with the FAT32 root at
// cluster 2. Besides not crashing or hanging: the scan that skips the live tree finds no folder
// that a scan of every cluster does not find.
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
    const std::size_t sectors = size / kSectorSize;
    if (sectors < 4) return 0;
    std::vector<std::byte> bytes(sectors * kSectorSize);
    std::memcpy(bytes.data(), data, bytes.size());
    if ((data[0] & 2) != 0) std::memcpy(bytes.data() + 2 * kSectorSize, bytes.data() + kSectorSize, kSectorSize);

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
