// The FAT family of the Advance Search: the FAT detector for the pass, the analysis and the
// entry building of fat/fat_advance.h, on the FAT tables of the recovery state.
#include <memory>

#include "fat/fat_advance.h"
#include "search/advance_engine.h"
#include "search/advance_search.h"
#include "search/search_driver.h"

namespace quorlan {

namespace {

class FatAdvanceEngine final : public AdvanceEngine {
public:
    std::vector<SectorDetector*> Detectors(RecoveryState& state, ScanCounters& counters) override {
        m_detector = std::make_unique<FatScanDetector>(state.tables.fileSystemTableFound, state.tables.directoryTable,
                                                       state.advance.fatStarts, counters);
        return {m_detector.get()};
    }

    void Analyze(const AdvanceSearchRequest& request, RecoveryState& state, SectorReader&,
                 SearchObserver& observer) override {
        std::optional<FileSystemType> chosen;
        if (request.type && IsFatType(*request.type)) chosen = request.type;
        const FatAnalysisResult analysis =
            AnalyzeFatScan(state.tables.fileSystemTableFound, state.tables.directoryTable, state.advance.fatStarts,
                           chosen, state.tables.fileSystemTableIdentified, observer);
        state.advance.fatAnalysisStage = analysis.stage;
    }

    void CountFolders(const RecoveryState& state, std::vector<std::uint64_t>& folders) const override {
        const RecordTable& dirs = state.tables.directoryTable;
        const int column = dirs.RequireColumn("File System");
        for (int r = 0; r < dirs.RowCount(); ++r) {
            const std::uint64_t n = dirs.GetU64(r, column);
            if (n >= 1 && n <= folders.size() && dirs.GetCell(r, column) != "-1") ++folders[n - 1];
        }
    }

    void BuildEntries(std::size_t number, RecoveryState& state, SectorReader& reader,
                      SearchObserver& observer) override {
        const FatScanCoverage scan{state.advance.fatStarts, state.advance.rangeStart, state.advance.scannedTo};
        state.params = BuildFatAdvanceEntries(number, state.tables.fileSystemTableIdentified,
                                              state.tables.directoryTable, scan, reader, state.tables.fatEntryTable,
                                              observer);
        RelinkAndBuildTree(state, reader, observer, TreeVariant::ChosenFileSystem);
    }

private:
    std::unique_ptr<FatScanDetector> m_detector;
};

}  // namespace

std::unique_ptr<AdvanceEngine> MakeFatAdvanceEngine() { return std::make_unique<FatAdvanceEngine>(); }

}  // namespace quorlan
