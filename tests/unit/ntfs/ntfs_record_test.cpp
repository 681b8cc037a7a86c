#include "ntfs/ntfs_record.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "items/tables.h"
#include "ntfs/mft.h"
#include "ntfs/ntfs_boot_sector.h"
#include "tests/support/disk_builder.h"
#include "tests/support/ntfs_builder.h"

namespace quorlan {
namespace {

using test::RecordBuilder;

std::vector<std::byte> toBytes(const std::vector<std::uint8_t>& v) {
    std::vector<std::byte> out;
    for (auto b : v) out.push_back(std::byte{b});
    return out;
}

TEST(ApplyFixup, RestoresTheTailOfEverySector) {
    for (const std::size_t size : {std::size_t{1024}, std::size_t{4096}}) {
        RecordBuilder builder(size);
        builder.fileName(u"x", 5, 1);
        std::vector<std::byte> want = builder.bytes();
        // Distinct bytes in every sector tail, so that a tail left unrepaired shows.
        for (std::size_t s = 0; s < size / 512; ++s) {
            want[510 + 512 * s] = std::byte{static_cast<std::uint8_t>(0xA0 + s)};
            want[511 + 512 * s] = std::byte{static_cast<std::uint8_t>(0xB0 + s)};
        }
        RecordBuilder again(size);
        std::vector<std::byte> disk = want;
        // Protect by hand: the update sequence number 7 replaces each tail, the tail is saved.
        disk[0x30] = std::byte{7};
        disk[0x31] = std::byte{0};
        for (std::size_t s = 0; s < size / 512; ++s) {
            disk[0x32 + 2 * s] = want[510 + 512 * s];
            disk[0x33 + 2 * s] = want[511 + 512 * s];
            disk[510 + 512 * s] = std::byte{7};
            disk[511 + 512 * s] = std::byte{0};
        }
        want[0x30] = std::byte{7};
        for (std::size_t s = 0; s < size / 512; ++s) {
            want[0x32 + 2 * s] = disk[0x32 + 2 * s];
            want[0x33 + 2 * s] = disk[0x33 + 2 * s];
        }
        ApplyFixup(disk);
        EXPECT_EQ(disk, want) << size << "-byte record: every sector's tail is repaired";
    }
    // An array outside the buffer, or without entries, leaves it as read.
    for (const std::uint16_t offset : {std::uint16_t{1020}, std::uint16_t{0xFFFF}}) {
        std::vector<std::byte> record = RecordBuilder().bytes();
        record[0x04] = std::byte{static_cast<std::uint8_t>(offset)};
        record[0x05] = std::byte{static_cast<std::uint8_t>(offset >> 8)};
        const auto before = record;
        ApplyFixup(record);
        EXPECT_EQ(record, before) << offset;
    }
    // A buffer of 8 bytes: the array its header names (at 0x30, 3 entries) lies past its end.
    std::vector<std::byte> tiny(8);
    tiny[0x04] = std::byte{0x30};
    tiny[0x06] = std::byte{3};
    const auto tinyBefore = tiny;
    ApplyFixup(tiny);
    EXPECT_EQ(tiny, tinyBefore);
}

TEST(ApplyFixup, ABufferTooShortForATailIsLeftAsItWas) {
    // The array fits in the 8 bytes; the tails it would repair do not. The buffer is the first 8
    // bytes of a record, so a write past them would show in the rest.
    std::vector<std::byte> record = RecordBuilder().protect();
    record.at(0x04) = std::byte{0};  // the array at offset 0,
    record.at(0x05) = std::byte{0};
    record.at(0x06) = std::byte{3};  // with the number and two saved tails: 6 bytes
    record.at(0x07) = std::byte{0};
    const auto before = record;
    ApplyFixup(std::span(record).first(8));
    EXPECT_EQ(record, before);
}

TEST(DecodeRuns, ExamplesAndDamage) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        RunList runs;  // volume start 1000, 4 sectors per cluster
        std::optional<std::int64_t> last;  // the cluster of the last run with an offset
    };
    const Case cases[] = {
        {"16 clusters at cluster 256", {0x21, 0x10, 0x00, 0x01}, {{1000 + 256 * 4, 64, false}}, 256},
        {"a negative offset goes back", {0x21, 0x10, 0x00, 0x01, 0x11, 0x04, 0xFF},
         {{1000 + 256 * 4, 64, false}, {1000 + 255 * 4, 16, false}}, 255},
        {"a sparse run keeps the position", {0x21, 0x10, 0x00, 0x01, 0x01, 0x08, 0x11, 0x04, 0x10},
         {{1000 + 256 * 4, 64, false}, {0, 32, true}, {1000 + 272 * 4, 16, false}}, 272},
        {"a sparse run last", {0x21, 0x10, 0x00, 0x01, 0x01, 0x08}, {{1000 + 256 * 4, 64, false}, {0, 32, true}}, 256},
        {"only a sparse run", {0x01, 0x08}, {{0, 32, true}}, std::nullopt},
        {"8-byte fields", {0x88, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0},
         {{1000 + (1ull << 32) * 4, (1ull << 32) * 4, false}}, std::int64_t{1} << 32},
        {"a length field of 9 bytes ends the list", {0x21, 0x10, 0x00, 0x01, 0x19, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
         {{1000 + 256 * 4, 64, false}}, 256},
        {"a field past the end ends the list", {0x21, 0x10, 0x00, 0x01, 0x44, 0x01}, {{1000 + 256 * 4, 64, false}},
         256},
        {"a run before the volume start ends the list", {0x11, 0x01, 0xF0}, {}, std::nullopt},
        {"a zero length ends the list", {0x11, 0x00, 0x05}, {}, std::nullopt},
        {"nothing", {0x00, 0x21, 0x10, 0x00, 0x01}, {}, std::nullopt},
    };
    for (const Case& c : cases) {
        const auto bytes = toBytes(c.bytes);
        RunList runs;
        EXPECT_EQ(DecodeRuns(ByteView(bytes), 0, bytes.size(), 1000, 4, runs), c.last) << c.what;
        ASSERT_EQ(runs.size(), c.runs.size()) << c.what;
        for (std::size_t i = 0; i < runs.size(); ++i) {
            EXPECT_EQ(runs[i].sparse, c.runs[i].sparse) << c.what << " run " << i;
            EXPECT_EQ(runs[i].length, c.runs[i].length) << c.what << " run " << i;
            if (!runs[i].sparse) {
                EXPECT_EQ(runs[i].start, c.runs[i].start) << c.what << " run " << i;
            }
        }
    }
}

TEST(MftRecordToSector, AcrossSeveralRuns) {
    const RunList runs{quorlan::Run{1000, 1000, false}, quorlan::Run{0, 100, true}, quorlan::Run{5000, 200, false}};
    const struct {
        std::uint64_t record;
        std::optional<std::uint64_t> sector;
    } cases[] = {
        {0, 1000}, {0x105, 1000 + 0x20A}, {499, 1998}, {500, std::nullopt} /* in the sparse run */,
        {550, 5000}, {649, 5198}, {650, std::nullopt}, {~0ull, std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(MftRecordToSector(runs, c.record, 2), c.sector) << c.record;
}

TEST(AttributeWalks, NamesSizesAndIndexes) {
    const std::int64_t stamp = 133'000'000'000'000'000;
    {   // Win32 and DOS names: the Win32 one; UTF-16 decoded in full.
        RecordBuilder r;
        r.fileName(u"PHOTO~1.JPG", 40, 2).fileName(u"Photo \u00e9t\u00e9 \U0001F600.jpg", 41, 1, stamp);
        const auto bytes = r.bytes();
        const auto name = FindAnyFileName(ByteView(bytes));
        ASSERT_TRUE(name.has_value());
        EXPECT_EQ(name->name, "Photo \xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80.jpg");
        EXPECT_EQ(name->parent, 41u);
        EXPECT_EQ(name->creationTime, stamp);
        EXPECT_EQ(FindFileName(ByteView(bytes), NameSpace::Dos)->name, "PHOTO~1.JPG");
    }
    {   // Only a DOS name; only a POSIX name (as Linux writes them): taken, the POSIX one last.
        RecordBuilder dos;
        dos.fileName(u"README.TXT", 5, 2);
        const auto d = dos.bytes();
        EXPECT_EQ(FindAnyFileName(ByteView(d))->name, "README.TXT");
        RecordBuilder posix;
        posix.fileName(u"notes.txt", 5, 0);
        const auto p = posix.bytes();
        EXPECT_EQ(FindAnyFileName(ByteView(p))->name, "notes.txt");
    }
    {   // Sizes: resident, non-resident over 4 GiB, named streams skipped.
        RecordBuilder r;
        r.resident(0x80, toBytes({1, 2, 3}), u"Zone.Identifier").nonResident(0x80, {0x21, 0x10, 0x00, 0x01}, 5ull << 30);
        const auto b = r.bytes();
        EXPECT_EQ(FindDataSize(ByteView(b)), 5ull << 30);
        RecordBuilder small;
        small.resident(0x80, toBytes({1, 2, 3, 4, 5}));
        const auto s = small.bytes();
        EXPECT_EQ(FindDataSize(ByteView(s)), 5u);
        const auto none = RecordBuilder().bytes();
        EXPECT_FALSE(FindDataSize(ByteView(none)).has_value());
    }
    {   // The $I30 index allocation and its first cluster; the attribute list's records.
        RecordBuilder r(1024, 3);
        r.nonResident(0xA0, {0x11, 0x02, 0x7F}, 8192, u"$SDH").nonResident(0xA0, {0x21, 0x01, 0x00, 0x01}, 4096, u"$I30");
        r.attributeList({{0x10, 70}, {0x30, 70}, {0x80, 71}, {0x80, 72}});
        const auto b = r.bytes();
        EXPECT_NE(FindIndexAllocation(ByteView(b)), 0u);
        EXPECT_EQ(FirstIndexCluster(ByteView(b)), 256u);
        const auto at = FindAttribute(ByteView(b), kAttrAttributeList, false);
        ASSERT_TRUE(at.has_value());
        const auto value = ResidentValue(ByteView(b), *at);
        ASSERT_TRUE(value.has_value());
        std::vector<std::pair<std::uint32_t, std::uint32_t>> entries;
        for (const AttributeListEntry& e : ParseAttributeList(*value)) entries.emplace_back(e.type, e.record);
        EXPECT_EQ(entries, (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{0x10, 70}, {0x30, 70}, {0x80, 71}, {0x80, 72}}));
    }
}

TEST(AttributeWalks, DamagedRecordsAreNeverReadOutOfBounds) {
    // The record: $FILE_NAME "report.txt" at 0x38 (0x70 long, its value of 0x56 bytes at +0x18),
    // a non-resident $DATA of 100 bytes at 0xA8 (0x48 long), the $I30 index allocation at 0xF0
    // (0x50 long, its runs at +0x48, ending at 0x140) and an $ATTRIBUTE_LIST naming records 70 and
    // 71 at 0x140 (its value of two 0x20-byte entries at +0x18). Each case writes one field
    // (width bytes, little-endian) and says what every walk must then give: found with this value,
    // or not found. A walk never reads past the attribute, value or entry it is in.
    constexpr std::size_t kName = 0x38, kData = 0xA8, kIndex = 0xF0, kList = 0x140;
    const std::vector<std::uint32_t> listed{1, 70, 71};
    const std::vector<std::uint32_t> alone{1};
    struct Damage {
        const char* what;
        std::size_t offset;
        std::uint32_t value;
        unsigned width;  // 0: nothing written
        std::optional<std::string> name;
        std::optional<std::uint64_t> dataSize;
        std::uint64_t indexCluster;
        std::vector<std::uint32_t> list;
    };
    const Damage damages[] = {
        {"undamaged", 0, 0, 0, "report.txt", 100, 256, listed},
        // A damaged header ends every walk: nothing after it can be found.
        {"first attribute beyond the record", 0x14, 0xFFF0, 2, {}, {}, 0, alone},
        {"attribute length 0", kName + 0x04, 0, 4, {}, {}, 0, alone},
        {"attribute length past the record", kName + 0x04, 0x10000, 4, {}, {}, 0, alone},
        {"attribute shorter than its header", kName + 0x04, 8, 4, {}, {}, 0, alone},
        // A damaged value loses the name; the walk goes on to the attributes after it.
        {"value offset past the attribute", kName + 0x14, 0xFFF0, 2, {}, 100, 256, listed},
        {"value length past the attribute", kName + 0x10, 0x7FFFFFFF, 4, {}, 100, 256, listed},
        // 11 characters end 2 bytes past the value, still inside the attribute's padding.
        {"name one character longer than the value", kName + 0x18 + 0x40, 11, 1, {}, 100, 256, listed},
        // A non-resident header cut to 0x18 bytes no longer holds the real size at +0x30; the
        // next header (at 0xC0, inside the old one) has type 0 and ends the walk.
        {"$DATA shorter than its sizes", kData + 0x04, 0x18, 4, "report.txt", {}, 0, alone},
        {"index runs offset past the attribute", kIndex + 0x20, 0xFFF0, 2, "report.txt", 100, 0, listed},
        // A header asking for an 8-byte offset field that would end 2 bytes past the attribute.
        {"index run past the attribute", kIndex + 0x48, 0x81, 1, "report.txt", 100, 0, listed},
        {"list entry shorter than its header", kList + 0x18 + 0x04, 0x10, 2, "report.txt", 100, 256, alone},
        {"list value ending inside its second entry", kList + 0x10, 0x30, 4, "report.txt", 100, 256,
         {1, 70}},
    };
    for (const Damage& d : damages) {
        RecordBuilder r;
        r.fileName(u"report.txt", 5, 1).nonResident(0x80, {0x21, 0x10, 0x00, 0x01}, 100);
        r.nonResident(0xA0, {0x21, 0x01, 0x00, 0x01}, 4096, u"$I30").attributeList({{0x80, 70}, {0x80, 71}});
        auto b = r.bytes();
        for (unsigned i = 0; i < d.width; ++i) {
            b.at(d.offset + i) = std::byte{static_cast<std::uint8_t>(d.value >> (8 * i))};
        }
        const ByteView view(b);
        std::optional<std::string> name;
        if (const auto info = FindAnyFileName(view)) name = info->name;
        EXPECT_EQ(name, d.name) << d.what;
        EXPECT_EQ(FindDataSize(view), d.dataSize) << d.what;
        EXPECT_EQ(FirstIndexCluster(view), d.indexCluster) << d.what;
        // The record itself, then the records its resident list names, each once.
        std::vector<std::uint32_t> list{1};
        if (const auto at = FindAttribute(view, kAttrAttributeList, false)) {
            if (const auto value = ResidentValue(view, *at)) {
                for (const AttributeListEntry& e : ParseAttributeList(*value)) {
                    if (std::find(list.begin(), list.end(), e.record) == list.end()) list.push_back(e.record);
                }
            }
        }
        EXPECT_EQ(list, d.list) << d.what;
    }
    // A resident $DATA of 5 bytes at 0x38, 0x20 long, its value at +0x18: a value length of 8
    // still lies inside the attribute, one of 9 runs past it and gives no size.
    for (const auto& [valueLength, size] : {std::pair<std::uint32_t, std::optional<std::uint64_t>>{8, 8},
                                            std::pair<std::uint32_t, std::optional<std::uint64_t>>{9, {}}}) {
        RecordBuilder r;
        r.resident(0x80, toBytes({1, 2, 3, 4, 5})).poke32(0x38 + 0x10, valueLength);
        const auto b = r.bytes();
        EXPECT_EQ(FindDataSize(ByteView(b)), size) << "resident value length " << valueLength;
    }
}

TEST(AttributeWalks, NamedDataStreams) {
    // A resident stream, a non-resident one of 5 GiB in two parts (the second from cluster 16),
    // and a stream whose name offset points past its attribute: its name cannot be read.
    RecordBuilder r;
    r.resident(0x80, toBytes({1, 2, 3}), u"Zone.Identifier")
        .nonResident(0x80, {0x21, 0x10, 0x00, 0x01}, 5ull << 30, u"thumb");
    r.resident(0x80, toBytes({9}));
    r.nonResident(0x80, {0x21, 0x10, 0x00, 0x02}, 0, u"thumb").resident(0x80, toBytes({7}), u"bad");
    auto b = r.bytes();
    const ByteView view(b);
    EXPECT_EQ(NamedDataStreams(view), (std::vector<std::string>{"Zone.Identifier", "thumb", "bad"}));
    EXPECT_EQ(FindDataSize(view, "thumb"), 5ull << 30);
    EXPECT_EQ(FindDataSize(view, "Zone.Identifier"), 3u);
    EXPECT_EQ(FindDataSize(view), 1u) << "the unnamed data";
    EXPECT_FALSE(FindDataSize(view, "nope").has_value());
    // Damage the last name's offset: the name lies past its attribute and is not read.
    const auto last = FindDataAttribute(view, "bad");
    ASSERT_TRUE(last.has_value());
    b[*last + kAttrNameOffset] = std::byte{0xF0};
    EXPECT_FALSE(AttributeName(ByteView(b), *last).has_value());
    EXPECT_EQ(NamedDataStreams(ByteView(b)), (std::vector<std::string>{"Zone.Identifier", "thumb"}));

    // Attribute-list entries keep their names; one running past its entry gets none.
    RecordBuilder list;
    list.namedAttributeList({{0x80, 40, 0, u""}, {0x80, 41, 0, u"ADS"}, {0x80, 42, 2, u"ADS"}});
    auto lb = list.bytes();
    const auto at = FindAttribute(ByteView(lb), kAttrAttributeList, false);
    ASSERT_TRUE(at.has_value());
    auto entries = ParseAttributeList(*ResidentValue(ByteView(lb), *at));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, "");
    EXPECT_EQ(entries[1].name, "ADS");
    EXPECT_EQ(entries[2].startVcn, 2u);
    const std::size_t valueAt = *at + 0x18;
    lb[valueAt + 0x20 + 0x06] = std::byte{20};  // the second entry's name: 20 characters, past its 0x20 bytes
    entries = ParseAttributeList(*ResidentValue(ByteView(lb), *at));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[1].name, "");
    EXPECT_EQ(entries[1].record, 41u);
}

