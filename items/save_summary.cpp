#include "items/save_summary.h"

#include <cstdint>
#include <cstdio>

namespace quorlan {

namespace {

constexpr std::uint64_t kKiB = 1024;
constexpr std::uint64_t kMiB = 1024 * kKiB;
constexpr std::uint64_t kGiB = 1024 * kMiB;

// A byte count as a person reads it: "512 bytes", "1.5 KiB", "12.3 MiB", "3.75 GiB".
std::string byteSizeText(std::uint64_t bytes) {
    char text[64];
    if (bytes >= kGiB) {
        std::snprintf(text, sizeof text, "%.2f GiB", static_cast<double>(bytes) / static_cast<double>(kGiB));
    } else if (bytes >= kMiB) {
        std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / static_cast<double>(kMiB));
    } else if (bytes >= kKiB) {
        std::snprintf(text, sizeof text, "%.1f KiB", static_cast<double>(bytes) / static_cast<double>(kKiB));
    } else {
        std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
    }
    return text;
}

// Appends one line per problem, "  " + path + separator + reason, at most maxListed of them and
// then a line counting the rest.
void listProblems(std::vector<std::string>& lines, const std::vector<SaveProblem>& problems, const char* separator,
                  std::size_t maxListed) {
    std::size_t listed = 0;
    for (const SaveProblem& p : problems) {
        if (listed == maxListed) break;
        lines.push_back("  " + p.path + separator + p.reason);
        ++listed;
    }
    if (listed < problems.size()) lines.push_back("  ... and " + std::to_string(problems.size() - listed) + " more");
}

}  // namespace

std::vector<std::string> SaveSummaryLines(const SaveSummary& s, const std::string& destination, std::size_t maxListed) {
    std::vector<std::string> lines;
    lines.push_back("Saved " + std::to_string(s.filesWritten) + " file(s), " + byteSizeText(s.bytesWritten) + ", and " +
                    std::to_string(s.foldersCreated) + " new folder(s) to " + destination);
    if (s.skipped > 0) lines.push_back("Skipped: " + std::to_string(s.skipped) + " file(s)");
    if (!s.renamed.empty()) {
        lines.push_back("Saved under another name (unsafe or taken names): " + std::to_string(s.renamed.size()));
        listProblems(lines, s.renamed, "  ->  ", maxListed);
    }
    if (!s.incomplete.empty()) {
        lines.push_back("Incomplete: " + std::to_string(s.incomplete.size()) + " file(s)");
        listProblems(lines, s.incomplete, ": ", maxListed);
    }
    if (s.deletedBestEffort > 0) {
        lines.push_back("Deleted files saved: " + std::to_string(s.deletedBestEffort) +
                        ". Their content is a best effort: the file system no longer records where it was, and "
                        "later writes may have reused its space.");
    }
    if (!s.mayBeIncomplete.empty()) {
        lines.push_back("May be incomplete: " + std::to_string(s.mayBeIncomplete.size()) +
                        " deleted file(s) whose bytes the disk cannot vouch for; check them before relying on them");
        listProblems(lines, s.mayBeIncomplete, ": ", maxListed);
    }
    if (!s.failed.empty()) {
        lines.push_back("Failed: " + std::to_string(s.failed.size()) + " file(s)");
        listProblems(lines, s.failed, ": ", maxListed);
    }
    return lines;
}

}  // namespace quorlan
