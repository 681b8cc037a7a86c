// The folders and files `quorlan-cli search` finds on the FAT search fixtures, checked against The
// Sleuth Kit's fls, and the search of a FAT32 partition whose boot sectors are gone checked against
// the search of the same partition intact. tests/fixtures/make-images.sh says what the fixtures
// hold and what was damaged in them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/search_listing.h"
#include "tests/support/temp_dir.h"

namespace quorlan {
namespace {

using test::runCommand;
using test::shellQuote;

std::string fixture(const std::string& name) { return std::string(QUORLAN_FIXTURE_DIR) + "/" + name; }

using Item = test::ListedItem;
using test::quorlanItems;
using test::split;

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// "2024-05-06 12:30:14 (UTC)" as {"06-MAY-2024", "12:30"}; empty for fls's zero time.
std::pair<std::string, std::string> programDate(const std::string& fls) {
    static const char* months[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    static const std::regex stamp(R"(^(\d{4})-(\d\d)-(\d\d) (\d\d:\d\d):\d\d)");
    std::smatch m;
    if (!std::regex_search(fls, m, stamp) || m[1] == "0000") return {};
    const int month = std::stoi(m[2].str());
    if (month < 1 || month > 12) return {};
    return {m[3].str() + "-" + months[month - 1] + "-" + m[1].str(), m[4].str()};
}

// The rows of `fls -r -p -l -z UTC -o START IMAGE`, without fls's own virtual entries ($MBR,
// $FAT1, $FAT2, $OrphanFiles and what it found for it) and the volume label. A row looks like
//   r/r * 2387:<TAB>Projects/Meeting Minutes for March.docx<TAB>mtime<TAB>atime<TAB>ctime<TAB>crtime<TAB>size<TAB>uid<TAB>gid
// "*" marks a deleted entry; "(realloc)" may follow the number.
std::vector<Item> flsItems(const std::string& image, std::uint64_t start) {
    const auto result = runCommand("fls -r -p -l -z UTC -o " + std::to_string(start) + " " + shellQuote(image));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    static const std::regex head(R"(^([-a-zA-Z])/([-a-zA-Z]) (\* )?\d+(\(realloc\))?:$)");
    std::vector<Item> items;
    std::istringstream lines(result.out);
    std::string line;
    while (std::getline(lines, line)) {
        const auto fields = split(line, '\t');
        std::smatch m;
        if (fields.size() < 7 || !std::regex_match(fields[0], m, head)) {
            ADD_FAILURE() << "unexpected fls row: " << line;
            continue;
        }
        const char kind = m[2].str()[0];
        const std::string& path = fields[1];
        if (kind == 'v' || kind == 'V' || path.rfind("$OrphanFiles", 0) == 0 ||
            path.find("(Volume Label Entry)") != std::string::npos) {
            continue;
        }
        Item item{path, kind == 'd', m[3].matched, std::stoull(fields[6]), {}, {}};
        if (!item.folder) std::tie(item.date, item.time) = programDate(fields[2]);
        if (item.folder) item.size = 0;  // fls gives a folder the size of its clusters
        items.push_back(item);
    }
    return items;
}

// A deleted entry's first character is lost; either tool may show it as "_". Names compare
// without regard to ASCII case, and without their first character when either one starts
// with "_" (the first UTF-8 character, which may take several bytes).
bool sameName(const std::string& a, const std::string& b) {
    const std::string la = lower(a), lb = lower(b);
    if (la == lb) return true;
    if (la.empty() || lb.empty() || (la[0] != '_' && lb[0] != '_')) return false;
    const auto rest = [](const std::string& s) {
        std::size_t n = 1;
        while (n < s.size() && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) ++n;
        return s.substr(n);
    };
    return rest(la) == rest(lb);
}

bool samePath(const std::string& a, const std::string& b) {
    const auto pa = split(a, '/'), pb = split(b, '/');
    if (pa.size() != pb.size()) return false;
    for (std::size_t i = 0; i < pa.size(); ++i) {
        if (!sameName(pa[i], pb[i])) return false;
    }
    return true;
}

const Item* find(const std::vector<Item>& items, const Item& wanted) {
    for (const Item& i : items) {
        if (i.folder == wanted.folder && samePath(i.path, wanted.path)) return &i;
    }
    return nullptr;
}

// The files of "Archive Box/Scans 2019", the folder whose parent was zeroed. fls does not list
// them at all: its orphan search does not look into allocated clusters.
const std::vector<std::string> kOrphanFiles{"scan-001.JPG", "Tax Return 2019.pdf", "receipts.txt"};

struct SearchFixture {
    const char* image;
    std::uint64_t start;  // sector of partition 1
};

const SearchFixture kFixtures[] = {{"fat16-search.img", 2048}, {"fat32-search.img", 2048}};

class WithFls : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::haveTool("fls")) GTEST_SKIP() << "fls (sleuthkit) is not installed";
    }
};

