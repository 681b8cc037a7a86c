#include "search/search_driver.h"

#include <algorithm>

#include "fat/fat_search.h"
#include "items/tables.h"
#include "ntfs/mft.h"
#include "ntfs/ntfs_search.h"

namespace quorlan {

void RelinkAndBuildTree(RecoveryState& state, SectorReader& reader, SearchObserver& observer, TreeVariant variant) {
    RecordTable& table = state.tables.fatEntryTable;
    const bool ntfs = state.params.isNtfs();
    observer.status("Searching Lost Directories. Please Wait...");
    if (!ntfs) (void)RebuildLostParents(reader, state.params, table);
    table.SortByColumn(table.RequireColumn("self"), true);
    observer.beginPhase("Completed ", 100);
    std::uint64_t shown = 0;
    ReparentLostFolders(table, ntfs ? FolderNumbering::Ntfs : FolderNumbering::Fat, [&](int i, int n) {
        const auto percent = std::min<std::uint64_t>(100, static_cast<std::uint64_t>(i) * 100 / static_cast<std::uint64_t>(n));
        if (percent == shown) return;
        shown = percent;
        observer.status("Searching Lost Directories " + std::to_string(i) + "/" + std::to_string(n));
        observer.setDone(percent);
    });
    table.SortByColumn(table.RequireColumn("parent"), true);
    observer.status("Storing Directory Information. Please Wait...");
    if (ntfs) {
        ReparentLostNtfsFiles(table, state.tables.ntfsEntryTable);
        BuildNtfsResultTree(state.model, table, observer, true);
    } else {
        BuildFatResultTree(state.model, table, reader, state.params, variant, observer);
    }
}

std::optional<FatVolumeParams> ValidateFatPartition(SectorReader& reader, FileSystemType type, std::uint64_t start) {
    return ReadFatBootSector(reader, start, type);
}

SearchResult RunSearch(const SearchRequest& request, SectorReader& reader, RecoveryState& state,
                       const RunContext& context) {
    SearchObserver& observer = context.observer;
    SearchResult result;
    state.tables.fatEntryTable.DeleteAllRows();
    state.tables.ntfsEntryTable.DeleteAllRows();
    state.NtfsFilesChanged();
    state.model.Clear();
    state.setup = SearchSetup{};
    state.setup.selectedDisk = request.disk;
    state.setup.searchDisk = request.disk;
    state.setup.partitionIndex = request.partitionIndex;
    state.setup.partitionType = request.type;
    state.setup.rangeStart = request.rangeStart;
    state.setup.rangeEnd = request.rangeEnd;

    const bool ntfs = request.type == FileSystemType::Ntfs;
    if (IsFatType(request.type)) {
        FatVolumeParams params;
        params.PartType = request.type;
        if (request.validated) {
            params = *request.validated;
        } else {
            result.parametersInferred = true;
            if (auto inferred = InferFatParams(reader, request.rangeStart, request.rangeEnd, request.type, context)) {
                params = *inferred;
            } else if (!context.stopRequested()) {
                result.inferenceFailed = true;
                observer.message(kMsgUnableToCalculate);
            }
        }
        params.PartType = request.type;
        state.setup.validation = params;
        ScanDirectoryClusters(reader, params, request.rangeEnd, state.tables.fatEntryTable, context);
        state.params = params;
        if (context.stopRequested()) result.outcome = SearchOutcome::Stopped;
        RelinkAndBuildTree(state, reader, observer, TreeVariant::Standard);
    } else if (ntfs) {
        const NtfsVolumeParams volume =
            request.ntfs.value_or(NtfsVolumeParams{request.rangeStart, 0, 0, 0, 0, 0});
        state.params = NtfsWorkingParams(volume);
        state.setup.validation = state.params;
        state.mftRuns = request.ntfs ? BuildMftRunList(reader, volume) : RunList{};
        (void)WalkMft(reader, volume, state.mftRuns, state.tables.fatEntryTable, state.tables.ntfsEntryTable, context);
        if (context.stopRequested()) result.outcome = SearchOutcome::Stopped;
        RelinkAndBuildTree(state, reader, observer, TreeVariant::Standard);
        result.fileCount = static_cast<std::uint64_t>(state.tables.ntfsEntryTable.RowCount());
        state.model.found = true;
    }

    state.tables.fatEntryTable.DeleteAllRows();
    if (!ntfs) state.tables.ntfsEntryTable.DeleteAllRows();  // NTFS files are listed from it
    state.tables.directoryTable.DeleteAllRows();
    state.tables.propertyList.ResetColumns(FileListColumns());
    result.nothingFound = !state.model.found || (ntfs && result.fileCount < 1);
    return result;
}

}  // namespace quorlan