TEST(SystemFileNumber, ExactNames) {
    EXPECT_STREQ(SystemFileNumber("$UpCase"), "10");
    EXPECT_STREQ(SystemFileNumber("$MFT"), "1");
    EXPECT_STREQ(SystemFileNumber("$MFTMirror"), "1");
    EXPECT_STREQ(SystemFileNumber("$mft"), "0");
    EXPECT_STREQ(SystemFileNumber("report.txt"), "0");
}

TEST(ApplyCheckedFixup, RepairsOnlyWhatChecksOut) {
    // A record and a buffer as they lie on disk: every tail holds the sequence number.
    const std::vector<std::byte> record = RecordBuilder(1024).fileName(u"x", 5, 1).protect();
    const std::vector<std::byte> repairedRecord = RecordBuilder(1024).fileName(u"x", 5, 1).bytes();
    const std::vector<std::byte> buffer = test::IndexBufferBuilder(4096).entry(70, u"a", 64, false).protect();
    const auto at = [](std::vector<std::byte> b, std::size_t offset, std::uint8_t v) {
        b.at(offset) = std::byte{v};
        return b;
    };
    const struct {
        const char* what;
        std::vector<std::byte> bytes;
        bool ok;
    } cases[] = {
        {"a whole record", record, true},
        {"a whole 4 KiB buffer", buffer, true},
        {"a torn record: its second sector's tail is not the sequence number", at(record, 1022, 0x55), false},
        {"a torn buffer: its last sector's tail", at(buffer, 4095, 0x01), false},
        {"a record cut to one sector: the array names two", std::vector<std::byte>(record.begin(), record.begin() + 512), false},
        {"an array past the end", at(record, 0x05, 0x04), false},
        {"no array entries", at(at(record, 0x06, 0), 0x07, 0), false},
    };
    for (const auto& c : cases) {
        std::vector<std::byte> b = c.bytes;
        EXPECT_EQ(ApplyCheckedFixup(b), c.ok) << c.what;
        if (!c.ok) {
            EXPECT_EQ(b, c.bytes) << c.what << ": left as it was";
        }
    }
    std::vector<std::byte> b = record;
    ASSERT_TRUE(ApplyCheckedFixup(b));
    // The sequence array itself keeps the number and the saved tails.
    for (std::size_t i = 0x30; i < 0x36; ++i) b[i] = repairedRecord[i];
    EXPECT_EQ(b, repairedRecord) << "both sectors' tails repaired";
}