// What the comparison below relies on: fls sees the deleted file with only a short name, the
// deleted long name, the deleted folder with its deleted files, and nothing of the orphan.
TEST_F(WithFls, FixturesHoldTheCasesTheComparisonNeeds) {
    for (const auto& f : kFixtures) {
        const auto items = flsItems(fixture(f.image), f.start);
        const Item expected[] = {
            {"_EPORT.TXT", false, true, 18, "06-MAY-2024", "12:30"},
            {"Projects/Meeting Minutes for March.docx", false, true, 6492, "06-MAY-2024", "12:30"},
            {"Old Stuff", true, true, 0, "", ""},
            {"Old Stuff/_ist.txt", false, true, 5, "06-MAY-2024", "12:30"},
            {"Old Stuff/Drafts/old page.html", false, true, 14, "06-MAY-2024", "12:30"},
            {"Projects/Archive/2023/Old Backups/Registry Export.reg", false, false, 78, "06-MAY-2024", "12:30"},
            {"Fotos été/Été à Nice.JPG", false, false, 3639, "06-MAY-2024", "12:30"},
            {"Archive Box", true, false, 0, "", ""},
        };
        for (const Item& e : expected) {
            const auto it = std::find_if(items.begin(), items.end(), [&](const Item& i) { return i.path == e.path; });
            ASSERT_NE(it, items.end()) << f.image << ": " << e;
            EXPECT_EQ(std::tie(it->folder, it->deleted, it->size, it->date, it->time),
                      std::tie(e.folder, e.deleted, e.size, e.date, e.time))
                << f.image << ": " << *it;
        }
        for (const Item& i : items) {
            EXPECT_NE(i.path.rfind("Archive Box/", 0), 0u) << f.image << ": the zeroed folder lists " << i;
        }
    }
}

// Every folder and file fls lists (theirs) is listed by the program (ours) at the same path, with
// the same deleted mark, size and time. With orphan, the folder "Archive Box" of the search
// fixtures, whose cluster was zeroed, holds one folder with all the files of the orphan folder.
void expectListsWhatFlsLists(const std::vector<Item>& theirs, const std::vector<Item>& ours, bool orphan) {
    ASSERT_FALSE(theirs.empty());
    ASSERT_FALSE(ours.empty());
    // The program marks everything in a deleted folder deleted; fls marks entries.
    std::set<std::string> deletedFolders;
    for (const Item& t : theirs) {
        if (t.folder && t.deleted) deletedFolders.insert(t.path + "/");
    }
    for (const Item& t : theirs) {
        const Item* o = find(ours, t);
        if (o == nullptr) {
            ADD_FAILURE() << "not found: " << t;
            continue;
        }
        const bool underDeleted = std::any_of(deletedFolders.begin(), deletedFolders.end(),
                                              [&](const std::string& d) { return t.path.rfind(d, 0) == 0; });
        EXPECT_EQ(o->deleted, t.deleted || underDeleted) << *o << " (fls: " << t << ")";
        if (!t.folder) {
            EXPECT_EQ(o->size, t.size) << *o << " (fls: " << t << ")";
            if (!t.date.empty()) {
                EXPECT_EQ(o->date + " " + o->time, t.date + " " + t.time) << *o << " (fls: " << t << ")";
            }
        }
    }
    if (!orphan) return;

    // The orphan folder: its parent "Archive Box" is gone but for its entry in the root, which
    // brings it back as an empty folder; the one folder in it holds all the orphan's files.
    std::set<std::string> holders;
    for (const Item& o : ours) {
        if (o.folder && o.path.rfind("Archive Box/", 0) == 0) holders.insert(o.path);
        if (!o.folder && o.path.rfind("Archive Box/", 0) == 0 && o.path.find('/', 12) == std::string::npos) {
            ADD_FAILURE() << "the zeroed folder lists a file of its own: " << o;
        }
    }
    EXPECT_EQ(holders.size(), 1u) << ::testing::PrintToString(holders);
    const bool found = std::any_of(holders.begin(), holders.end(), [&](const std::string& folder) {
        return std::all_of(kOrphanFiles.begin(), kOrphanFiles.end(), [&](const std::string& name) {
            return find(ours, Item{folder + "/" + name, false, false, 0, {}, {}}) != nullptr;
        });
    });
    EXPECT_TRUE(found) << "no folder under Archive Box/ holds scan-001.JPG, Tax Return 2019.pdf and "
                          "receipts.txt; folders there: "
                       << ::testing::PrintToString(holders);
}

