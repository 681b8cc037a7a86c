#include "ntfs/search_driver.h"

#include "fat/fat_listing.h"
#include "fat/fat_search.h"
#include "core/text.h"
#include "items/file_types.h"
#include "ntfs/mft.h"
#include "ntfs/ntfs_search.h"

namespace quorlan {

namespace {

constexpr const char* kGuidanceResults =
    "Select Files and Folders from left panel Directories' Tree and Click on 'Save' button in Toolbar to save "
    "recovered Files and Folders.";
constexpr const char* kGuidanceStopped =
    "Select Files and Folders from left Panel Directories' Tree and Click on 'Save' button in Toolbar to save "
    "recovered Files and Folders.";

void relinkAndBuild(RecoveryState& state, SectorReader& reader, SearchObserver& observer) {
    RecordTable& table = state.tables.fatEntryTable;
    const bool ntfs = state.params.PartType == "NTFS";
    observer.status("Searching Lost Directories. Please Wait...");
    observer.guidance("Please wait...");
    table.SortByColumn(table.ColumnIndex("self"), true);
    observer.beginPhase("Completed ", 100);
    std::uint64_t shown = 0;
    ReparentLostFolders(table, ntfs ? FolderNumbering::Ntfs : FolderNumbering::Fat, [&](int i, int n) {
        const auto percent = std::min<std::uint64_t>(100, static_cast<std::uint64_t>(i) * 100 / static_cast<std::uint64_t>(n));
        if (percent == shown) return;
        shown = percent;
        observer.status("Searching Lost Directories " + std::to_string(i) + "/" + std::to_string(n));
        observer.setDone(percent);
    });
    table.SortByColumn(table.ColumnIndex("parent"), true);
    observer.status("Storing Directory Information. Please Wait...");
    if (ntfs) {
        ReparentLostNtfsFiles(table, state.tables.ntfsEntryTable);
        BuildNtfsResultTree(state.model, table, observer, true);
    } else {
        BuildFatResultTree(state.model, table, reader, state.params, TreeVariant::Standard, observer);
    }
}

}  // namespace

const std::vector<int>& RecoveryState::NtfsFilesOf(std::uint32_t parent) {
    const RecordTable& files = tables.ntfsEntryTable;
    if (m_ntfsIndexedRows != files.RowCount()) {
        m_ntfsFilesByParent.clear();
        for (int r = 0; r < files.RowCount(); ++r) m_ntfsFilesByParent[files.GetU32(r, "parent")].push_back(r);
        m_ntfsIndexedRows = files.RowCount();
    }
    static const std::vector<int> kNone;
    const auto it = m_ntfsFilesByParent.find(parent);
    return it == m_ntfsFilesByParent.end() ? kNone : it->second;
}

FatVolumeParams NtfsWorkingParams(const NtfsVolumeParams& ntfs) {
    FatVolumeParams p;
    p.PartType = "NTFS";
    p.Cluster0Start = ntfs.volumeStart;
    p.SPC = ntfs.sectorsPerCluster;
    p.MftSector = ntfs.mftSector;
    p.MftMirrorSector = ntfs.mirrorSector;
    p.RecordSize = ntfs.recordSectors;
    p.IndexBufferSize = ntfs.indexBufferSectors;
    return p;
}

NtfsVolumeParams NtfsVolumeOf(const FatVolumeParams& p) {
    return {p.Cluster0Start, p.SPC, p.MftSector, p.MftMirrorSector, p.RecordSize, p.IndexBufferSize};
}

std::optional<FatVolumeParams> ValidateFatPartition(SectorReader& reader, const std::string& partType,
                                                    std::uint64_t start) {
    return ReadFatBootSector(reader, start, partType);
}

SearchResult RunSearch(const SearchRequest& request, SectorReader& reader, RecoveryState& state,
                       const RunContext& context) {
    SearchObserver& observer = context.observer;
    SearchResult result;
    state.tables.fatEntryTable.DeleteAllRows();
    state.tables.ntfsEntryTable.DeleteAllRows();
    state.model.Clear();
    state.setup = SearchSetup{};
    state.setup.selectedDisk = request.disk;
    state.setup.searchDisk = request.disk;
    state.setup.partitionIndex = request.partitionIndex;
    state.setup.partitionTypeText = request.partType;
    state.setup.rangeStart = request.rangeStart;
    state.setup.rangeEnd = request.rangeEnd;

    if (request.partType == "FAT16" || request.partType == "FAT32") {
        FatVolumeParams params;
        params.PartType = request.partType;
        if (request.validated) {
            params = *request.validated;
        } else {
            result.parametersInferred = true;
            if (auto inferred = InferFatParams(reader, request.rangeStart, request.rangeEnd, request.partType, context)) {
                params = *inferred;
            } else if (!context.stopRequested()) {
                result.inferenceFailed = true;
                observer.message(kMsgUnableToCalculate);
            }
        }
        params.PartType = request.partType;
        state.setup.validation = params;
        observer.counterLabel("Folders Found", "Directories Found\t\t:");
        ScanDirectoryClusters(reader, params, request.rangeEnd, state.tables.fatEntryTable, context);
        state.params = params;
        if (context.stopRequested()) result.outcome = SearchOutcome::Stopped;
        relinkAndBuild(state, reader, observer);
    } else if (request.partType == "NTFS") {
        const NtfsVolumeParams ntfs = request.ntfs.value_or(NtfsVolumeParams{request.rangeStart, 0, 0, 0, 0, 0});
        state.params = NtfsWorkingParams(ntfs);
        state.setup.validation = state.params;
        state.mftRuns = request.ntfs ? BuildMftRunList(reader, ntfs) : RunList{};
        observer.counterLabel("Folders Found", "MFT Found\t\t\t:");
        (void)WalkMft(reader, ntfs, state.mftRuns, state.tables.fatEntryTable, state.tables.ntfsEntryTable, context);
        if (context.stopRequested()) result.outcome = SearchOutcome::Stopped;
        relinkAndBuild(state, reader, observer);
        result.fileCount = static_cast<std::uint64_t>(state.tables.ntfsEntryTable.RowCount());
        state.model.found = true;
    }

    state.tables.fatEntryTable.DeleteAllRows();
    if (request.partType != "NTFS") state.tables.ntfsEntryTable.DeleteAllRows();  // NTFS files are listed from it
    state.tables.directoryTable.DeleteAllRows();
    state.tables.propertyList.ResetColumns(FileListColumns());
    observer.guidance(result.outcome == SearchOutcome::Stopped ? kGuidanceStopped : kGuidanceResults);
    result.nothingFound = !state.model.found || (request.partType == "NTFS" && result.fileCount < 1);
    if (result.nothingFound) observer.standardSearchNotPossible();
    return result;
}

std::vector<ListedRow> ListFolderRows(RecoveryState& state, SectorReader& reader, TreeItem* item,
                                      ListVariant variant) {
    ResultModel& model = state.model;
    const FatVolumeParams& params = state.params;
    const bool ntfs = params.PartType == "NTFS";
    FatDirectoryReader directory(reader, params);

    // The folder's number and whether it lies under a deleted folder.
    std::uint32_t F = ntfs ? 5 : 0;
    bool parentDeleted = false;
    if (const FolderNode* node = model.FindFolderNode(item)) {
        F = node->self;
        parentDeleted = node->deleted;
        if (variant == ListVariant::Worker && F != kOrphanNumber && params.isFat()) {
            directory.NameSubFoldersOf(model, *node);
        }
    }

    std::vector<ListedRow> rows;
    const std::string today = TodayDateText();
    const std::string now = NowTimeText();
    for (const std::size_t i : model.ChildrenOf(F)) {
        FolderNode& child = model.nodes[i];
        ListedRow row;
        row.isFolder = true;
        row.name = child.name;
        const bool wasDeleted = child.deleted;
        if (child.deleted || parentDeleted) child.deleted = true;
        row.deleted = child.deleted;
        row.type = variant == ListVariant::RightKey && (wasDeleted || parentDeleted) ? "Deleted FOLDER" : "FOLDER";
        row.size = "0";
        if (ntfs) {
            row.date = NtfsDateText(static_cast<std::int64_t>(child.date));
            row.time = NtfsTimeText(static_cast<std::int64_t>(child.date));
            row.rawDate = child.date;
        } else if (child.name == kMiscFolderName && variant == ListVariant::Worker) {
            row.date = today;
            row.time = now;
        } else {
            row.date = FatDateText(static_cast<std::uint16_t>(child.date));
            row.time = FatTimeText(static_cast<std::uint16_t>(child.time));
        }
        if (!ntfs) {
            row.rawDate = static_cast<std::uint16_t>(child.date);
            row.rawTime = static_cast<std::uint16_t>(child.time);
        }
        row.debug1 = std::to_string(child.self);
        row.debug2 = std::to_string(child.parent);
        row.debug3 = std::to_string(child.item->id);
        rows.push_back(std::move(row));
    }

    if (ntfs) {
        const RecordTable& table = state.tables.ntfsEntryTable;
        const int name = table.ColumnIndex("Name"), size = table.ColumnIndex("size"), date = table.ColumnIndex("date");
        const int sector = table.ColumnIndex("sector"), self = table.ColumnIndex("self");
        const int deleted = table.ColumnIndex("Deleted");
        for (const int r : state.NtfsFilesOf(F)) {
            ListedRow row;
            row.name = table.GetCell(r, name);
            row.type = FileTypeOf(row.name, FolderSource::DirectRegion);
            row.size = table.GetCell(r, size);
            const std::int64_t stamp = parseDecimalI64(table.GetCell(r, date));
            row.date = NtfsDateText(stamp);
            row.time = NtfsTimeText(stamp);
            row.rawDate = static_cast<std::uint64_t>(stamp);
            row.debug1 = table.GetCell(r, sector);
            row.debug2 = std::to_string(F);
            row.debug3 = table.GetCell(r, self);
            row.deleted = table.GetCell(r, deleted) == "1" || parentDeleted;
            rows.push_back(std::move(row));
        }
    } else if (F != kOrphanNumber && params.isFat()) {
        for (FatFileEntry& file : directory.ListFatFiles(F)) {
            ListedRow row;
            row.name = std::move(file.name);
            row.type = std::move(file.type);
            row.size = std::to_string(file.size);
            row.date = FatDateText(file.date);
            row.time = FatTimeText(file.time);
            row.rawDate = file.date;
            row.rawTime = file.time;
            row.debug1 = std::to_string(file.firstCluster);
            row.deleted = file.deleted || parentDeleted;
            rows.push_back(std::move(row));
        }
    }

    if (variant == ListVariant::RightKey) {
        if (FolderNode* node = model.FindFolderNode(item); node != nullptr && !node->expanded) {
            node->expanded = true;
            if (node->self != kOrphanNumber && params.isFat()) directory.NameSubFoldersOf(model, *node);
        }
    }
    return rows;
}

std::vector<ListedRow> ListFolder(RecoveryState& state, SectorReader& reader, TreeItem* item, ListVariant variant) {
    std::vector<ListedRow> rows = ListFolderRows(state, reader, item, variant);

    // The file-list columns, in order: Name, Type, Size, Date, Time, Debug Info 1 to 3.
    RecordTable& list = state.tables.propertyList;
    list.ResetColumns(FileListColumns());
    for (const ListedRow& row : rows) {
        const int r = list.AppendRow(row.name);
        int c = 1;
        for (const std::string* cell : {&row.type, &row.size, &row.date, &row.time, &row.debug1, &row.debug2,
                                        &row.debug3}) {
            list.SetCell(r, c++, *cell);
        }
    }
    return rows;
}

bool ExpandFolder(RecoveryState& state, SectorReader& reader, TreeItem* item) {
    FolderNode* node = state.model.FindFolderNode(item);
    if (node == nullptr || node->expanded) return false;
    node->expanded = true;
    if (node->self == kOrphanNumber || !state.params.isFat()) return false;
    FatDirectoryReader directory(reader, state.params);
    directory.NameSubFoldersOf(state.model, *node);
    return true;
}

}  // namespace quorlan