TEST(ScanRows, FileRecordsBecomeRows) {
    // A record of NTFS 3.0 keeps its update sequence array at 0x2A, where 3.1 keeps the number.
    auto oldFormat = [](RecordBuilder r) {
        auto b = r.bytes();
        b[0x04] = std::byte{0x2A};
        return b;
    };
    RecordTable entries = MakeMftEntryTable();
    const struct {
        const char* what;
        std::vector<std::byte> record;
        bool row;
    } records[] = {
        {"a deleted folder", RecordBuilder(1024, 2).self(64).fileName(u"Old Stuff", 5, 1).bytes(), true},
        {"flags 9: a file, not deleted", RecordBuilder(1024, 9).self(65).fileName(u"odd.bin", 64, 1).bytes(), true},
        {"a deleted system file with its number", RecordBuilder(1024, 0).self(66).fileName(u"$UpCase", 5, 1).bytes(), true},
        {"a system file without a number", oldFormat(std::move(RecordBuilder(1024, 1).self(66).fileName(u"$UpCase", 5, 1))), true},
        {"a folder without a number", oldFormat(std::move(RecordBuilder(1024, 3).self(67).fileName(u"Old Format", 5, 1))), true},
        {"a 4 KiB record", RecordBuilder(4096, 1).poke32(0x2A, 0x1).self(0x1234).fileName(u"big.dat", 5, 1).bytes(), true},
        {"an extension record", RecordBuilder(1024, 1).self(68).poke32(0x20, 65).fileName(u"odd.bin", 64, 1).bytes(), false},
    };
    for (std::size_t i = 0; i < std::size(records); ++i) {
        EXPECT_EQ(AddMftEntryRow(ByteView(records[i].record), 100 + 2 * i, entries), records[i].row) << records[i].what;
    }
    ASSERT_EQ(entries.RowCount(), 6);
    const auto cells = [&](int r) {
        return std::vector<std::string>{std::string(entries.GetCell(r, "type")), std::string(entries.GetCell(r, "selfMFT")),
                                        std::string(entries.GetCell(r, "Deleted")), std::string(entries.GetCell(r, "Sector"))};
    };
    EXPECT_EQ(cells(0), (std::vector<std::string>{"FOLDER", "64", "1", "100"}));
    EXPECT_EQ(cells(1), (std::vector<std::string>{"File", "65", "", "102"}));
    EXPECT_EQ(cells(2), (std::vector<std::string>{"File", "66", "1", "104"})) << "its own number, not the table's";
    EXPECT_EQ(cells(3), (std::vector<std::string>{"File", "10", "", "106"})) << "the number of the system files' table";
    EXPECT_EQ(cells(4), (std::vector<std::string>{"FOLDER", "0", "", "108"})) << "0x2C is no number here";
    EXPECT_EQ(cells(5), (std::vector<std::string>{"File", std::to_string(0x100001234ull), "", "110"})) << "48 bits";
    EXPECT_EQ(entries.GetCell(1, "parentMFT"), "64");
    EXPECT_EQ(entries.GetCell(0, "name"), "Old Stuff");
    for (const auto& [bytes, size] : {std::pair<std::uint32_t, std::size_t>{1024, 1024}, {4096, 4096}, {2048, 2048},
                                      {512, 0}, {1025, 0}, {8192, 0}}) {
        std::vector<std::byte> first = RecordBuilder(1024).bytes();
        first.resize(512);
        std::memcpy(first.data() + 0x1C, &bytes, 4);
        EXPECT_EQ(ScannedRecordBytes(ByteView(first)), size) << bytes;
    }
}

