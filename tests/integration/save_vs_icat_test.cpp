// What `quorlan-cli save --all` writes, checked against The Sleuth Kit: every file fls lists on the
// search fixtures is saved, at the path `search` lists it under, with the bytes icat reads for it,
// fls's size and the time `search` shows. Then names on hostile-names.img that lead out of the
// destination, links planted in the destination, and a second save into the same folder. No
// command may change the image it reads. tests/fixtures/make-images.sh says what the images hold.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "core/unique_fd.h"
#include "tests/support/process.h"
#include "tests/support/search_listing.h"
#include "tests/support/temp_dir.h"

namespace quorlan {
namespace {

namespace fs = std::filesystem;
using test::runCommand;
using test::shellQuote;
using test::split;
using Item = test::ListedItem;

std::string fixture(const std::string& name) { return std::string(QUORLAN_FIXTURE_DIR) + "/" + name; }

using test::readText;
using test::sha256;

// An image whose bytes must stay as they were when the guard was made.
class ImageGuard {
public:
    explicit ImageGuard(std::string image) : m_image(std::move(image)), m_sha(sha256(m_image)) {}
    const std::string& path() const { return m_image; }
    void check(const std::string& after) const {
        EXPECT_EQ(sha256(m_image), m_sha) << m_image << " changed by quorlan-cli " << after;
    }

private:
    std::string m_image;
    std::string m_sha;
};

test::CommandResult save(const ImageGuard& image, const std::string& source, const fs::path& to,
                         const std::string& more = {}) {
    const std::string args = "save " + shellQuote(image.path()) + " " + source + " --to " + shellQuote(to.string()) +
                             " --all " + more;
    auto result = runCommand(shellQuote(QUORLAN_CLI) + " " + args);
    image.check(args);
    return result;
}

// The start sectors of the allocated partitions, as mmls lists them.
std::vector<std::uint64_t> partitionStarts(const std::string& image) {
    const auto result = runCommand("mmls -a " + shellQuote(image));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    static const std::regex row(R"(^\d+:\s+\d+:\d+\s+(\d+)\s)");
    std::vector<std::uint64_t> starts;
    std::istringstream lines(result.out);
    std::string line;
    std::smatch m;
    while (std::getline(lines, line)) {
        if (std::regex_search(line, m, row)) starts.push_back(std::stoull(m[1].str()));
    }
    return starts;
}

// A file as fls lists it, with the address icat takes ("2387", or "87-128-2" for the unnamed
// $DATA of MFT record 87).
struct FlsFile {
    std::string path;
    std::string address;
    bool deleted = false;
    std::uint64_t size = 0;
};

std::ostream& operator<<(std::ostream& os, const FlsFile& f) {
    return os << '"' << f.path << "\" (" << f.address << (f.deleted ? ", deleted" : "") << ", " << f.size
              << " bytes)";
}

// The files in the rows of `fls -p -l ARGS`; without the volume label, the alternate data streams
// and named indexes ("$Secure:$SDS", unless streams) and the nameless records fls calls
// $OrphanFiles/OrphanFile-N.
std::vector<FlsFile> flsFiles(const std::string& args, bool streams = false) {
    const auto result = runCommand("fls -p -l " + args);
    EXPECT_EQ(result.exitCode, 0) << "fls " << args << ": " << result.err;
    static const std::regex head(R"(^([-a-zA-Z])/([-a-zA-Z]) (\* )?(\d+(-\d+-\d+)?)(\(realloc\))?:$)");
    std::vector<FlsFile> files;
    std::istringstream lines(result.out);
    std::string line;
    while (std::getline(lines, line)) {
        const auto fields = split(line, '\t');
        std::smatch m;
        if (fields.size() < 7 || !std::regex_match(fields[0], m, head)) {
            ADD_FAILURE() << "unexpected fls row: " << line;
            continue;
        }
        const std::string& path = fields[1];
        const std::string name = path.substr(path.rfind('/') + 1);
        if (m[2] != "r" || path.find("(Volume Label Entry)") != std::string::npos ||
            (name.find(':') != std::string::npos && !streams) || path.rfind("$OrphanFiles/OrphanFile-", 0) == 0) {
            continue;
        }
        files.push_back({path, m[4].str(), m[3].matched, std::stoull(fields[6])});
    }
    return files;
}

using test::fsstatNumber;

// The files of a FAT folder that no entry names any more, which fls -r does not reach: fls lists a
// folder given by the number of its "." entry, the first slot of its first cluster. The Sleuth Kit
// numbers a FAT directory entry 3 + 16 x (its sector - the first sector of the data area) + its slot.
std::vector<FlsFile> flsOrphanFolder(const std::string& image, std::uint64_t start, std::uint32_t cluster) {
    const std::uint64_t data = fsstatNumber(image, start, "\\* Data Area");
    const std::uint64_t clusters = fsstatNumber(image, start, "\\*\\* Cluster Area");
    const std::uint64_t spc = fsstatNumber(image, start, "Cluster Size") / 512;
    const std::uint64_t dot = 3 + 16 * (clusters + (cluster - 2) * spc - data);
    auto files = flsFiles("-o " + std::to_string(start) + " " + shellQuote(image) + " " + std::to_string(dot));
    for (FlsFile& f : files) f.path = "$OrphanFiles/" + f.path;
    return files;
}

// Where the program lists what fls lists: at the same path; what fls could only put under its
// $OrphanFiles, the program puts in a folder of its own, with its name and size: under
// QLN_Miscellaneous, or under the folder rebuilt from its parent's surviving entry.
const Item* findOurs(const std::vector<Item>& ours, const FlsFile& f) {
    const std::string orphans = "$OrphanFiles/";
    const bool orphan = f.path.rfind(orphans, 0) == 0;
    const std::string name = f.path.substr(f.path.rfind('/') + 1);
    for (const Item& o : ours) {
        if (o.folder) continue;
        if (!orphan && o.path == f.path) return &o;
        if (orphan && o.path.find('/') != std::string::npos && o.path.substr(o.path.rfind('/') + 1) == name &&
            o.size == f.size) {
            return &o;
        }
    }
    return nullptr;
}

std::string firstDifference(const std::string& a, const std::string& b) {
    const auto at = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size()) + ", first difference at byte " +
           std::to_string(at.first - a.begin());
}

// The date and time as `search` shows them: FAT "06-MAY-2024 12:30" in local time, NTFS
// "6-MAY-2024 3:7:9" in UTC.
std::string programStamp(std::time_t t, bool ntfs) {
    static const char* months[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    std::tm tm{};
    if (ntfs) {
        ::gmtime_r(&t, &tm);
    } else {
        ::localtime_r(&t, &tm);
    }
    char text[64];
    if (ntfs) {
        std::snprintf(text, sizeof text, "%d-%s-%d %d:%d:%d", tm.tm_mday, months[tm.tm_mon], tm.tm_year + 1900,
                      tm.tm_hour, tm.tm_min, tm.tm_sec);
    } else {
        std::snprintf(text, sizeof text, "%02d-%s-%d %02d:%02d", tm.tm_mday, months[tm.tm_mon], tm.tm_year + 1900,
                      tm.tm_hour, tm.tm_min);
    }
    return text;
}

// Larger files are not streamed through icat: backup.vhd is 5 GiB, nearly all of it sparse, and
// piping its zeros costs ten seconds. They are compared run by run (expectSameByRuns).
constexpr std::uint64_t kStreamLimit = 64ull << 20;

// For a large file on NTFS: the runs of its $DATA from `istat -r`, the bytes of its non-sparse
// runs from `icat -h`. The saved file must hold those bytes at their runs' offsets and zeros in the
// sparse runs; its holes are skipped (SEEK_DATA), so only what was written is read. The saved copy
// must be sparse itself.
void expectSameByRuns(const std::string& image, std::uint64_t start, const FlsFile& f, const fs::path& saved,
                      const fs::path& scratch) {
    const std::string o = "-o " + std::to_string(start) + " " + shellQuote(image) + " ";
    const auto dash = f.address.find('-');
    ASSERT_NE(dash, std::string::npos) << "no NTFS attribute address: " << f;
    const std::uint64_t cluster = fsstatNumber(image, start, "Cluster Size");
    const auto istat = runCommand("istat -r " + o + f.address.substr(0, dash));
    const std::string data = (scratch / "runs-data").string();
    ASSERT_EQ(runCommand("icat -h " + o + f.address + " > " + shellQuote(data)).exitCode, 0);
    const std::string bytes = readText(data);

    const UniqueFd fd(::open(saved.c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_GE(fd.get(), 0) << saved;
    struct stat st {};
    ASSERT_EQ(::fstat(fd.get(), &st), 0);
    EXPECT_LT(static_cast<std::uint64_t>(st.st_blocks) * 512, f.size / 64) << saved << " is not sparse";

    const std::regex attribute("^Type: \\$DATA \\(" + f.address.substr(dash + 1) + "\\) ");
    static const std::regex run(R"(^  Starting address: (\d+|X), length: (\d+)\s*(Sparse)?)");
    std::istringstream lines(istat.out);
    std::string line;
    bool inData = false;
    std::uint64_t offset = 0, taken = 0;
    std::string buffer;
    while (std::getline(lines, line)) {
        std::smatch m;
        if (line.rfind("Type: ", 0) == 0) inData = std::regex_search(line, attribute);
        if (!inData || !std::regex_search(line, m, run)) continue;
        const std::uint64_t length = std::min<std::uint64_t>(std::stoull(m[2].str()) * cluster, f.size - offset);
        const bool sparse = m[3].matched;
        // The data the saved file holds in [offset, offset + length), hole by hole.
        for (std::uint64_t at = offset; at < offset + length;) {
            const off_t dataAt = ::lseek(fd.get(), static_cast<off_t>(at), SEEK_DATA);
            const std::uint64_t from =
                dataAt < 0 ? offset + length : std::min<std::uint64_t>(static_cast<std::uint64_t>(dataAt), offset + length);
            if (!sparse && from > at) {
                const std::string want = bytes.substr(taken + (at - offset), from - at);
                EXPECT_EQ(want.find_first_not_of('\0'), std::string::npos)
                    << f << ": a hole of the saved file at " << at << " where icat has data";
            }
            if (from >= offset + length) break;
            const off_t holeAt = ::lseek(fd.get(), static_cast<off_t>(from), SEEK_HOLE);
            const std::uint64_t to = std::min<std::uint64_t>(static_cast<std::uint64_t>(holeAt), offset + length);
            buffer.resize(to - from);
            ASSERT_EQ(::pread(fd.get(), buffer.data(), buffer.size(), static_cast<off_t>(from)),
                      static_cast<ssize_t>(buffer.size()));
            const std::string want =
                sparse ? std::string(buffer.size(), '\0') : bytes.substr(taken + (from - offset), buffer.size());
            EXPECT_TRUE(buffer == want) << f << ": bytes " << from << " to " << to << " differ from icat";
            at = to;
        }
        if (!sparse) taken += length;
        offset += length;
    }
    EXPECT_EQ(offset, f.size) << f << ": the runs istat lists cover " << offset << " bytes";
    EXPECT_EQ(taken, bytes.size()) << f << ": icat -h gave " << bytes.size() << " bytes";
}

class WithSleuthKit : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"fls", "icat", "istat", "fsstat", "mmls", "jq", "sha256sum", "cmp"}) {
            if (!test::haveTool(tool)) GTEST_SKIP() << tool << " is not installed";
        }
    }
};

