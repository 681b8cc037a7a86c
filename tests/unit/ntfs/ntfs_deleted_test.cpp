// NTFS named data streams (listed as "file:stream" behind their file, read like its data, kept
// by a recovery log) and deleted files whose clusters another file holds now, on a small volume
// laid out record by record.
#include "ntfs/ntfs_deleted.h"

#include <gtest/gtest.h>

#include <map>

#include "items/tables.h"
#include "log/recovery_log.h"
#include "ntfs/mft.h"
#include "ntfs/ntfs_file.h"
#include "ntfs/ntfs_search.h"
#include "search/folder_listing.h"
#include "search/search_driver.h"
#include "tests/support/disk_builder.h"
#include "tests/support/ntfs_builder.h"

namespace quorlan {
namespace {

using test::RecordBuilder;

constexpr std::uint64_t kStart = 100;  // volume start; one sector per cluster

std::vector<std::byte> bytesOf(std::string_view text) {
    std::vector<std::byte> out(text.size());
    std::memcpy(out.data(), text.data(), text.size());
    return out;
}

// Records 0-31 of the $MFT at clusters 20-83. Clusters 0-99 and 300-309 are in use:
//   0 $MFT, with a stream of its own that is not listed (the metadata files' streams are no
//     one's data); 5 "."; 6 $Bitmap;
//   16 photo.jpg, data in 300-303, the streams thumb (304-305) and meta (resident);
//   17 big.bin, resident data; its stream ADS (306-309) lies in extension record 18;
//   19 gone.dat, deleted, data in 500-501 and the stream ADS in 502: free clusters;
//   20 old.bin, deleted, data in 300-301 (photo.jpg's now) and the resident stream ADS;
//   21 twin1.dat and 22 twin2.dat, deleted, in 600-603 and 602-605: they share two clusters;
//   23 tiny.txt, deleted, resident; 24 reused.dat, deleted, whose slot now says record 99.
struct Volume {
    test::DiskBuilder disk{2000};
    NtfsVolumeParams params{kStart, 1, kStart + 20, 0, 2, 8};

    static std::uint64_t sectorOf(std::uint32_t n) { return kStart + 20 + 2 * n; }
    void record(std::uint32_t n, RecordBuilder r, std::uint32_t says = ~0u) {
        disk.put(sectorOf(n), r.self(says == ~0u ? n : says).protect());
    }
    static RecordBuilder file(const char16_t* name, std::uint16_t flags = 1) {
        RecordBuilder r(1024, flags);
        r.fileName(name, 5, 1, 133'000'000'000'000'000);
        return r;
    }
    Volume() {
        record(0, std::move(file(u"$MFT")
                                .nonResident(0x80, {0x11, 64, 20}, 32 * 1024)
                                .initializedSize(32 * 1024)
                                .resident(0x80, bytesOf("meta"), u"$Meta")));
        record(5, std::move(RecordBuilder(1024, 3).fileName(u".", 5, 3)));
        std::vector<std::byte> bitmap(250);
        for (int c = 0; c < 100; ++c) bitmap[static_cast<std::size_t>(c / 8)] |= std::byte{1} << (c % 8);
        for (int c = 300; c < 310; ++c) bitmap[static_cast<std::size_t>(c / 8)] |= std::byte{1} << (c % 8);
        record(6, std::move(file(u"$Bitmap").resident(0x80, bitmap)));
        record(16, std::move(file(u"photo.jpg")
                                 .nonResident(0x80, {0x21, 4, 0x2C, 0x01}, 2000)
                                 .initializedSize(2000)
                                 .nonResident(0x80, {0x21, 2, 0x30, 0x01}, 1000, u"thumb")
                                 .initializedSize(1000)
                                 .resident(0x80, bytesOf("Camera"), u"meta")));
        record(17, std::move(file(u"big.bin")
                                 .namedAttributeList({{0x30, 17, 0, u""}, {0x80, 17, 0, u""}, {0x80, 18, 0, u"ADS"}})
                                 .resident(0x80, bytesOf("big"))));
        RecordBuilder extension(1024, 1);
        extension.poke32(0x20, 17).nonResident(0x80, {0x21, 4, 0x32, 0x01}, 2000, u"ADS").initializedSize(2000);
        record(18, std::move(extension));
        record(19, std::move(file(u"gone.dat", 0)
                                 .nonResident(0x80, {0x21, 2, 0xF4, 0x01}, 1000)
                                 .initializedSize(1000)
                                 .nonResident(0x80, {0x21, 1, 0xF6, 0x01}, 300, u"ADS")
                                 .initializedSize(300)));
        record(20, std::move(file(u"old.bin", 0)
                                 .nonResident(0x80, {0x21, 2, 0x2C, 0x01}, 800)
                                 .initializedSize(800)
                                 .resident(0x80, bytesOf("old"), u"ADS")));
        record(21,
               std::move(file(u"twin1.dat", 0).nonResident(0x80, {0x21, 4, 0x58, 0x02}, 2000).initializedSize(2000)));
        record(22,
               std::move(file(u"twin2.dat", 0).nonResident(0x80, {0x21, 4, 0x5A, 0x02}, 2000).initializedSize(2000)));
        record(23, std::move(file(u"tiny.txt", 0).resident(0x80, bytesOf("tiny"))));
        record(24, std::move(file(u"reused.dat", 0).nonResident(0x80, {0x21, 1, 0x00, 0x03}, 100).initializedSize(100)),
               99);
    }
};

struct Searched {
    Volume v;
    std::unique_ptr<SectorReader> reader = std::make_unique<SectorReader>(v.disk.source());
    RecoveryState state;

