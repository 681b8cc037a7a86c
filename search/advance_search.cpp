#include "search/advance_search.h"

#include <memory>

#include "items/tables.h"
#include "search/advance_engine.h"
#include "search/advance_scan.h"

namespace quorlan {

std::unique_ptr<AdvanceEngine> MakeAdvanceEngine(FileSystemType type) {
    if (IsFatType(type)) return MakeFatAdvanceEngine();
    if (type == FileSystemType::Ntfs) return MakeNtfsAdvanceEngine();
    return nullptr;
}

namespace {

// The engines of a search, in the order their analyses run: FAT, then NTFS.
std::vector<std::unique_ptr<AdvanceEngine>> enginesFor(const std::optional<FileSystemType>& type) {
    std::vector<std::unique_ptr<AdvanceEngine>> engines;
    if (!type || IsFatType(*type)) engines.push_back(MakeFatAdvanceEngine());
    if (!type || *type == FileSystemType::Ntfs) engines.push_back(MakeNtfsAdvanceEngine());
    return engines;
}

}  // namespace

AdvanceScanResult RunAdvanceSearch(const AdvanceSearchRequest& request, SectorReader& reader, RecoveryState& state,
                                   const RunContext& context) {
    SearchObserver& observer = context.observer;
    RecordTables& tables = state.tables;
    tables.ClearAdvanceTables();
    tables.fatEntryTable.DeleteAllRows();
    tables.ntfsEntryTable.DeleteAllRows();
    state.model.Clear();
    state.params = FatVolumeParams{};
    state.mftRuns.clear();
    state.advance = AdvanceScanState{};
    state.advance.type = request.type;
    state.advance.rangeStart = request.rangeStart;
    state.advance.rangeEnd = request.rangeEnd;
    state.setup = SearchSetup{};
    state.setup.searchMode = SearchMode::Advance;
    state.setup.selectedDisk = request.disk;
    state.setup.searchDisk = request.disk;
    state.setup.partitionType = request.type.value_or(FileSystemType::Unknown);
    state.setup.rangeStart = request.rangeStart;
    state.setup.rangeEnd = request.rangeEnd;

    auto engines = enginesFor(request.type);
    ScanCounters counters(observer);
    counters.show();
    std::vector<SectorDetector*> detectors;
    for (const auto& engine : engines) {
        for (SectorDetector* d : engine->Detectors(state, counters)) detectors.push_back(d);
    }
    const std::uint64_t start = request.rangeStart;
    const std::uint64_t end = request.rangeEnd;
    observer.beginPhase("Completed ", end > start ? end - start : 0);
    const ScanSummary pass = RunAdvanceScanPass(reader, start, end, detectors, context);

    AdvanceScanResult result;
    result.outcome = pass.end == ScanEnd::Stopped ? SearchOutcome::Stopped : SearchOutcome::Finished;
    result.scannedTo = pass.nextSector;
    result.unreadableSectors = pass.unreadableSectors;
    state.advance.scanned = true;
    state.advance.scannedTo = pass.nextSector;

    // The analyses run over whatever the pass found, also after a stop.
    for (const auto& engine : engines) engine->Analyze(request, state, reader, observer);

    result.foldersFound = counters.value(Counter::FoldersFound);
    result.bootSectorsFound = counters.value(Counter::BootSectorsFound);
    result.recordsFound = counters.value(Counter::RecordsFound);
    result.fileSystems = static_cast<std::size_t>(tables.fileSystemTableIdentified.RowCount());
    return result;
}

std::vector<IdentifiedFileSystem> IdentifiedFileSystems(const RecoveryState& state) {
    const RecordTable& list = state.tables.fileSystemTableIdentified;
    std::vector<std::uint64_t> folders(static_cast<std::size_t>(list.RowCount()), 0);
    for (const auto& engine : enginesFor(std::nullopt)) engine->CountFolders(state, folders);
    std::vector<IdentifiedFileSystem> out;
    for (int r = 0; r < list.RowCount(); ++r) {
        IdentifiedFileSystem fs;
        fs.number = static_cast<std::size_t>(r) + 1;
        fs.type = FileSystemTypeFromText(list.GetCell(r, "PartType"));
        fs.start = list.GetU64(r, "Cluster0Start");
        fs.sectorsPerCluster = list.GetU64(r, "SPC");
        fs.folders = folders[static_cast<std::size_t>(r)];
        out.push_back(fs);
    }
    return out;
}

std::string FileSystemItemText(const IdentifiedFileSystem& fs) {
    return "File System " + std::to_string(fs.number) + " - " + std::string(FileSystemTypeText(fs.type));
}

Result<SearchResult> RunEntryBuilding(std::size_t number, SectorReader& reader, RecoveryState& state,
                                      const RunContext& context) {
    RecordTables& tables = state.tables;
    const RecordTable& list = tables.fileSystemTableIdentified;
    const auto rows = static_cast<std::size_t>(list.RowCount());
    if (number == 0 || number > rows) {
        return Error{ErrorKind::InvalidArgument, "there is no file system " + std::to_string(number) +
                                                     " (the search identified " + std::to_string(rows) + ")"};
    }
    const FileSystemType type = FileSystemTypeFromText(list.GetCell(static_cast<int>(number - 1), "PartType"));
    const auto engine = MakeAdvanceEngine(type);
    if (!engine) {
        return Error{ErrorKind::InvalidArgument, "file system " + std::to_string(number) + " has no known type"};
    }

    tables.fatEntryTable.DeleteAllRows();
    tables.ntfsEntryTable.DeleteAllRows();
    state.model.Clear();
    state.params = FatVolumeParams{};
    state.mftRuns.clear();
    engine->BuildEntries(number, state, reader, context.observer);
    state.advance.selected = number;

    SearchSetup& setup = state.setup;
    setup.searchMode = SearchMode::Advance;
    setup.partitionIndex = 0;
    setup.partitionType = type;
    setup.rangeStart = state.advance.rangeStart;
    setup.rangeEnd = state.advance.rangeEnd;
    // No partition was validated: the record the log keeps for it holds the chosen file system.
    setup.validation = state.params;

    tables.fatEntryTable.DeleteAllRows();
    if (type != FileSystemType::Ntfs) tables.ntfsEntryTable.DeleteAllRows();  // NTFS files are listed from it
    tables.propertyList.ResetColumns(FileListColumns());
    SearchResult result;
    result.fileCount = static_cast<std::uint64_t>(tables.ntfsEntryTable.RowCount());
    return result;
}

}  // namespace quorlan
