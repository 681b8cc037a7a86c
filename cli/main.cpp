// quorlan-cli: the command-line front end over the recovery engine.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <future>
#include <iostream>
#include <thread>
#include <string>
#include <string_view>
#include <vector>

#include "cli/json.h"
#include "core/text.h"
#include "cli/progress.h"
#include "items/result_tree.h"
#include "items/save_summary.h"
#include "disks/disk_inventory.h"
#include "disks/partition_table.h"
#include "log/recovery_log.h"
#include "search/save_driver.h"
#include "session/session.h"

namespace {

using namespace quorlan;
using namespace quorlan::cli;

// Exit codes, kept by every command.
constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitStopped = 3;

constexpr const char* kUsage =
    "usage: quorlan-cli <command> [options]\n"
    "\n"
    "commands:\n"
    "  disks [--json]                         list the removable disks with their details\n"
    "  disk <image-or-device> [--json]        show the details of one disk or disk image\n"
    "  partitions <image-or-device> [--json]  list the partitions of a disk or disk image\n"
    "  search <image-or-device> --partition N [--files] [--json] [--save-log FILE]\n"
    "                                         Standard Search of partition N (1-based); prints the\n"
    "                                         recovered folders, with --files their files too;\n"
    "                                         Ctrl-C stops the search and prints what was found;\n"
    "                                         --save-log stores the result in a recovery log\n"
    "  search <image-or-device> --load-log FILE [--files] [--json]\n"
    "                                         shows the result stored in a recovery log of the disk\n"
    "  save <image-or-device> (--partition N | --load-log FILE) --to DIR\n"
    "       [--all | PATH ...] [--on-collision rename|overwrite|skip]\n"
    "                                         saves the named folders and files (paths as 'search'\n"
    "                                         prints them) or, with --all, everything into DIR;\n"
    "                                         an existing file of the same name is kept and the new\n"
    "                                         one renamed unless --on-collision says otherwise\n"
    "\n"
    "exit codes: 0 done, 1 failed, 2 usage error, 3 stopped with a partial result\n";

int usageError(const std::string& message) {
    std::cerr << "quorlan-cli: " << message << "\n\n" << kUsage;
    return kExitUsage;
}

int failure(const std::string& message) {
    std::cerr << "quorlan-cli: " << message << "\n";
    return kExitFailed;
}

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
};

// The value of an option given as "--name VALUE" or "--name=VALUE".
bool optionValue(int argc, char** argv, int& i, std::string_view name, std::string& value, std::string& error) {
    const std::string_view arg = argv[i];
    if (arg == name) {
        if (i + 1 >= argc) {
            error = std::string(name) + " needs a value";
            return false;
        }
        value = argv[++i];
    } else {
        value = std::string(arg.substr(name.size() + 1));
    }
    if (value.empty()) {
        error = std::string(name) + " needs a value";
        return false;
    }
    return true;
}

bool isOption(std::string_view arg, std::string_view name) {
    return arg == name || (arg.size() > name.size() && arg.substr(0, name.size()) == name && arg[name.size()] == '=');
}

