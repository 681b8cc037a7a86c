// The search drivers: put the FAT and NTFS engines together into a search of a partition, on a
// worker thread, and list the folders of the result.
#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <string>
#include <vector>

#include "core/run_context.h"
#include "core/sector_reader.h"
#include "fat/fat_volume.h"
#include "items/result_tree.h"
#include "items/tables.h"
#include "ntfs/ntfs_boot_sector.h"
#include "ntfs/ntfs_record.h"

namespace quorlan {

// How the search shown was set up: what the wizard chose and what validation found. The
// recovery log stores it.
struct SearchSetup {
    std::uint8_t searchMode = 1;     // 1 Standard Search, 2 Advance Search
    std::size_t selectedDisk = 0;    // the disk's slot
    std::size_t searchDisk = 0;      // the disk number when the search started
    std::size_t partitionIndex = 0;  // 0-based
    std::string partitionTypeText;   // "FAT16", "FAT32" or "NTFS"
    std::string searchModeText = "Standard Search";
    std::uint64_t rangeStart = 0;
    std::uint64_t rangeEnd = 0;
    // The parameters the partition's validation (or, failing that, inference) produced.
    FatVolumeParams validation;
};

// Everything a search fills and the result pages read: one per session.
struct RecoveryState {
    RecordTables tables;
    ResultModel model;
    FatVolumeParams params;  // the working parameters of the volume shown
    RunList mftRuns;         // the $MFT's runs, after an NTFS Standard Search or a loaded log
    SearchSetup setup;

    // Rows of the NTFS entry table by parent number, for listing folders.
    [[nodiscard]] const std::vector<int>& NtfsFilesOf(std::uint32_t parent);

private:
    std::unordered_map<std::uint32_t, std::vector<int>> m_ntfsFilesByParent;
    int m_ntfsIndexedRows = -1;
};

struct SearchRequest {
    std::string partType;  // "FAT16", "FAT32" or "NTFS"
    std::uint64_t rangeStart = 0;  // the partition's first sector
    std::uint64_t rangeEnd = 0;    // the first sector after it
    // The parameters validation found; empty when validation failed (FAT parameters are then
    // inferred).
    std::optional<FatVolumeParams> validated;
    std::optional<NtfsVolumeParams> ntfs;
    std::size_t disk = 0;            // the selected disk's slot
    std::size_t partitionIndex = 0;  // 0-based
};

enum class SearchOutcome { Finished, Stopped };

struct SearchResult {
    SearchOutcome outcome = SearchOutcome::Finished;
    // Nothing was found: the front end shows "Recovery is not possible in Standard Search mode,
    // use Advance Search to recover your data."
    bool nothingFound = false;
    bool parametersInferred = false;
    bool inferenceFailed = false;
    std::uint64_t fileCount = 0;  // NTFS: files found
};

inline constexpr const char* kMsgUnableToCalculate = "Unable to calculate partition parameters";
inline constexpr const char* kMsgStandardNotPossible =
    "Recovery is not possible in Standard Search mode, use Advance Search to recover your data.";

// The working parameters of an NTFS volume, in the record the FAT searches use: the volume start
// in Cluster0Start, its sectors per cluster in SPC, and the four NTFS values.
[[nodiscard]] FatVolumeParams NtfsWorkingParams(const NtfsVolumeParams& ntfs);
// The NTFS values back out of that record.
[[nodiscard]] NtfsVolumeParams NtfsVolumeOf(const FatVolumeParams& params);

// Validates the selected partition's boot sector: the FAT parameters, or empty.
[[nodiscard]] std::optional<FatVolumeParams> ValidateFatPartition(SectorReader& reader, const std::string& partType,
                                                                  std::uint64_t start);

// A Standard Search. Runs on the caller's thread (a front end calls it from a worker); honours
// a stop request within one 256 KiB chunk of the scan and then builds the result from the rows
// found so far.
[[nodiscard]] SearchResult RunSearch(const SearchRequest& request, SectorReader& reader, RecoveryState& state,
                                     const RunContext& context);

// One row of the file list.
struct ListedRow {
    std::string name;
    std::string type;
    std::string size;
    std::string date;
    std::string time;
    std::string debug1, debug2, debug3;
    bool isFolder = false;
    bool deleted = false;  // the entry, or a folder above it, is deleted
    // The time stamp behind date and time: FAT, the date and time words; NTFS, the 64-bit time in
    // rawDate.
    std::uint64_t rawDate = 0;
    std::uint64_t rawTime = 0;
};

enum class ListVariant {
    Worker,     // a click or arrow key: names sub-folders first, every time
    Open,       // Open on a folder row
    RightKey,   // the Right-key expansion: deleted child folders show "Deleted FOLDER"
};

// Lists a folder of the result tree: its child folders, then its files. Also fills the visible
// list (tables.propertyList) with the file-list columns.
std::vector<ListedRow> ListFolder(RecoveryState& state, SectorReader& reader, TreeItem* item, ListVariant variant);
// The same rows without touching the visible list, for work behind the scenes (saving).
std::vector<ListedRow> ListFolderRows(RecoveryState& state, SectorReader& reader, TreeItem* item,
                                      ListVariant variant);

// A folder of the result tree is about to expand: the first time, its sub-folders get the names
// of their directory entries (FAT only; NTFS folders carry their names). Returns whether its
// directory was read.
bool ExpandFolder(RecoveryState& state, SectorReader& reader, TreeItem* item);

}  // namespace quorlan