TEST(ScanRows, IndexBuffersNameTheirFolder) {
    using test::IndexBufferBuilder;
    std::vector<std::byte> shortKey(8);  // a $SII entry's key: a security id and a hash
    const struct {
        const char* what;
        std::vector<std::byte> buffer;
        IndexBufferRow row;
    } buffers[] = {
        {"a buffer of the root folder", IndexBufferBuilder(4096, 0x100000003).entry(64, u"Projects", 5, true).bytes(), IndexBufferRow::Added},
        {"an empty buffer: its first entry is the last", IndexBufferBuilder().bytes(), IndexBufferRow::NoFolder},
        {"a system file's", IndexBufferBuilder().entry(9, u"x", 4, false).bytes(), IndexBufferRow::NoFolder},
        {"another index's keys", IndexBufferBuilder().rawEntry(7, shortKey, 0).bytes(), IndexBufferRow::NoFolder},
        {"an entry running past the entries in use", IndexBufferBuilder().entry(64, u"a", 5, true).poke16(0x40 + 8, 0x1000).bytes(), IndexBufferRow::Damaged},
        {"an entry shorter than its header", IndexBufferBuilder().entry(64, u"a", 5, true).poke16(0x40 + 8, 8).bytes(), IndexBufferRow::Damaged},
        {"entries in use past the buffer", IndexBufferBuilder(512).entry(64, u"a", 5, true).poke16(0x1C, 0x400).bytes(), IndexBufferRow::Damaged},
    };
    RecordTable refs = MakeMftRefTable();
    for (std::size_t i = 0; i < std::size(buffers); ++i) {
        EXPECT_EQ(AddMftRefRow(ByteView(buffers[i].buffer), 200 + 8 * i, refs), buffers[i].row) << buffers[i].what;
    }
    ASSERT_EQ(refs.RowCount(), 1) << "only the root folder's buffer gives a row";
    EXPECT_EQ(refs.GetCell(0, "sector"), "200");
    EXPECT_EQ(refs.GetCell(0, "mftReference"), "5") << "the record number, without the sequence number";
    EXPECT_EQ(refs.GetCell(0, "vcn"), "4294967299");
    EXPECT_EQ(refs.GetCell(0, "fsNumber"), "4294967295");

    // The entries in order, with their references and keys' names.
    std::vector<std::string> seen;
    const auto buffer = IndexBufferBuilder().entry(64, u"Café", 5, true).entry(0x1000000ABull, u"b.txt", 5, false).bytes();
    EXPECT_TRUE(ForEachIndexEntry(ByteView(buffer), [&](std::uint64_t ref, ByteView key) {
        seen.push_back(std::to_string(ref) + " " + (IsFileNameKey(key) ? ParseFileNameValue(key)->name : "-"));
    }));
    EXPECT_EQ(seen, (std::vector<std::string>{"64 Café", "4294967467 b.txt", "0 -"}));

    for (const auto& [allocated, size] : {std::pair<std::uint32_t, std::size_t>{4096 - 0x18, 4096}, {0x10000 - 0x18, 0x10000},
                                          {0x10000, 0}, {4000, 0}, {0, 0}}) {
        std::vector<std::byte> first = IndexBufferBuilder().bytes();
        first.resize(512);
        std::memcpy(first.data() + 0x20, &allocated, 4);
        EXPECT_EQ(IndexBufferBytes(ByteView(first)), size) << allocated;
    }
}

