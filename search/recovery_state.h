// What a search found and how it was set up: the record tables, the folder tree and the working
// volume parameters that listing, saving and the recovery log read.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "fat/fat_advance.h"
#include "fat/fat_deleted.h"
#include "items/result_tree.h"
#include "items/tables.h"
#include "items/volume.h"
#include "ntfs/ntfs_advance.h"
#include "ntfs/ntfs_deleted.h"
#include "ntfs/ntfs_record.h"

namespace quorlan {

// How the search shown was set up: what the wizard chose and what validation found. The
// recovery log stores it.
struct SearchSetup {
    SearchMode searchMode = SearchMode::Standard;
    std::size_t selectedDisk = 0;    // the disk's slot
    std::size_t searchDisk = 0;      // the disk number when the search started
    std::size_t partitionIndex = 0;  // 0-based
    FileSystemType partitionType = FileSystemType::Unknown;
    std::uint64_t rangeStart = 0;
    std::uint64_t rangeEnd = 0;
    // The parameters the partition's validation (or, failing that, inference) produced.
    FatVolumeParams validation;
};

// What the scan and analysis of an Advance Search left besides its tables, for building the
// entries of one file system after another without scanning again.
struct AdvanceScanState {
    bool scanned = false;                // a scan ran (and its analysis)
    std::optional<FileSystemType> type;  // what it looked for; empty: every file system
    std::uint64_t rangeStart = 0;        // the search range, start <= sector < end
    std::uint64_t rangeEnd = 0;
    std::uint64_t scannedTo = 0;         // the first sector the scan did not reach (rangeEnd unless stopped)
    int fatAnalysisStage = 0;            // how far the FAT analysis came: 1 after phase 1, 2 after phase 2
    std::vector<FatStartSector> fatStarts;  // sectors that begin a FAT copy, in disk order
    NtfsScanFindings ntfs;               // what the NTFS detector and analysis learnt besides the tables
    std::size_t selected = 0;            // the file system whose entries were built (1-based), 0 for none
};

// What was worked out about the deleted files of the result shown (search/deleted_files.h), kept
// until the model holds another result.
struct DeletedFilesWeighing {
    std::uint64_t generation = 0;  // the model's generation it belongs to; 0 before any
    std::optional<FatDeletedFiles> fat;
    std::optional<std::map<std::pair<std::uint32_t, std::string>, NtfsDeletedTrust>> ntfs;  // by record and stream
};

// Everything a search fills and the result pages read: one per session.
struct RecoveryState {
    RecordTables tables;
    ResultModel model;
    FatVolumeParams params;  // the working parameters of the volume shown
    RunList mftRuns;         // the $MFT's runs, after an NTFS Standard Search or a loaded log
    SearchSetup setup;
    AdvanceScanState advance;
    DeletedFilesWeighing deletedFiles;

    // Rows of the NTFS entry table by parent number, for listing folders.
    [[nodiscard]] const std::vector<int>& NtfsFilesOf(std::uint32_t parent);
    // The NTFS entry table was filled again: the rows by parent are looked up afresh (a table of
    // another search may hold as many rows).
    void NtfsFilesChanged() { m_ntfsIndexedRows = -1; }

private:
    std::unordered_map<std::uint32_t, std::vector<int>> m_ntfsFilesByParent;
    int m_ntfsIndexedRows = -1;
};

}  // namespace quorlan