// Parses the options after the command word; unknown options are usage errors.
bool parseOptions(int argc, char** argv, Options& out, std::string& error) {
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--json") {
            out.json = true;
        } else if (arg == "--files") {
            out.files = true;
        } else if (arg == "--partition" || arg.rfind("--partition=", 0) == 0) {
            std::string value;
            if (arg == "--partition") {
                if (i + 1 >= argc) {
                    error = "--partition needs a number";
                    return false;
                }
                value = argv[++i];
            } else {
                value = std::string(arg.substr(12));
            }
            if (value.empty() || value.size() > 6 || value.find_first_not_of("0123456789") != std::string::npos ||
                std::stoul(value) == 0) {
                error = "--partition needs a number from 1 (as 'partitions' numbers them), not '" + value + "'";
                return false;
            }
            out.partition = std::stoul(value);
        } else if (isOption(arg, "--save-log")) {
            if (!optionValue(argc, argv, i, "--save-log", out.saveLog, error)) return false;
        } else if (isOption(arg, "--load-log")) {
            if (!optionValue(argc, argv, i, "--load-log", out.loadLog, error)) return false;
        } else if (isOption(arg, "--to")) {
            if (!optionValue(argc, argv, i, "--to", out.to, error)) return false;
        } else if (arg == "--all") {
            out.all = true;
        } else if (isOption(arg, "--on-collision")) {
            std::string value;
            if (!optionValue(argc, argv, i, "--on-collision", value, error)) return false;
            if (value == "rename") {
                out.collision = CollisionAnswer::Rename;
            } else if (value == "overwrite") {
                out.collision = CollisionAnswer::Overwrite;
            } else if (value == "skip") {
                out.collision = CollisionAnswer::Skip;
            } else {
                error = "--on-collision takes rename, overwrite or skip, not '" + value + "'";
                return false;
            }
        } else if (arg == "--") {
            for (++i; i < argc; ++i) out.positional.emplace_back(argv[i]);
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option '" + std::string(arg) + "'";
            return false;
        } else {
            out.positional.emplace_back(arg);
        }
    }
    return true;
}

std::string detailsJson(const DetailRows& rows) {
    JsonArray array;
    for (const auto& [name, value] : rows) array.push(JsonObject().add("name", name).add("value", value).str());
    return array.str();
}

void printDetails(const DetailRows& rows, const char* indent) {
    // Partition labels carry their own spacing ("...:  "); disk labels end at the colon.
    for (const auto& [name, value] : rows) {
        std::cout << indent << name << (!name.empty() && name.back() == ' ' ? "" : " ") << value << "\n";
    }
}

std::string diskJson(const DiskInfo& disk) {
    return JsonObject()
        .add("index", static_cast<std::uint64_t>(disk.Index))
        .add("node", DiskTreeNodeText(disk))
        .add("device", disk.DeviceID)
        .add("model", disk.Model)
        .add("sectors", disk.TotalSectors)
        .raw("details", detailsJson(DiskDetailsRows(disk)))
        .str();
}

void printDisk(const DiskInfo& disk) {
    std::cout << DiskTreeNodeText(disk) << "\n";
    printDetails(DiskDetailsRows(disk), "  ");
}

int cmdDisks(const Options& opt) {
    if (!opt.positional.empty()) return usageError("'disks' takes no arguments");
    Session session;
    session.RefreshDisks();
    if (opt.json) {
        JsonArray array;
        for (const DiskInfo& d : session.disks()) array.push(diskJson(d));
        std::cout << array.str() << "\n";
        return kExitDone;
    }
    if (session.disks().empty()) {
        std::cout << "Could not find any Pen Drive or other USB Removable Media connected to your system.\n";
        return kExitDone;
    }
    for (const DiskInfo& d : session.disks()) printDisk(d);
    return kExitDone;
}

// Adds the one path a command names to a session; prints the error and returns empty on failure.
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

int cmdDisk(const Options& opt) {
    Session session;
    int exitCode = kExitDone;
    const auto slot = addDisk(session, opt, exitCode);
    if (!slot) return exitCode;
    const DiskInfo& disk = *session.disk(*slot);
    if (opt.json) {
        std::cout << diskJson(disk) << "\n";
    } else {
        printDisk(disk);
    }
    return kExitDone;
}

