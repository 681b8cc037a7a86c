// The record-table instances of a search session, with their exact column names.
#pragma once

#include <cstdint>
#include <vector>

#include "items/record_table.h"

namespace quorlan {

// The "self" of the folder "QLN_Miscellaneous" and the "parent" of every folder whose parent
// was not found.
inline constexpr std::uint32_t kOrphanNumber = 0x0FFFFFFF;  // 268435455
inline constexpr const char* kMiscFolderName = "QLN_Miscellaneous";
// A folder whose own directory cluster is gone but whose entry survives in its parent's
// directory is shown again at its place (RebuildLostParents) under the number base + its
// cluster: above every FAT cluster number (28 bits), so that nothing reads a directory for it.
inline constexpr std::uint32_t kRebuiltFolderBase = 0x10000000;

// Whether a FAT folder's number names a directory on the disk: not "QLN_Miscellaneous", not a
// rebuilt folder.
[[nodiscard]] constexpr bool FolderHasDirectory(std::uint32_t self) {
    return self != kOrphanNumber && self < kRebuiltFolderBase;
}

[[nodiscard]] RecordTable MakeFatEntryTable();
[[nodiscard]] RecordTable MakeNtfsEntryTable();
[[nodiscard]] RecordTable MakeDirectoryTable();
[[nodiscard]] RecordTable MakeDedupeDirectoryTable();
[[nodiscard]] RecordTable MakeFileSystemTable();
[[nodiscard]] RecordTable MakeMftRefTable();
[[nodiscard]] RecordTable MakeMftEntryTable();
[[nodiscard]] RecordTable MakeFileTypesList();
[[nodiscard]] RecordTable MakeFilesRecoveredList();

// Column sets of the visible list, which changes role as the wizard moves.
[[nodiscard]] std::vector<ColumnSpec> DetailsColumns();      // "Name" / "Value"
[[nodiscard]] std::vector<ColumnSpec> DiskDetailsColumns();  // " Disk Details"
[[nodiscard]] std::vector<ColumnSpec> FileListColumns();     // "Name" ... "Debug Info 3"

// Every table a search fills or reads, owned by the session of a front end.
//
// One pass of an Advance Search can look for FAT and NTFS structures at once. Their findings are
// kept in tables of their own, because the two file systems give the same column names other
// meanings (an NTFS boot sector's row holds its sectors per cluster under "SPF" and its MFT
// cluster under "Reserve Sectors"; the NTFS analysis uses a DirectoryTable as its work list):
//   FAT:  fileSystemTableFound (boot sectors), directoryTable (directory clusters);
//   NTFS: ntfsFileSystemTableFound (boot sectors), mftEntryTable (FILE records), mftRefTable
//         (INDX buffers), ntfsDirectoryTable and dedupeDirectoryTable (the analysis's folders).
// The file systems that the analyses identify, FAT and NTFS alike, go into the one list
// fileSystemTableIdentified: row n - 1 is file system n, its "PartType" says which it is, and
// the "File System" cells of either directory table hold these numbers.
struct RecordTables {
    RecordTable fatEntryTable = MakeFatEntryTable();
    RecordTable ntfsEntryTable = MakeNtfsEntryTable();
    RecordTable directoryTable = MakeDirectoryTable();  // FAT directory clusters found by a scan
    RecordTable dedupeDirectoryTable = MakeDedupeDirectoryTable();
    RecordTable fileSystemTableFound = MakeFileSystemTable();       // FAT boot sectors found
    RecordTable fileSystemTableIdentified = MakeFileSystemTable();  // file systems identified
    RecordTable mftRefTable = MakeMftRefTable();
    RecordTable mftEntryTable = MakeMftEntryTable();
    RecordTable propertyList{"PropertyList", DetailsColumns()};
    RecordTable fileTypesList = MakeFileTypesList();
    RecordTable filesRecoveredList = MakeFilesRecoveredList();
    RecordTable ntfsFileSystemTableFound = MakeFileSystemTable();  // NTFS boot sectors found
    RecordTable ntfsDirectoryTable = MakeDirectoryTable();         // the NTFS analysis's folders

    // Empties the tables that a search fills, as partition validation does before a search.
    void ClearSearchTables();
    // Empties everything an Advance Search scan and analysis fill, before a new scan.
    void ClearAdvanceTables();
};

}  // namespace quorlan
