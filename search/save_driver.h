// Save and Save All: which files and folders of the result are written, and writing them with
// the FAT or NTFS reader of their bytes.
#pragma once

#include <filesystem>
#include <stop_token>
#include <string>
#include <vector>

#include "items/save_files.h"
#include "search/folder_listing.h"
#include "search/recovery_state.h"

namespace quorlan {

struct SaveSelection {
    // Save All: the whole tree. Otherwise Save: the checked folders of the tree (a checked
    // folder with everything below it) and the selected rows of the file list.
    bool all = false;
    TreeItem* listedFolder = nullptr;    // the folder the file list shows
    std::vector<ListedRow> selectedRows;  // its selected rows
};

struct SavePlan {
    std::vector<SaveItem> items;  // folders before what they hold
    std::vector<ListedRow> rows;  // the file rows; SaveItem::source indexes them
    std::uint64_t files = 0;
    bool stopped = false;  // counting was stopped: the save is abandoned
};

// Expands a selection into the files and folders to write ("Calculating Number of Files..."),
// listing every folder involved as the results page does (FAT folders get their names).
// Reports the running count through observer.countingFiles.
[[nodiscard]] SavePlan PlanSave(RecoveryState& state, SectorReader& reader, const SaveSelection& selection,
                                SaveObserver& observer, std::stop_token stop);

// Open on a file row of the file list: that one file alone, written at the top of the
// destination (a folder of its own, from which the desktop opens it). Empty for a folder row.
[[nodiscard]] SavePlan PlanOpenFile(const RecoveryState& state, const ListedRow& row);

// The same for paths as `search` prints them ("Folder/Sub/file.txt", '/'-separated): a folder's
// path names the folder with everything below it, a file's path the file. The empty path names
// the whole tree. Paths that name nothing are returned in unmatched.
[[nodiscard]] SavePlan PlanSaveOfPaths(RecoveryState& state, SectorReader& reader,
                                       const std::vector<std::string>& paths, std::vector<std::string>& unmatched,
                                       SaveObserver& observer, std::stop_token stop);

// Writes a plan under destination.
[[nodiscard]] SaveSummary SaveItems(RecoveryState& state, SectorReader& reader, const SavePlan& plan,
                                    const std::filesystem::path& destination, SaveObserver& observer,
                                    SaveControl& control);

}  // namespace quorlan