int cmdPartitions(const Options& opt) {
    Session session;
    int exitCode = kExitDone;
    const auto slot = addDisk(session, opt, exitCode);
    if (!slot) return exitCode;
    auto selected = session.SelectDisk(*slot);
    if (!selected) return failure(selected.error().message);
    const DiskPartitionList& list = **selected;

    if (list.corrupt) {
        std::cerr << "quorlan-cli: Partition Table is corrupted: an entry starts within "
                  << kSanityMinSectors << " sectors of the end of the disk; the partitions before it are listed\n";
    } else if (!list.tableSigned) {
        std::cerr << "quorlan-cli: sector 0 holds no partition table (no 0x55 0xAA signature)\n";
    } else if (!list.partitionFound) {
        std::cerr << "quorlan-cli: the partition table lists no FAT16, FAT32 or NTFS partition\n";
    }
    switch (list.chainEnd) {
        case ChainEnd::Loop:
            std::cerr << "quorlan-cli: the extended partition chain points back at itself; it was followed once\n";
            break;
        case ChainEnd::TooLong:
            std::cerr << "quorlan-cli: the extended partition chain is longer than " << kMaxExtendedRecords
                      << " records; the rest was not read\n";
            break;
        case ChainEnd::OutOfDisk:
            std::cerr << "quorlan-cli: the extended partition chain points beyond the end of the disk\n";
            break;
        case ChainEnd::None:
            break;
    }
    if (list.limitReached) {
        std::cerr << "quorlan-cli: more than " << kMaxPartitions << " partitions; the rest are not listed\n";
    }
    if (const auto bad = session.reader()->unreadableSectors(); bad > 0) {
        std::cerr << "quorlan-cli: " << bad << " sector(s) could not be read\n";
    }

    if (opt.json) {
        JsonArray array;
        for (std::size_t i = 0; i < list.partitions.size(); ++i) {
            const PartitionEntry& p = list.partitions[i];
            array.push(JsonObject()
                           .add("index", static_cast<std::uint64_t>(i + 1))
                           .add("type", PartitionTypeName(p.type))
                           .add("start", p.start)
                           .add("end", p.end)
                           .add("primary", p.fromMbr)
                           .add("node", PartitionNodeText(static_cast<int>(i + 1), p.type))
                           .raw("details", detailsJson(PartitionDetailsRows(SearchMode::Standard, *slot, i, p)))
                           .str());
        }
        std::cout << array.str() << "\n";
        return kExitDone;
    }
    std::cout << DiskNodeText(*slot) << "\n";
    for (std::size_t i = 0; i < list.partitions.size(); ++i) {
        const PartitionEntry& p = list.partitions[i];
        std::cout << "  " << PartitionNodeText(static_cast<int>(i + 1), p.type) << "\n";
        printDetails(PartitionDetailsRows(SearchMode::Standard, *slot, i, p), "    ");
    }
    return kExitDone;
}

// Ctrl-C asks the running search to stop; a second one ends the program as usual.
std::atomic<bool> g_interrupted{false};

extern "C" void onInterrupt(int) {
    g_interrupted.store(true);
    std::signal(SIGINT, SIG_DFL);
}

// Waits for a job running on a worker; meanwhile this thread turns Ctrl-C into a stop request.
template <typename T>
T awaitStoppable(std::future<T>& job, std::stop_source& stopper) {
    std::signal(SIGINT, onInterrupt);
    while (job.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
        if (g_interrupted.load()) stopper.request_stop();
    }
    std::signal(SIGINT, SIG_DFL);
    g_interrupted.store(false);
    return job.get();
}

// Lists every folder of the result as the results page lists it, parents before children, so
// that each folder has its directory-entry name before its children are read, and hands each
// folder's rows to visit as it goes (a large stick lists tens of thousands of files: none of them
// is kept longer than its folder).
template <typename Visit>
void listEverything(RecoveryState& state, SectorReader& reader, Visit&& visit) {
    ResultTree::ForEach(state.model.tree.root(), [&](TreeItem* item) {
        visit(item, ListFolderRows(state, reader, item, FolderListing::Select));
    });
}

