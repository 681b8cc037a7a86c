#include "cli/session_input.h"

#include <future>
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
    auto selected = session.SelectDisk(*slot);
    if (!selected) return failure(selected.error().message);
    SectorReader& reader = *session.reader();
    RecoveryState& state = session.recovery();
    if (!opt.loadLog.empty()) {
        auto loaded = LoadRecoveryLog(opt.loadLog, session.selectedDiskModel(), state, reader, progress);
        progress.finish();
        if (!loaded) return failure(loaded.error().message);
        return std::nullopt;
    }
    auto request = session.PrepareStandardSearch(*opt.partition - 1);
    if (!request) return failure(request.error().message);

    std::stop_source stopper;
    auto search = std::async(std::launch::async, [&] {
        return RunSearch(*request, reader, state, RunContext{progress, stopper.get_token()});
    });
    const SearchResult result = awaitStoppable(search, stopper);
    stopped = result.outcome == SearchOutcome::Stopped;
    nothingFound = result.nothingFound;
    return std::nullopt;
}

std::optional<int> checkSource(const Options& opt, const char* command) {
    if (opt.partition && !opt.loadLog.empty()) {
        return usageError(std::string("'") + command + "' takes --partition or --load-log, not both");
    }
    if (!opt.partition && opt.loadLog.empty()) {
        return usageError(std::string("'") + command + "' needs --partition N or --load-log FILE");
    }
    return std::nullopt;
}

}  // namespace quorlan::cli