TEST_F(WithFls, SearchFindsEveryFolderAndFileFlsLists) {
    if (!test::haveTool("jq")) GTEST_SKIP() << "jq is not installed";
    for (const auto& f : kFixtures) {
        SCOPED_TRACE(f.image);
        expectListsWhatFlsLists(flsItems(fixture(f.image), f.start), quorlanItems(fixture(f.image)), true);
    }
}

// The Advance Search of disks whose boot sectors or partition table are gone, file system by file
// system, against fls on the intact volume (the image itself where its boot sectors are intact;
// make-images.sh and make-advance-images.sh say what each holds and what was damaged).
struct AdvanceFixture {
    const char* image;
    std::size_t fileSystem;  // the number `scan` gives the volume
    const char* oracle;      // the image fls reads
    std::uint64_t start;     // the volume's first sector
    bool orphan;             // the search fixtures' orphan folder is there
};

const AdvanceFixture kAdvanceFixtures[] = {
    {"fat32-noboot.img", 1, "fat32-search.img", 2048, true},
    {"fat16-noboot.img", 1, "fat16-search.img", 2048, true},
    {"fat-two-volumes.img", 1, "fat-two-volumes.img", 2048, false},
    {"fat-two-volumes.img", 2, "fat-two-volumes.img", 165888, false},
};

TEST_F(WithFls, ScanIdentifiesEachVolumeWithItsClusterZeroAndClusterSize) {
    if (!test::haveTool("jq")) GTEST_SKIP() << "jq is not installed";
    for (const char* image : {"fat32-noboot.img", "fat16-noboot.img", "fat-two-volumes.img"}) {
        SCOPED_TRACE(image);
        std::string expected;
        for (const AdvanceFixture& f : kAdvanceFixtures) {
            if (f.image != std::string(image)) continue;
            // Cluster 2 begins at the cluster area; cluster 0 would lie two clusters before it.
            const std::string oracle = fixture(f.oracle);
            const std::uint64_t spc = test::fsstatNumber(oracle, f.start, "Cluster Size") / 512;
            const std::uint64_t cluster2 = f.start + test::fsstatNumber(oracle, f.start, "\\*\\* Cluster Area");
            const auto type = runCommand("fsstat -o " + std::to_string(f.start) + " " + shellQuote(oracle) +
                                         " | sed -n 's/^File System Type: //p'");
            expected += std::to_string(f.fileSystem) + "\t" + type.out.substr(0, type.out.find('\n')) + "\t" +
                        std::to_string(cluster2 - 2 * spc) + "\t" + std::to_string(spc) + "\n";
        }
        const auto scan = runCommand(shellQuote(QUORLAN_CLI) + " scan " + shellQuote(fixture(image)) +
                                     " --json | jq -r '.[] | [.number, .type, .start, .sectorsPerCluster] | @tsv'");
        EXPECT_EQ(scan.exitCode, 0) << scan.err;
        EXPECT_EQ(scan.out, expected);
    }
}

