#include "cli/options.h"

#include <cctype>
#include <iostream>
#include <string_view>

namespace quorlan::cli {

const char* const kUsage =
    "usage: quorlan-cli <command> [options]\n"
    "\n"
    "commands:\n"
    "  disks [--json] [--watch]               list the removable disks with their details; with\n"
    "                                         --watch list them again whenever a disk is plugged in\n"
    "                                         or pulled out, until Ctrl-C\n"
    "  disk <image-or-device> [--json]        show the details of one disk or disk image\n"
    "  partitions <image-or-device> [--json]  list the partitions of a disk or disk image\n"
    "  partitions <image-or-device> --find-lost [--range START-END] [--json]\n"
    "                                         also search the disk (or sectors START to END-1) for\n"
    "                                         FAT16, FAT32 and NTFS volumes that the partition table\n"
    "                                         no longer lists; they are numbered after its own\n"
    "  search <image-or-device> --partition N [--files] [--json] [--save-log FILE]\n"
    "                                         Standard Search of partition N (1-based); prints the\n"
    "                                         recovered folders, with --files their files too;\n"
    "                                         Ctrl-C stops the search and prints what was found;\n"
    "                                         --save-log stores the result in a recovery log;\n"
    "                                         with --find-lost [--range START-END] N may name a\n"
    "                                         partition that the search finds\n"
    "  search <image-or-device> --advance [--type T] [--range START-END] [--fs N] [--files] [--json]\n"
    "         [--save-log FILE]\n"
    "                                         Advance Search: scans the disk (or the sectors\n"
    "                                         START <= sector < END) for file systems, also where\n"
    "                                         boot sectors or the partition table are gone, and\n"
    "                                         shows file system N (default 1) as 'scan' lists them\n"
    "  search <image-or-device> --load-log FILE [--files] [--json]\n"
    "                                         shows the result stored in a recovery log of the disk\n"
    "  scan <image-or-device> [--type FAT16|FAT32|NTFS] [--range START-END] [--json]\n"
    "                                         lists the file systems an Advance Search identifies:\n"
    "                                         number, type, start, sectors per cluster, folders;\n"
    "                                         without --type it looks for every type at once\n"
    "  save <image-or-device> (--partition N | --advance [--type T] [--range S-E] [--fs N] |\n"
    "       --load-log FILE) --to DIR [--all | PATH ...] [--on-collision rename|overwrite|skip]\n"
    "                                         saves the named folders and files (paths as 'search'\n"
    "                                         prints them) or, with --all, everything into DIR;\n"
    "                                         an existing file of the same name is kept and the new\n"
    "                                         one renamed unless --on-collision says otherwise;\n"
    "                                         --find-lost [--range START-END] as for 'search'\n"
    "\n"
    "environment:\n"
    "  QUORLAN_SYSFS_ROOT=DIR                 'disks' lists the disks of DIR/block and DIR/run/udev/data\n"
    "                                         instead of /sys/block and /run/udev/data (for testing)\n"
    "  QUORLAN_WATCH_POLL_MS=N                'disks --watch' also looks at the disks every N milliseconds\n"
    "                                         (default 2000); udisksd announces them at once\n"
    "\n"
    "A disk the user may not read is asked of udisksd, which may ask for a password; listing the\n"
    "disks needs no privilege. --version prints the version.\n"
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

namespace {

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

// "START-END": two decimal sector numbers, START below END.
bool parseRange(const std::string& value, std::pair<std::uint64_t, std::uint64_t>& out) {
    const auto dash = value.find('-');
    if (dash == std::string::npos || dash == 0 || dash + 1 == value.size()) return false;
    const std::string first = value.substr(0, dash);
    const std::string second = value.substr(dash + 1);
    for (const std::string* part : {&first, &second}) {
        if (part->size() > 19 || part->find_first_not_of("0123456789") != std::string::npos) return false;
    }
    out = {std::stoull(first), std::stoull(second)};
    return out.first < out.second;
}

bool isOption(std::string_view arg, std::string_view name) {
    return arg == name || (arg.size() > name.size() && arg.substr(0, name.size()) == name && arg[name.size()] == '=');
}

}  // namespace

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
        } else if (arg == "--watch") {
            out.watch = true;
        } else if (arg == "--find-lost") {
            out.findLost = true;
        } else if (isOption(arg, "--range")) {
            std::string value;
            if (!optionValue(argc, argv, i, "--range", value, error)) return false;
            std::pair<std::uint64_t, std::uint64_t> range;
            if (!parseRange(value, range)) {
                error = "--range takes START-END, two sector numbers with START below END, not '" + value + "'";
                return false;
            }
            out.range = range;
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
        } else if (arg == "--advance") {
            out.advance = true;
        } else if (isOption(arg, "--type")) {
            std::string value;
            if (!optionValue(argc, argv, i, "--type", value, error)) return false;
            std::string upper = value;
            for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            const FileSystemType type = FileSystemTypeFromText(upper);
            if (type != FileSystemType::Fat16 && type != FileSystemType::Fat32 && type != FileSystemType::Ntfs) {
                error = "--type takes FAT16, FAT32 or NTFS, not '" + value + "'";
                return false;
            }
            out.type = type;
        } else if (isOption(arg, "--fs")) {
            std::string value;
            if (!optionValue(argc, argv, i, "--fs", value, error)) return false;
            if (value.size() > 6 || value.find_first_not_of("0123456789") != std::string::npos ||
                std::stoul(value) == 0) {
                error = "--fs needs a number from 1 (as 'scan' numbers the file systems), not '" + value + "'";
                return false;
            }
            out.fileSystem = std::stoul(value);
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

}  // namespace quorlan::cli
