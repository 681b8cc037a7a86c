// The NTFS Standard Search after the $MFT walk: files without a folder, and the folder tree.
#pragma once

#include "core/run_context.h"
#include "items/record_table.h"
#include "items/result_tree.h"

namespace quorlan {

// The root folder's MFT record number.
inline constexpr std::uint32_t kNtfsRootRecord = 5;

// Gives every file row whose parent is no folder of the folder table (nor the root) the parent
// 268435455, so that it is listed under "QLN_Miscellaneous" and can be saved.
void ReparentLostNtfsFiles(const RecordTable& folderTable, RecordTable& fileTable);

// Builds the folder tree from the folder table (sorted by "parent"): the folders directly under
// the root (record 5) first, then every folder under its parent, level by level. Folders that
// no level reaches (cycles of parents) are placed under "QLN_Miscellaneous". Consumes the rows
// when consume is set.
void BuildNtfsResultTree(ResultModel& model, RecordTable& folderTable, SearchObserver& observer, bool consume);

}  // namespace quorlan