// Prints the tree as indented text, each folder followed by its files when withFiles. FAT folders
// are listed even without files: listing names their sub-folders.
void printTreeText(RecoveryState& state, SectorReader& reader, bool listFolders, bool withFiles) {
    const TreeItem* root = state.model.tree.root();
    auto printFolder = [&](const TreeItem* item) -> std::string {
        if (item == root) {
            std::cout << "Root\n";
            return "  ";
        }
        std::size_t depth = 0;
        for (const TreeItem* i = item; i != root && i != nullptr; i = i->parent) ++depth;
        const std::string indent(depth * 2, ' ');
        const FolderNode* node = state.model.FindFolderNode(item);
        std::cout << indent << item->text << "/" << (node != nullptr && node->deleted ? "  (deleted)" : "") << "\n";
        return indent + "  ";
    };
    if (!listFolders) {
        ResultTree::ForEach(state.model.tree.root(), [&](TreeItem* item) { (void)printFolder(item); });
        return;
    }
    listEverything(state, reader, [&](TreeItem* item, const std::vector<ListedRow>& rows) {
        const std::string indent = printFolder(item);
        if (!withFiles) return;
        for (const ListedRow& r : rows) {
            if (r.isFolder) continue;
            std::cout << indent << r.name << "  " << r.size << " bytes  " << r.date << " " << r.time << "  " << r.type
                      << (r.deleted ? "  (deleted)" : "") << "\n";
        }
    });
}

// Writes the tree, and with withFiles its files, as one JSON object.
void printTreeJson(RecoveryState& state, SectorReader& reader, bool listFolders, bool withFiles) {
    auto member = [](std::string& out, std::string_view key) {
        appendJsonString(out, key);
        out += ':';
    };
    std::string out;
    auto writeFolders = [&] {
        out += '{';
        member(out, "folders");
        out += '[';
        bool first = true;
        TreeItem* root = state.model.tree.root();
        ResultTree::ForEach(root, [&](TreeItem* item) {
            if (item == root) return;
            const FolderNode* node = state.model.FindFolderNode(item);
            out += first ? "{" : ",{";
            first = false;
            member(out, "path");
            appendJsonString(out, ResultTree::GetItemPath(item, "/"));
            out += ',';
            member(out, "deleted");
            out += node != nullptr && node->deleted ? "true" : "false";
            out += '}';
        });
        out += "],";
        member(out, "files");
        out += '[';
    };
    auto flush = [](std::string& text) {
        std::cout.write(text.data(), static_cast<std::streamsize>(text.size()));
        text.clear();
    };
    // NTFS folders carry their names, so the folders go first and the files stream out behind
    // them through one reused buffer. FAT sub-folders are named by listing their parents, so
    // there the files wait in memory until every folder has its name.
    const bool stream = !state.params.isFat();
    if (stream) writeFolders();
    std::string waiting;
    std::string& files = stream ? out : waiting;
    bool firstFile = true;
    constexpr std::size_t kFlushBytes = 256 * 1024;
    if (listFolders) {
        listEverything(state, reader, [&](TreeItem* item, const std::vector<ListedRow>& rows) {
            if (!withFiles) return;
            std::string folderPath;
            bool pathKnown = false;
            for (const ListedRow& r : rows) {
                if (r.isFolder) continue;
                if (!pathKnown) {
                    folderPath = ResultTree::GetItemPath(item, "/");
                    pathKnown = true;
                }
                files += firstFile ? "{" : ",{";
                firstFile = false;
                member(files, "path");
                appendJsonString(files, ResultTree::FilePath(folderPath, r.name));
                files += ',';
                member(files, "size");
                files += std::to_string(r.size);
                files += ',';
                member(files, "deleted");
                files += r.deleted ? "true" : "false";
                files += ',';
                member(files, "type");
                appendJsonString(files, r.type);
                files += ',';
                member(files, "date");
                appendJsonString(files, r.date);
                files += ',';
                member(files, "time");
                appendJsonString(files, r.time);
                files += '}';
            }
            if (stream && out.size() >= kFlushBytes) flush(out);
        });
    }
    if (!stream) {
        writeFolders();
        flush(out);
        flush(waiting);
    }
    out += "]}\n";
    flush(out);
}

