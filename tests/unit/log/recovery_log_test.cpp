// The recovery log: its bytes, what a damaged or foreign log does, and a search stored and
// loaded again against the fixture images.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "core/text.h"
#include "session/session.h"
#include "items/tables.h"
#include "log/recovery_log.h"
#include "log/recovery_log_format.h"
#include "search/search_driver.h"
#include "search/folder_listing.h"
#include "tests/support/temp_dir.h"

namespace quorlan {
namespace {

// The one refusal every damaged or foreign log gives, spelled out here so that a changed
// constant is noticed too.
const std::string kCorrupt =
    "Either the selected log file is corrupted or you have selected the wrong disk for recovery.";
constexpr std::uint64_t kFiveGiBAndASector = 5ull * 1024 * 1024 * 1024 + 512;

std::string fixture(const std::string& name) { return std::string(QUORLAN_FIXTURE_DIR) + "/" + name; }

RecoveryLog fatLog() {
    RecoveryLog log;
    log.identity = "stick.img";
    log.searchMode = 1;
    log.selectedDisk = 2;
    log.searchDisk = 3;
    log.partitionIndex = 4;
    log.partitionTypeText = "FAT32";
    log.searchModeText = "Standard Search";
    log.rangeStart = 0x0102030405060708ull;
    log.rangeEnd = 0x1122334455667788ull;
    for (std::uint32_t i = 0; i < 12; ++i) {
        log.validation[i] = 0xA0000000u + i;
        log.working[i] = 0xB0000000u + i;
    }
    log.fileSystem = "FAT32";
    log.folders = {{kMiscFolderName, kOrphanNumber, 0, 0, 0, 0},
                   {"My Photos", 3, 0, 0x5A21, 0x6000, 0},
                   {"Old", 4, 0, 0x5A22, 0x6001, 1},
                   {"2024", 5, 3, 0x5A23, 0x6002, 0}};
    return log;
}

RecoveryLog ntfsLog() {
    RecoveryLog log = fatLog();
    log.partitionTypeText = "NTFS";
    log.fileSystem = "NTFS";
    log.folders = {{kMiscFolderName, kOrphanNumber, 5, 0, 0, 0},
                   {"Fotos été", 64, 5, 133'000'000'000'000'000ull, 0, 0},
                   {"Gone", 65, 64, 0xFFFFFFFFFFFFFFFFull, 7, 1}};
    log.ntfsFiles = {{"a.jpg", 300, 70, 64, 133'000'000'000'000'000, 0xFFFFFFFFu, 0},
                     {"old.txt", 302, 71, 65, -1, 12, 1}};
    return log;
}

void expectSame(const RecoveryLog& a, const RecoveryLog& b) {
    EXPECT_EQ(a.identity, b.identity);
    EXPECT_EQ(a.searchMode, b.searchMode);
    EXPECT_EQ(a.selectedDisk, b.selectedDisk);
    EXPECT_EQ(a.searchDisk, b.searchDisk);
    EXPECT_EQ(a.partitionIndex, b.partitionIndex);
    EXPECT_EQ(a.partitionTypeText, b.partitionTypeText);
    EXPECT_EQ(a.searchModeText, b.searchModeText);
    EXPECT_EQ(a.rangeStart, b.rangeStart);
    EXPECT_EQ(a.rangeEnd, b.rangeEnd);
    EXPECT_EQ(a.validation, b.validation);
    EXPECT_EQ(a.working, b.working);
    EXPECT_EQ(a.fileSystem, b.fileSystem);
    ASSERT_EQ(a.folders.size(), b.folders.size());
    for (std::size_t i = 0; i < a.folders.size(); ++i) {
        const auto& x = a.folders[i];
        const auto& y = b.folders[i];
        EXPECT_EQ(std::tie(x.name, x.self, x.parent, x.first, x.second, x.flags),
                  std::tie(y.name, y.self, y.parent, y.first, y.second, y.flags)) << "folder " << i;
    }
    ASSERT_EQ(a.ntfsFiles.size(), b.ntfsFiles.size());
    for (std::size_t i = 0; i < a.ntfsFiles.size(); ++i) {
        const auto& x = a.ntfsFiles[i];
        const auto& y = b.ntfsFiles[i];
        EXPECT_EQ(std::tie(x.name, x.sector, x.self, x.parent, x.date, x.size, x.deleted),
                  std::tie(y.name, y.sector, y.self, y.parent, y.date, y.size, y.deleted)) << "file " << i;
    }
}

std::uint32_t u32At(const std::vector<std::byte>& b, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<std::uint8_t>(b.at(at + static_cast<std::size_t>(i)));
    return v;
}
std::uint64_t u64At(const std::vector<std::byte>& b, std::size_t at) {
    return u32At(b, at) | (std::uint64_t{u32At(b, at + 4)} << 32);
}
std::string textAt(const std::vector<std::byte>& b, std::size_t at, std::size_t n) {
    return std::string(reinterpret_cast<const char*>(b.data() + at), n);
}
void putU32(std::vector<std::byte>& b, std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i) b.at(at + i) = static_cast<std::byte>(v >> (8 * i));
}

// Where the folder count lies: after the fixed fields and the four texts.
std::size_t folderCountOffset(const RecoveryLog& log) {
    return 13 + 4 + log.identity.size() + 4 + 1 + log.partitionTypeText.size() + 1 + log.searchModeText.size() + 16 +
           96 + 1 + log.fileSystem.size();
}
std::size_t ntfsCountOffset(const RecoveryLog& log) {
    std::size_t at = folderCountOffset(log) + 4;
    for (const auto& f : log.folders) at += 4 + f.name.size() + 25;
    return at;
}

TEST(RecoveryLogBytes, RoundTripKeepsEveryField) {
    for (const RecoveryLog& log : {fatLog(), ntfsLog()}) {
        SCOPED_TRACE(log.fileSystem);
        const auto bytes = EncodeRecoveryLog(log);
        const auto back = DecodeRecoveryLog(bytes, log.identity);
        ASSERT_TRUE(back.ok()) << back.error().message;
        expectSame(*back, log);
        EXPECT_EQ(EncodeRecoveryLog(*back), bytes);
    }
}

TEST(RecoveryLogBytes, LayoutOfASmallLog) {
    const RecoveryLog log = fatLog();
    const auto b = EncodeRecoveryLog(log);
    EXPECT_EQ(textAt(b, 0, 13), "QLNWIN7SR2009");
    EXPECT_TRUE(HasRecoveryLogSignature(b));
    EXPECT_EQ(u32At(b, 13), 9u);
    EXPECT_EQ(textAt(b, 17, 9), "stick.img");
    // Mode, selected disk, disk at search start, partition index: one byte each.
    EXPECT_EQ(std::to_integer<int>(b[26]), 1);
    EXPECT_EQ(std::to_integer<int>(b[27]), 2);
    EXPECT_EQ(std::to_integer<int>(b[28]), 3);
    EXPECT_EQ(std::to_integer<int>(b[29]), 4);
    EXPECT_EQ(std::to_integer<int>(b[30]), 5);
    EXPECT_EQ(textAt(b, 31, 5), "FAT32");
    EXPECT_EQ(std::to_integer<int>(b[36]), 15);
    EXPECT_EQ(textAt(b, 37, 15), "Standard Search");
    EXPECT_EQ(std::to_integer<int>(b[52]), 0x08) << "little-endian";
    EXPECT_EQ(u64At(b, 52), 0x0102030405060708ull);
    EXPECT_EQ(u64At(b, 60), 0x1122334455667788ull);
    EXPECT_EQ(u32At(b, 68), 0xA0000000u);
    EXPECT_EQ(u32At(b, 68 + 11 * 4), 0xA000000Bu);
    EXPECT_EQ(u32At(b, 116), 0xB0000000u);
    EXPECT_EQ(u32At(b, 116 + 11 * 4), 0xB000000Bu);
    EXPECT_EQ(std::to_integer<int>(b[164]), 5);
    EXPECT_EQ(textAt(b, 165, 5), "FAT32");
    ASSERT_EQ(folderCountOffset(log), 170u);
    EXPECT_EQ(u32At(b, 170), 4u);
    // First folder: its length counts the name and the 25 bytes after it.
    EXPECT_EQ(u32At(b, 174), 17u + 25);
    EXPECT_EQ(textAt(b, 178, 17), "QLN_Miscellaneous");
    EXPECT_EQ(u32At(b, 195), kOrphanNumber);
    // Second folder: self, parent, date, time and the flag byte after its name.
    const std::size_t photos = 174 + 4 + 17 + 25;
    EXPECT_EQ(u32At(b, photos), 9u + 25);
    EXPECT_EQ(textAt(b, photos + 4, 9), "My Photos");
    EXPECT_EQ(u32At(b, photos + 13), 3u);
    EXPECT_EQ(u32At(b, photos + 17), 0u);
    EXPECT_EQ(u64At(b, photos + 21), 0x5A21u);
    EXPECT_EQ(u64At(b, photos + 29), 0x6000u);
    EXPECT_EQ(std::to_integer<int>(b[photos + 37]), 0);
    EXPECT_EQ(std::to_integer<int>(b[photos + 38 + 4 + 3 + 24]), 1) << "Old is deleted";
    EXPECT_EQ(b.size(), ntfsCountOffset(log)) << "a FAT log ends with its folders";

    const RecoveryLog ntfs = ntfsLog();
    const auto n = EncodeRecoveryLog(ntfs);
    const std::size_t rows = ntfsCountOffset(ntfs);
    EXPECT_EQ(u32At(n, rows), 2u);
    EXPECT_EQ(u32At(n, rows + 4), 5u) << "an NTFS row's length is the name's alone";
    EXPECT_EQ(textAt(n, rows + 8, 5), "a.jpg");
    EXPECT_EQ(u32At(n, rows + 13), 300u);
    EXPECT_EQ(u32At(n, rows + 17), 70u);
    EXPECT_EQ(u32At(n, rows + 21), 64u);
    EXPECT_EQ(u64At(n, rows + 25), 133'000'000'000'000'000ull);
    EXPECT_EQ(u32At(n, rows + 33), 0xFFFFFFFFu);
    EXPECT_EQ(u32At(n, rows + 37), 0u);
    EXPECT_EQ(n.size(), rows + 4 + 2 * 32 + 5 + 7);
}

TEST(RecoveryLogBytes, SignatureIsNotComparedButTheDiskIs) {
    const RecoveryLog log = fatLog();
    auto bytes = EncodeRecoveryLog(log);
    std::memset(bytes.data(), 'x', 13);
    const auto damaged = DecodeRecoveryLog(bytes, "stick.img");
    ASSERT_TRUE(damaged.ok()) << damaged.error().message;
    expectSame(*damaged, log);

    for (const char* other : {"stick.im", "stick.img ", "STICK.IMG", "", "other.img"}) {
        const auto refused = DecodeRecoveryLog(bytes, other);
        ASSERT_FALSE(refused.ok()) << other;
        EXPECT_EQ(refused.error().message, kCorrupt);
    }

    // A disk's model is compared in its first 49 bytes, as it was stored.
    const std::string longModel = std::string(45, 'M') + "é-and-more";
    RecoveryLog longer = fatLog();
    longer.identity = std::string(truncateUtf8(longModel, 49));
    EXPECT_TRUE(DecodeRecoveryLog(EncodeRecoveryLog(longer), longModel).ok());
    RecoveryState state;
    state.params.PartType = FileSystemType::Fat32;
    const auto captured = CaptureRecoveryLog(state, longModel);
    ASSERT_TRUE(captured.ok());
    EXPECT_EQ(captured->identity, longer.identity);
    EXPECT_LT(captured->identity.size(), 50u);
}

TEST(RecoveryLogBytes, EveryDamageIsRefusedWithTheOneMessage) {
    // Every cut short of the whole file.
    for (const RecoveryLog& log : {fatLog(), ntfsLog()}) {
        const auto bytes = EncodeRecoveryLog(log);
        for (std::size_t n = 0; n < bytes.size(); ++n) {
            const auto r = DecodeRecoveryLog(std::span(bytes.data(), n), log.identity);
            ASSERT_FALSE(r.ok()) << log.fileSystem << " cut to " << n << " of " << bytes.size() << " bytes";
            EXPECT_EQ(r.error().message, kCorrupt);
        }
    }

    using Patch = std::function<void(RecoveryLog&, std::vector<std::byte>&)>;
    auto relog = [](auto change) -> Patch {
        return [change](RecoveryLog& log, std::vector<std::byte>& b) {
            change(log);
            b = EncodeRecoveryLog(log);
        };
    };
    const std::string name1024(1024, 'n');
    const struct {
        const char* what;
        bool ntfs;
        Patch patch;
        bool accepted;
    } cases[] = {
        {"identity length 50", false, [](RecoveryLog&, auto& b) { putU32(b, 13, 50); }, false},
        {"identity length 2^32-1", false, [](RecoveryLog&, auto& b) { putU32(b, 13, 0xFFFFFFFF); }, false},
        {"type text of 49 bytes", false, relog([](RecoveryLog& l) { l.partitionTypeText.assign(49, 't'); }), true},
        {"type text of 50 bytes", false, relog([](RecoveryLog& l) { l.partitionTypeText.assign(50, 't'); }), false},
        {"mode text of 50 bytes", false, relog([](RecoveryLog& l) { l.searchModeText.assign(50, 'm'); }), false},
        {"file-system name of 50 bytes", false, relog([](RecoveryLog& l) { l.fileSystem.assign(50, 'f'); }), false},
        {"folder count one too many", false,
         [](RecoveryLog& l, auto& b) { putU32(b, folderCountOffset(l), 5); }, false},
        {"folder count 2^32-1", false,
         [](RecoveryLog& l, auto& b) { putU32(b, folderCountOffset(l), 0xFFFFFFFF); }, false},
        {"folder length 24", false, [](RecoveryLog& l, auto& b) { putU32(b, folderCountOffset(l) + 4, 24); }, false},
        {"folder length 0", false, [](RecoveryLog& l, auto& b) { putU32(b, folderCountOffset(l) + 4, 0); }, false},
        {"folder length 2^32-1", false,
         [](RecoveryLog& l, auto& b) { putU32(b, folderCountOffset(l) + 4, 0xFFFFFFFF); }, false},
        {"folder name of 1024 bytes", false, relog([&](RecoveryLog& l) { l.folders[1].name = name1024; }), true},
        {"folder name of 1025 bytes", false, relog([&](RecoveryLog& l) { l.folders[1].name = name1024 + "x"; }),
         false},
        {"row count one too many", true, [](RecoveryLog& l, auto& b) { putU32(b, ntfsCountOffset(l), 3); }, false},
        {"row count 2^32-1", true,
         [](RecoveryLog& l, auto& b) { putU32(b, ntfsCountOffset(l), 0xFFFFFFFF); }, false},
        {"row name length 2^32-1", true,
         [](RecoveryLog& l, auto& b) { putU32(b, ntfsCountOffset(l) + 4, 0xFFFFFFFF); }, false},
        {"row name of 1024 bytes", true, relog([&](RecoveryLog& l) { l.ntfsFiles[0].name = name1024; }), true},
        {"row name of 1025 bytes", true, relog([&](RecoveryLog& l) { l.ntfsFiles[0].name = name1024 + "x"; }),
         false},
        {"bytes after the end", true, [](RecoveryLog&, auto& b) { b.resize(b.size() + 3); }, true},
    };
    for (const auto& c : cases) {
        RecoveryLog log = c.ntfs ? ntfsLog() : fatLog();
        auto bytes = EncodeRecoveryLog(log);
        c.patch(log, bytes);
        const auto r = DecodeRecoveryLog(bytes, "stick.img");
        EXPECT_EQ(r.ok(), c.accepted) << c.what;
        if (!r.ok()) {
            EXPECT_EQ(r.error().message, kCorrupt) << c.what;
        }
    }
}

TEST(RecoveryLogPath, UpperCasesTheFileNameAndAddsTheExtension) {
    const struct {
        const char* chosen;
        const char* path;
    } cases[] = {
        {"dir/case.qlg", "dir/CASE.QLG"},
        {"Dir/x", "Dir/X.QLG"},
        {"x", "X.QLG"},
        {"/tmp/Mixed Case/run.Log", "/tmp/Mixed Case/RUN.LOG"},
        {"a.b/c", "a.b/C.QLG"},
    };
    for (const auto& c : cases) EXPECT_EQ(RecoveryLogPath(c.chosen).string(), c.path) << c.chosen;
}

TEST(RecoveryLogCapture, FloppiesAreNotLogged) {
    RecoveryState byParams;
    byParams.params.PartType = FileSystemType::Fat12;
    RecoveryState bySetup;
    bySetup.params.PartType = FileSystemType::Fat16;
    bySetup.setup.partitionType = FileSystemType::Fat12;
    for (const RecoveryState* state : {&byParams, &bySetup}) {
        const auto r = CaptureRecoveryLog(*state, "floppy.img");
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.error().message, "Recovery can not be saved for Floppy");
    }
}

// The folder tree as text, one line per item in tree order: its path and its deleted mark.
std::vector<std::string> treeLines(RecoveryState& state) {
    std::vector<std::string> lines;
    ResultTree::ForEach(state.model.tree.root(), [&](TreeItem* item) {
        const FolderNode* node = state.model.FindFolderNode(item);
        lines.push_back(ResultTree::GetItemPath(item, "/") + (node != nullptr && node->deleted ? " (deleted)" : ""));
    });
    return lines;
}

// A hand-made log restored over a blank disk: folders whose parents form cycles, name
// themselves, repeat a number or are missing are all shown, each once.
TEST(RecoveryLogRestore, HostileFoldersAreEachShownOnce) {
    for (const bool ntfs : {false, true}) {
        SCOPED_TRACE(ntfs ? "NTFS" : "FAT");
        const std::uint32_t root = ntfs ? 5 : 0;
        RecoveryLog log = ntfs ? ntfsLog() : fatLog();
        log.ntfsFiles.clear();
        log.folders = {{"A", 10, root, 0, 0, 0}, {"Self", 11, 11, 0, 0, 0},  {"C1", 12, 13, 0, 0, 0},
                       {"C2", 13, 12, 0, 0, 1},  {"A again", 10, root, 0, 0, 0}, {"Lost", 14, 999, 0, 0, 0},
                       {"Under A", 15, 10, 0, 0, 1}};
        SectorReader reader(std::make_unique<MemorySectorSource>(std::vector<std::byte>(64 * kSectorSize)));
        RecoveryState state;
        NullObserver quiet;
        RestoreRecoveryLog(log, state, reader, quiet);
        // Without a "QLN_Miscellaneous" folder the ones no level reaches go under the root, by
        // parent number; the rest of a cycle follows under its first folder.
        EXPECT_EQ(treeLines(state), (std::vector<std::string>{"", "A", "A/Under A (deleted)", "A again", "Self",
                                                              "C2 (deleted)", "C2/C1", "Lost"}));
        EXPECT_EQ(state.model.nodes.size(), log.folders.size());
    }
}

// Searches partition 1 of a fixture image as the command line does, listing every folder.
struct SearchedImage {
    Session session;
    RecoveryState* state = nullptr;
    SectorReader* reader = nullptr;

    explicit SearchedImage(const std::string& image) {
        auto slot = session.AddImage(image);
        if (!slot.ok()) ADD_FAILURE() << slot.error().message;
        if (!slot.ok() || !session.SelectDisk(*slot).ok()) return;
        auto request = session.PrepareStandardSearch(0);
        if (!request.ok()) {
            ADD_FAILURE() << request.error().message;
            return;
        }
        reader = session.reader();
        state = &session.recovery();
        NullObserver quiet;
        const SearchResult result = RunSearch(*request, *reader, *state, RunContext{quiet, {}});
        EXPECT_EQ(result.outcome, SearchOutcome::Finished);
        ResultTree::ForEach(state->model.tree.root(),
                            [&](TreeItem* item) { (void)ListFolderRows(*state, *reader, item, FolderListing::Select); });
    }
};

TEST(RecoveryLogRestore, AStoredSearchComesBackAsItWasShown) {
    for (const char* image : {"fat16-search.img", "fat32-search.img", "ntfs-search.img"}) {
        SCOPED_TRACE(image);
        SearchedImage searched(fixture(image));
        ASSERT_NE(searched.state, nullptr);
        const std::string model = searched.session.selectedDiskModel();
        EXPECT_EQ(model, image);
        const auto captured = CaptureRecoveryLog(*searched.state, model);
        ASSERT_TRUE(captured.ok()) << captured.error().message;
        const auto decoded = DecodeRecoveryLog(EncodeRecoveryLog(*captured), model);
        ASSERT_TRUE(decoded.ok()) << decoded.error().message;

        RecoveryState restored;
        NullObserver quiet;
        RestoreRecoveryLog(*decoded, restored, *searched.reader, quiet);
        const auto before = treeLines(*searched.state);
        EXPECT_GT(before.size(), 5u);
        EXPECT_EQ(treeLines(restored), before);
        EXPECT_EQ(restored.params.PartType, searched.state->params.PartType);
        EXPECT_EQ(restored.params.Cluster0Start, searched.state->params.Cluster0Start);
        EXPECT_EQ(restored.params.RootStart, searched.state->params.RootStart);
        EXPECT_EQ(restored.setup.rangeEnd, searched.state->setup.rangeEnd);
        EXPECT_EQ(restored.tables.ntfsEntryTable.RowCount(), searched.state->tables.ntfsEntryTable.RowCount());
    }
}

// The file: written under the path given, loaded back, and a load that fails leaves the result
// shown as it was.
TEST(RecoveryLogFile, AFailedLoadChangesNothing) {
    SearchedImage searched(fixture("fat16-search.img"));
    ASSERT_NE(searched.state, nullptr);
    const std::string model = searched.session.selectedDiskModel();
    test::TempDir dir;
    const auto written = WriteRecoveryLog(dir / "FAT16.QLG", *searched.state, model);
    ASSERT_TRUE(written.ok()) << written.error().message;
    EXPECT_EQ(*written, dir / "FAT16.QLG");

    RecoveryState shown;
    NullObserver quiet;
    ASSERT_TRUE(LoadRecoveryLog(*written, model, shown, *searched.reader, quiet).ok());
    const auto lines = treeLines(shown);
    EXPECT_EQ(lines, treeLines(*searched.state));

    std::filesystem::copy_file(*written, dir / "CUT.QLG");
    std::filesystem::resize_file(dir / "CUT.QLG", std::filesystem::file_size(*written) - 1);
    std::filesystem::copy_file(*written, dir / "HUGE.QLG");
    std::filesystem::resize_file(dir / "HUGE.QLG", (std::uint64_t{1} << 31) + 1);  // sparse
    const struct {
        std::filesystem::path path;
        std::string model;
    } failing[] = {{*written, "other.img"}, {dir / "CUT.QLG", model}, {dir / "HUGE.QLG", model},
                   {dir / "missing.qlg", model}, {dir.path(), model}};
    for (const auto& f : failing) {
        const auto r = LoadRecoveryLog(f.path, f.model, shown, *searched.reader, quiet);
        ASSERT_FALSE(r.ok()) << f.path;
        EXPECT_EQ(r.error().message, kCorrupt) << f.path;
        EXPECT_EQ(treeLines(shown), lines) << f.path;
    }

    const auto unwritable = WriteRecoveryLog(dir / "no-such-folder" / "X.QLG", *searched.state, model);
    ASSERT_FALSE(unwritable.ok());
    EXPECT_EQ(unwritable.error().message, "Unable to open file");
}

// The log keeps 32 bits of an NTFS file's size; a file of 4 GiB or more gets its size back from
// its record, unless that record now names another file.
TEST(RecoveryLogRestore, NtfsSizesOf4GiBAndMoreComeBackWhole) {
    SearchedImage searched(fixture("ntfs-search.img"));
    ASSERT_NE(searched.state, nullptr);
    const std::string model = searched.session.selectedDiskModel();
    auto log = CaptureRecoveryLog(*searched.state, model);
    ASSERT_TRUE(log.ok());
    auto row = std::find_if(log->ntfsFiles.begin(), log->ntfsFiles.end(),
                            [](const RecoveryLog::NtfsFile& f) { return f.name == "backup.vhd"; });
    ASSERT_NE(row, log->ntfsFiles.end());
    EXPECT_EQ(row->size, static_cast<std::uint32_t>(kFiveGiBAndASector)) << "the log holds the low 32 bits";

    auto restoredSize = [&](const RecoveryLog& stored) -> std::uint64_t {
        RecoveryState restored;
        NullObserver quiet;
        const auto decoded = DecodeRecoveryLog(EncodeRecoveryLog(stored), model);
        EXPECT_TRUE(decoded.ok());
        if (!decoded.ok()) return 0;
        RestoreRecoveryLog(*decoded, restored, *searched.reader, quiet);
        EXPECT_FALSE(restored.mftRuns.empty()) << "the $MFT's runs are read again";
        const RecordTable& files = restored.tables.ntfsEntryTable;
        const int r = files.FindRow("backup.vhd");
        EXPECT_GE(r, 0);
        return r < 0 ? 0 : files.GetU64(r, "size");
    };
    EXPECT_EQ(restoredSize(*log), kFiveGiBAndASector);
    // Listed as the results page lists it, too.
    RecoveryState restored;
    NullObserver quiet;
    RestoreRecoveryLog(*log, restored, *searched.reader, quiet);
    bool listed = false;
    ResultTree::ForEach(restored.model.tree.root(), [&](TreeItem* item) {
        for (const ListedRow& r : ListFolderRows(restored, *searched.reader, item, FolderListing::Select)) {
            if (r.name == "backup.vhd") {
                listed = true;
                EXPECT_EQ(r.size, kFiveGiBAndASector);
            }
        }
    });
    EXPECT_TRUE(listed);

    RecoveryLog other = *log;
    auto otherRow = other.ntfsFiles.begin() + (row - log->ntfsFiles.begin());
    otherRow->self += 1;
    EXPECT_EQ(restoredSize(other), otherRow->size) << "a record of another file gives no size";
    otherRow->self -= 1;
    otherRow->size += 1;
    EXPECT_EQ(restoredSize(other), otherRow->size) << "a record whose size does not fit gives no size";
}

}  // namespace
}  // namespace quorlan
