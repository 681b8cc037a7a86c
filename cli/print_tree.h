// The result of a search on standard output: the folder tree, and with its files, as indented
// text or as one JSON object.
#pragma once

#include "core/sector_reader.h"
#include "search/recovery_state.h"

namespace quorlan::cli {

// Prints the tree as indented text, each folder followed by its files when withFiles. With
// listFolders every folder is listed, which names FAT sub-folders; it must be set for withFiles.
void printTreeText(RecoveryState& state, SectorReader& reader, bool listFolders, bool withFiles);

// Writes the tree, and with withFiles its files, as one JSON object; listFolders as above.
void printTreeJson(RecoveryState& state, SectorReader& reader, bool listFolders, bool withFiles);

}  // namespace quorlan::cli
