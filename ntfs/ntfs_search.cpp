#include "ntfs/ntfs_search.h"

#include <unordered_set>

#include "items/tables.h"

namespace quorlan {

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
        model.AddFolderNode(root, table.GetCell(r, "Name"), table.GetU32(r, "self"),
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
    std::size_t k = 0;
    auto placeLevels = [&] {
        for (; k < model.nodes.size(); ++k) {
            // A node with the same number as the one just handled has no children left to take.
            if (k > 0 && model.nodes[k].self == model.nodes[k - 1].self) continue;
            AddChildFolders(model, model.nodes[k].self, table, model.nodes[k].item);
            const std::uint64_t percent = (k + 1) * 100 / model.nodes.size();
            if (percent > shown) {
                shown = percent;
                observer.status("Currently Enumerating " + std::to_string(k + 1) + " / " + std::to_string(rowCount));
                observer.setDone(percent);
            }
        }
    };
    placeLevels();
    TreeItem* miscItem = root;
    for (const FolderNode& n : model.nodes) {
        if (n.self == kOrphanNumber) miscItem = n.item;
    }
    for (int guard = table.RowCount(); table.RowCount() > 0 && guard >= 0; --guard) {
        if (table.GetCell(0, "Type") != "FOLDER") {
            table.DeleteRow(0);
            continue;
        }
        const std::string name = table.GetCell(0, "Name");
        const std::uint32_t self = table.GetU32(0, "self");
        const auto date = static_cast<std::uint64_t>(table.GetI64(0, "date"));
        const bool deleted = table.GetCell(0, "Deleted") == "1";
        table.DeleteRow(0);
        model.found = true;
        model.AddFolderNode(miscItem, name.empty() ? model.NextDirName() : name, self, date, 0, kOrphanNumber,
                            deleted);
        placeLevels();
    }
    if (consume) table.DeleteAllRows();
    for (FolderNode& n : model.nodes) {
        n.expanded = true;
        n.item->expanded = false;
    }
}

}  // namespace quorlan
