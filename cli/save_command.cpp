// save: writes folders and files of a search or a recovery log into a folder.
#include <algorithm>
#include <future>
#include <iostream>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/progress.h"
#include "cli/session_input.h"
#include "items/save_summary.h"
#include "search/save_driver.h"
#include "session/session.h"

namespace quorlan::cli {

int cmdSave(const Options& opt) {
    if (const auto bad = checkSource(opt, "save")) return *bad;
    if (opt.to.empty()) return usageError("'save' needs --to DIR");
    if (opt.all == (opt.positional.size() > 1)) {
        return usageError("'save' needs --all or the paths to save (as 'search' prints them), not both");
    }
    Options diskOptions = opt;
    diskOptions.positional.resize(std::min<std::size_t>(1, opt.positional.size()));
    const std::vector<std::string> paths(opt.positional.begin() + (opt.positional.empty() ? 0 : 1),
                                         opt.positional.end());

    Session session;
    TerminalProgress progress;
    if (opt.collision) progress.setCollisionPolicy(*opt.collision);
    bool stopped = false;
    bool nothingFound = false;
    if (const auto code = obtainResult(session, diskOptions, progress, stopped, nothingFound)) return *code;
    if (stopped) {
        progress.finish();
        if (session.reader() != nullptr && session.reader()->mediumGone()) {
            std::cerr << "quorlan-cli: " << kMsgMediumGone << "\n";
        }
        std::cerr << "quorlan-cli: search stopped; nothing was saved\n";
        return kExitStopped;
    }
    if (auto ok = session.CheckSaveDestination(opt.to); !ok) return failure(ok.error().message);
    SectorReader& reader = *session.reader();
    RecoveryState& state = session.recovery();

    // Held by pointer: g++ 12 takes a stop_source on the stack for uninitialised here.
    const auto stopper = std::make_unique<std::stop_source>();
    SaveControl control;
    control.stop = stopper->get_token();
    reader.stopWhenMediumGone(*stopper);
    std::vector<std::string> unmatched;
    auto job = std::async(std::launch::async, [&]() -> std::optional<SaveSummary> {
        SavePlan plan = opt.all ? PlanSave(state, reader, SaveSelection{true, nullptr, {}}, progress, control.stop)
                                : PlanSaveOfPaths(state, reader, paths, unmatched, progress, control.stop);
        if (plan.stopped || !unmatched.empty()) return std::nullopt;
        return SaveItems(state, reader, plan, opt.to, progress, control);
    });
    const std::optional<SaveSummary> summary = awaitStoppable(job, *stopper);
    progress.finish();
    if (!unmatched.empty()) {
        for (const std::string& p : unmatched)
            std::cerr << "quorlan-cli: no folder or file '" << p << "' in the result\n";
        return kExitFailed;
    }
    if (!summary) {
        std::cerr << "quorlan-cli: stopped while counting the files; nothing was saved\n";
        return kExitStopped;
    }
    for (const std::string& line : SaveSummaryLines(*summary, opt.to)) std::cout << line << "\n";
    if (const auto bad = reader.unreadableSectors(); bad > 0) {
        std::cerr << "quorlan-cli: " << UnreadableSectorsText(bad) << "\n";
    }
    switch (summary->outcome) {
        case SaveOutcome::Failed:
            return failure(summary->failure);
        case SaveOutcome::Stopped:
        case SaveOutcome::Cancelled:
            if (reader.mediumGone()) std::cerr << "quorlan-cli: " << kMsgMediumGone << "\n";
            std::cerr << "quorlan-cli: saving stopped; the files listed above were written\n";
            return kExitStopped;
        case SaveOutcome::Finished:
            break;
    }
    return summary->failed.empty() ? kExitDone : kExitFailed;
}

}  // namespace quorlan::cli