TEST_F(WithFls, AdvanceSearchFindsEveryFolderAndFileFlsListsOnTheIntactVolume) {
    if (!test::haveTool("jq")) GTEST_SKIP() << "jq is not installed";
    for (const AdvanceFixture& f : kAdvanceFixtures) {
        SCOPED_TRACE(std::string(f.image) + " file system " + std::to_string(f.fileSystem));
        const auto ours = quorlanItems(fixture(f.image), "--advance --fs " + std::to_string(f.fileSystem));
        expectListsWhatFlsLists(flsItems(fixture(f.oracle), f.start), ours, f.orphan);
    }
}

// On an intact volume the Advance Search finds the volume from its boot sector and must list
// exactly what the Standard Search lists.
TEST(FatAdvanceSearch, ListsWhatTheStandardSearchListsOnAnIntactVolume) {
    if (!test::haveTool("jq")) GTEST_SKIP() << "jq is not installed";
    // fat-undelete.img: deleted files carry the same trust marks whichever search listed them.
    for (const char* image : {"superfloppy-fat32.img", "fat-reused-folder.img", "fat-undelete.img"}) {
        SCOPED_TRACE(image);
        const auto key = [](const Item& i) {
            std::ostringstream s;
            s << i << (i.mayBeIncomplete ? " may be incomplete" : "");
            return s.str();
        };
        std::set<std::string> standard, advance;
        for (const Item& i : quorlanItems(fixture(image))) standard.insert(key(i));
        for (const Item& i : quorlanItems(fixture(image), "--advance")) advance.insert(key(i));
        EXPECT_GT(standard.size(), 3u);
        EXPECT_EQ(advance, standard);
    }
}

// A folder deleted and a new one made in its place: the deleted entry and the live one name the
// same directory cluster. The folder is shown once, under the live name, and is not deleted.
TEST_F(WithFls, AFolderMadeInPlaceOfADeletedOneShowsOnceUnderItsLiveName) {
    if (!test::haveTool("jq")) GTEST_SKIP() << "jq is not installed";
    const auto theirs = flsItems(fixture("fat-reused-folder.img"), 0);
    const auto deleted = std::find_if(theirs.begin(), theirs.end(), [](const Item& i) { return i.path == "_ir1"; });
    ASSERT_NE(deleted, theirs.end()) << "fls lists the deleted folder's entry";
    EXPECT_TRUE(deleted->deleted && deleted->folder);
    std::set<std::string> folders;
    for (const Item& i : quorlanItems(fixture("fat-reused-folder.img"))) {
        if (i.folder) folders.insert(i.path + (i.deleted ? " (deleted)" : ""));
        if (!i.folder) {
            EXPECT_FALSE(i.deleted) << i;
        }
    }
    EXPECT_EQ(folders, (std::set<std::string>{"New Folder Here", "QLN_Miscellaneous"}));
}

// Without the boot sector and its backup the search has to work out the volume's layout itself.
// Everything else is intact, so it must list exactly what it lists for the intact partition.
TEST(FatSearchWithoutBootSectors, ListsWhatTheIntactPartitionHolds) {
    if (!test::haveTool("jq")) GTEST_SKIP() << "jq is not installed";
    const auto key = [](const Item& i) {
        std::ostringstream s;
        s << i;
        return lower(s.str());
    };
    std::set<std::string> intact, noboot;
    for (const Item& i : quorlanItems(fixture("fat32-search.img"))) intact.insert(key(i));
    ASSERT_FALSE(intact.empty());
    for (const Item& i : quorlanItems(fixture("fat32-noboot.img"))) noboot.insert(key(i));
    std::vector<std::string> missing, extra;
    std::set_difference(intact.begin(), intact.end(), noboot.begin(), noboot.end(), std::back_inserter(missing));
    std::set_difference(noboot.begin(), noboot.end(), intact.begin(), intact.end(), std::back_inserter(extra));
    EXPECT_TRUE(missing.empty()) << "only on the intact partition: " << ::testing::PrintToString(missing);
    EXPECT_TRUE(extra.empty()) << "only without boot sectors: " << ::testing::PrintToString(extra);
}

}  // namespace
}  // namespace quorlan
