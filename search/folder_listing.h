// Listing a folder of the result tree, as the file list shows it: its sub-folders, then its
// files, from the FAT directory or the NTFS entry table.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/sector_reader.h"
#include "items/result_tree.h"
#include "search/recovery_state.h"

namespace quorlan {

// One row of the file list.
struct ListedRow {
    std::string name;
    std::string type;
    std::uint64_t size = 0;
    std::string date;
    std::string time;
    bool isFolder = false;
    bool deleted = false;  // the entry, or a folder above it, is deleted
    // The time stamp behind date and time: FAT, the date and time words; NTFS, the 64-bit time in
    // rawDate.
    std::uint64_t rawDate = 0;
    std::uint64_t rawTime = 0;
    // Folder rows: the folder's number, its parent's number and its tree item.
    std::uint32_t self = 0;
    std::uint32_t parent = 0;
    std::int64_t itemId = 0;
    // FAT files: the first cluster, and where the file's directory entry lies (its sector x 512
    // + its offset).
    std::uint32_t firstCluster = 0;
    std::uint64_t entryPosition = 0;
    // NTFS files: the sector of the file's record, its record number (self) and its folder's
    // number (parent); for a named data stream's row (name "file:stream") the stream's name.
    std::uint64_t recordSector = 0;
    std::string stream;
    // A deleted file whose bytes the evidence cannot vouch for (its clusters are a guess that
    // may be wrong, or may hold another file's data now), and why.
    bool mayBeIncomplete = false;
    std::string mayBeIncompleteWhy;
};

// What the listing is for: which rows it names and when it names sub-folders.
enum class FolderListing {
    Select,  // a folder is selected (click or arrow key): names its sub-folders first, every time
    Open,    // Open on a folder row: lists only
    Expand,  // a folder is opened by the keyboard: deleted sub-folders show "Deleted FOLDER", and
             // the sub-folders are named once, after listing
};

// Lists a folder of the result tree: its child folders, then its files.
[[nodiscard]] std::vector<ListedRow> ListFolderRows(RecoveryState& state, SectorReader& reader, TreeItem* item,
                                                    FolderListing listing);
// The same, also filling the visible list (tables.propertyList) with the file-list columns.
std::vector<ListedRow> ListFolder(RecoveryState& state, SectorReader& reader, TreeItem* item, FolderListing listing);

// The three hidden "Debug Info" cells of a row: a folder's number, its parent's and its tree item;
// a FAT file's first cluster; an NTFS file's record sector, folder and record number.
[[nodiscard]] std::array<std::string, 3> DebugInfoCells(const ListedRow& row, bool ntfs);

// A folder of the result tree is about to expand: the first time, its sub-folders get the names
// of their directory entries (FAT only; NTFS folders carry their names). Returns whether its
// directory was read.
bool ExpandFolder(RecoveryState& state, SectorReader& reader, TreeItem* item);

}  // namespace quorlan
