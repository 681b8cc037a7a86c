// scan: the file systems an Advance Search identifies on a disk, as a list.
#include <iostream>
#include <string>

#include "cli/commands.h"
#include "cli/json.h"
#include "cli/progress.h"
#include "cli/session_input.h"
#include "search/advance_search.h"
#include "session/session.h"

namespace quorlan::cli {

int cmdScan(const Options& opt) {
    if (opt.partition || opt.advance || opt.fileSystem || !opt.loadLog.empty() || !opt.saveLog.empty() ||
        !opt.to.empty() || opt.files || opt.all || opt.collision || opt.findLost) {
        return usageError("'scan' takes --type, --range and --json");
    }
    Session session;
    if (const auto failed = openDisk(session, opt)) return *failed;
    int exitCode = kExitDone;
    TerminalProgress progress;
    const auto scan = scanForFileSystems(session, opt, progress, exitCode);
    if (!scan) return exitCode;

    const auto list = IdentifiedFileSystems(session.recovery());
    if (opt.json) {
        JsonArray out;
        for (const IdentifiedFileSystem& fs : list) {
            out.push(JsonObject()
                       .add("number", static_cast<std::uint64_t>(fs.number))
                       .add("type", FileSystemTypeText(fs.type))
                       .add("start", fs.start)
                       .add("sectorsPerCluster", fs.sectorsPerCluster)
                       .add("folders", fs.folders)
                       .str());
        }
        std::cout << out.str() << "\n";
    } else {
        for (const IdentifiedFileSystem& fs : list) {
            std::cout << FileSystemItemText(fs) << "  start " << fs.start << "  sectors per cluster "
                      << fs.sectorsPerCluster << "  folders " << fs.folders << "\n";
        }
    }
    if (const auto bad = session.reader()->unreadableSectors(); bad > 0) {
        std::cerr << "quorlan-cli: " << bad << " sector(s) could not be read\n";
    }
    if (scan->outcome == SearchOutcome::Stopped) {
        std::cerr << "quorlan-cli: scan stopped at sector " << scan->scannedTo
                  << "; the list holds the file systems of the sectors scanned until then\n";
        return kExitStopped;
    }
    return kExitDone;
}

}  // namespace quorlan::cli
