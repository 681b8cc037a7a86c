// The folders and files `quorlan-cli search` finds on the NTFS search fixture, checked against The
// Sleuth Kit's fls, and the search of the same partition without its boot sector checked against
// the search of the intact one. The Advance Search of disks whose NTFS boot sectors or partition
// table are gone, checked against fls and fsstat on the intact volumes.
// tests/fixtures/make-images.sh says what ntfs-search.img holds and what was damaged in
// ntfs-noboot.img; tests/fixtures/make-ntfs-advance-images.sh the same of the Advance fixtures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <map>
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

const char* const kImage = "ntfs-search.img";
const char* const kNoBootImage = "ntfs-noboot.img";
constexpr std::uint64_t kStart = 2048;  // sector of partition 1
const std::string kOrphans = "$OrphanFiles/";
const std::string kMiscellaneous = "QLN_Miscellaneous/";

using Item = test::ListedItem;
using test::quorlanItems;
using test::split;

std::string baseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// "2024-05-06 03:07:09 (UTC)" as {"6-MAY-2024", "3:7:9"}; empty for fls's zero time.
std::pair<std::string, std::string> programDate(const std::string& fls) {
    static const char* months[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    static const std::regex stamp(R"(^(\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d))");
    std::smatch m;
    if (!std::regex_search(fls, m, stamp) || m[1] == "0000") return {};
    const int month = std::stoi(m[2].str());
    if (month < 1 || month > 12) return {};
    const auto n = [&](std::size_t i) { return std::to_string(std::stoi(m[i].str())); };
    return {n(3) + "-" + months[month - 1] + "-" + m[1].str(), n(4) + ":" + n(5) + ":" + n(6)};
}

// What fls lists for one partition: the folders and files, and apart from them what it puts
// under its virtual folder $OrphanFiles (paths keep the "$OrphanFiles/" prefix) and the
// alternate data streams and named indexes ("$Secure:$SDS", "$Extend/$Quota:$O").
struct FlsListing {
    std::vector<Item> items;
    std::vector<Item> orphans;
    std::set<std::string> streams;
};

// The rows of `fls -r -p -l -z UTC -o START IMAGE`. A row looks like
//   r/r 84-128-2:<TAB>Projects/build.log<TAB>mtime<TAB>atime<TAB>ctime<TAB>crtime<TAB>size<TAB>uid<TAB>gid
//   -/r * 151-128-2:<TAB>Projects/Meeting Minutes for March.docx<TAB>...
// "*" marks a deleted entry; the "-" of a deleted entry is the type the name gives, which fls
// does not know for a record found only through the MFT; "(realloc)" may follow the address.
// The date is the $STANDARD_INFORMATION creation time; the fixture sets it to the same value as
// the $FILE_NAME creation time the program shows. System files keep mkntfs's $FILE_NAME times
// while ntfs-3g rewrote some of their $STANDARD_INFORMATION, so they carry no date here.
FlsListing flsListing(const std::string& image, std::uint64_t start) {
    const auto result = runCommand("fls -r -p -l -z UTC -o " + std::to_string(start) + " " + shellQuote(image));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    static const std::regex head(R"(^([-a-zA-Z])/([-a-zA-Z]) (\* )?(\d+)(-\d+-\d+)?(\(realloc\))?:$)");
    FlsListing listing;
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
        if (kind == 'v' || kind == 'V') continue;
        if (baseName(path).find(':') != std::string::npos) {
            listing.streams.insert(path);
            continue;
        }
        Item item{path, kind == 'd', m[3].matched, std::stoull(fields[6]), {}, {}, std::stoull(m[4].str())};
        if (item.folder) item.size = 0;  // fls gives a folder the size of its $INDEX_ROOT
        if (!item.folder && path[0] != '$') std::tie(item.date, item.time) = programDate(fields[5]);
        (path.rfind(kOrphans, 0) == 0 ? listing.orphans : listing.items).push_back(item);
    }
    return listing;
}

const Item* find(const std::vector<Item>& items, bool folder, const std::string& path) {
    for (const Item& i : items) {
        if (i.folder == folder && i.path == path) return &i;
    }
    return nullptr;
}

// What istat prints for an MFT record of the fixture's partition.
std::string istat(std::uint64_t record) {
    const auto result = runCommand("istat -o " + std::to_string(kStart) + " " + shellQuote(fixture(kImage)) + " " +
                                   std::to_string(record));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    return result.out;
}