struct SaveFixture {
    const char* image;
    const char* oracle;  // the image fls and icat read: the image itself, or the intact twin of a damaged one
    std::vector<std::uint64_t> zeroed;    // the disk sectors zeroed in image, where it differs from oracle
    std::uint32_t orphanFolderCluster;    // FAT: the cluster of the folder no entry names any more
    bool ntfs;
    const char* source = "--partition 1";  // what is saved
    std::uint64_t start = 0;               // the volume's first sector; 0: partition 1 as mmls lists it
    const char* name = nullptr;            // the test's name when the image alone does not tell
    int deletedFiles = 5;                  // deleted files fls lists on the volume
};

std::ostream& operator<<(std::ostream& os, const SaveFixture& f) { return os << f.image << " " << f.source; }

// "Archive Box/Scans 2019", the orphan folder of the FAT search fixtures, is cluster 4 on FAT16
// and cluster 5 on FAT32. fls cannot read the partitions without boot sectors: their intact twins,
// which differ in those sectors alone, stand in for them. The Advance Search finds the volumes of
// disks whose boot sectors or partition table are gone.
const SaveFixture kFixtures[] = {
    {"fat16-search.img", "fat16-search.img", {}, 4, false},
    {"fat32-search.img", "fat32-search.img", {}, 5, false},
    {"fat32-noboot.img", "fat32-search.img", {2048, 2054}, 5, false},
    {"ntfs-search.img", "ntfs-search.img", {}, 0, true},
    {"ntfs-noboot.img", "ntfs-search.img", {2048}, 0, true},
    {"fat32-noboot.img", "fat32-search.img", {2048, 2054}, 5, false, "--advance", 2048, "fat32_noboot_advance"},
    {"fat16-noboot.img", "fat16-search.img", {2048}, 4, false, "--advance", 2048, "fat16_noboot_advance"},
    {"fat-two-volumes.img", "fat-two-volumes.img", {}, 0, false, "--advance --fs 1", 2048, "two_volumes_fs1", 2},
    {"fat-two-volumes.img", "fat-two-volumes.img", {}, 0, false, "--advance --fs 2", 165888, "two_volumes_fs2", 2},
    {"ntfs-bootless.img", "ntfs-search.img", {2048, 81919}, 0, true, "--advance", 2048, "ntfs_bootless_advance"},
    {"ntfs-bare.img", "ntfs-search.img", {0, 2048, 81919}, 0, true, "--advance", 2048, "ntfs_bare_advance"},
    {"ntfs-two-volumes-bootless.img", "ntfs-two-volumes.img", {2048, 43007}, 0, true, "--advance --fs 1", 43008,
     "ntfs_two_volumes_fs1", 1},
    {"ntfs-two-volumes-bootless.img", "ntfs-two-volumes.img", {2048, 43007}, 0, true, "--advance --fs 2", 2048,
     "ntfs_two_volumes_fs2", 2},
};

