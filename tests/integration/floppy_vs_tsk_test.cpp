// The 1.44 MB floppy (FAT12): what `quorlan-cli` lists and saves of floppy.img checked against The
// Sleuth Kit's fls and icat, and the floppy whose boot sector is zeroed listed like the intact
// one. tests/fixtures/make-floppy-images.sh says what the floppies hold.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>

#include "tests/support/process.h"
#include "tests/support/search_listing.h"
#include "tests/support/temp_dir.h"

namespace quorlan {
namespace {

using test::runCommand;
using test::shellQuote;

std::string fixture(const std::string& name) { return std::string(QUORLAN_FIXTURE_DIR) + "/" + name; }

std::string key(const test::ListedItem& i) {
    std::ostringstream s;
    s << i;
    return s.str();
}

// The live files of an image as fls lists them: path and inode (icat's address).
std::vector<std::pair<std::string, std::string>> flsFiles(const std::string& image) {
    const auto result = runCommand("fls -r -p -F " + shellQuote(image));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    static const std::regex row(R"(^r/r (\d+):\t(.*)$)");
    std::vector<std::pair<std::string, std::string>> files;
    std::istringstream lines(result.out);
    std::string line;
    while (std::getline(lines, line)) {
        std::smatch m;
        if (!std::regex_match(line, m, row) || m[2].str().find("(Volume Label Entry)") != std::string::npos) continue;
        files.emplace_back(m[2].str(), m[1].str());
    }
    return files;
}

TEST(Floppy, ListedAsOneFat12Partition) {
    const auto result = runCommand(shellQuote(QUORLAN_CLI) + " partitions " + shellQuote(fixture("floppy.img")));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("Partition - 1 ( FAT12 )"), std::string::npos) << result.out;
    const auto disk = runCommand(shellQuote(QUORLAN_CLI) + " disk " + shellQuote(fixture("floppy.img")));
    EXPECT_EQ(disk.out.rfind("3.5 Floppy\n", 0), 0u) << disk.out;
}

TEST(Floppy, SavesEveryLiveFileWithTheBytesIcatReads) {
    if (!test::haveTool("fls") || !test::haveTool("icat")) GTEST_SKIP() << "fls and icat (sleuthkit) are not installed";
    test::TempDir dir;
    const std::string image = fixture("floppy.img");
    const auto saved = runCommand(shellQuote(QUORLAN_CLI) + " save " + shellQuote(image) + " --partition 1 --to " +
                                  shellQuote((dir / "out").string()) + " --all");
    ASSERT_EQ(saved.exitCode, 0) << saved.out << saved.err;
    const auto files = flsFiles(image);
    ASSERT_GE(files.size(), 7u);
    for (const auto& [path, inode] : files) {
        const auto icat = runCommand("icat " + shellQuote(image) + " " + inode);
        ASSERT_EQ(icat.exitCode, 0) << path;
        EXPECT_EQ(test::readText(dir / "out" / path), icat.out) << path;
    }
}

TEST(Floppy, SearchListsWhatFlsLists) {
    if (!test::haveTool("fls") || !test::haveTool("jq")) GTEST_SKIP() << "fls and jq are not installed";
    const auto ours = test::quorlanItems(fixture("floppy.img"));
    std::set<std::string> paths;
    for (const auto& i : ours) paths.insert(i.path);
    for (const auto& [path, inode] : flsFiles(fixture("floppy.img"))) EXPECT_EQ(paths.count(path), 1u) << path;
    // The deleted file and the deleted folder with its file are found too.
    for (const char* p : {"Documents/old-draft.doc", "Temp", "Temp/_cratch.txt"}) EXPECT_EQ(paths.count(p), 1u) << p;
}

// Without its boot sector the search works the floppy's layout out from its folders and lists
// what the intact floppy holds.
TEST(Floppy, WithoutBootSectorListsWhatTheIntactOneHolds) {
    if (!test::haveTool("jq")) GTEST_SKIP() << "jq is not installed";
    std::set<std::string> intact, noboot;
    for (const auto& i : test::quorlanItems(fixture("floppy.img"))) intact.insert(key(i));
    for (const auto& i : test::quorlanItems(fixture("floppy-noboot.img"))) noboot.insert(key(i));
    ASSERT_GT(intact.size(), 10u);
    EXPECT_EQ(noboot, intact);
}

}  // namespace
}  // namespace quorlan
