// The NTFS family of the Advance Search. This is where the NTFS Advance Search plugs in:
//   - Detectors: the NTFS detectors of ntfs/ for the one pass (boot sectors into
//     tables.ntfsFileSystemTableFound, FILE records of 1 KiB or 4 KiB into tables.mftEntryTable,
//     INDX buffers into tables.mftRefTable), each seeing 64 KiB after its sector; they count
//     Counter::BootSectorsFound and Counter::RecordsFound;
//   - Analyze: the NTFS analysis over those tables, with tables.ntfsDirectoryTable and
//     tables.dedupeDirectoryTable as its folder tables, appending its file systems to
//     tables.fileSystemTableIdentified after the FAT ones (numbers continue from its row count);
//   - CountFolders: the folders assigned to each NTFS file system;
//   - BuildEntries: the folder and file rows, the tree and the working parameters of the NTFS file
//     system chosen.
// Until then an NTFS search finds nothing.
#include <memory>

#include "search/advance_engine.h"

namespace quorlan {

namespace {

class NtfsAdvanceEngine final : public AdvanceEngine {
public:
    std::vector<SectorDetector*> Detectors(RecoveryState&, ScanCounters&) override { return {}; }
    void Analyze(const AdvanceSearchRequest&, RecoveryState&, SectorReader&, SearchObserver&) override {}
    void CountFolders(const RecoveryState&, std::vector<std::uint64_t>&) const override {}
    void BuildEntries(std::size_t, RecoveryState&, SectorReader&, SearchObserver&) override {}
};

}  // namespace

std::unique_ptr<AdvanceEngine> MakeNtfsAdvanceEngine() { return std::make_unique<NtfsAdvanceEngine>(); }

}  // namespace quorlan