// Files whose saved bytes may differ from what icat reads, and how: the bytes [from, to) of the
// file are zeros in the saved copy. No deleted file is here: make-images.sh deletes them last, so
// nothing has reused their clusters or records, and each is saved as icat reads it.
struct Exception {
    const char* image;
    const char* source;  // what is saved, or nullptr for any
    const char* path;
    std::uint64_t from;
    std::uint64_t to;
    const char* reason;
};

const Exception kExceptions[] = {
    {"ntfs-noboot.img", nullptr, "$Boot", 0, 512,
     "the first sector of $Boot is the partition's boot sector, which ntfs-noboot.img has zeroed: the save writes it "
     "as the image holds it, while icat reads the intact twin"},
    {"ntfs-bootless.img", nullptr, "$Boot", 0, 512, "the volume's boot sector is zeroed, as in ntfs-noboot.img"},
    {"ntfs-bare.img", nullptr, "$Boot", 0, 512, "the volume's boot sector is zeroed, as in ntfs-noboot.img"},
    {"ntfs-two-volumes-bootless.img", "--advance --fs 2", "$Boot", 0, 512,
     "the first volume's boot sector is zeroed, as in ntfs-noboot.img"},
};

class SaveAllVsIcat : public WithSleuthKit, public ::testing::WithParamInterface<SaveFixture> {};