// The runs of a record's unnamed $DATA, counted from the clusters istat lists after the
// attribute's line (a sparse stretch shows as clusters 0 and counts as one run); -1 when the
// attribute is resident.
int dataRuns(const std::string& istatText) {
    static const std::regex dataLine(R"(^Type: \$DATA \(128-\d+\)   Name: N/A   (Non-)?Resident)");
    std::istringstream lines(istatText);
    std::string line;
    bool inData = false;
    int runs = 0;
    std::uint64_t previous = 0;
    while (std::getline(lines, line)) {
        std::smatch m;
        if (line.rfind("Type: ", 0) == 0) {
            inData = std::regex_search(line, m, dataLine);
            if (inData && !m[1].matched) return -1;
            continue;
        }
        if (!inData) continue;
        std::istringstream clusters(line);
        std::uint64_t c = 0;
        while (clusters >> c) {
            if (runs == 0 || (c == 0) != (previous == 0) || (c != 0 && c != previous + 1)) ++runs;
            previous = c;
        }
    }
    return runs;
}

class NtfsWithFls : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::haveTool("fls") || !test::haveTool("istat")) GTEST_SKIP() << "fls/istat (sleuthkit) missing";
    }
};

// What the comparison below relies on: fls sees the deleted files and the deleted folder with its
// children at their paths, the sparse file with its size beyond 4 GiB, the accented, CJK and
// emoji names, and records that take more than one attribute read in place: a fragmented file,
// a resident one, a folder with an $INDEX_ALLOCATION and a file with an $ATTRIBUTE_LIST.
TEST_F(NtfsWithFls, FixtureHoldsTheCasesTheComparisonNeeds) {
    const auto listing = flsListing(fixture(kImage), kStart);
    const Item expected[] = {
        {"REPORT.TXT", false, true, 18, "23-NOV-2023", "14:5:31"},
        {"Projects/Meeting Minutes for March.docx", false, true, 6492, "23-NOV-2023", "14:5:31"},
        {"Old Stuff", true, true, 0, "", ""},
        {"Old Stuff/Drafts", true, true, 0, "", ""},
        {"Old Stuff/list.txt", false, true, 5, "23-NOV-2023", "14:5:31"},
        {"Old Stuff/Letter Draft.Doc", false, true, 4292, "23-NOV-2023", "14:5:31"},
        {"Old Stuff/Drafts/old page.html", false, true, 14, "23-NOV-2023", "14:5:31"},
        {"Disk Images/backup.vhd", false, false, 5368709632, "6-MAY-2024", "3:7:9"},
        {"Projects/build.log", false, false, 30893, "6-MAY-2024", "3:7:9"},
        {"notes.txt", false, false, 267, "6-MAY-2024", "3:7:9"},
        {"Projects/Quarterly Budget Review 2024.xlsx", false, false, 14292, "6-MAY-2024", "3:7:9"},
        {"Projects/Archive/2023/Old Backups/Registry Export.reg", false, false, 78, "6-MAY-2024", "3:7:9"},
        {"Café résumé.txt", false, false, 17, "6-MAY-2024", "3:7:9"},
        {"Fotos été/Été à Nice.JPG", false, false, 3639, "6-MAY-2024", "3:7:9"},
        {"日本語メモ.txt", false, false, 13, "6-MAY-2024", "3:7:9"},
        {"Party 🎉 2024.txt", false, false, 8, "6-MAY-2024", "3:7:9"},
        {"Many Files", true, false, 0, "", ""},
    };
    std::map<std::string, std::uint64_t> records;
    for (const Item& e : expected) {
        const Item* it = find(listing.items, e.folder, e.path);
        ASSERT_NE(it, nullptr) << e;
        EXPECT_EQ(std::tie(it->deleted, it->size, it->date, it->time), std::tie(e.deleted, e.size, e.date, e.time))
            << *it;
        records[e.path] = it->record;
    }
    // Deleted records keep their parent's reference, so fls puts them at their paths; under
    // $OrphanFiles it has only the nameless records mkntfs reserves (OrphanFile-16 to -23).
    for (const Item& o : listing.orphans) {
        EXPECT_EQ(o.path.rfind(kOrphans + "OrphanFile-", 0), 0u) << "fls could not place " << o;
    }
    EXPECT_EQ(std::count_if(listing.items.begin(), listing.items.end(),
                            [](const Item& i) { return i.path.rfind("Many Files/", 0) == 0; }),
              60);

    EXPECT_GE(dataRuns(istat(records["Projects/build.log"])), 2) << "Projects/build.log is not fragmented";
    EXPECT_EQ(dataRuns(istat(records["notes.txt"])), -1) << "notes.txt is not resident";
    const std::string vhd = istat(records["Disk Images/backup.vhd"]);
    EXPECT_NE(vhd.find("Type: $ATTRIBUTE_LIST"), std::string::npos) << vhd.substr(0, 2000);
    EXPECT_NE(vhd.find("Non-Resident, Sparse"), std::string::npos) << vhd.substr(0, 2000);
    EXPECT_NE(istat(records["Many Files"]).find("Type: $INDEX_ALLOCATION"), std::string::npos);
    const std::string xlsx = istat(records["Projects/Quarterly Budget Review 2024.xlsx"]);
    EXPECT_NE(xlsx.find("Name: QUARTE~1.XLS"), std::string::npos) << "no 8.3 name: " << xlsx;
}

