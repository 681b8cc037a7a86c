// What `quorlan-cli search` lists, read back for the comparisons with other tools.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace quorlan::test {

// A folder or file as a tool lists it. date and time are in the program's form and empty for
// folders; record is the MFT record number where a tool shows one.
struct ListedItem {
    std::string path;
    bool folder = false;
    bool deleted = false;
    std::uint64_t size = 0;
    std::string date;
    std::string time;
    std::uint64_t record = 0;
    bool mayBeIncomplete = false;  // the trust mark of a deleted file
};

inline std::ostream& operator<<(std::ostream& os, const ListedItem& i) {
    return os << (i.folder ? "folder " : "file ") << '"' << i.path << '"' << (i.deleted ? " deleted" : "")
              << (i.folder ? "" : " size " + std::to_string(i.size) + " " + i.date + " " + i.time);
}

inline std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) parts.push_back(part);
    if (!text.empty() && text.back() == separator) parts.emplace_back();
    return parts;
}

// What `quorlan-cli search IMAGE SOURCE --files --json` lists, via jq as TSV rows; SOURCE names
// what is searched ("--partition 1", "--advance --fs 2").
inline std::vector<ListedItem> quorlanItems(const std::string& image, const std::string& source = "--partition 1") {
    TempDir dir;
    const std::string json = (dir / "search.json").string();
    const auto result = runCommand(
        shellQuote(QUORLAN_CLI) + " search " + shellQuote(image) + " " + source + " --files --json > " +
        shellQuote(json) +
        " && jq -r '(.folders[] | [\"d\", .path, .deleted, 0, \"\", \"\", false]), " +
        "(.files[] | [\"f\", .path, .deleted, .size, (.date // \"\"), (.time // \"\"), .mayBeIncomplete]) | @tsv' " +
        shellQuote(json));
    EXPECT_EQ(result.exitCode, 0) << "search " << source << " of " << image << " failed: " << result.err;
    std::vector<ListedItem> items;
    std::istringstream lines(result.out);
    std::string line;
    while (std::getline(lines, line)) {
        const auto f = split(line, '\t');
        if (f.size() != 7) {
            ADD_FAILURE() << "unexpected jq row: " << line;
            continue;
        }
        items.push_back({f[1], f[0] == "d", f[2] == "true", std::stoull(f[3]), f[4], f[5], 0, f[6] == "true"});
    }
    return items;
}

// A number from the output of fsstat, e.g. "Cluster Size: 4096" or "* Data Area: 132 - 65535"
// (label is a regular expression); 0 and a failure when it is not there.
inline std::uint64_t fsstatNumber(const std::string& image, std::uint64_t start, const std::string& label) {
    const auto result = runCommand("fsstat -o " + std::to_string(start) + " " + shellQuote(image));
    const std::regex number("(^|\\n)" + label + ": (\\d+)");
    std::smatch m;
    if (!std::regex_search(result.out, m, number)) {
        ADD_FAILURE() << "no \"" << label << "\" in fsstat of " << image << ": " << result.err;
        return 0;
    }
    return std::stoull(m[2].str());
}

}  // namespace quorlan::test
