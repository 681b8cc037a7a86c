#include "cli/session_input.h"

#include <future>
#include <iostream>
#include <stop_token>
#include <string>

#include "cli/interrupt.h"
#include "log/recovery_log.h"

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

std::optional<int> obtainResult(Session& session, const Options& opt, TerminalProgress& progress, bool& stopped,
                                bool& nothingFound) {
    int exitCode = kExitDone;
    const auto slot = addDisk(session, opt, exitCode);
    if (!slot) return exitCode;
    auto selected = session.SelectDisk(*slot, &progress);
    if (!selected) return failure(selected.error().message);
    SectorReader& reader = *session.reader();
    RecoveryState& state = session.recovery();
    if (!opt.loadLog.empty()) {
        auto loaded = LoadRecoveryLog(opt.loadLog, session.selectedDiskModel(), state, reader, progress);
        progress.finish();
        if (!loaded) return failure(loaded.error().message);
        return std::nullopt;
    }
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
    if (const auto bad = checkFindLost(opt)) return bad;
    if (opt.findLost && !opt.loadLog.empty()) return usageError("--find-lost goes with --partition, not --load-log");
    if (opt.partition && !opt.loadLog.empty()) {
        return usageError(std::string("'") + command + "' takes --partition or --load-log, not both");
    }
    if (!opt.partition && opt.loadLog.empty()) {
        return usageError(std::string("'") + command + "' needs --partition N or --load-log FILE");
    }
    return std::nullopt;
}

}  // namespace quorlan::cli
