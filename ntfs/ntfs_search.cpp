#include "ntfs/ntfs_search.h"

#include <unordered_set>

#include "items/tables.h"

namespace quorlan {

std::string NtfsStreamRowName(std::string_view fileName, std::string_view stream) {
    return std::string(fileName) + ":" + std::string(stream);
}

std::string NtfsStreamName(std::string_view fileName, std::string_view rowName) {
    if (rowName.size() <= fileName.size() + 1 || !rowName.starts_with(fileName) || rowName[fileName.size()] != ':') {
        return {};
    }
    return std::string(rowName.substr(fileName.size() + 1));
}

void MarkNtfsStreamRows(RecordTable& fileTable) {
    const int name = fileTable.RequireColumn("Name");
    const int self = fileTable.RequireColumn("self");
    const int type = fileTable.RequireColumn("Type");
    int file = -1;  // the last file row
    for (int r = 0; r < fileTable.RowCount(); ++r) {
        if (file >= 0 && fileTable.GetU32(r, self) == fileTable.GetU32(file, self) &&
            !NtfsStreamName(fileTable.GetCell(file, name), fileTable.GetCell(r, name)).empty()) {
            fileTable.SetCell(r, type, kNtfsStreamType);
            continue;
        }
        file = r;
    }
}

void ReparentLostNtfsFiles(const RecordTable& folderTable, RecordTable& fileTable) {
    std::unordered_set<std::uint64_t> folders{kNtfsRootRecord};
    for (int r = 0; r < folderTable.RowCount(); ++r) folders.insert(folderTable.GetU64(r, "self"));
    for (int r = 0; r < fileTable.RowCount(); ++r) {
        if (!folders.contains(fileTable.GetU64(r, "parent"))) fileTable.SetNumber(r, "parent", kOrphanNumber);
    }
}

void BuildNtfsResultTree(ResultModel& model, RecordTable& table, SearchObserver& observer, bool consume) {
    if (table.RowCount() > 1) model.found = true;
    const int rowCount = table.RowCount();
    // "QLN_Miscellaneous" made its own parent hangs under the root.
    for (int r = 0; r < table.RowCount(); ++r) {
        if (table.GetU64(r, "self") == kOrphanNumber && table.GetU64(r, "parent") == kOrphanNumber) {
            table.SetNumber(r, "parent", kNtfsRootRecord);
        }
    }
    TreeItem* root = model.tree.root();
    std::vector<int> topRows;
    for (int r = 0; r < table.RowCount(); ++r) {
        if (table.GetCell(r, "Type") == "FOLDER" && table.GetU64(r, "parent") == kNtfsRootRecord &&
            table.GetU64(r, "self") != kNtfsRootRecord) {
            topRows.push_back(r);
        }
    }
    for (const int r : topRows) {
        model.AddFolderNode(root, std::string(table.GetCell(r, "Name")), table.GetU32(r, "self"),
                            static_cast<std::uint64_t>(table.GetI64(r, "date")), 0, kNtfsRootRecord,
                            table.GetCell(r, "Deleted") == "1");
    }
    for (auto it = topRows.rbegin(); it != topRows.rend(); ++it) table.DeleteRow(*it);
    // The root folder's own row (".") is the tree's root item.
    for (int r = table.RowCount() - 1; r >= 0; --r) {
        if (table.GetU64(r, "self") == kNtfsRootRecord) table.DeleteRow(r);
    }
    root->expanded = true;
    model.tree.ResetRootItem();

    observer.beginPhase("Completed ", 100);
    std::uint64_t shown = 0;
    PlaceFolderLevels(model, table, true, [&](std::size_t k) {
        const std::uint64_t percent = k * 100 / model.nodes.size();
        if (percent > shown) {
            shown = percent;
            observer.status("Currently Enumerating " + std::to_string(k) + " / " + std::to_string(rowCount));
            observer.setDone(percent);
        }
    });
    if (consume) table.DeleteAllRows();
    for (FolderNode& n : model.nodes) {
        n.expanded = true;
        n.item->expanded = false;
    }
}

}  // namespace quorlan
