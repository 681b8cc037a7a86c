// The NTFS Standard Search on a small volume laid out record by record.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "ntfs/mft.h"
#include "items/file_types.h"
#include "search/search_driver.h"
#include "search/folder_listing.h"
#include "tests/support/disk_builder.h"
#include "tests/support/ntfs_builder.h"

namespace quorlan {
namespace {

using test::RecordBuilder;

constexpr std::uint64_t kStart = 100;  // volume start; one sector per cluster
constexpr std::int64_t kStamp = 133'000'000'000'000'000;

// A $MFT in two runs: records 0-7 at clusters 20-35, records 8-15 at clusters 200-215.
//   0 $MFT, 5 ".", 3 a slot of zeros, 8 Photos/, 9 Photos/a.jpg (its $DATA in extension 10),
//   11 a deleted file whose parent (12) is a file, 13 a deleted folder Old/ with 14 inside,
//   15 a folder that names itself as parent.
struct Volume {
    test::DiskBuilder disk{2000};
    NtfsVolumeParams params{kStart, 1, kStart + 20, 0, 2, 8};

    void record(std::uint32_t n, RecordBuilder r) {
        const std::uint64_t sector = n < 8 ? kStart + 20 + 2 * n : kStart + 200 + 2 * (n - 8);
        disk.put(sector, r.self(n).protect());
    }
    Volume() {
        record(0, std::move(RecordBuilder(1024, 1).fileName(u"$MFT", 5, 3, kStamp)
                                .nonResident(0x80, {0x11, 16, 20, 0x21, 16, 0xB4, 0x00}, 16 * 1024)));
        record(5, std::move(RecordBuilder(1024, 3).fileName(u".", 5, 3, kStamp)));
        record(8, std::move(RecordBuilder(1024, 3).fileName(u"Photos", 5, 1, kStamp)));
        record(9, std::move(RecordBuilder(1024, 1).fileName(u"a.jpg", 8, 1, kStamp).attributeList({{0x30, 9}, {0x80, 10}})));
        // An extension record of 9: it carries a copy of the name but is no file of its own.
        record(10, std::move(RecordBuilder(1024, 1).poke32(0x20, 9).fileName(u"a.jpg", 8, 1, kStamp)
                                 .nonResident(0x80, {0x21, 0x40, 0x00, 0x04}, 123456)));
        record(11, std::move(RecordBuilder(1024, 0).fileName(u"lost.txt", 12, 1, kStamp).resident(0x80, {std::byte{1}})));
        record(12, std::move(RecordBuilder(1024, 1).fileName(u"not-a-folder.bin", 5, 1, kStamp)));
        record(13, std::move(RecordBuilder(1024, 2).fileName(u"Old", 5, 1, kStamp)));
        record(14, std::move(RecordBuilder(1024, 1).fileName(u"letter.doc", 13, 1, kStamp)));
        record(15, std::move(RecordBuilder(1024, 3).fileName(u"Loop", 15, 1, kStamp)));
    }
};

TEST(BuildMftRunList, RunsOfRecordZeroAndRecordNumbers) {
    Volume v;
    SectorReader reader(v.disk.source());
    const RunList runs = BuildMftRunList(reader, v.params);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].start, kStart + 20);
    EXPECT_EQ(runs[1].start, kStart + 200);
    EXPECT_EQ(MftRecordToSector(runs, 9, 2), kStart + 202) << "the second run numbers on from the first";
    // Record 0 damaged: the mirror's copy is used.
    v.disk.put(kStart + 20, std::vector<std::byte>(1024));
    NtfsVolumeParams withMirror = v.params;
    withMirror.mirrorSector = kStart + 600;
    v.disk.put(kStart + 600, RecordBuilder(1024, 1).fileName(u"$MFT", 5, 3)
                                 .nonResident(0x80, {0x11, 16, 20, 0x21, 16, 0xB4, 0x00}, 16 * 1024)
                                 .protect());
    SectorReader again(v.disk.source());
    EXPECT_TRUE(BuildMftRunList(again, v.params).empty());
    EXPECT_EQ(BuildMftRunList(again, withMirror).size(), 2u);
}

TEST(NtfsStandardSearch, WalksTheMftAndBuildsTheTree) {
    Volume v;
    SectorReader reader(v.disk.source());
    RecoveryState state;
    NullObserver quiet;
    SearchRequest request;
    request.type = FileSystemType::Ntfs;
    request.rangeStart = kStart;
    request.rangeEnd = 1900;
    request.ntfs = v.params;
    const SearchResult result = RunSearch(request, reader, state, RunContext{quiet, {}});
    EXPECT_EQ(result.outcome, SearchOutcome::Finished);
    EXPECT_FALSE(result.nothingFound);
    EXPECT_EQ(result.fileCount, 5u);

    std::set<std::string> folders;
    for (const FolderNode& n : state.model.nodes) {
        folders.insert(ResultTree::GetItemPath(n.item, "/") + (n.deleted ? " (deleted)" : ""));
    }
    // "." is the root item itself; the folder that is its own parent goes under the misc folder.
    EXPECT_EQ(folders, (std::set<std::string>{"Photos", "Old (deleted)", "QLN_Miscellaneous", "QLN_Miscellaneous/Loop"}));

    std::map<std::string, const ListedRow*> files;
    std::vector<std::vector<ListedRow>> keep;
    std::vector<TreeItem*> pending{state.model.tree.root()};
    std::map<const ListedRow*, std::string> folderOf;
    while (!pending.empty()) {
        TreeItem* item = pending.back();
        pending.pop_back();
        keep.push_back(ListFolder(state, reader, item, FolderListing::Select));
        for (const ListedRow& row : keep.back()) {
            if (row.isFolder) continue;
            const std::string folder = ResultTree::GetItemPath(item, "/");
            files[(folder.empty() ? "" : folder + "/") + row.name] = &row;
        }
        for (auto& child : item->children) pending.push_back(child.get());
    }
    ASSERT_TRUE(files.contains("Photos/a.jpg"));
    EXPECT_EQ(files["Photos/a.jpg"]->size, 123456u) << "the size from the extension record";
    EXPECT_EQ(files["Photos/a.jpg"]->type, "Image File");
    EXPECT_EQ(files["Photos/a.jpg"]->self, 9u);
    ASSERT_TRUE(files.contains("QLN_Miscellaneous/lost.txt")) << "its parent record is a file";
    EXPECT_TRUE(files["QLN_Miscellaneous/lost.txt"]->deleted);
    ASSERT_TRUE(files.contains("Old/letter.doc"));
    EXPECT_TRUE(files["Old/letter.doc"]->deleted) << "in a deleted folder";
    EXPECT_TRUE(files.contains("$MFT"));
    EXPECT_TRUE(files.contains("not-a-folder.bin"));
    EXPECT_EQ(files["$MFT"]->date, NtfsDateText(kStamp));
    EXPECT_EQ(files.size(), 5u);
}

TEST(NtfsStandardSearch, WithoutAValidBootSectorNothingIsFound) {
    test::DiskBuilder disk(2000);
    SectorReader reader(disk.source());
    RecoveryState state;
    NullObserver observer;
    SearchRequest request;
    request.type = FileSystemType::Ntfs;
    request.rangeStart = kStart;
    request.rangeEnd = 1900;
    const SearchResult result = RunSearch(request, reader, state, RunContext{observer, {}});
    EXPECT_TRUE(result.nothingFound) << "the front end explains that the Advance Search is the way on";
    EXPECT_EQ(result.fileCount, 0u);
}

}  // namespace
}  // namespace quorlan
