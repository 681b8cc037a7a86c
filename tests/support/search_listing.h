// What `quorlan-cli search` lists, read back for the comparisons with other tools.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
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

// What `quorlan-cli search IMAGE --partition 1 --files --json` lists, via jq as TSV rows; other
// words than "--partition 1" may choose the partition.
inline std::vector<ListedItem> quorlanItems(const std::string& image, const std::string& partition = "--partition 1") {
    TempDir dir;
    const std::string json = (dir / "search.json").string();
    const auto result = runCommand(
        shellQuote(QUORLAN_CLI) + " search " + shellQuote(image) + " " + partition + " --files --json > " +
        shellQuote(json) +
        " && jq -r '(.folders[] | [\"d\", .path, .deleted, 0, \"\", \"\", false]), " +
        "(.files[] | [\"f\", .path, .deleted, .size, (.date // \"\"), (.time // \"\"), .mayBeIncomplete]) | @tsv' " +
        shellQuote(json));
    EXPECT_EQ(result.exitCode, 0) << "search of " << image << " failed: " << result.err;
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

}  // namespace quorlan::test
