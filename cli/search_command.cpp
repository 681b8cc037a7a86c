// search: a Standard or Advance Search, or a recovery log, printed as a tree.
#include <iostream>

#include "cli/commands.h"
#include "cli/print_tree.h"
#include "cli/progress.h"
#include "cli/session_input.h"
#include "log/recovery_log.h"
#include "session/session.h"

namespace quorlan::cli {

int cmdSearch(const Options& opt) {
    if (const auto bad = checkSource(opt, "search")) return *bad;
    if (!opt.loadLog.empty() && !opt.saveLog.empty()) {
        return usageError("--save-log goes with --partition or --advance");
    }
    Session session;
    TerminalProgress progress;
    bool stopped = false;
    bool nothingFound = false;
    if (const auto code = obtainResult(session, opt, progress, stopped, nothingFound)) return *code;
    SectorReader& reader = *session.reader();
    RecoveryState& state = session.recovery();

    // Listing names FAT sub-folders from their directory entries, so the tree is listed even
    // when only folders are printed; NTFS folders carry their names already.
    const bool listFolders = opt.files || state.params.isFat();
    progress.finish();
    if (opt.json) {
        printTreeJson(state, reader, listFolders, opt.files);
    } else {
        printTreeText(state, reader, listFolders, opt.files);
    }
    int exitCode = stopped ? kExitStopped : kExitDone;
    if (nothingFound) std::cerr << "quorlan-cli: " << kMsgStandardNotPossible << "\n";
    if (const auto bad = reader.unreadableSectors(); bad > 0) {
        std::cerr << "quorlan-cli: " << UnreadableSectorsText(bad) << "\n";
    }
    if (reader.mediumGone()) {
        std::cerr << "quorlan-cli: " << kMsgMediumGone << "\n";
    } else if (stopped) {
        std::cerr << "quorlan-cli: search stopped; the result shows what was found until then\n";
    }
    if (!opt.saveLog.empty()) {
        // Exactly the file named: a script reads back the file it named. (The window's file
        // dialog puts a chosen name in upper case and adds ".QLG".)
        auto written = WriteRecoveryLog(opt.saveLog, state, session.selectedDiskModel());
        if (!written) return failure(written.error().message);
        std::cerr << "quorlan-cli: recovery log saved to " << written->string() << "\n";
    }
    return exitCode;
}

}  // namespace quorlan::cli
