// quorlan-cli: the command-line front end over the recovery engine. Each command lives in a file
// of its own (commands.h); this one reads the command word and hands over.
#include <exception>
#include <iostream>
#include <string>
#include <string_view>

#include "cli/commands.h"
#include "cli/options.h"

using namespace quorlan::cli;

int main(int argc, char** argv) {
    if (argc < 2) return usageError("no command given");
    const std::string_view command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << kUsage;
        return kExitDone;
    }
    if (command == "--version" || command == "version") {
        std::cout << "quorlan-cli " << QUORLAN_VERSION << "\n";
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
        if (command == "scan") return cmdScan(opt);
    } catch (const std::exception& e) {
        return failure(std::string("internal error: ") + e.what());
    }
    return usageError("unknown command '" + std::string(command) + "'");
}