// Every folder and file fls lists (theirs) is listed by the program (ours) at the same path, with
// the same deleted mark, size and time; what fls can only put under $OrphanFiles is under
// QLN_Miscellaneous.
void expectListsWhatFlsLists(const FlsListing& theirs, const std::vector<Item>& ours) {
    ASSERT_FALSE(theirs.items.empty());
    ASSERT_FALSE(ours.empty());
    // The program marks everything in a deleted folder deleted; fls marks records.
    std::set<std::string> deletedFolders;
    for (const Item& t : theirs.items) {
        if (t.folder && t.deleted) deletedFolders.insert(t.path + "/");
    }
    for (const Item& t : theirs.items) {
        const Item* o = find(ours, t.folder, t.path);
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
    // What fls finds only through the MFT and cannot place, it lists under $OrphanFiles; the
    // program puts it under QLN_Miscellaneous. The nameless records fls calls OrphanFile-N are
    // no files to the program.
    for (const Item& t : theirs.orphans) {
        const std::string name = baseName(t.path);
        if (name.rfind("OrphanFile-", 0) == 0) continue;
        const bool found = std::any_of(ours.begin(), ours.end(), [&](const Item& o) {
            return o.folder == t.folder && o.path.rfind(kMiscellaneous, 0) == 0 && baseName(o.path) == name &&
                   (t.folder || o.size == t.size);
        });
        EXPECT_TRUE(found) << "not found under " << kMiscellaneous << ": " << t;
    }
}

// The other way round: outside QLN_Miscellaneous the program lists nothing fls does not, and
// nothing twice. A record fls lists only by its named streams or indexes ($Secure, whose data
// are $SDS, $SDH and $SII; $Extend/$Quota) counts as listed. This catches a record listed under
// its 8.3 name next to its long name, and a file of another volume.
void expectListsNothingFlsDoesNotKnow(const FlsListing& theirs, const std::vector<Item>& ours) {
    ASSERT_FALSE(ours.empty());
    std::set<std::string> withStreams;
    for (const std::string& s : theirs.streams) withStreams.insert(s.substr(0, s.rfind(':')));
    std::set<std::pair<bool, std::string>> seen;
    for (const Item& o : ours) {
        EXPECT_TRUE(seen.emplace(o.folder, o.path).second) << "listed twice: " << o;
        if (o.path + "/" == kMiscellaneous || o.path.rfind(kMiscellaneous, 0) == 0) continue;
        EXPECT_TRUE(find(theirs.items, o.folder, o.path) != nullptr || (!o.folder && withStreams.count(o.path) > 0))
            << "fls does not list " << o;
    }
}

TEST_F(NtfsWithFls, SearchFindsEveryFolderAndFileFlsLists) {
    if (!test::haveTool("jq")) GTEST_SKIP() << "jq is not installed";
    expectListsWhatFlsLists(flsListing(fixture(kImage), kStart), quorlanItems(fixture(kImage)));
}

TEST_F(NtfsWithFls, SearchListsNothingFlsDoesNotKnow) {
    if (!test::haveTool("jq")) GTEST_SKIP() << "jq is not installed";
    expectListsNothingFlsDoesNotKnow(flsListing(fixture(kImage), kStart), quorlanItems(fixture(kImage)));
}

// The Advance Search of disks whose NTFS boot sectors, or partition table, are gone, file system
// by file system, against fls on the intact volume (make-ntfs-advance-images.sh says what each
// holds and what was damaged).
struct AdvanceFixture {
    const char* image;
    std::size_t fileSystem;  // the number `scan` gives the volume
    const char* oracle;      // the image fls reads
    std::uint64_t start;     // the volume's first sector
};

const AdvanceFixture kAdvanceFixtures[] = {
    {"ntfs-bootless.img", 1, kImage, kStart},
    {"ntfs-bare.img", 1, kImage, kStart},
    // The second volume keeps its boot sector and comes first; the first is found from its folders.
    {"ntfs-two-volumes-bootless.img", 1, "ntfs-two-volumes.img", 43008},
    {"ntfs-two-volumes-bootless.img", 2, "ntfs-two-volumes.img", 2048},
};

TEST_F(NtfsWithFls, ScanIdentifiesEachVolumeWithItsStartAndClusterSize) {
    if (!test::haveTool("jq") || !test::haveTool("fsstat")) GTEST_SKIP() << "jq or fsstat is not installed";
    for (const char* image : {"ntfs-bootless.img", "ntfs-bare.img", "ntfs-two-volumes-bootless.img"}) {
        SCOPED_TRACE(image);
        std::string expected;
        for (const AdvanceFixture& f : kAdvanceFixtures) {
            if (f.image != std::string(image)) continue;
            const std::uint64_t spc = test::fsstatNumber(fixture(f.oracle), f.start, "Cluster Size") / 512;
            expected += std::to_string(f.fileSystem) + "\tNTFS\t" + std::to_string(f.start) + "\t" +
                        std::to_string(spc) + "\n";
        }
        const auto scan = runCommand(shellQuote(QUORLAN_CLI) + " scan " + shellQuote(fixture(image)) +
                                     " --json | jq -r '.[] | [.number, .type, .start, .sectorsPerCluster] | @tsv'");
        EXPECT_EQ(scan.exitCode, 0) << scan.err;
        EXPECT_EQ(scan.out, expected);
    }
}

TEST_F(NtfsWithFls, AdvanceSearchListsWhatFlsListsOnTheIntactVolumeAndNothingElse) {
    if (!test::haveTool("jq")) GTEST_SKIP() << "jq is not installed";
    for (const AdvanceFixture& f : kAdvanceFixtures) {
        SCOPED_TRACE(std::string(f.image) + " file system " + std::to_string(f.fileSystem));
        const auto theirs = flsListing(fixture(f.oracle), f.start);
        const auto ours = quorlanItems(fixture(f.image), "--advance --fs " + std::to_string(f.fileSystem));
        expectListsWhatFlsLists(theirs, ours);
        expectListsNothingFlsDoesNotKnow(theirs, ours);
    }
}

// On an intact volume the Advance Search finds the volume from its boot sector and must list
// exactly what the Standard Search lists.
TEST(NtfsAdvanceSearch, ListsWhatTheStandardSearchListsOnAnIntactVolume) {
    if (!test::haveTool("jq")) GTEST_SKIP() << "jq is not installed";
    // ntfs-streams.img: named streams and the trust marks of deleted files come out the same
    // whichever search listed the records.
    for (const char* image : {kImage, "ntfs-two-volumes.img", "ntfs-streams.img"}) {
        SCOPED_TRACE(image);
        const auto key = [](const Item& i) {
            std::ostringstream s;
            s << i << (i.mayBeIncomplete ? " may be incomplete" : "");
            return s.str();
        };
        std::set<std::string> standard, advance;
        for (const Item& i : quorlanItems(fixture(image))) standard.insert(key(i));
        for (const Item& i : quorlanItems(fixture(image), "--advance")) advance.insert(key(i));
        EXPECT_GT(standard.size(), 20u);
        EXPECT_EQ(advance, standard);
    }
}

// Without the boot sector the search has to take the backup in the partition's last sector.
// Everything else is intact, so it must list exactly what it lists for the intact partition.
TEST(NtfsSearchWithoutBootSector, ListsWhatTheIntactPartitionHolds) {
    if (!test::haveTool("jq")) GTEST_SKIP() << "jq is not installed";
    const auto key = [](const Item& i) {
        std::ostringstream s;
        s << i;
        return s.str();
    };
    std::set<std::string> intact, noboot;
    for (const Item& i : quorlanItems(fixture(kImage))) intact.insert(key(i));
    ASSERT_FALSE(intact.empty());
    for (const Item& i : quorlanItems(fixture(kNoBootImage))) noboot.insert(key(i));
    std::vector<std::string> missing, extra;
    std::set_difference(intact.begin(), intact.end(), noboot.begin(), noboot.end(), std::back_inserter(missing));
    std::set_difference(noboot.begin(), noboot.end(), intact.begin(), intact.end(), std::back_inserter(extra));
    EXPECT_TRUE(missing.empty()) << "only on the intact partition: " << ::testing::PrintToString(missing);
    EXPECT_TRUE(extra.empty()) << "only without the boot sector: " << ::testing::PrintToString(extra);
}

}  // namespace
}  // namespace quorlan
