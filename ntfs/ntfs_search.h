// The NTFS Standard Search after the $MFT walk: files without a folder, and the folder tree.
#pragma once

#include <string>
#include <string_view>

#include "core/run_context.h"
#include "items/record_table.h"
#include "items/result_tree.h"

namespace quorlan {

// The root folder's MFT record number.
inline constexpr std::uint32_t kNtfsRootRecord = 5;
// NTFS keeps records 0 to 15 for its own metadata files ($MFT, $Bitmap, $BadClus, ...).
inline constexpr std::uint32_t kNtfsFirstUserRecord = 16;

// The "Type" of the NTFS entry table's file rows, and of the row of a file's named data stream.
// A stream's row follows its file's row, with the same record, and is named like The Sleuth Kit
// names streams: the file's name, a colon and the stream's name ("photo.jpg:thumb").
inline constexpr const char* kNtfsFileType = "FILE";
inline constexpr const char* kNtfsStreamType = "STREAM";

// The name of a stream's row.
[[nodiscard]] std::string NtfsStreamRowName(std::string_view fileName, std::string_view stream);
// The stream a stream row names: rowName without its file's name and the colon; when rowName
// does not begin so, empty.
[[nodiscard]] std::string NtfsStreamName(std::string_view fileName, std::string_view rowName);

// Gives the "Type" "STREAM" to each row that follows a file row of the same record and whose
// name begins with that file's name and a colon: a record gives one file row, so such rows are
// its streams. For tables read back from a recovery log, which keeps no "Type".
void MarkNtfsStreamRows(RecordTable& fileTable);

// Gives every file row whose parent is no folder of the folder table (nor the root) the parent
// 268435455, so that it is listed under "QLN_Miscellaneous" and can be saved.
void ReparentLostNtfsFiles(const RecordTable& folderTable, RecordTable& fileTable);

// Builds the folder tree from the folder table (sorted by "parent"): the folders directly under
// the root (record 5) first, then every folder under its parent, level by level. Folders that
// no level reaches (cycles of parents) are placed under "QLN_Miscellaneous". Consumes the rows
// when consume is set.
void BuildNtfsResultTree(ResultModel& model, RecordTable& folderTable, SearchObserver& observer, bool consume);

}  // namespace quorlan
