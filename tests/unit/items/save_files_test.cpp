// Writing recovered items: safe names, folders, collisions, Stop and Skip, holes and bad sectors.
#include "items/save_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "tests/support/temp_dir.h"

namespace quorlan {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

using test::readText;
using test::writeText;

// A medium of 64 sectors; sector s is filled with the byte 'A' + s % 26.
std::unique_ptr<SectorReader> letterDisk(std::set<std::uint64_t> bad = {}) {
    std::vector<std::byte> bytes(64 * kSectorSize);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::byte>('A' + (i / kSectorSize) % 26);
    std::unique_ptr<SectorSource> source = std::make_unique<MemorySectorSource>(std::move(bytes));
    if (!bad.empty()) source = std::make_unique<FaultySectorSource>(std::move(source), std::move(bad));
    return std::make_unique<SectorReader>(std::move(source));
}

SaveItem file(std::vector<SaveFolder> folders, std::string name, std::uint64_t size, std::size_t source = 0) {
    SaveItem item;
    item.folders = std::move(folders);
    item.name = std::move(name);
    item.size = size;
    item.source = source;
    return item;
}

// Each file's bytes: `size` bytes from sector 1 on.
FileLayout fromSectorOne(const SaveItem& item) {
    FileLayout layout;
    layout.size = item.size;
    Extent e;
    e.kind = Extent::Kind::Sectors;
    e.sector = 1;
    e.length = item.size;
    layout.extents.push_back(e);
    return layout;
}

class ScriptedObserver : public SaveObserver {
public:
    void beginPhase(std::string_view, std::uint64_t) override {}
    void setDone(std::uint64_t) override {}
    void status(std::string_view) override {}
    void counter(Counter, std::uint64_t) override {}
    CollisionDecision askCollision(std::string_view existing, std::string_view proposed) override {
        asked.emplace_back(std::string(existing) + " -> " + std::string(proposed));
        return answer;
    }
    void fileProgress(std::uint64_t done, std::uint64_t) override {
        if (onProgress) onProgress(done);
    }
    CollisionDecision answer;
    std::vector<std::string> asked;
    std::function<void(std::uint64_t)> onProgress;
};

TEST(SafeFileName, NamesFromTheMediumBecomeOneHarmlessComponent) {
    const struct {
        std::string raw;
        std::string safe;
    } cases[] = {
        {"photo.jpg", "photo.jpg"},
        {"../../etc/passwd", ".._.._etc_passwd"},
        {"..\\evil.txt", ".._evil.txt"},
        {"..", "__"},
        {".", "_"},
        {"", "_"},
        {"line\nbreak\x01.txt", "line_break_.txt"},
        {"del\x7f", "del_"},
        {"Zürich 日本.txt", "Zürich 日本.txt"},
    };
    for (const auto& c : cases) EXPECT_EQ(SafeFileName(c.raw), c.safe) << c.raw;

    const std::string longName = std::string(300, 'a') + ".jpeg";
    const std::string cut = SafeFileName(longName);
    EXPECT_EQ(cut.size(), 255u);
    EXPECT_TRUE(cut.ends_with(".jpeg"));
    // A cut never splits a UTF-8 character.
    std::string accents;
    for (int i = 0; i < 200; ++i) accents += "é";
    const std::string cutAccents = SafeFileName(accents);
    EXPECT_LE(cutAccents.size(), 255u);
    EXPECT_EQ(cutAccents.size() % 2, 0u);
}

TEST(SafeFileName, NumberedNamesKeepTheExtension) {
    EXPECT_EQ(NumberedName("a.txt", 2), "a (2).txt");
    EXPECT_EQ(NumberedName("README", 3), "README (3)");
    EXPECT_EQ(NumberedName(".profile", 2), ".profile (2)");
    EXPECT_LE(NumberedName(std::string(255, 'x') + ".doc", 12).size(), 255u);
    // An extension that leaves no room for the number still gives a name of at most 255 bytes.
    const std::string longExtension = NumberedName("a." + std::string(253, 'e'), 7);
    EXPECT_LE(longExtension.size(), 255u);
    EXPECT_TRUE(longExtension.ends_with(" (7)")) << longExtension;
}

TEST(WriteSaveItems, WritesTheFolderTreeWithSafeNamesAndTimes) {
    TempDir dir;
    const fs::path dest = dir / "sandbox" / "dest";
    auto reader = letterDisk();
    std::vector<SaveItem> items;
    SaveItem folder;
    folder.isFolder = true;
    folder.folders = {{"..", 7}};
    folder.modified = 1700000000;
    items.push_back(folder);
    items.push_back(file({{"..", 7}}, "../../escape.txt", 700));
    items.push_back(file({{"..", 7}, {"sub/dir", 8}}, "a.txt", 10));
    items.push_back(file({}, "root.txt", 3));
    items.back().modified = 1600000000;
    items.back().mayBeIncomplete = true;  // a deleted file the evidence cannot vouch for: listed as written
    items.back().mayBeIncompleteWhy = "its clusters run into a live file's";
    // A second folder of the same name under the same parent is kept apart.
    items.push_back(file({{"..", 9}}, "b.txt", 1));
    ScriptedObserver observer;
    SaveControl control;
    const SaveSummary s = WriteSaveItems(items, dest, *reader, fromSectorOne, observer, control);

    EXPECT_EQ(s.outcome, SaveOutcome::Finished);
    EXPECT_EQ(s.filesWritten, 4u);
    EXPECT_EQ(s.foldersCreated, 3u);
    EXPECT_EQ(s.bytesWritten, 714u);
    EXPECT_EQ(readText(dest / "__" / ".._.._escape.txt"), std::string(512, 'B') + std::string(188, 'C'));
    EXPECT_EQ(readText(dest / "__" / "sub_dir" / "a.txt"), std::string(10, 'B'));
    EXPECT_EQ(readText(dest / "__ (2)" / "b.txt"), "B");
    EXPECT_EQ(readText(dest / "root.txt"), "BBB");
    struct stat st {};
    ASSERT_EQ(::stat((dest / "root.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1600000000);
    ASSERT_EQ(::stat((dest / "__").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1700000000);  // set after its files were written
    // Nothing beside the destination.
    std::vector<fs::path> outside;
    for (const auto& e : fs::directory_iterator(dir / "sandbox")) outside.push_back(e.path());
    EXPECT_EQ(outside, std::vector<fs::path>{dest});
    EXPECT_FALSE(s.renamed.empty());
    ASSERT_EQ(s.mayBeIncomplete.size(), 1u);
    EXPECT_EQ(s.mayBeIncomplete[0].path, "root.txt");
    EXPECT_EQ(s.mayBeIncomplete[0].reason, "its clusters run into a live file's");
}

TEST(WriteSaveItems, NeverWritesThroughALinkInTheDestination) {
    TempDir dir;
    const fs::path dest = dir / "dest";
    fs::create_directories(dest);
    fs::create_directories(dir / "elsewhere");
    fs::create_directory_symlink(dir / "elsewhere", dest / "Photos");
    fs::create_symlink(dir / "elsewhere" / "target.txt", dest / "note.txt");
    auto reader = letterDisk();
    ScriptedObserver observer;
    observer.answer = {CollisionAnswer::Overwrite, "", true};
    SaveControl control;
    const SaveSummary s = WriteSaveItems({file({{"Photos", 1}}, "x.jpg", 5), file({}, "note.txt", 5)}, dest, *reader,
                                         fromSectorOne, observer, control);
    EXPECT_EQ(s.filesWritten, 2u);
    EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
    EXPECT_EQ(readText(dest / "Photos (2)" / "x.jpg"), "BBBBB");
    EXPECT_TRUE(fs::is_symlink(dest / "note.txt"));  // a link is never replaced, even on Overwrite
    EXPECT_EQ(readText(dest / "note (2).txt"), "BBBBB");
}

TEST(WriteSaveItems, CollisionAnswers) {
    const struct {
        const char* what;
        CollisionDecision answer;
        std::string existingAfter;
        std::vector<std::string> names;  // files in the destination afterwards
        SaveOutcome outcome;
        std::uint64_t written;
        std::uint64_t skipped;
        std::size_t asked;
    } cases[] = {
        {"overwrite", {CollisionAnswer::Overwrite, "", false}, "BB", {"a.txt", "b.txt"}, SaveOutcome::Finished, 2, 0, 2},
        {"rename to proposed", {CollisionAnswer::Rename, "", true}, "old", {"a (2).txt", "a.txt", "b (2).txt", "b.txt"}, SaveOutcome::Finished, 2, 0, 1},
        {"rename to typed", {CollisionAnswer::Rename, "typed/../x.txt", false}, "old", {"a.txt", "b.txt", "typed_.._x (2).txt", "typed_.._x.txt"}, SaveOutcome::Finished, 2, 0, 2},
        {"skip all", {CollisionAnswer::Skip, "", true}, "old", {"a.txt", "b.txt"}, SaveOutcome::Finished, 0, 2, 1},
        {"cancel", {CollisionAnswer::Cancel, "", false}, "old", {"a.txt", "b.txt"}, SaveOutcome::Cancelled, 0, 0, 1},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const fs::path dest = dir / "dest";
        fs::create_directories(dest);
        writeText(dest / "a.txt", "old");
        writeText(dest / "b.txt", "old");
        auto reader = letterDisk();
        ScriptedObserver observer;
        observer.answer = c.answer;
        SaveControl control;
        const SaveSummary s =
            WriteSaveItems({file({}, "a.txt", 2), file({}, "b.txt", 2)}, dest, *reader, fromSectorOne, observer, control);
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dest)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, c.names) << c.what;
        EXPECT_EQ(readText(dest / "a.txt"), c.existingAfter) << c.what;
        EXPECT_EQ(s.outcome, c.outcome) << c.what;
        EXPECT_EQ(s.filesWritten, c.written) << c.what;
        EXPECT_EQ(s.skipped, c.skipped) << c.what;
        EXPECT_EQ(observer.asked.size(), c.asked) << c.what;
    }
}

TEST(WriteSaveItems, TwoRecoveredFilesOfOneNameAreBothKeptWithoutAsking) {
    TempDir dir;
    auto reader = letterDisk();
    ScriptedObserver observer;
    SaveControl control;
    const SaveSummary s = WriteSaveItems({file({}, "Same.TXT", 1), file({}, "same.txt", 2)}, dir / "d", *reader,
                                         fromSectorOne, observer, control);
    EXPECT_EQ(s.filesWritten, 2u);
    EXPECT_TRUE(observer.asked.empty());
    EXPECT_EQ(readText(dir / "d" / "Same.TXT"), "B");
    EXPECT_EQ(readText(dir / "d" / "same (2).txt"), "BB");
}

TEST(WriteSaveItems, StopAndSkipLeaveNoPartialFile) {
    for (const bool skip : {true, false}) {
        TempDir dir;
        auto reader = letterDisk();
        ScriptedObserver observer;
        SaveControl control;
        std::stop_source stopper;
        control.stop = stopper.get_token();
        // The big file is written in 1 MiB chunks; the request comes after the first.
        std::vector<std::byte> big(3u << 20);
        std::unique_ptr<SectorSource> source = std::make_unique<MemorySectorSource>(big);
        SectorReader bigReader(std::move(source));
        bool fired = false;
        observer.onProgress = [&](std::uint64_t done) {
            if (!fired && done > 0 && done < (3u << 20)) {
                fired = true;
                if (skip) control.skip.store(true);
                else stopper.request_stop();
            }
        };
        const std::function<FileLayout(const SaveItem&)> layout = [](const SaveItem& item) {
            FileLayout l;
            l.size = item.size;
            Extent e;
            e.kind = Extent::Kind::Sectors;
            e.length = item.size;
            l.extents.push_back(e);
            return l;
        };
        const SaveSummary s = WriteSaveItems({file({}, "big.bin", 3u << 20), file({}, "small.bin", 4)}, dir / "d",
                                             bigReader, layout, observer, control);
        EXPECT_FALSE(fs::exists(dir / "d" / "big.bin"));
        if (skip) {
            EXPECT_EQ(s.outcome, SaveOutcome::Finished);
            EXPECT_EQ(s.skipped, 1u);
            EXPECT_TRUE(fs::exists(dir / "d" / "small.bin"));
        } else {
            EXPECT_EQ(s.outcome, SaveOutcome::Stopped);
            EXPECT_FALSE(fs::exists(dir / "d" / "small.bin"));
        }
    }
}

TEST(WriteSaveItems, HolesUnreadableSectorsAndShortLayouts) {
    TempDir dir;
    auto reader = letterDisk({3});
    ScriptedObserver observer;
    SaveControl control;
    const std::function<FileLayout(const SaveItem&)> layout = [](const SaveItem& item) {
        FileLayout l;
        l.size = item.size;
        if (item.source == 1) {
            // 1 MiB of hole, then sectors 2..4 (sector 3 cannot be read), then resident bytes.
            Extent hole;
            hole.length = 1u << 20;
            Extent data;
            data.kind = Extent::Kind::Sectors;
            data.sector = 2;
            data.length = 3 * kSectorSize;
            Extent bytes;
            bytes.kind = Extent::Kind::Bytes;
            bytes.bytes = {std::byte{'x'}, std::byte{'y'}};
            bytes.length = 2;
            l.extents = {hole, data, bytes};
        } else if (item.source == 2) {
            l.failed = true;
            l.problem = "the file's record cannot be read";
        } else {
            Extent data;
            data.kind = Extent::Kind::Sectors;
            data.sector = 0;
            data.length = 10;
            l.extents = {data};  // 10 of 20 bytes located
        }
        return l;
    };
    const SaveSummary s = WriteSaveItems({file({}, "holes.bin", (1u << 20) + 3 * kSectorSize + 2, 1),
                                          file({}, "gone.bin", 5, 2), file({}, "short.bin", 20, 3)},
                                         dir / "d", *reader, layout, observer, control);
    const std::string holes = readText(dir / "d" / "holes.bin");
    ASSERT_EQ(holes.size(), (1u << 20) + 3 * kSectorSize + 2);
    EXPECT_EQ(holes.substr(0, 1u << 20), std::string(1u << 20, '\0'));
    EXPECT_EQ(holes.substr(1u << 20, 512), std::string(512, 'C'));
    EXPECT_EQ(holes.substr((1u << 20) + 512, 512), std::string(512, '\0'));  // the unreadable sector
    EXPECT_EQ(holes.substr((1u << 20) + 1024, 512), std::string(512, 'E'));
    EXPECT_EQ(holes.substr((1u << 20) + 1536), "xy");
    struct stat st {};
    ASSERT_EQ(::stat((dir / "d" / "holes.bin").c_str(), &st), 0);
    EXPECT_LT(static_cast<std::uint64_t>(st.st_blocks) * 512, 1u << 20);  // the hole takes no space

    EXPECT_FALSE(fs::exists(dir / "d" / "gone.bin"));
    ASSERT_EQ(s.failed.size(), 1u);
    EXPECT_EQ(s.failed[0].path, "gone.bin");
    EXPECT_EQ(readText(dir / "d" / "short.bin"), std::string(10, 'A'));
    ASSERT_EQ(s.incomplete.size(), 2u);
    EXPECT_NE(s.incomplete[0].reason.find("1 unreadable sector"), std::string::npos) << s.incomplete[0].reason;
    EXPECT_NE(s.incomplete[1].reason.find("only 10 of 20 bytes"), std::string::npos) << s.incomplete[1].reason;
}

TEST(SaveTimes, FatAndNtfsStampsBecomeUnixTimes) {
    // 2024-05-06 12:30:14 UTC as an NTFS time.
    EXPECT_EQ(NtfsTimeToUnix(133594722140000000), 1714998614);
    EXPECT_FALSE(NtfsTimeToUnix(0));
    EXPECT_FALSE(FatTimeToUnix(0, 0));  // no date
    setenv("TZ", "UTC", 1);
    tzset();
    // 2024-05-06 (year 44, month 5, day 6) 12:30:14 (seconds kept in 2-second units).
    EXPECT_EQ(FatTimeToUnix(static_cast<std::uint16_t>((44 << 9) | (5 << 5) | 6),
                            static_cast<std::uint16_t>((12 << 11) | (30 << 5) | 7)),
              1714998614);
}

}  // namespace
}  // namespace quorlan