TEST_P(SaveAllVsIcat, EveryFileFlsListsIsSavedAsIcatReadsIt) {
    const SaveFixture& f = GetParam();
    const ImageGuard image(fixture(f.image));
    const std::string oracle = fixture(f.oracle);
    const auto starts = f.start != 0 ? std::vector<std::uint64_t>{f.start} : partitionStarts(image.path());
    ASSERT_FALSE(starts.empty());
    const std::uint64_t start = starts[0];
    const std::string o = "-o " + std::to_string(start) + " " + shellQuote(oracle);
    if (oracle != image.path()) {
        // The disk sectors where the images differ, with "!" where the damaged one is not zero.
        const auto diff = runCommand("cmp -l " + shellQuote(oracle) + " " + shellQuote(image.path()) +
                                     " | awk '{ s = int(($1 - 1) / 512) ($3 != 0 ? \"!\" : \"\") }"
                                     " s != last { print s; last = s }'");
        std::string zeroed;
        for (const std::uint64_t s : f.zeroed) zeroed += std::to_string(s) + "\n";
        EXPECT_EQ(diff.out, zeroed) << "the images differ elsewhere than in the zeroed sectors";
    }

    std::vector<FlsFile> theirs = flsFiles("-r " + o);
    if (f.orphanFolderCluster != 0) {
        const auto orphans = flsOrphanFolder(oracle, start, f.orphanFolderCluster);
        EXPECT_EQ(orphans.size(), 3u) << "the orphan folder's files";
        theirs.insert(theirs.end(), orphans.begin(), orphans.end());
    }
    // The deleted files make-images.sh and make-advance-images.sh put there.
    EXPECT_EQ(std::count_if(theirs.begin(), theirs.end(), [](const FlsFile& t) { return t.deleted; }), f.deletedFiles);
    const auto ours = test::quorlanItems(image.path(), f.source);
    image.check("search");
    ASSERT_FALSE(ours.empty());

    test::TempDir tmp;
    const fs::path dest = tmp / "dest";
    const auto result = save(image, f.source, dest);
    ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
    EXPECT_EQ(result.out.find("Failed:"), std::string::npos) << result.out;

    // The tree `search` lists, with the times it shows.
    for (const Item& i : ours) {
        const fs::path saved = dest / i.path;
        const auto type = fs::symlink_status(saved).type();
        EXPECT_EQ(type, i.folder ? fs::file_type::directory : fs::file_type::regular) << i;
        struct stat st {};
        if (i.folder || i.date.empty() || ::lstat(saved.c_str(), &st) != 0) continue;
        EXPECT_EQ(programStamp(st.st_mtim.tv_sec, f.ntfs), i.date + " " + i.time) << i;
    }

    // What icat reads, one file per address. Naming the file system type spares icat its probing,
    // which is half of its time on these small images.
    const fs::path icatDir = tmp / "icat";
    fs::create_directories(icatDir);
    std::string addresses;
    for (const FlsFile& t : theirs) {
        if (t.size <= kStreamLimit) addresses += " " + t.address;
    }
    const auto icat = runCommand("cd " + shellQuote(icatDir.string()) + " && for a in" + addresses + "; do icat -f " +
                                 (f.ntfs ? "ntfs " : "fat ") + o + " $a > $a || exit 1; done");
    ASSERT_EQ(icat.exitCode, 0) << icat.err;

    for (const FlsFile& t : theirs) {
        const Item* mine = findOurs(ours, t);
        if (mine == nullptr) {
            ADD_FAILURE() << "search does not list " << t;
            continue;
        }
        const fs::path saved = dest / mine->path;
        std::error_code ec;
        EXPECT_EQ(fs::file_size(saved, ec), t.size) << t << " saved as " << saved;
        if (t.size > kStreamLimit) {
            expectSameByRuns(oracle, start, t, saved, tmp.path());
            continue;
        }
        std::string want = readText(icatDir / t.address);
        std::string exception;
        for (const Exception& e : kExceptions) {
            if (f.image != std::string(e.image) || t.path != e.path) continue;
            if (e.source != nullptr && f.source != std::string(e.source)) continue;
            want.replace(e.from, e.to - e.from, e.to - e.from, '\0');
            exception = std::string(" (allowed to differ in bytes ") + std::to_string(e.from) + " to " +
                        std::to_string(e.to) + ": " + e.reason + ")";
        }
        const std::string got = readText(saved);
        EXPECT_TRUE(got == want) << t << " saved as " << saved << ": " << firstDifference(got, want) << exception;
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, SaveAllVsIcat, ::testing::ValuesIn(kFixtures),
                         [](const ::testing::TestParamInfo<SaveFixture>& param) {
                             if (param.param.name != nullptr) return std::string(param.param.name);
                             std::string name = param.param.image;
                             name = name.substr(0, name.find('.'));
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

// fat-undelete.img (tests/fixtures/make-undelete-images.sh): deleted files whose clusters the FAT
// no longer records, fragmented ones among them. What each file truly held is in
// tests/fixtures/expected/fat-undelete.tsv. For each file: whether `search` marks it and whether
// `save` writes what it held. Live files are neither marked nor wrong.
struct UndeleteCase {
    int partition;
    const char* path;
    bool marked;
    bool exact;
};

const UndeleteCase kUndeleteCases[] = {
    // The DFTT #6 layout with the times its writing left: all six saved byte-exact.
    {1, "_rag1.dat", true, true},
    {1, "_rag2.dat", true, true},
    {1, "_ing.dat", false, true},
    {1, "_ult1.dat", false, true},
    {1, "_ir1/_ir2/_rag3.dat", true, true},
    {1, "_ir1/_ult2.dat", true, true},  // frag3.dat's nearest candidate lies in it: ambiguous
    // The same with times that say nothing: frag1.dat and frag2.dat cannot be told apart.
    {2, "_rag1.dat", true, false},
    {2, "_rag2.dat", true, false},
    {2, "_ing.dat", false, true},
    {2, "_ult1.dat", false, true},
    {2, "_ir1/_ir2/_rag3.dat", true, true},
    {2, "_ir1/_ult2.dat", true, true},
    // Interleaved cluster by cluster, written over (gone.dat, reuse.dat): wrong and marked.
    {3, "_lv-a.dat", true, false},
    {3, "_lv-b.dat", true, false},
    {3, "_ep.dat", true, true},
    {3, "_ic.dat", true, true},
    {3, "_ross.dat", true, true},
    {3, "_ne.txt", false, true},
    {3, "_one.dat", true, false},
    {3, "_euse.dat", true, false},
    {3, "_bb.dat", false, true},
    {3, "_aa.dat", false, true},
};

TEST_F(WithSleuthKit, FatUndeleteMarksEveryFileSavedWrongAndSavesMoreThanThePeer) {
    const ImageGuard image(fixture("fat-undelete.img"));
    const auto starts = partitionStarts(image.path());
    ASSERT_EQ(starts, (std::vector<std::uint64_t>{2048, 14336, 26624}));
    struct Truth {
        std::string sha;
        bool deleted;
    };
    std::map<std::pair<int, std::string>, Truth> truth;
    std::istringstream lines(readText(std::string(QUORLAN_SOURCE_DIR) + "/tests/fixtures/expected/fat-undelete.tsv"));
    for (std::string line; std::getline(lines, line);) {
        const auto f = split(line, '\t');
        if (line.empty() || line[0] == '#' || f.size() != 6) continue;
        truth[{std::stoi(f[0]), f[1]}] = {f[3], f[5] == "deleted"};
    }
    ASSERT_EQ(truth.size(), 28u);
    for (int p = 1; p <= 3; ++p) {
        SCOPED_TRACE("partition " + std::to_string(p));
        std::map<std::string, Item> ours;
        for (const Item& i : test::quorlanItems(image.path(), "--partition " + std::to_string(p))) ours[i.path] = i;
        image.check("search");
        test::TempDir tmp;
        const auto result = save(image, "--partition " + std::to_string(p), tmp / "dest");
        ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
        // What The Sleuth Kit reads for each file: the contiguous guess every peer makes.
        const std::string o =
            "-o " + std::to_string(starts[static_cast<std::size_t>(p - 1)]) + " " + shellQuote(image.path());
        std::map<std::string, std::string> theirs;
        for (const FlsFile& t : flsFiles("-r " + o)) {
            const std::string out = (tmp / "icat").string();
            ASSERT_EQ(runCommand("icat -f fat " + o + " " + t.address + " > " + shellQuote(out)).exitCode, 0);
            theirs[t.path] = test::sha256(out);
        }
        int exact = 0, peerExact = 0, marked = 0;
        for (const auto& [key, want] : truth) {
            if (key.first != p) continue;
            const std::string& path = key.second;
            ASSERT_TRUE(ours.count(path) == 1) << path << " is not listed";
            const Item& item = ours[path];
            EXPECT_EQ(item.deleted, want.deleted) << path;
            const bool isExact = test::sha256((tmp / "dest" / path).string()) == want.sha;
            exact += isExact && want.deleted ? 1 : 0;
            peerExact += theirs[path] == want.sha && want.deleted ? 1 : 0;
            marked += item.mayBeIncomplete ? 1 : 0;
            EXPECT_TRUE(isExact || item.mayBeIncomplete) << path << " is saved wrong and not marked";
            const UndeleteCase* c = nullptr;
            for (const UndeleteCase& u : kUndeleteCases) {
                if (u.partition == p && u.path == path) c = &u;
            }
            if (c == nullptr) {
                EXPECT_FALSE(want.deleted) << path << ": a deleted file without a case";
                EXPECT_FALSE(item.mayBeIncomplete) << path << ": a live file is never marked";
                EXPECT_TRUE(isExact) << path;
                continue;
            }
            EXPECT_EQ(item.mayBeIncomplete, c->marked) << path;
            EXPECT_EQ(isExact, c->exact) << path;
        }
        EXPECT_GT(exact, peerExact) << "byte-exact deleted files: ours " << exact << ", The Sleuth Kit's " << peerExact;
        // The summary lists the marked files.
        EXPECT_NE(result.out.find("May be incomplete: " + std::to_string(marked) + " deleted file(s)"),
                  std::string::npos)
            << result.out;
    }
}

// ntfs-streams.img (tests/fixtures/make-undelete-images.sh): every file and every named data
// stream fls lists is saved with the bytes icat reads for it ("65-128-4" is the stream of record
// 65 with attribute id 4), streams beside their file as "name:stream" made safe. Deleted files
// are marked where another file holds their clusters now.
TEST_F(WithSleuthKit, NtfsStreamsAreSavedAsIcatReadsTheirAttributes) {
    const ImageGuard image(fixture("ntfs-streams.img"));
    const std::string o = "-o 2048 " + shellQuote(image.path());
    std::map<std::string, Item> ours;
    for (const Item& i : test::quorlanItems(image.path())) ours[i.path] = i;
    image.check("search");
    test::TempDir tmp;
    const auto result = save(image, "--partition 1", tmp / "dest");
    ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
    int streams = 0;
    for (const FlsFile& t : flsFiles("-r " + o, true)) {
        if (t.path.find('$') != std::string::npos) continue;  // the metadata files
        // The folder ends at the last '/' before the stream's colon: a stream's name may hold '/'.
        const std::size_t colon = t.path.find(':');
        const std::size_t nameAt = t.path.rfind('/', colon) == std::string::npos ? 0 : t.path.rfind('/', colon) + 1;
        streams += colon != std::string::npos ? 1 : 0;
        ASSERT_EQ(ours.count(t.path), 1u) << "search does not list " << t;
        EXPECT_EQ(ours[t.path].size, t.size) << t;
        // Saved under its safe name: "photo.jpg:a/b" as "photo.jpg:a_b".
        std::string saved = t.path;
        std::replace(saved.begin() + static_cast<std::ptrdiff_t>(nameAt), saved.end(), '/', '_');
        const std::string icat = (tmp / "icat").string();
        ASSERT_EQ(runCommand("icat -f ntfs " + o + " " + t.address + " > " + shellQuote(icat)).exitCode, 0);
        EXPECT_TRUE(readText(tmp / "dest" / saved) == readText(icat)) << t << " saved as " << saved;
        // filler.bin took old.bin's clusters, its data's and its stream's.
        EXPECT_EQ(ours[t.path].mayBeIncomplete, t.path.rfind("old.bin", 0) == 0) << t;
    }
    EXPECT_EQ(streams, 7) << "mult1.dat:ADS, note.txt:Zone.Identifier, three of photo.jpg, old.bin:ADS, gone.dat:ADS";
    EXPECT_NE(result.out.find("May be incomplete: 2 deleted file(s)"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("old.bin:ADS: its clusters are now used by another file"), std::string::npos)
        << result.out;
}

// The files of hostile-names.img and where a save of partition 1 and then partition 2 into one
// folder puts them: each line of content names its file (control characters spelled out). A FAT
// long name with characters no FAT name may hold gives way to the entry's 8.3 name; NTFS names
// are kept and made safe.
struct HostileFile {
    const char* content;
    const char* saved;  // below the destination
};

const HostileFile kHostileFiles[] = {
    {"fat normal.txt\n", "normal.txt"},
    {"fat ../../escape.txt\n", "__ESCA~1.TXT"},
    {"fat ..\\evil.txt\n", "_EVIL~1.TXT"},
    {"fat ../inside.txt\n", "__/inside.txt"},
    {"fat line\\nbreak.txt\n", "LINE_B~1.TXT"},
    {"fat soh\\x01name.txt\n", "SOH_NA~1.TXT"},
    {"ntfs normal.txt\n", "normal (2).txt"},  // beside partition 1's normal.txt
    {"ntfs ..\\../name\n", ".._.._name"},
    {"ntfs my/slash.txt\n", "my_slash.txt"},
    {"ntfs ../inside.txt\n", "__/inside (2).txt"},
    {"ntfs dir/slash/inner.txt\n", "dir_slash/inner.txt"},
};

// Every plain file below dir, by content, with its path below dir; small files only.
std::map<std::string, std::vector<std::string>> filesByContent(const fs::path& dir) {
    std::map<std::string, std::vector<std::string>> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (entry.is_regular_file() && !entry.is_symlink() && entry.file_size() < 256) {
            files[readText(entry.path())].push_back(entry.path().lexically_relative(dir).string());
        }
    }
    return files;
}

// Both partitions of hostile-names.img saved, one after the other, into tmp/sandbox/dest.
class SaveAllHostileNames : public WithSleuthKit {
protected:
    void saveBoth() {
        ASSERT_EQ(partitionStarts(image.path()), (std::vector<std::uint64_t>{2048, 71680}));
        for (const int partition : {1, 2}) {
            const auto result = save(image, "--partition " + std::to_string(partition), dest);
            EXPECT_EQ(result.exitCode, 0) << "partition " << partition << ": " << result.out << result.err;
        }
    }

    const ImageGuard image{fixture("hostile-names.img")};
    test::TempDir tmp;
    const fs::path dest = tmp / "sandbox" / "dest";
};

TEST_F(SaveAllHostileNames, NothingLandsOutsideTheDestination) {
    saveBoth();
    for (const auto& entry : fs::recursive_directory_iterator(tmp.path())) {
        const std::string rel = entry.path().lexically_relative(tmp.path()).string();
        EXPECT_TRUE(rel == "sandbox" || rel == "sandbox/dest" || rel.rfind("sandbox/dest/", 0) == 0)
            << "written outside the destination: " << rel;
    }
    for (const auto& entry : fs::recursive_directory_iterator(dest)) {
        const std::string name = entry.path().filename().string();
        const auto type = entry.symlink_status().type();
        EXPECT_TRUE(type == fs::file_type::regular || type == fs::file_type::directory)
            << entry.path() << " is neither a plain file nor a folder";
        const bool unsafe = std::any_of(name.begin(), name.end(), [](char c) {
            const auto u = static_cast<unsigned char>(c);
            return c == '/' || c == '\\' || u < 0x20 || u == 0x7F;
        });
        EXPECT_FALSE(unsafe || name == "." || name == ".." || name.empty()) << "unsafe name " << entry.path();
    }
}

TEST_F(SaveAllHostileNames, EachFileIsSavedUnderItsSafeName) {
    saveBoth();
    const auto files = filesByContent(dest);
    for (const HostileFile& h : kHostileFiles) {
        const auto it = files.find(h.content);
        if (it == files.end()) {
            ADD_FAILURE() << "not saved: the file holding \"" << h.content << "\"";
            continue;
        }
        EXPECT_EQ(it->second, std::vector<std::string>{h.saved}) << h.content;
    }
}

// Links in the destination named like folders the save creates (the top-level folders "__" and
// "dir_slash" of hostile-names.img, QLN_Miscellaneous) and like a file it writes (normal.txt),
// all pointing into a folder outside: the save must go around them, also when told to overwrite.
TEST_F(SaveAllHostileNames, LinksInTheDestinationAreNotFollowed) {
    const fs::path elsewhere = tmp / "elsewhere";
    fs::create_directories(dest);
    fs::create_directories(elsewhere);
    const std::map<std::string, fs::path> links = {{"QLN_Miscellaneous", elsewhere},
                                                   {"__", elsewhere},
                                                   {"dir_slash", elsewhere},
                                                   {"normal.txt", elsewhere / "normal.txt"}};
    for (const auto& [name, target] : links) fs::create_symlink(target, dest / name);

    for (const auto& [partition, policy] : {std::pair{1, "overwrite"}, std::pair{2, "rename"}}) {
        const auto result =
            save(image, "--partition " + std::to_string(partition), dest, std::string("--on-collision ") + policy);
        EXPECT_EQ(result.exitCode, 0) << "partition " << partition << ": " << result.out << result.err;
    }
    EXPECT_TRUE(fs::is_empty(elsewhere)) << "written through a link";
    for (const auto& [name, target] : links) {
        EXPECT_TRUE(fs::is_symlink(dest / name) && fs::read_symlink(dest / name) == target) << name << " was replaced";
    }
    // What the links stood in the way of is in the destination, beside them.
    const auto files = filesByContent(dest);
    for (const char* content : {"fat normal.txt\n", "fat ../inside.txt\n", "ntfs normal.txt\n", "ntfs ../inside.txt\n",
                                "ntfs dir/slash/inner.txt\n"}) {
        EXPECT_EQ(files.count(content), 1u) << "not saved: the file holding \"" << content << "\"";
    }
}

// Saving a partition a second time into the same folder. Before the second save one file is
// changed, so that what is written over and what is left alone show.
struct CollisionCase {
    const char* policy;
    bool twins;     // every file is saved again beside the first copy as "name (2).ext"
    bool replaces;  // the first copies are replaced
};

const CollisionCase kCollisionCases[] = {
    {"skip", false, false},
    {"rename", true, false},
    {"overwrite", false, true},
};

std::map<std::string, std::string> allFiles(const fs::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (entry.is_regular_file()) files[entry.path().lexically_relative(dir).string()] = readText(entry.path());
    }
    return files;
}

TEST(SaveAllCollisions, SecondSaveIntoTheSameFolder) {
    const ImageGuard image(fixture("fat16-search.img"));
    static const std::regex savedCount(R"(^Saved (\d+) file\(s\))");
    for (const CollisionCase& c : kCollisionCases) {
        SCOPED_TRACE(c.policy);
        test::TempDir tmp;
        const fs::path dest = tmp / "dest";
        const auto first = save(image, "--partition 1", dest);
        ASSERT_EQ(first.exitCode, 0) << first.out << first.err;
        std::smatch m;
        ASSERT_TRUE(std::regex_search(first.out, m, savedCount)) << first.out;
        const std::string count = m[1].str();
        const auto saved = allFiles(dest);
        ASSERT_EQ(std::to_string(saved.size()), count);
        const std::string changed = "notes.txt";
        ASSERT_EQ(saved.count(changed), 1u);
        test::writeText(dest / changed, "changed\n");

        const auto second = save(image, "--partition 1", dest, std::string("--on-collision ") + c.policy);
        EXPECT_EQ(second.exitCode, 0) << second.out << second.err;
        const bool skipped = !c.twins && !c.replaces;
        EXPECT_NE(second.out.find("Saved " + (skipped ? "0" : count) + " file(s)"), std::string::npos) << second.out;
        EXPECT_EQ(second.out.find("Skipped: " + count + " file(s)") != std::string::npos, skipped) << second.out;

        std::map<std::string, std::string> want = saved;
        if (!c.replaces) want[changed] = "changed\n";
        if (c.twins) {
            for (const auto& [path, content] : saved) {
                const fs::path p(path);
                want[(p.parent_path() / (p.stem().string() + " (2)" + p.extension().string())).string()] = content;
            }
        }
        EXPECT_EQ(allFiles(dest), want);
    }
}

}  // namespace
}  // namespace quorlan
