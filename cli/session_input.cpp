#include "cli/session_input.h"

#include <future>
#include <iostream>
#include <stop_token>
#include <string>

#include "cli/interrupt.h"
#include "log/recovery_log.h"
#include "search/advance_search.h"

namespace quorlan::cli {

std::optional<std::size_t> addDisk(Session& session, const Options& opt, int& exitCode) {
    if (opt.positional.size() != 1) {
        exitCode = usageError("expected one image file or device path");
        return std::nullopt;
    }
    auto slot = session.AddPath(opt.positional[0]);
    if (!slot) {
        exitCode = failure(slot.error().message);
        return std::nullopt;
    }
    return *slot;
}

std::optional<int> openDisk(Session& session, const Options& opt, SearchObserver* observer) {
    int exitCode = kExitDone;
    const auto slot = addDisk(session, opt, exitCode);
    if (!slot) return exitCode;
    auto selected = session.SelectDisk(*slot, observer);
    if (!selected) return failure(selected.error().message);
    return std::nullopt;
}

std::optional<AdvanceScanResult> scanForFileSystems(Session& session, const Options& opt, TerminalProgress& progress,
                                                    int& exitCode) {
    auto request = session.PrepareAdvanceSearch(opt.type, opt.range);
    if (!request) {
        exitCode = failure(request.error().message);
        return std::nullopt;
    }
    std::stop_source stopper;
    auto scan = std::async(std::launch::async, [&] {
        return RunAdvanceSearch(*request, *session.reader(), session.recovery(),
                                RunContext{progress, stopper.get_token()});
    });
    AdvanceScanResult result = awaitStoppable(scan, stopper);
    progress.finish();
    std::cerr << "Folders Found: " << result.foldersFound << "\n";
    if (!opt.type || *opt.type == FileSystemType::Ntfs) std::cerr << "MFT Found: " << result.recordsFound << "\n";
    std::cerr << "Boot Sectors Found: " << result.bootSectorsFound << "\n";
    if (result.fileSystems == 0) std::cerr << "quorlan-cli: " << kMsgAdvanceNotPossible << "\n";
    return result;
}

namespace {

// An Advance Search: the scan and analysis, then the entries of file system --fs (1 by default).
std::optional<int> obtainAdvanceResult(Session& session, const Options& opt, TerminalProgress& progress,
                                       bool& stopped, bool& nothingFound) {
    int exitCode = kExitDone;
    const auto scan = scanForFileSystems(session, opt, progress, exitCode);
    if (!scan) return exitCode;
    stopped = scan->outcome == SearchOutcome::Stopped;
    if (scan->fileSystems == 0) {
        nothingFound = true;
        return stopped ? kExitStopped : kExitFailed;
    }
    // Building the entries of one file system is not stopped: it reads little.
    auto built = RunEntryBuilding(opt.fileSystem.value_or(1), *session.reader(), session.recovery(),
                                  RunContext{progress, {}});
    progress.finish();
    if (!built) return failure(built.error().message);
    return std::nullopt;
}

}  // namespace

std::optional<int> obtainResult(Session& session, const Options& opt, TerminalProgress& progress, bool& stopped,
                                bool& nothingFound) {
    if (const auto failed = openDisk(session, opt, &progress)) return *failed;
    SectorReader& reader = *session.reader();
    RecoveryState& state = session.recovery();
    if (!opt.loadLog.empty()) {
        auto loaded = LoadRecoveryLog(opt.loadLog, session.selectedDiskModel(), state, reader, progress);
        progress.finish();
        if (!loaded) return failure(loaded.error().message);
        return std::nullopt;
    }
    if (opt.advance) return obtainAdvanceResult(session, opt, progress, stopped, nothingFound);
    if (opt.findLost) {
        LostPartitionResult found;
        if (const auto code = findLostPartitions(session, opt, progress, found)) return code;
        if (found.stopped) {
            std::cerr << "quorlan-cli: partition search stopped; nothing was searched\n";
            return kExitStopped;
        }
    }
    auto request = session.PrepareStandardSearch(*opt.partition - 1);
    if (!request) {
        std::string message = request.error().message;
        if (!opt.findLost && progress.partitionTableCorruptSeen()) {
            message += "; --find-lost searches the disk for the partitions that its table no longer lists";
        }
        return failure(message);
    }

    std::stop_source stopper;
    reader.stopWhenMediumGone(stopper);
    auto search = std::async(std::launch::async, [&] {
        return RunSearch(*request, reader, state, RunContext{progress, stopper.get_token()});
    });
    const SearchResult result = awaitStoppable(search, stopper);
    stopped = result.outcome == SearchOutcome::Stopped;
    nothingFound = result.nothingFound;
    return std::nullopt;
}

std::optional<int> checkFindLost(const Options& opt) {
    if (opt.range && !opt.findLost) return usageError("--range goes with --find-lost");
    return std::nullopt;
}

std::optional<int> findLostPartitions(Session& session, const Options& opt, TerminalProgress& progress,
                                      LostPartitionResult& result) {
    const std::uint64_t rangeStart = opt.range ? opt.range->first : 0;
    const std::uint64_t rangeEnd = opt.range ? opt.range->second : 0;
    std::stop_source stopper;
    if (session.reader() != nullptr) session.reader()->stopWhenMediumGone(stopper);
    auto search = std::async(std::launch::async, [&] {
        return session.FindLostPartitions(RunContext{progress, stopper.get_token()}, rangeStart, rangeEnd);
    });
    auto found = awaitStoppable(search, stopper);
    progress.finish();
    if (!found) return failure(found.error().message);
    result = std::move(found).value();
    (void)session.AddFoundPartitions(result);
    return std::nullopt;
}

std::optional<int> checkSource(const Options& opt, const char* command) {
    const std::string name = std::string("'") + command + "'";
    const int sources = (opt.partition ? 1 : 0) + (opt.loadLog.empty() ? 0 : 1) + (opt.advance ? 1 : 0);
    if (sources > 1) return usageError(name + " takes one of --partition, --advance and --load-log");
    if (sources == 0) return usageError(name + " needs --partition N, --advance or --load-log FILE");
    if (opt.findLost && !opt.partition) return usageError("--find-lost goes with --partition");
    if (!opt.advance && (opt.type || opt.fileSystem)) return usageError("--type and --fs go with --advance");
    if (opt.range && !opt.advance && !opt.findLost) return usageError("--range goes with --advance or --find-lost");
    return std::nullopt;
}

}  // namespace quorlan::cli
