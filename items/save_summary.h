// The summary of a finished save as lines of text, the same for the command line and the window.
#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <vector>

#include "items/save_files.h"

namespace quorlan {

// Every entry of a list: no cap.
inline constexpr std::size_t kListEveryEntry = std::numeric_limits<std::size_t>::max();

// The lines that report a save under destination: what was written, then what was skipped,
// renamed, read only in part, saved as a best effort, marked as possibly incomplete or not
// written. The renamed, incomplete, marked and failed files are listed one per line, at most
// maxListed of each list; the entries left out are counted in one line after the list. The lines
// carry no line ends.
[[nodiscard]] std::vector<std::string> SaveSummaryLines(const SaveSummary& summary, const std::string& destination,
                                                        std::size_t maxListed = kListEveryEntry);

}  // namespace quorlan
