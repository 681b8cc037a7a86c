// The lost-partition search on disks whose table is gone: each volume found where it lies, with
// its type, and its Standard Search listing what The Sleuth Kit's fls lists on the intact
// volume. tests/fixtures/make-lost-partition-images.sh lays the disks out and says what was
// damaged; the numbers below are its numbers.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/search_listing.h"

namespace quorlan {
namespace {

using test::runCommand;
using test::shellQuote;

std::string fixture(const std::string& name) { return std::string(QUORLAN_FIXTURE_DIR) + "/" + name; }

struct Volume {
    std::string type;
    std::uint64_t start;
    std::uint64_t end;
    std::string foundBy;
    bool operator==(const Volume&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Volume& v) {
    return os << v.type << " " << v.start << "-" << v.end << " (" << v.foundBy << ")";
}

// `quorlan-cli partitions IMAGE --find-lost --json`, as rows; every one must say it was found.
std::vector<Volume> found(const std::string& image) {
    const auto r = runCommand(shellQuote(QUORLAN_CLI) + " partitions " + shellQuote(image) +
                              " --find-lost --json | jq -r '.[] | [.type, .start, .end, .found, .foundBy] | @tsv'");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<Volume> volumes;
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) {
        const auto f = test::split(line, '\t');
        if (f.size() != 5) {
            ADD_FAILURE() << "unexpected row: " << line;
            continue;
        }
        EXPECT_EQ(f[3], "true") << line;
        volumes.push_back({f[0], std::stoull(f[1]), std::stoull(f[2]), f[4]});
    }
    return volumes;
}

struct Disk {
    const char* image;
    std::vector<Volume> volumes;
    const char* intact;  // the image fls reads the volumes of; nullptr: the same image
};

const std::vector<Disk>& disks() {
    static const std::vector<Disk> all = {
        {"lost-chs.img",
         {{"FAT32", 63, 80325, "Boot Sector"},
          {"NTFS", 80325, 112455, "Boot Sector"},
          {"FAT16", 112518, 160650, "Extended Boot Record"}},
         nullptr},
        {"lost-aligned.img", {{"FAT32", 2048, 83968, "Boot Sector"}, {"NTFS", 83968, 124928, "Boot Sector"}}, nullptr},
        {"lost-ntfs-backup.img", {{"NTFS", 2048, 81920, "Backup Boot Sector"}}, "ntfs-search.img"},
        {"lost-two-ntfs.img", {{"NTFS", 63, 32130, "Boot Sector"}, {"NTFS", 32130, 64260, "Boot Sector"}}, nullptr},
        {"ext-part-16heads-zeroed.img",
         {{"FAT16", 63, 52416, "Boot Sector"},
          {"FAT16", 52416, 104832, "Boot Sector"},
          {"FAT16", 104832, 157248, "Boot Sector"},
          {"FAT16", 157311, 209664, "Extended Boot Record"},
          {"FAT16", 209727, 262080, "Extended Boot Record"},
          {"FAT16", 262143, 312480, "Extended Boot Record"}},
         "ext-part-16heads.img"},
    };
    return all;
}

class LostPartitions : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::haveTool("jq")) GTEST_SKIP() << "jq is not installed";
    }
};

TEST_F(LostPartitions, EachVolumeIsFoundWithItsStartEndAndType) {
    for (const Disk& d : disks()) EXPECT_EQ(found(fixture(d.image)), d.volumes) << d.image;
}

// The 16-head disk without its first sector: the search finds the partitions mmls reads from the
// intact table, start and length.
TEST_F(LostPartitions, SixteenHeadDiskAsMmlsReadsTheIntactTable) {
    if (!test::haveTool("mmls")) GTEST_SKIP() << "mmls (sleuthkit) is not installed";
    const auto r = runCommand("mmls " + shellQuote(fixture("ext-part-16heads.img")));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    static const std::regex row(R"(^\d+:\s+\d+:\d+\s+(\d+)\s+(\d+)\s+\d+\s+DOS FAT16)");
    std::vector<std::pair<std::uint64_t, std::uint64_t>> theirs, ours;
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) {
        std::smatch m;
        if (std::regex_search(line, m, row)) theirs.emplace_back(std::stoull(m[1].str()), std::stoull(m[2].str()) + 1);
    }
    for (const Volume& v : found(fixture("ext-part-16heads-zeroed.img"))) ours.emplace_back(v.start, v.end);
    EXPECT_EQ(ours.size(), 6u);
    EXPECT_EQ(ours, theirs);
}

// The files and folders fls lists on a volume (`fls -r -p -l -o START`), without what fls
// makes up ($OrphanFiles, $MBR, $FAT1, ...), NTFS system files, deleted entries (whose FAT
// names lose their first character) and the volume label, which it names apart.
struct FlsListing {
    std::set<std::tuple<bool, std::string, std::uint64_t>> items;  // folder, path, size (0 for folders)
    std::set<std::string> labels;
};

FlsListing flsListing(const std::string& image, std::uint64_t start) {
    const auto r = runCommand("fls -r -p -l -o " + std::to_string(start) + " " + shellQuote(image));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    static const std::regex head(R"(^[-a-zA-Z]/([-a-zA-Z]) (\* )?\d+(-\d+-\d+)?(\(realloc\))?:$)");
    FlsListing listing;
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) {
        const auto f = test::split(line, '\t');
        std::smatch m;
        if (f.size() < 7 || !std::regex_match(f[0], m, head)) continue;
        const std::string& path = f[1];
        const auto label = path.find(" (Volume Label Entry)");
        if (label != std::string::npos) {
            listing.labels.insert(path.substr(0, path.find_last_not_of(' ', label - 1) + 1));  // fls pads it
            continue;
        }
        const char kind = m[1].str()[0];
        if (m[2].matched || kind == 'v' || path.empty() || path[0] == '$' || path.find(':') != std::string::npos) {
            continue;
        }
        listing.items.emplace(kind == 'd', path, kind == 'd' ? 0 : std::stoull(f[6]));
    }
    return listing;
}

TEST_F(LostPartitions, StandardSearchOfAFoundVolumeListsWhatFlsListsOnTheIntactOne) {
    if (!test::haveTool("fls")) GTEST_SKIP() << "fls (sleuthkit) is not installed";
    for (const Disk& d : disks()) {
        for (std::size_t n = 0; n < d.volumes.size(); ++n) {
            const Volume& v = d.volumes[n];
            const std::string where = std::string(d.image) + " partition " + std::to_string(n + 1);
            const FlsListing theirs = flsListing(fixture(d.intact != nullptr ? d.intact : d.image), v.start);
            ASSERT_FALSE(theirs.items.empty()) << where;
            std::set<std::tuple<bool, std::string, std::uint64_t>> ours;
            for (const test::ListedItem& i :
                 test::quorlanItems(fixture(d.image), "--find-lost --partition " + std::to_string(n + 1))) {
                if (i.deleted || i.path.rfind("QLN_Miscellaneous", 0) == 0 || i.path[0] == '$') continue;
                if (!i.folder && i.size == 0 && theirs.labels.count(i.path) != 0) continue;
                ours.emplace(i.folder, i.path, i.folder ? 0 : i.size);
            }
            EXPECT_EQ(ours, theirs.items) << where;
        }
    }
}

}  // namespace
}  // namespace quorlan
