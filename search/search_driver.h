// The search drivers: put the FAT and NTFS engines together into a search of a partition, run on
// a worker thread of a front end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/run_context.h"
#include "core/sector_reader.h"
#include "fat/fat_search.h"
#include "items/volume.h"
#include "ntfs/ntfs_boot_sector.h"
#include "search/recovery_state.h"

namespace quorlan {

struct SearchRequest {
    FileSystemType type = FileSystemType::Unknown;  // FAT16, FAT32 or NTFS
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
    // The search found nothing it can show (no folder, or on NTFS no file): only the Advance
    // Search can go on from here (kMsgStandardNotPossible).
    bool nothingFound = false;
    bool parametersInferred = false;
    bool inferenceFailed = false;
    std::uint64_t fileCount = 0;  // NTFS: files found
    // FAT: why the directory-cluster scan read every cluster instead of skipping those of the
    // live tree (the FAT cannot be trusted); empty when it skipped them.
    std::string everyCluster;
};

inline constexpr const char* kMsgUnableToCalculate = "Unable to calculate partition parameters";
inline constexpr const char* kMsgStandardNotPossible =
    "Recovery is not possible in Standard Search mode, use Advance Search to recover your data.";

// The file-system types a Standard Search can search (FAT12: the floppy).
[[nodiscard]] constexpr bool StandardSearchAccepts(FileSystemType type) {
    return IsFatType(type) || type == FileSystemType::Ntfs;
}

// Validates the selected partition's boot sector: the FAT parameters, or empty.
[[nodiscard]] std::optional<FatVolumeParams> ValidateFatPartition(SectorReader& reader, FileSystemType type,
                                                                  std::uint64_t start);

// The end of every search that fills the folder table (state.tables.fatEntryTable) and sets the
// working parameters: folders whose parent was not found go under "QLN_Miscellaneous" (the FAT
// or the NTFS form, by the parameters' type), then the tree is built from the table (FAT: the
// given variant; NTFS: with the files whose folder is gone under "QLN_Miscellaneous" too).
void RelinkAndBuildTree(RecoveryState& state, SectorReader& reader, SearchObserver& observer, TreeVariant variant);

// A Standard Search. Runs on the caller's thread (a front end calls it from a worker); honours
// a stop request within one chunk of the scan and then builds the result from the rows found
// so far.
[[nodiscard]] SearchResult RunSearch(const SearchRequest& request, SectorReader& reader, RecoveryState& state,
                                     const RunContext& context);

}  // namespace quorlan
