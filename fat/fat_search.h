// The FAT Standard Search: the directory-cluster scan and the building of the folder tree from
// the entry table.
#pragma once

#include <cstdint>

#include "core/run_context.h"
#include "core/sector_reader.h"
#include "fat/fat_volume.h"
#include "items/record_table.h"
#include "items/result_tree.h"

namespace quorlan {

// Reads the data area from cluster 2 up to rangeEnd (the sectors below it), 256 KiB at a time,
// and appends one row to the FAT entry table for every cluster that begins before rangeEnd with
// a "." entry naming the cluster itself and a ".." entry. The first row is "QLN_Miscellaneous".
// A stop request ends the scan at the next chunk; the rows written stay.
void ScanDirectoryClusters(SectorReader& reader, const FatVolumeParams& params, std::uint64_t rangeEnd,
                           RecordTable& entryTable, const RunContext& context);

// Gives a folder whose parent's directory cluster was not found its parent back where the
// parent's own entry survives. For every lost parent (a "parent" of the folder table that is no
// row's "self", not the root, a cluster of the volume), the directories of the root and of every
// folder of the table are looked through for a directory entry, live or deleted, naming it; the
// first one found (a live one before a deleted one) gives a row for that parent under the folder
// holding the entry, named by it and deleted when it is, numbered kRebuiltFolderBase + its
// cluster (nothing reads its cluster: it is shown as an empty folder), and the folders whose
// parent it is move under it. Reads the directories only when some parent is lost. Returns the
// rows added.
int RebuildLostParents(SectorReader& reader, const FatVolumeParams& params, RecordTable& entryTable);

enum class TreeVariant {
    Standard,          // after a Standard Search
    ChosenFileSystem,  // after an Advance Search, once the user chose a file system
    LoadedLog,         // from a recovery log
};

// Builds the folder tree from the entry table (sorted by "parent"): names the folders directly
// under the root from the root directory's entries (not for a loaded log), adds them under the
// root item, then adds every folder under its parent level by level. Rows that no level reaches
// (folders whose parents form a cycle) are placed under "QLN_Miscellaneous" instead of being
// lost. Consumes the table's rows.
void BuildFatResultTree(ResultModel& model, RecordTable& entryTable, SectorReader& reader,
                        const FatVolumeParams& params, TreeVariant variant, SearchObserver& observer);

}  // namespace quorlan
