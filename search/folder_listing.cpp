#include "search/folder_listing.h"

#include "core/text.h"
#include "fat/fat_listing.h"
#include "items/file_types.h"
#include "items/tables.h"
#include "ntfs/ntfs_search.h"
#include "search/deleted_files.h"

namespace quorlan {

std::vector<ListedRow> ListFolderRows(RecoveryState& state, SectorReader& reader, TreeItem* item,
                                      FolderListing listing) {
    ResultModel& model = state.model;
    const FatVolumeParams& params = state.params;
    const bool ntfs = params.isNtfs();
    FatDirectoryReader directory(reader, params);

    // The folder's number and whether it lies under a deleted folder.
    std::uint32_t F = ntfs ? kNtfsRootRecord : 0;
    bool parentDeleted = false;
    if (const FolderNode* node = model.FindFolderNode(item)) {
        F = node->self;
        parentDeleted = node->deleted;
        if (listing == FolderListing::Select && FolderHasDirectory(F) && params.isFat()) {
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
        row.type = listing == FolderListing::Expand && (wasDeleted || parentDeleted) ? "Deleted FOLDER" : "FOLDER";
        if (ntfs) {
            row.date = NtfsDateText(static_cast<std::int64_t>(child.date));
            row.time = NtfsTimeText(static_cast<std::int64_t>(child.date));
            row.rawDate = child.date;
        } else if (child.name == kMiscFolderName && listing == FolderListing::Select) {
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
        row.self = child.self;
        row.parent = child.parent;
        row.itemId = child.item->id;
        rows.push_back(std::move(row));
    }

    if (ntfs) {
        const RecordTable& table = state.tables.ntfsEntryTable;
        const int name = table.RequireColumn("Name"), size = table.RequireColumn("size");
        const int date = table.RequireColumn("date"), sector = table.RequireColumn("sector");
        const int self = table.RequireColumn("self"), deleted = table.RequireColumn("Deleted");
        const int type = table.RequireColumn("Type");
        std::string fileName;  // the name of the file whose streams follow it
        for (const int r : state.NtfsFilesOf(F)) {
            ListedRow row;
            row.name = table.GetCell(r, name);
            if (table.GetCell(r, type) == kNtfsStreamType) {
                row.stream = NtfsStreamName(fileName, row.name);
            } else {
                fileName = row.name;
            }
            row.type = FileTypeOf(row.name, FolderSource::DirectRegion);
            row.size = table.GetU64(r, size);
            const std::int64_t stamp = table.GetI64(r, date);
            row.date = NtfsDateText(stamp);
            row.time = NtfsTimeText(stamp);
            row.rawDate = static_cast<std::uint64_t>(stamp);
            row.recordSector = table.GetU64(r, sector);
            row.parent = F;
            row.self = table.GetU32(r, self);
            row.deleted = table.GetCell(r, deleted) == "1" || parentDeleted;
            rows.push_back(std::move(row));
        }
    } else if (FolderHasDirectory(F) && params.isFat()) {
        for (FatFileEntry& file : directory.ListFatFiles(F)) {
            ListedRow row;
            row.name = std::move(file.name);
            row.type = std::move(file.type);
            row.size = file.size;
            row.date = FatDateText(file.date);
            row.time = FatTimeText(file.time);
            row.rawDate = file.date;
            row.rawTime = file.time;
            row.firstCluster = file.firstCluster;
            row.entryPosition = file.entryPosition;
            row.deleted = file.deleted || parentDeleted;
            rows.push_back(std::move(row));
        }
    }

    MarkDeletedFiles(state, reader, rows);

    if (listing == FolderListing::Expand) {
        if (FolderNode* node = model.FindFolderNode(item); node != nullptr && !node->expanded) {
            node->expanded = true;
            if (FolderHasDirectory(node->self) && params.isFat()) directory.NameSubFoldersOf(model, *node);
        }
    }
    return rows;
}

std::array<std::string, 3> DebugInfoCells(const ListedRow& row, bool ntfs) {
    if (row.isFolder) return {std::to_string(row.self), std::to_string(row.parent), std::to_string(row.itemId)};
    if (ntfs) return {std::to_string(row.recordSector), std::to_string(row.parent), std::to_string(row.self)};
    return {std::to_string(row.firstCluster), {}, {}};
}

std::vector<ListedRow> ListFolder(RecoveryState& state, SectorReader& reader, TreeItem* item, FolderListing listing) {
    std::vector<ListedRow> rows = ListFolderRows(state, reader, item, listing);

    // The file-list columns, in order: Name, Type, Size, Date, Time, Debug Info 1 to 3.
    RecordTable& list = state.tables.propertyList;
    list.ResetColumns(FileListColumns());
    const bool ntfs = state.params.isNtfs();
    for (const ListedRow& row : rows) {
        const int r = list.AppendRow(row.name);
        const auto debug = DebugInfoCells(row, ntfs);
        const std::string size = std::to_string(row.size);
        int c = 1;
        for (const std::string* cell : {&row.type, &size, &row.date, &row.time, &debug[0], &debug[1], &debug[2]}) {
            list.SetCell(r, c++, *cell);
        }
    }
    return rows;
}

bool ExpandFolder(RecoveryState& state, SectorReader& reader, TreeItem* item) {
    FolderNode* node = state.model.FindFolderNode(item);
    if (node == nullptr || node->expanded) return false;
    node->expanded = true;
    if (!FolderHasDirectory(node->self) || !state.params.isFat()) return false;
    FatDirectoryReader directory(reader, state.params);
    directory.NameSubFoldersOf(state.model, *node);
    return true;
}

}  // namespace quorlan
