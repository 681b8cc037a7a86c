// What a command takes into its session from its options: the one disk it names and, for search
// and save, the result it works on.
#pragma once

#include <cstddef>
#include <optional>

#include "cli/options.h"
#include "cli/progress.h"
#include "session/session.h"

namespace quorlan::cli {

// Adds the one path a command names to a session; prints the error and returns empty on failure,
// with the exit code in exitCode.
[[nodiscard]] std::optional<std::size_t> addDisk(Session& session, const Options& opt, int& exitCode);

// Adds that disk and selects it (its partition table is read, with notes on a damaged table going
// to observer); prints the error and returns the exit code on failure, empty on success.
[[nodiscard]] std::optional<int> openDisk(Session& session, const Options& opt, SearchObserver* observer = nullptr);

// Checks that one of --partition, --advance and --load-log is given, --type and --fs only with
// --advance, --find-lost only with --partition, and --range with --advance or --find-lost;
// returns the exit code of a usage error.
[[nodiscard]] std::optional<int> checkSource(const Options& opt, const char* command);

// --range goes with --find-lost; returns the exit code of a usage error.
[[nodiscard]] std::optional<int> checkFindLost(const Options& opt);

// --find-lost: searches the selected disk (or its --range) for lost partitions with progress on
// standard error, Ctrl-C stopping it, and adds what it found to the session's partition list.
// Returns the exit code of a failure (a range off the disk), or empty to go on.
[[nodiscard]] std::optional<int> findLostPartitions(Session& session, const Options& opt, TerminalProgress& progress,
                                                    LostPartitionResult& result);

// Scans the disk that the session has selected as an Advance Search of --type and --range does,
// with Ctrl-C stopping the scan (the analysis then runs over what was scanned), and prints the
// counters and, when no file system was identified, the message saying so on standard error.
// Empty (with exitCode set) when the request fails.
[[nodiscard]] std::optional<AdvanceScanResult> scanForFileSystems(Session& session, const Options& opt,
                                                                  TerminalProgress& progress, int& exitCode);

// Fills the session's result: a Standard Search of --partition, an Advance Search (file system
// --fs of those it identifies), or the recovery log of --load-log. Returns the exit code so far,
// or empty to go on; stopped is set when Ctrl-C ended the search early, nothingFound when the
// search found nothing to show.
[[nodiscard]] std::optional<int> obtainResult(Session& session, const Options& opt, TerminalProgress& progress,
                                              bool& stopped, bool& nothingFound);

}  // namespace quorlan::cli