    Searched() {
        NullObserver quiet;
        SearchRequest request;
        request.type = FileSystemType::Ntfs;
        request.rangeStart = kStart;
        request.rangeEnd = 1900;
        request.ntfs = v.params;
        EXPECT_EQ(RunSearch(request, *reader, state, RunContext{quiet, {}}).outcome, SearchOutcome::Finished);
    }
    std::vector<ListedRow> root() {
        return ListFolderRows(state, *reader, state.model.tree.root(), FolderListing::Select);
    }
};

struct Row {
    std::string name;
    std::uint64_t size;
    std::string stream;
    bool deleted;
    bool marked;
    const char* why;  // part of the reason, or "" when unmarked
    bool operator==(const Row& o) const {
        return name == o.name && size == o.size && stream == o.stream && deleted == o.deleted && marked == o.marked;
    }
};
std::ostream& operator<<(std::ostream& os, const Row& r) {
    return os << r.name << " " << r.size << " [" << r.stream << "]" << (r.deleted ? " deleted" : "")
              << (r.marked ? " marked" : "");
}

const std::vector<Row> kRoot = {
    {"$MFT", 32 * 1024, "", false, false, ""},
    {"$Bitmap", 250, "", false, false, ""},
    {"photo.jpg", 2000, "", false, false, ""},
    {"photo.jpg:thumb", 1000, "thumb", false, false, ""},
    {"photo.jpg:meta", 6, "meta", false, false, ""},
    {"big.bin", 3, "", false, false, ""},
    {"big.bin:ADS", 2000, "ADS", false, false, ""},
    {"gone.dat", 1000, "", true, false, ""},
    {"gone.dat:ADS", 300, "ADS", true, false, ""},
    {"old.bin", 800, "", true, true, "now used by another file"},
    {"old.bin:ADS", 3, "ADS", true, false, ""},
    {"twin1.dat", 2000, "", true, true, "another deleted file's runs share"},
    {"twin2.dat", 2000, "", true, true, "another deleted file's runs share"},
    {"tiny.txt", 4, "", true, false, ""},
    {"reused.dat", 100, "", true, true, "now holds record 99"},
};

std::vector<Row> rowsOf(const std::vector<ListedRow>& listed) {
    std::vector<Row> out;
    for (const ListedRow& r : listed) {
        if (!r.isFolder) out.push_back({r.name, r.size, r.stream, r.deleted, r.mayBeIncomplete, ""});
    }
    return out;
}

TEST(NtfsStreams, ListedBehindTheirFileAndMarkedWhereAnotherFileHoldsTheirClusters) {
    Searched s;
    const std::vector<ListedRow> listed = s.root();
    EXPECT_EQ(rowsOf(listed), kRoot);
    for (const ListedRow& r : listed) {
        for (const Row& want : kRoot) {
            if (want.name == r.name) {
                EXPECT_NE(r.mayBeIncompleteWhy.find(want.why), std::string::npos)
                    << r.name << ": " << r.mayBeIncompleteWhy;
            }
        }
    }
}

TEST(NtfsStreams, ReadLikeTheFilesData) {
    Volume v;
    SectorReader reader(v.disk.source());
    const RunList mft = BuildMftRunList(reader, v.params);
    auto layout = [&](std::uint32_t n, std::string_view stream) {
        return NtfsFileLayout(reader, v.params, mft, Volume::sectorOf(n), n, false, stream);
    };
    const FileLayout thumb = layout(16, "thumb");
    ASSERT_FALSE(thumb.failed) << thumb.problem;
    ASSERT_EQ(thumb.extents.size(), 1u);
    EXPECT_EQ(thumb.extents[0].sector, kStart + 304);
    EXPECT_EQ(thumb.extents[0].length, 1000u);
    const FileLayout meta = layout(16, "meta");
    ASSERT_EQ(meta.extents.size(), 1u);
    EXPECT_EQ(meta.extents[0].bytes, bytesOf("Camera"));
    const FileLayout data = layout(16, "");
    ASSERT_EQ(data.extents.size(), 1u);
    EXPECT_EQ(data.extents[0].sector, kStart + 300) << "the file's own data, not a stream";
    const FileLayout extended = layout(17, "ADS");
    ASSERT_FALSE(extended.failed) << extended.problem;
    ASSERT_EQ(extended.extents.size(), 1u);
    EXPECT_EQ(extended.extents[0].sector, kStart + 306) << "from the extension record the attribute list names";
    EXPECT_EQ(extended.size, 2000u);
    const FileLayout gone = layout(17, "nope");
    EXPECT_TRUE(gone.failed);
    EXPECT_NE(gone.problem.find("no longer holds the stream nope"), std::string::npos) << gone.problem;
}

TEST(NtfsStreams, ARecoveryLogKeepsThemAndTheMarksComeBack) {
    Searched s;
    const std::vector<ListedRow> before = s.root();
    auto log = CaptureRecoveryLog(s.state, "disk");
    ASSERT_TRUE(log.ok());
    auto decoded = DecodeRecoveryLog(EncodeRecoveryLog(*log), "disk");
    ASSERT_TRUE(decoded.ok());
    RecoveryState loaded;
    NullObserver quiet;
    RestoreRecoveryLog(*decoded, loaded, *s.reader, quiet);
    EXPECT_EQ(rowsOf(ListFolderRows(loaded, *s.reader, loaded.model.tree.root(), FolderListing::Select)),
              rowsOf(before));
}

TEST(NtfsDeleted, WithoutABitmapEveryDeletedFileWithRunsIsMarked) {
    Volume v;
    v.disk.put(Volume::sectorOf(6), std::vector<std::byte>(1024));
    SectorReader reader(v.disk.source());
    const RunList mft = BuildMftRunList(reader, v.params);
    const std::vector<NtfsDeletedData> items = {{Volume::sectorOf(19), 19, ""},
                                                {Volume::sectorOf(19), 19, "ADS"},
                                                {Volume::sectorOf(23), 23, ""},
                                                {Volume::sectorOf(20), 20, "ADS"},
                                                {Volume::sectorOf(3), 3, ""}};
    const std::vector<NtfsDeletedTrust> trust = WeighNtfsDeleted(reader, v.params, mft, items);
    ASSERT_EQ(trust.size(), items.size());
    EXPECT_TRUE(trust[0].mayBeIncomplete);
    EXPECT_NE(trust[0].why.find("$Bitmap cannot be read"), std::string::npos) << trust[0].why;
    EXPECT_TRUE(trust[1].mayBeIncomplete);
    EXPECT_FALSE(trust[2].mayBeIncomplete) << "resident data lies in its record";
    EXPECT_FALSE(trust[3].mayBeIncomplete) << "a resident stream lies in its record";
    EXPECT_TRUE(trust[4].mayBeIncomplete) << "no record at all";
}

TEST(NtfsStreamRows, NamesAndTheRowsALogGivesBack) {
    EXPECT_EQ(NtfsStreamRowName("a.txt", "Zone.Identifier"), "a.txt:Zone.Identifier");
    const struct {
        const char* file;
        const char* row;
        const char* stream;
    } names[] = {
        {"a.txt", "a.txt:s", "s"}, {"a:b", "a:b:c", "c"},    {"a", "a:b:c", "b:c"},     {"a.txt", "a.txt", ""},
        {"a.txt", "a.txt:", ""},   {"a.txt", "b.txt:s", ""}, {"a.txt", "a.txtx:s", ""},
    };
    for (const auto& n : names) EXPECT_EQ(NtfsStreamName(n.file, n.row), n.stream) << n.row;

    RecordTable table = MakeNtfsEntryTable();
    const struct {
        const char* name;
        std::uint32_t self;
        const char* type;  // after marking
    } rows[] = {
        {"a.txt", 40, "FILE"}, {"a.txt:s", 40, "STREAM"}, {"a.txt:t", 40, "STREAM"},
        {"b.txt", 41, "FILE"}, {"a.txt:s", 41, "FILE"},  // another record: no stream of a.txt
        {"c", 42, "FILE"},     {"c", 42, "FILE"},        // the same record again, no colon: no stream
    };
    for (const auto& r : rows) {
        const int i = table.AppendRow(r.name);
        table.SetNumber(i, "self", r.self);
        table.SetCell(i, "Type", "FILE");
    }
    MarkNtfsStreamRows(table);
    for (int i = 0; i < table.RowCount(); ++i) EXPECT_EQ(table.GetCell(i, "Type"), rows[i].type) << i;
}

}  // namespace
}  // namespace quorlan
