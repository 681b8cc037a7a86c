// The command line's words: the options after the command, the usage text and the exit codes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "items/save_files.h"
#include "items/volume.h"

namespace quorlan::cli {

// Exit codes, kept by every command.
inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitStopped = 3;

extern const char* const kUsage;

struct Options {
    std::vector<std::string> positional;
    bool json = false;
    bool files = false;
    std::optional<std::size_t> partition;  // 1-based
    std::string saveLog;
    std::string loadLog;
    std::string to;
    bool all = false;
    std::optional<CollisionAnswer> collision;
    bool watch = false;                                            // disks: list again when a disk comes or goes
    bool findLost = false;                                         // search the disk for partitions the table lost
    std::optional<std::pair<std::uint64_t, std::uint64_t>> range;  // --range START-END: [START, END)
    // Advance Search: --advance, and what it looks for (--range above says where).
    bool advance = false;
    std::optional<FileSystemType> type;       // --type
    std::optional<std::size_t> fileSystem;    // --fs N, 1-based
};

// Parses the options after the command word (argv[2] on); unknown options are usage errors.
[[nodiscard]] bool parseOptions(int argc, char** argv, Options& out, std::string& error);

// Prints "quorlan-cli: message" and the usage text on standard error; returns kExitUsage.
int usageError(const std::string& message);
// Prints "quorlan-cli: message" on standard error; returns kExitFailed.
int failure(const std::string& message);

}  // namespace quorlan::cli
