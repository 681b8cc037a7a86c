// The FAT Standard Search: the directory-cluster scan and the building of the folder tree from
// the entry table.
#pragma once

#include <cstdint>
#include <string>

#include "core/run_context.h"
#include "core/sector_reader.h"
#include "fat/fat_volume.h"
#include "items/record_table.h"
#include "items/result_tree.h"

namespace quorlan {

struct DirectoryScanOptions {
    // When not empty, every cluster is scanned, for this reason (shown in the status): the FAT
    // is not asked which clusters the live tree owns. The driver gives it for parameters that
    // were inferred, whose FAT's place is a guess.
    std::string everyCluster;
    // Two runs of clusters to scan that are apart by at most this many bytes of owned clusters
    // are read as one: on a stick one request more costs about as much as reading that much.
    std::uint64_t mergeGapBytes = 64 * 1024;
};

struct DirectoryScanReport {
    // Why every cluster was read; empty when the clusters of the live tree were skipped.
    std::string everyCluster;
    std::uint64_t sectorsScanned = 0;  // sectors the scan read (not the FAT, not the live folders)
    std::uint64_t runs = 0;            // runs of sectors scanned
};

// Appends one row to the FAT entry table for every cluster from cluster 2 on that begins before
// rangeEnd with a "." entry naming the cluster itself and a ".." entry; the first row is
// "QLN_Miscellaneous", then the folders in cluster order. The data area is read 256 KiB at a
// time; when the FAT can be trusted, only the clusters that the live tree does not own are
// scanned, and the live folders' own clusters are judged as the walk reads them (a cluster in a
// live file's chain holds that file's bytes, never a folder). A stop request ends the scan at the
// next chunk; the rows found stay.
DirectoryScanReport ScanDirectoryClusters(SectorReader& reader, const FatVolumeParams& params, std::uint64_t rangeEnd,
                                          RecordTable& entryTable, const RunContext& context,
                                          const DirectoryScanOptions& options = {});

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