TEST(ValidateNtfsBootSector, EitherCopyServes) {
    auto bootSector = [](test::DiskBuilder& d, std::uint64_t s, std::uint8_t spc, std::uint8_t recordField) {
        d.ntfsBootSector(s).byte(s, 13, spc).u32(s, 0x30, 4).u32(s, 0x38, 8).byte(s, 0x40, recordField).byte(s, 0x44, 0xF4);
    };
    const struct {
        const char* what;
        bool firstSigned;
        std::uint8_t firstSpc, backupSpc;
        std::uint8_t firstRecord;
        bool valid;
        std::uint64_t spc, recordSectors;
    } cases[] = {
        {"first copy", true, 8, 8, 0xF6, true, 8, 2},
        {"first copy unsigned: the backup", false, 8, 8, 0xF6, true, 8, 2},
        {"3 sectors per cluster: the backup's 8", true, 3, 8, 0xF6, true, 8, 2},
        {"one cluster of 4 sectors per record", true, 4, 4, 0x01, true, 4, 4},
        {"three clusters of 4: too large, the backup's 0xF6", true, 4, 4, 0x03, true, 4, 2},
    };
    for (const auto& c : cases) {
        test::DiskBuilder disk(10000);
        const std::uint64_t start = 1000;
        const std::uint64_t end = 9000;
        bootSector(disk, start, c.firstSpc, c.firstRecord);
        bootSector(disk, end - 1, c.backupSpc, 0xF6);
        if (!c.firstSigned) disk.signature(start, 0, 0);
        // $MFT at cluster 4 and its mirror at cluster 8, for each cluster size used.
        for (const std::uint64_t spc : {std::uint64_t{4}, std::uint64_t{8}}) {
            disk.text(start + 4 * spc, 0, "FILE").text(start + 8 * spc, 0, "FILE");
        }
        SectorReader reader(disk.source());
        const auto p = ValidateNtfsBootSector(reader, start, end);
        ASSERT_EQ(p.has_value(), c.valid) << c.what;
        EXPECT_EQ(p->sectorsPerCluster, c.spc) << c.what;
        EXPECT_EQ(p->recordSectors, c.recordSectors) << c.what;
        EXPECT_EQ(p->mftSector, start + 4 * c.spc) << c.what;
        EXPECT_EQ(p->mirrorSector, start + 8 * c.spc) << c.what;
        EXPECT_EQ(p->indexBufferSectors, 8u) << c.what;
    }
    test::DiskBuilder nothing(10000);
    SectorReader reader(nothing.source());
    EXPECT_FALSE(ValidateNtfsBootSector(reader, 1000, 9000).has_value());
}

}  // namespace
}  // namespace quorlan
