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
struct RecordTables {
    RecordTable fatEntryTable = MakeFatEntryTable();
    RecordTable ntfsEntryTable = MakeNtfsEntryTable();
    RecordTable directoryTable = MakeDirectoryTable();
    RecordTable dedupeDirectoryTable = MakeDedupeDirectoryTable();
    RecordTable fileSystemTableFound = MakeFileSystemTable();       // boot sectors found
    RecordTable fileSystemTableIdentified = MakeFileSystemTable();  // file systems identified
    RecordTable mftRefTable = MakeMftRefTable();
    RecordTable mftEntryTable = MakeMftEntryTable();
    RecordTable propertyList{"PropertyList", DetailsColumns()};
    RecordTable fileTypesList = MakeFileTypesList();
    RecordTable filesRecoveredList = MakeFilesRecoveredList();

    // Empties the tables that a search fills, as partition validation does before a search.
    void ClearSearchTables();
};

}  // namespace quorlan