// Fills the session's result: a Standard Search of --partition, or the recovery log of
// --load-log. Returns the exit code so far, or empty to go on; stopped is set when Ctrl-C ended
// the search early.
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

// Checks that --partition and --load-log are not both given, and that one is.
std::optional<int> checkSource(const Options& opt, const char* command) {
    if (opt.partition && !opt.loadLog.empty()) {
        return usageError(std::string("'") + command + "' takes --partition or --load-log, not both");
    }
    if (!opt.partition && opt.loadLog.empty()) {
        return usageError(std::string("'") + command + "' needs --partition N or --load-log FILE");
    }
    return std::nullopt;
}

int cmdSearch(const Options& opt) {
    if (const auto bad = checkSource(opt, "search")) return *bad;
    if (!opt.loadLog.empty() && !opt.saveLog.empty()) return usageError("--save-log goes with --partition");
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
        std::cerr << "quorlan-cli: " << bad << " sector(s) could not be read\n";
    }
    if (stopped) std::cerr << "quorlan-cli: search stopped; the result shows what was found until then\n";
    if (!opt.saveLog.empty()) {
        auto written = WriteRecoveryLog(RecoveryLogPath(opt.saveLog), state, session.selectedDiskModel());
        if (!written) return failure(written.error().message);
        std::cerr << "quorlan-cli: recovery log saved to " << written->string() << "\n";
    }
    return exitCode;
}

int cmdSave(const Options& opt) {
    if (const auto bad = checkSource(opt, "save")) return *bad;
    if (opt.to.empty()) return usageError("'save' needs --to DIR");
    if (opt.all == (opt.positional.size() > 1)) {
        return usageError("'save' needs --all or the paths to save (as 'search' prints them), not both");
    }
    Options diskOptions = opt;
    diskOptions.positional.resize(std::min<std::size_t>(1, opt.positional.size()));
    const std::vector<std::string> paths(opt.positional.begin() + (opt.positional.empty() ? 0 : 1), opt.positional.end());

    Session session;
    TerminalProgress progress;
    if (opt.collision) progress.setCollisionPolicy(*opt.collision);
    bool stopped = false;
    bool nothingFound = false;
    if (const auto code = obtainResult(session, diskOptions, progress, stopped, nothingFound)) return *code;
    if (stopped) {
        progress.finish();
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
        for (const std::string& p : unmatched) std::cerr << "quorlan-cli: no folder or file '" << p << "' in the result\n";
        return kExitFailed;
    }
    if (!summary) {
        std::cerr << "quorlan-cli: stopped while counting the files; nothing was saved\n";
        return kExitStopped;
    }
    for (const std::string& line : SaveSummaryLines(*summary, opt.to)) std::cout << line << "\n";
    if (const auto bad = reader.unreadableSectors(); bad > 0) {
        std::cerr << "quorlan-cli: " << bad << " sector(s) could not be read\n";
    }
    switch (summary->outcome) {
        case SaveOutcome::Failed:
            return failure(summary->failure);
        case SaveOutcome::Stopped:
        case SaveOutcome::Cancelled:
            std::cerr << "quorlan-cli: saving stopped; the files listed above were written\n";
            return kExitStopped;
        case SaveOutcome::Finished:
            break;
    }
    return summary->failed.empty() ? kExitDone : kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usageError("no command given");
    const std::string_view command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << kUsage;
        return kExitDone;
    }
    Options opt;
    std::string error;
    if (!parseOptions(argc, argv, opt, error)) return usageError(error);
    try {
        if (command == "disks") return cmdDisks(opt);
        if (command == "disk") return cmdDisk(opt);
        if (command == "partitions") return cmdPartitions(opt);
        if (command == "search") return cmdSearch(opt);
        if (command == "save") return cmdSave(opt);
    } catch (const std::exception& e) {
        return failure(std::string("internal error: ") + e.what());
    }
    return usageError("unknown command '" + std::string(command) + "'");
}
