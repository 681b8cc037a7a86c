// The Advance Search driver: the one pass over a range of the disk with the detectors of every
// file system looked for, the analysis of what was found into a list of file systems, and the
// folders and files of the file system the user chooses from that list.
//
// A front end calls RunAdvanceSearch on a worker thread (stage 1 and 2), shows
// IdentifiedFileSystems, and calls RunEntryBuilding for the one the user picks (stage 3); it can
// call RunEntryBuilding again for another one without scanning again. After RunEntryBuilding the
// result is listed, saved and written to a recovery log as after a Standard Search.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/result.h"
#include "core/run_context.h"
#include "core/sector_reader.h"
#include "items/volume.h"
#include "search/recovery_state.h"
#include "search/search_driver.h"

namespace quorlan {

inline constexpr const char* kMsgAdvanceNotPossible =
    "No file system could be identified. Recovery is not possible in Advance Search mode.";

struct AdvanceSearchRequest {
    // FAT16 or FAT32: FAT structures only (a FAT file system without a boot sector takes this
    // type, the FAT32 rule for large cluster numbers aside); NTFS: NTFS structures only; empty:
    // FAT and NTFS structures in the same pass, each file system with the type found for it.
    std::optional<FileSystemType> type;
    std::uint64_t rangeStart = 0;  // the search range: rangeStart <= sector < rangeEnd
    std::uint64_t rangeEnd = 0;
    std::size_t disk = 0;          // the selected disk's slot
};

struct AdvanceScanResult {
    SearchOutcome outcome = SearchOutcome::Finished;  // Stopped: the pass was stopped, the analysis ran
    std::uint64_t scannedTo = 0;                      // the first sector the pass did not reach
    std::uint64_t unreadableSectors = 0;              // sectors of the range read as zeros
    std::uint64_t foldersFound = 0;                   // the counters as the pass left them
    std::uint64_t bootSectorsFound = 0;
    std::uint64_t recordsFound = 0;
    std::size_t fileSystems = 0;  // file systems identified; 0: kMsgAdvanceNotPossible
};

// Stage 1 and 2 (RunSearch of an Advance Search): empties the tables and the result of an
// earlier search, scans the range once with the detectors of the file systems the request names
// and analyses what was found. A stop request (Stop Searching) ends the scan within one chunk;
// the analysis then runs over what was scanned.
[[nodiscard]] AdvanceScanResult RunAdvanceSearch(const AdvanceSearchRequest& request, SectorReader& reader,
                                                 RecoveryState& state, const RunContext& context);

// One row of the list of file systems identified.
struct IdentifiedFileSystem {
    std::size_t number = 0;  // 1-based, as "File System n - TYPE" shows it
    FileSystemType type = FileSystemType::Unknown;
    std::uint64_t start = 0;              // FAT: the sector of cluster 0; NTFS: the volume's first sector
    std::uint64_t sectorsPerCluster = 0;
    std::uint64_t folders = 0;            // folders the analysis assigned to it
};

// The file systems the last RunAdvanceSearch identified, in list order.
[[nodiscard]] std::vector<IdentifiedFileSystem> IdentifiedFileSystems(const RecoveryState& state);

// "File System n - TYPE", the text the list of file systems shows for a row.
[[nodiscard]] std::string FileSystemItemText(const IdentifiedFileSystem& fs);

// Stage 3 for file system number (1-based) of the list: its folders, the lost-folder pass and the
// tree, and the working parameters, in state; the search setup records an Advance Search of that
// type over the scanned range. Fails (InvalidArgument) when there is no such file system.
[[nodiscard]] Result<SearchResult> RunEntryBuilding(std::size_t number, SectorReader& reader, RecoveryState& state,
                                                    const RunContext& context);

}  // namespace quorlan
