// quorlan-cli as a user runs it: misuse first, then real work; the source is never written.
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <set>

#include "tests/support/fake_sysfs.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace quorlan {
namespace {

using test::runCommand;
using test::shellQuote;

const std::string kCli = QUORLAN_CLI;

std::string fixture(const std::string& name) { return std::string(QUORLAN_FIXTURE_DIR) + "/" + name; }

test::CommandResult cli(const std::string& args) { return runCommand(shellQuote(kCli) + " " + args); }

using test::sha256;

bool validJson(const std::string& text) {
    test::TempDir dir;
    std::ofstream(dir / "out.json") << text;
    if (test::haveTool("jq")) return runCommand("jq -e . " + shellQuote((dir / "out.json").string()) + " >/dev/null").exitCode == 0;
    return runCommand("python3 -m json.tool " + shellQuote((dir / "out.json").string()) + " >/dev/null").exitCode == 0;
}

std::size_t lineCount(const std::string& text) { return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')); }

TEST(Cli, MisuseIsAUsageError) {
    for (const char* args : {"", "frobnicate", "partitions", "partitions a.img b.img", "partitions --verbose x.img",
                             "disks extra", "disk", "search x.img", "search x.img --partition",
                             "search x.img --partition 0", "search x.img --partition two",
                             "search x.img --partition 1 --load-log x", "search x.img --load-log x --save-log y",
                             "search x.img --save-log", "save x.img --partition 1 --load-log x --to d --all",
                             "search x.img --advance --partition 1", "search x.img --type FAT32",
                             "search x.img --partition 1 --fs 1", "search x.img --advance --type exfat",
                             "search x.img --advance --range 9-3", "search x.img --advance --range 3",
                             "search x.img --advance --range a-b", "search x.img --advance --fs 0",
                             "save x.img --advance --load-log x --to d --all", "scan", "scan x.img --fs 1",
                             "scan x.img --partition 1", "scan x.img --advance", "scan x.img --type",
                             "scan x.img --find-lost", "search x.img --advance --find-lost",
                             "partitions x.img --range 0-100", "partitions x.img --find-lost --range 100-100",
                             "partitions x.img --find-lost --range 5", "partitions x.img --find-lost --range=a-b",
                             "search x.img --load-log x --find-lost", "save x.img --partition 1 --range 1-2 --to d --all"}) {
        const auto r = cli(args);
        EXPECT_EQ(r.exitCode, 2) << args;
        EXPECT_TRUE(r.out.empty()) << args;
        EXPECT_NE(r.err.find("usage: quorlan-cli"), std::string::npos) << args;
    }
    EXPECT_EQ(cli("--help").exitCode, 0);
}

TEST(Cli, WhatIsNoDiskGivesOneClearLineAndExitCode1) {
    test::TempDir dir;
    std::ofstream(dir / "empty.img").close();
    const struct {
        std::string path;
        const char* says;
    } cases[] = {
        {(dir / "missing.img").string(), "no such file or device"},
        {dir.path().string(), "is not a disk or a disk image"},
        {(dir / "empty.img").string(), "smaller than one 512-byte sector"},
    };
    for (const auto& c : cases) {
        for (const char* command : {"partitions", "disk"}) {
            const auto r = cli(std::string(command) + " " + shellQuote(c.path));
            EXPECT_EQ(r.exitCode, 1) << command << " " << c.path;
            EXPECT_EQ(lineCount(r.err), 1u) << r.err;
            EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
            EXPECT_NE(r.err.find(c.path), std::string::npos) << r.err;
        }
    }
}

TEST(Cli, DeviceWithoutPermissionSaysHowToProceed) {
    if (::geteuid() == 0) GTEST_SKIP() << "root may open every file";
    test::TempDir dir;
    std::ofstream(dir / "locked.img") << std::string(1024, 'x');
    std::filesystem::permissions(dir / "locked.img", std::filesystem::perms::none);
    const auto r = cli("partitions " + shellQuote((dir / "locked.img").string()));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("run as root"), std::string::npos) << r.err;
}

TEST(Cli, PartitionsOfTheFixtureDisks) {
    const std::string image = fixture("mbr-mixed.img");
    const std::string before = sha256(image);

    const auto json = cli("partitions " + shellQuote(image) + " --json");
    ASSERT_EQ(json.exitCode, 0) << json.err;
    EXPECT_TRUE(validJson(json.out)) << json.out;
    EXPECT_NE(json.out.find(R"({"index":1,"type":"FAT16","start":2048,"end":34816,)"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find(R"({"index":5,"type":"FAT32","start":186368,"end":268288,)"), std::string::npos) << json.out;

    const auto text = cli("partitions " + shellQuote(image));
    ASSERT_EQ(text.exitCode, 0);
    EXPECT_NE(text.out.find("Disk 0\n  Partition - 1 ( FAT16 )\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("    5.   Start Sector                     :  186368\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("Partition - 3 ( NTFS )"), std::string::npos);

    const auto details = cli("disk " + shellQuote(image) + " --json");
    ASSERT_EQ(details.exitCode, 0);
    EXPECT_TRUE(validJson(details.out));
    EXPECT_NE(details.out.find(R"j("node":"Disk Image (Disk0)")j"), std::string::npos) << details.out;
    EXPECT_NE(details.out.find(R"({"name":"1. Model :","value":"mbr-mixed.img"})"), std::string::npos);
    EXPECT_NE(details.out.find(R"({"name":"7. Sectors :","value":"409600"})"), std::string::npos);

    EXPECT_EQ(sha256(image), before) << "the source image was written";
}

TEST(Cli, DamagedTablesGiveAResultAndANote) {
    const struct {
        const char* image;
        std::size_t partitions;
        const char* note;
    } cases[] = {
        {"looping-chain.img", 5, "points back at itself"},
        {"bad-table.img", 1, "Partition Table is corrupted"},
        {"superfloppy-fat32.img", 1, ""},
    };
    for (const auto& c : cases) {
        const std::string image = fixture(c.image);
        const std::string before = sha256(image);
        const auto r = cli("partitions --json " + shellQuote(image));
        EXPECT_EQ(r.exitCode, 0) << c.image << r.err;
        EXPECT_TRUE(validJson(r.out)) << r.out;
        std::size_t count = 0;
        for (std::size_t at = r.out.find("\"index\""); at != std::string::npos; at = r.out.find("\"index\"", at + 1)) ++count;
        EXPECT_EQ(count, c.partitions) << c.image;
        EXPECT_NE(r.err.find(c.note), std::string::npos) << r.err;
        EXPECT_EQ(sha256(image), before) << c.image;
    }
}

// A stick whose table is gone: partitions says what --find-lost does, --find-lost lists the
// volumes it finds (numbered after the table's, saying how they were found), and search and save
// reach them by those numbers. A disk without any volume ends with "Unknown Partition".
TEST(Cli, FindLostListsTheVolumesATableNoLongerLists) {
    const std::string image = fixture("lost-aligned.img");
    const std::string before = sha256(image);
    const auto plain = cli("partitions " + shellQuote(image));
    EXPECT_EQ(plain.exitCode, 0);
    EXPECT_EQ(plain.out, "Disk 0\n");
    EXPECT_NE(plain.err.find("--find-lost searches the disk"), std::string::npos) << plain.err;

    const auto text = cli("partitions " + shellQuote(image) + " --find-lost");
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_NE(text.out.find("  Partition - 2 ( NTFS )\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("    8.   Found By                         :  Boot Sector (sector 83968)\n"),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.err.find("found 2 partition(s) that the table does not list, numbered from 1"), std::string::npos)
        << text.err;
    const auto json = cli("partitions " + shellQuote(image) + " --find-lost --json --range 80000-131072");
    ASSERT_EQ(json.exitCode, 0) << json.err;
    EXPECT_TRUE(validJson(json.out)) << json.out;
    EXPECT_NE(json.out.find(R"([{"index":1,"type":"NTFS","start":83968,"end":124928,)"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find(R"("found":true,"foundBy":"Boot Sector","foundAt":83968})"), std::string::npos) << json.out;
    EXPECT_EQ(json.out.find("FAT32"), std::string::npos) << "outside the range";
    EXPECT_EQ(cli("partitions " + shellQuote(image) + " --find-lost --range 200000-300000").exitCode, 1);

    const auto noTable = cli("search " + shellQuote(image) + " --partition 2");
    EXPECT_EQ(noTable.exitCode, 1);
    EXPECT_NE(noTable.err.find("--find-lost"), std::string::npos) << noTable.err;
    const auto search = cli("search " + shellQuote(image) + " --find-lost --partition 2 --files");
    ASSERT_EQ(search.exitCode, 0) << search.err;
    EXPECT_NE(search.out.find("anna.txt"), std::string::npos) << search.out;
    test::TempDir dir;
    const auto save = cli("save " + shellQuote(image) + " --find-lost --partition 1 --to " +
                          shellQuote((dir / "out").string()) + " Documents/Letters/anna.txt");
    ASSERT_EQ(save.exitCode, 0) << save.err;
    EXPECT_TRUE(std::filesystem::exists(dir / "out" / "Documents" / "Letters" / "anna.txt"));
    EXPECT_EQ(sha256(image), before) << "the source image was written";

    const std::string blank = (dir / "blank.img").string();
    std::ofstream(blank, std::ios::binary) << std::string(16u << 20, '\0');
    const auto unknown = cli("partitions " + shellQuote(blank) + " --find-lost");
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_NE(unknown.out.find("Disk 0\n  Unknown Partition\n"), std::string::npos) << unknown.out;
    EXPECT_NE(unknown.out.find("3.   Partition Type                   :  Unknown Partition\n"), std::string::npos);
    EXPECT_NE(unknown.out.find("6.   End Sector                      :  32768\n"), std::string::npos) << unknown.out;
    EXPECT_NE(unknown.err.find("no FAT16, FAT32 or NTFS partition on this disk"), std::string::npos) << unknown.err;
    const auto unknownJson = cli("partitions " + shellQuote(blank) + " --find-lost --json");
    EXPECT_EQ(unknownJson.exitCode, 1);
    EXPECT_TRUE(validJson(unknownJson.out)) << unknownJson.out;
    EXPECT_NE(unknownJson.out.find(R"([{"type":"Unknown Partition","start":0,"end":32768,)"), std::string::npos)
        << unknownJson.out;
}

TEST(Cli, TruncatedAndGarbageImagesNeverCrash) {
    test::TempDir dir;
    const std::string truncated = (dir / "truncated.img").string();
    ASSERT_EQ(runCommand("head -c 300000 " + shellQuote(fixture("mbr-mixed.img")) + " > " + shellQuote(truncated)).exitCode, 0);
    const auto r = cli("partitions " + shellQuote(truncated));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("Partition Table is corrupted"), std::string::npos) << r.err;

    std::mt19937 random(7);
    for (int round = 0; round < 20; ++round) {
        std::string bytes(64 * 1024, '\0');
        for (char& b : bytes) b = static_cast<char>(random());
        const std::string garbage = (dir / "garbage.img").string();
        std::ofstream(garbage, std::ios::binary) << bytes;
        const auto g = cli("partitions --json " + shellQuote(garbage));
        EXPECT_EQ(g.exitCode, 0) << g.err;
        EXPECT_TRUE(validJson(g.out)) << g.out;
        const auto lost = cli("partitions --json --find-lost " + shellQuote(garbage));
        EXPECT_TRUE(lost.exitCode == 0 || lost.exitCode == 1) << lost.err;
        EXPECT_TRUE(validJson(lost.out)) << lost.out;
    }
}

TEST(Cli, SearchPrintsTheRecoveredTreeAndNeverWritesTheSource) {
    const std::string image = fixture("fat16-search.img");
    const std::string before = sha256(image);
    const auto json = cli("search " + shellQuote(image) + " --partition 1 --files --json");
    ASSERT_EQ(json.exitCode, 0) << json.err;
    EXPECT_TRUE(validJson(json.out)) << json.out;
    EXPECT_NE(json.out.find(R"({"path":"Projects/Archive/2023/Old Backups/backup-set.zip",)"), std::string::npos);
    EXPECT_NE(json.out.find(R"("type":"Compressed File")"), std::string::npos);
    EXPECT_NE(json.out.find(R"({"path":"Old Stuff","deleted":true})"), std::string::npos);

    const auto text = cli("search " + shellQuote(image) + " --partition=1");
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_EQ(text.out.rfind("Root\n", 0), 0u) << text.out;
    EXPECT_NE(text.out.find("\n  QLN_Miscellaneous/\n"), std::string::npos) << text.out;
    EXPECT_EQ(text.out.find("backup-set.zip"), std::string::npos) << "files only with --files";

    const auto missing = cli("search " + shellQuote(image) + " --partition 2");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("there is no partition 2"), std::string::npos) << missing.err;
    EXPECT_EQ(sha256(image), before);
}

std::string quoted(const std::filesystem::path& path) { return shellQuote(path.string()); }

// A search stored with --save-log and shown again with --load-log; the log names its image by
// file name, and a log of another image, a damaged or a missing log is refused.
TEST(Cli, ARecoveryLogShowsTheSearchAgain) {
    test::TempDir dir;
    // ntfs-streams.img: a log keeps the streams' rows; fat-undelete.img: the marks come back.
    const std::string images[] = {"fat16-search.img", "fat32-search.img", "ntfs-search.img", "ntfs-streams.img",
                                  "fat-undelete.img"};
    // The log is written under exactly the name given.
    auto logOf = [&](const std::string& image) { return dir / image / "x.qlg"; };
    for (const std::string& name : images) {
        SCOPED_TRACE(name);
        const std::string image = fixture(name);
        const std::string before = sha256(image);
        std::filesystem::create_directories(dir / name);
        const auto searched = cli("search " + shellQuote(image) + " --partition 1 --files --json --save-log " +
                                  quoted(dir / name / "x.qlg"));
        ASSERT_EQ(searched.exitCode, 0) << searched.err;
        EXPECT_NE(searched.err.find("recovery log saved to " + logOf(name).string() + "\n"), std::string::npos)
            << searched.err;
        ASSERT_TRUE(std::filesystem::exists(logOf(name)));
        EXPECT_FALSE(std::filesystem::exists(dir / name / "X.QLG"));
        EXPECT_NE(searched.out.find(R"("files":[{"path":)"), std::string::npos) << searched.out;

        const auto loaded =
            cli("search " + shellQuote(image) + " --load-log " + quoted(logOf(name)) + " --files --json");
        ASSERT_EQ(loaded.exitCode, 0) << loaded.err;
        EXPECT_EQ(loaded.out, searched.out);
        EXPECT_EQ(sha256(image), before);
    }

    const auto cut = dir / "CUT.QLG";
    ASSERT_EQ(runCommand("head -c 100 " + quoted(logOf(images[2])) + " > " + quoted(cut)).exitCode, 0);
    const struct {
        std::string image;
        std::filesystem::path log;
    } refused[] = {
        {images[1], logOf(images[0])}, {images[2], logOf(images[1])}, {images[0], logOf(images[2])},
        {images[2], cut},              {images[0], dir / "missing.qlg"},
    };
    for (const auto& c : refused) {
        const auto r = cli("search " + shellQuote(fixture(c.image)) + " --load-log " + quoted(c.log));
        EXPECT_EQ(r.exitCode, 1) << c.image << " " << c.log;
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_NE(r.err.find("Either the selected log file is corrupted or you have selected the wrong disk for "
                             "recovery."),
                  std::string::npos)
            << r.err;
    }
}

TEST(Cli, SaveFromARecoveryLogWritesWhatTheSearchWould) {
    for (const char* name : {"fat16-search.img", "fat32-search.img", "fat-undelete.img", "ntfs-streams.img"}) {
        SCOPED_TRACE(name);
        test::TempDir dir;
        const std::string image = shellQuote(fixture(name));
        const auto stored = cli("search " + image + " --partition 1 --save-log " + quoted(dir / "x"));
        ASSERT_EQ(stored.exitCode, 0) << stored.err;
        const auto fromSearch = cli("save " + image + " --partition 1 --all --to " + quoted(dir / "searched"));
        const auto fromLog = cli("save " + image + " --load-log " + quoted(dir / "x") + " --all --to " +
                                 quoted(dir / "loaded"));
        ASSERT_EQ(fromSearch.exitCode, 0) << fromSearch.err;
        ASSERT_EQ(fromLog.exitCode, 0) << fromLog.err;
        EXPECT_EQ(fromLog.out.rfind("Saved ", 0), 0u) << fromLog.out;
        EXPECT_GT(std::distance(std::filesystem::recursive_directory_iterator(dir / "loaded"),
                                std::filesystem::recursive_directory_iterator()),
                  10);
        const auto diff = runCommand("diff -r " + quoted(dir / "searched") + " " + quoted(dir / "loaded"));
        EXPECT_EQ(diff.exitCode, 0) << diff.out << diff.err;
    }
}

// Paths as search prints them: a folder brings its whole subtree, a file comes with its folders,
// a file named inside a folder also named is saved once, and an unknown path fails the command.
TEST(Cli, SaveTakesPathsAsSearchPrintsThem) {
    test::TempDir dir;
    const std::string image = shellQuote(fixture("fat32-search.img"));
    const auto saved = cli("save " + image + " --partition 1 --to " + quoted(dir / "out") +
                           " Projects/Archive Projects/Archive/2023/summary.txt 'Holiday Photos/IMG_0002.JPG'");
    ASSERT_EQ(saved.exitCode, 0) << saved.out << saved.err;
    std::set<std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir / "out")) {
        if (e.is_regular_file()) files.insert(std::filesystem::relative(e.path(), dir / "out").string());
    }
    EXPECT_EQ(files, (std::set<std::string>{"Holiday Photos/IMG_0002.JPG", "Projects/Archive/2023/summary.txt",
                                            "Projects/Archive/2023/Old Backups/Registry Export.reg",
                                            "Projects/Archive/2023/Old Backups/backup-set.zip"}));

    const auto unknown = cli("save " + image + " --partition 1 --to " + quoted(dir / "none") + " Projects/nothing.txt");
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_NE(unknown.err.find("no folder or file 'Projects/nothing.txt'"), std::string::npos) << unknown.err;
}

// scan lists the file systems an Advance Search identifies: on a disk whose partition table is
// gone, a FAT32 and a FAT16 volume, each with where its cluster 0 lies and its cluster size.
TEST(Cli, ScanListsTheFileSystemsOfADiskWithoutPartitionTable) {
    const std::string image = fixture("fat-two-volumes.img");
    const std::string before = sha256(image);
    const auto json = cli("scan " + shellQuote(image) + " --json");
    ASSERT_EQ(json.exitCode, 0) << json.err;
    EXPECT_EQ(json.out, R"([{"number":1,"type":"FAT32","start":3348,"sectorsPerCluster":2,"folders":6},)"
                        R"({"number":2,"type":"FAT16","start":165976,"sectorsPerCluster":8,"folders":6}])"
                        "\n");
    EXPECT_NE(json.err.find("Folders Found: 12\n"), std::string::npos) << json.err;
    EXPECT_NE(json.err.find("Boot Sectors Found: 3\n"), std::string::npos) << json.err;

    const auto text = cli("scan " + shellQuote(image) + " --type fat16 --range 165888-231424");
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_EQ(text.out, "File System 1 - FAT16  start 165976  sectors per cluster 8  folders 6\n");
    EXPECT_EQ(text.err.find("MFT Found"), std::string::npos) << "a FAT scan looks for no MFT records";

    // Nothing there: an empty list and the sentence that says so.
    const auto none = cli("scan " + shellQuote(image) + " --json --range 240000-240100");
    EXPECT_EQ(none.exitCode, 0) << none.err;
    EXPECT_EQ(none.out, "[]\n");
    EXPECT_NE(none.err.find("No file system could be identified. Recovery is not possible in Advance Search mode."),
              std::string::npos)
        << none.err;
    const auto searched = cli("search " + shellQuote(image) + " --advance --range 240000-240100");
    EXPECT_EQ(searched.exitCode, 1);
    const auto outside = cli("scan " + shellQuote(image) + " --range 400000-400100");
    EXPECT_EQ(outside.exitCode, 1);
    EXPECT_NE(outside.err.find("holds no sector of this disk"), std::string::npos) << outside.err;
    const auto beyond = cli("search " + shellQuote(image) + " --advance --fs 3");
    EXPECT_EQ(beyond.exitCode, 1);
    EXPECT_NE(beyond.err.find("there is no file system 3 (the search identified 2)"), std::string::npos) << beyond.err;
    EXPECT_EQ(sha256(image), before);
}

// An Advance Search stored in a recovery log: mode 2, the same tree when loaded, the same bytes
// when saved from it.
TEST(Cli, AnAdvanceSearchLogShowsAndSavesTheSameAgain) {
    // The second file system of a disk, FAT and NTFS (the NTFS one without its boot sectors).
    const struct {
        const char* image;
        const char* listed;  // how the search's JSON lists a file
        const char* file;
        const char* content;
    } cases[] = {
        {"fat-two-volumes.img", R"({"path":"volume.txt","size":17,)", "volume.txt", "the FAT16 volume\n"},
        {"ntfs-two-volumes-bootless.img", R"({"path":"readme.txt","size":14,)", "readme.txt", "the old stick\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.image);
        test::TempDir dir;
        const std::string image = shellQuote(fixture(c.image));
        const auto searched =
            cli("search " + image + " --advance --fs 2 --files --json --save-log " + quoted(dir / "two.qlg"));
        ASSERT_EQ(searched.exitCode, 0) << searched.err;
        EXPECT_NE(searched.out.find(c.listed), std::string::npos) << searched.out;
        const std::string log = test::readText(dir / "two.qlg");
        const std::size_t identity = 13 + 4 + std::string(c.image).size();
        ASSERT_GT(log.size(), identity);
        EXPECT_EQ(static_cast<int>(log[identity]), 2) << "the search mode byte";
        EXPECT_NE(log.find("Advance Search"), std::string::npos);

        const auto loaded = cli("search " + image + " --load-log " + quoted(dir / "two.qlg") + " --files --json");
        ASSERT_EQ(loaded.exitCode, 0) << loaded.err;
        EXPECT_EQ(loaded.out, searched.out);

        const auto fromSearch = cli("save " + image + " --advance --fs 2 --all --to " + quoted(dir / "searched"));
        const auto fromLog = cli("save " + image + " --load-log " + quoted(dir / "two.qlg") + " --all --to " +
                                 quoted(dir / "loaded"));
        ASSERT_EQ(fromSearch.exitCode, 0) << fromSearch.err;
        ASSERT_EQ(fromLog.exitCode, 0) << fromLog.err;
        EXPECT_EQ(test::readText(dir / "searched" / c.file), c.content);
        const auto diff = runCommand("diff -r " + quoted(dir / "searched") + " " + quoted(dir / "loaded"));
        EXPECT_EQ(diff.exitCode, 0) << diff.out << diff.err;
    }
}

// 'disks' lists the removable media of a sysfs tree built here (QUORLAN_SYSFS_ROOT), never the
// machine's own disks.
TEST(Cli, DisksListsTheRemovableMediaOfTheSysfsTree) {
    test::TempDir dir;
    const std::filesystem::path sys = dir / "sys";
    test::fakeBlockDevice(sys, "sda", "pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0",
                          {{"removable", "0"}, {"size", "500118192"}});
    test::fakeBlockDevice(sys, "sdb", "pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host6/target6:0:0/6:0:0:0",
                          {{"removable", "1"}, {"size", "15663104"}, {"dev", "8:16"}, {"device/vendor", "SanDisk"},
                           {"device/model", "Cruzer Blade"}, {"device/rev", "1.00"}});
    test::writeText(sys / "run" / "udev" / "data" / "b8:16",
                    "E:ID_SERIAL_SHORT=4C530001\nE:ID_PATH=pci-usb-0:2\n");
    auto disks = [&](const std::filesystem::path& root, const std::string& options) {
        return runCommand("QUORLAN_SYSFS_ROOT=" + shellQuote(root.string()) + " " + shellQuote(kCli) + " disks" +
                          options);
    };

    const auto json = disks(sys, " --json");
    ASSERT_EQ(json.exitCode, 0) << json.err;
    EXPECT_TRUE(validJson(json.out)) << json.out;
    EXPECT_EQ(json.out.rfind(R"j([{"index":0,"node":"Removable Media (Disk0)","device":"/dev/sdb",)j"
                             R"("model":"SanDisk Cruzer Blade","sectors":15663104,"details":[)",
                             0),
              0u)
        << json.out;
    EXPECT_NE(json.out.find(R"({"name":"12. Serial Number :","value":"4C530001"})"), std::string::npos) << json.out;
    EXPECT_EQ(json.out.find("/dev/sda"), std::string::npos) << "a fixed disk is no recovery target";

    const auto text = disks(sys, "");
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_EQ(text.out.rfind("Removable Media (Disk0)\n  1. Model : SanDisk Cruzer Blade\n"
                             "  2. MediaType : Removable Media\n  3. Interface Type : USB\n"
                             "  4. Capacity(size) : 7640 MB\n",
                             0),
              0u)
        << text.out;
    EXPECT_NE(text.out.find("  11. PNP Device ID : pci-usb-0:2\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("  14. Physical Device ID : /dev/sdb\n"), std::string::npos) << text.out;
    EXPECT_EQ(lineCount(text.out), 15u) << text.out;

    const auto none = disks(dir / "empty", "");
    EXPECT_EQ(none.exitCode, 0) << none.err;
    EXPECT_EQ(none.out, "Could not find any Pen Drive or other USB Removable Media connected to your system.\n");
    EXPECT_EQ(disks(dir / "empty", " --json").out, "[]\n");
}

}  // namespace
}  // namespace quorlan
