#include "ntfs/search_driver.h"

#include "fat/fat_listing.h"
#include "fat/fat_search.h"
#include "items/file_types.h"

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
    observer.status("Searching Lost Directories. Please Wait...");
    observer.guidance("Please wait...");
    table.SortByColumn(table.ColumnIndex("self"), true);
    observer.beginPhase("Completed ", 100);
    std::uint64_t shown = 0;
    ReparentLostFolders(table, FolderNumbering::Fat, [&](int i, int n) {
        const auto percent = std::min<std::uint64_t>(100, static_cast<std::uint64_t>(i) * 100 / static_cast<std::uint64_t>(n));
        if (percent == shown) return;
        shown = percent;
        observer.status("Searching Lost Directories " + std::to_string(i) + "/" + std::to_string(n));
        observer.setDone(percent);
    });
    table.SortByColumn(table.ColumnIndex("parent"), true);
    observer.status("Storing Directory Information. Please Wait...");
    BuildFatResultTree(state.model, table, reader, state.params, TreeVariant::Standard, observer);
}

}  // namespace

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
        observer.counterLabel("Folders Found", "Directories Found\t\t:");
        ScanDirectoryClusters(reader, params, request.rangeEnd, state.tables.fatEntryTable, context);
        state.params = params;
        if (context.stopRequested()) result.outcome = SearchOutcome::Stopped;
        relinkAndBuild(state, reader, observer);
    }

    state.tables.fatEntryTable.DeleteAllRows();
    state.tables.ntfsEntryTable.DeleteAllRows();
    state.tables.directoryTable.DeleteAllRows();
    state.tables.propertyList.ResetColumns(FileListColumns());
    observer.guidance(result.outcome == SearchOutcome::Stopped ? kGuidanceStopped : kGuidanceResults);
    result.nothingFound = !state.model.found;
    return result;
}

std::vector<ListedRow> ListFolder(RecoveryState& state, SectorReader& reader, TreeItem* item, ListVariant variant) {
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
        } else if (child.name == kMiscFolderName && variant == ListVariant::Worker) {
            row.date = today;
            row.time = now;
        } else {
            row.date = FatDateText(static_cast<std::uint16_t>(child.date));
            row.time = FatTimeText(static_cast<std::uint16_t>(child.time));
        }
        row.debug1 = std::to_string(child.self);
        row.debug2 = std::to_string(child.parent);
        row.debug3 = std::to_string(child.item->id);
        rows.push_back(std::move(row));
    }

    if (!ntfs && F != kOrphanNumber && params.isFat()) {
        for (FatFileEntry& file : directory.ListFatFiles(F)) {
            ListedRow row;
            row.name = std::move(file.name);
            row.type = std::move(file.type);
            row.size = std::to_string(file.size);
            row.date = FatDateText(file.date);
            row.time = FatTimeText(file.time);
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

    RecordTable& list = state.tables.propertyList;
    list.ResetColumns(FileListColumns());
    for (const ListedRow& row : rows) {
        const int r = list.AppendRow(row.name);
        list.SetCell(r, "Type", row.type);
        list.SetCell(r, "Size", row.size);
        list.SetCell(r, "Date", row.date);
        list.SetCell(r, "Time", row.time);
        list.SetCell(r, "Debug Info 1", row.debug1);
        list.SetCell(r, "Debug Info 2", row.debug2);
        list.SetCell(r, "Debug Info 3", row.debug3);
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
