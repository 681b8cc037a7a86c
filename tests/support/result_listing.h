// Every folder and file of a search result, listed as the results page lists them, as paths.
#pragma once

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "search/folder_listing.h"

namespace quorlan::test {

// Lists every folder as the results page does (naming FAT sub-folders on the way) and returns
// the folder paths and the file paths, each with " (deleted)" when it shows as deleted.
inline std::pair<std::set<std::string>, std::set<std::string>> everything(RecoveryState& state,
                                                                          SectorReader& reader) {
    std::set<std::string> folders;
    std::set<std::string> files;
    std::vector<TreeItem*> pending{state.model.tree.root()};
    while (!pending.empty()) {
        TreeItem* item = pending.back();
        pending.pop_back();
        for (const ListedRow& row : ListFolder(state, reader, item, FolderListing::Select)) {
            if (!row.isFolder) {
                const std::string folder = ResultTree::GetItemPath(item, "/");
                files.insert((folder.empty() ? "" : folder + "/") + row.name + (row.deleted ? " (deleted)" : ""));
            }
        }
        for (auto& child : item->children) pending.push_back(child.get());
    }
    for (const FolderNode& n : state.model.nodes) {
        folders.insert(ResultTree::GetItemPath(n.item, "/") + (n.deleted ? " (deleted)" : ""));
    }
    return {folders, files};
}

}  // namespace quorlan::test
