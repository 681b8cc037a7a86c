// The commands of quorlan-cli, one function each; each returns the program's exit code.
#pragma once

#include "cli/options.h"

namespace quorlan::cli {

int cmdDisks(const Options& opt);       // disk_commands.cpp
int cmdDisk(const Options& opt);        // disk_commands.cpp
int cmdPartitions(const Options& opt);  // disk_commands.cpp
int cmdSearch(const Options& opt);      // search_command.cpp
int cmdSave(const Options& opt);        // save_command.cpp
int cmdScan(const Options& opt);        // scan_command.cpp

}  // namespace quorlan::cli
