// The NTFS family of the Advance Search: the NTFS detector for the pass, the analysis and the
// entry building of ntfs/ntfs_advance.h, on the NTFS tables of the recovery state.
#include <memory>

#include "ntfs/ntfs_advance.h"
#include "search/advance_engine.h"
#include "search/advance_search.h"
#include "search/search_driver.h"

namespace quorlan {

namespace {

NtfsScanTables ntfsTables(RecordTables& t) {
    return {t.ntfsFileSystemTableFound, t.mftEntryTable, t.mftRefTable, t.ntfsDirectoryTable};
}

class NtfsAdvanceEngine final : public AdvanceEngine {
public:
    std::vector<SectorDetector*> Detectors(RecoveryState& state, ScanCounters& counters) override {
        m_detector = std::make_unique<NtfsScanDetector>(ntfsTables(state.tables), state.advance.ntfs, counters);
        return {m_detector.get()};
    }

    void Analyze(const AdvanceSearchRequest&, RecoveryState& state, SectorReader& reader,
                 SearchObserver& observer) override {
        const NtfsScanCoverage coverage{state.advance.rangeStart, state.advance.rangeEnd, state.advance.scannedTo};
        (void)AnalyzeNtfsScan(ntfsTables(state.tables), state.advance.ntfs, coverage, reader,
                              state.tables.fileSystemTableIdentified, observer);
    }

    void CountFolders(const RecoveryState& state, std::vector<std::uint64_t>& folders) const override {
        const RecordTable& dirs = state.tables.ntfsDirectoryTable;
        const int column = dirs.RequireColumn("File System");
        for (int r = 0; r < dirs.RowCount(); ++r) {
            const std::uint64_t n = dirs.GetU64(r, column);
            if (n >= 1 && n <= folders.size()) ++folders[n - 1];
        }
    }

    void BuildEntries(std::size_t number, RecoveryState& state, SectorReader& reader,
                      SearchObserver& observer) override {
        const NtfsAdvanceVolume built = BuildNtfsAdvanceEntries(
            number, state.tables.fileSystemTableIdentified, ntfsTables(state.tables), state.advance.ntfs, reader,
            state.tables.fatEntryTable, state.tables.ntfsEntryTable, observer);
        state.NtfsFilesChanged();
        state.params = NtfsWorkingParams(built.volume);
        state.mftRuns = built.mftRuns;
        RelinkAndBuildTree(state, reader, observer, TreeVariant::ChosenFileSystem);
    }

private:
    std::unique_ptr<NtfsScanDetector> m_detector;
};

}  // namespace

std::unique_ptr<AdvanceEngine> MakeNtfsAdvanceEngine() {
    return std::make_unique<NtfsAdvanceEngine>();
}

}  // namespace quorlan
