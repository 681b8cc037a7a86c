#include "items/tables.h"

namespace quorlan {

namespace {

std::vector<ColumnSpec> entryColumns(int deletedWidth) {
    return {{"Name", 100}, {"sector", 50}, {"self", 50},   {"parent", 50},
            {"date", 50},  {"time", 50},   {"size", 50},   {"attr", 50},
            {"sysID", 50}, {"Type", 50},   {"Deleted", deletedWidth}};
}

std::vector<ColumnSpec> widthAll(std::initializer_list<const char*> names, int width) {
    std::vector<ColumnSpec> columns;
    for (const char* n : names) columns.push_back({n, width});
    return columns;
}

}  // namespace

RecordTable MakeFatEntryTable() { return {"FAT EntryTable", entryColumns(50), true}; }

RecordTable MakeNtfsEntryTable() { return {"NTFS EntryTable", entryColumns(1), true}; }

RecordTable MakeDirectoryTable() {
    return {"DirectoryTable",
            widthAll({"Sector", "Self Cluster", "Parent Cluster", "File System", "Date", "Time",
                      "First Run"},
                     100)};
}

RecordTable MakeDedupeDirectoryTable() {
    // Column 0 holds the self number, the key FindRow searches.
    return {"dedupe DirectoryTable",
            {{"Self Cluster", 100},
             {"Sector", 100},
             {"Parent Cluster", 100},
             {"File System", 100},
             {"Date", 25},
             {"Time", 25},
             {"First Run", 100}}};
}

RecordTable MakeFileSystemTable() {
    return {"FileSystemTable",
            widthAll({"Sector", "SPF", "SPC", "Root Sectors", "Root Start", "Reserve Sectors",
                      "Cluster0Start", "firstFAT", "secondFAT", "TotalSectors", "PartType"},
                     100)};
}

RecordTable MakeMftRefTable() {
    return {"MftRefTable", widthAll({"sector", "mftReference", "vcn", "fsNumber"}, 60)};
}

RecordTable MakeMftEntryTable() {
    return {"MftEntryTable", widthAll({"name", "Sector", "parentMFT", "selfMFT", "size", "type",
                                       "fsNumber", "date", "First Run", "Deleted"},
                                      100)};
}

RecordTable MakeFileTypesList() {
    RecordTable t{"File Types", {{"File Types", 260}}};
    for (const char* row : {"Microsoft Word File(s) (.DOC)", "Microsoft Excel File(s) (.XLS)",
                            "Microsoft PowerPoint File(s) (.PPT)", "Compressed File(s) (.Zip)"}) {
        t.AppendRow(row);
    }
    return t;
}

RecordTable MakeFilesRecoveredList() { return {"Files Recovered", {{"Files Recovered", 440}}}; }

std::vector<ColumnSpec> DetailsColumns() { return {{"Name", 242}, {"Value", 243}}; }

std::vector<ColumnSpec> DiskDetailsColumns() { return {{" Disk Details", 485}}; }

std::vector<ColumnSpec> FileListColumns() {
    return {{"Name", 145},        {"Type", 100},        {"Size", 70},
            {"Date", 100},        {"Time", 70},         {"Debug Info 1", 0},
            {"Debug Info 2", 0},  {"Debug Info 3", 0}};
}

void RecordTables::ClearSearchTables() {
    fatEntryTable.DeleteAllRows();
    ntfsEntryTable.DeleteAllRows();
    directoryTable.DeleteAllRows();
    mftRefTable.DeleteAllRows();
    mftEntryTable.DeleteAllRows();
}

void RecordTables::ClearAdvanceTables() {
    for (RecordTable* t : {&directoryTable, &dedupeDirectoryTable, &fileSystemTableFound, &fileSystemTableIdentified,
                           &mftRefTable, &mftEntryTable, &ntfsFileSystemTableFound, &ntfsDirectoryTable}) {
        t->DeleteAllRows();
    }
}

}  // namespace quorlan
