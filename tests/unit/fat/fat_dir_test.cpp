#include "fat/fat_dir.h"

#include <gtest/gtest.h>

#include "tests/support/disk_builder.h"
#include "tests/support/fat_builder.h"

namespace quorlan {
namespace {

std::array<std::byte, 32> entryBytes(const std::string& name11, std::uint8_t caseFlags = 0) {
    std::array<std::byte, 32> e{};
    for (std::size_t i = 0; i < 11; ++i) e[i] = static_cast<std::byte>(name11[i]);
    e[12] = std::byte{caseFlags};
    return e;
}

TEST(ShortName, BlanksDotsDeletedMarkAndCodePage) {
    const struct {
        std::string raw;
        std::uint8_t caseFlags;
        const char* name;
        bool deleted;
    } cases[] = {
        {"READ ME TXT", 0, "README.TXT", false},          // every blank of the name is dropped
        {"FOO      TX", 0, "FOOTX", false},               // extension starting with a blank: no dot
        {"NOEXT      ", 0, "NOEXT", false},
        {"\xE5" "EPORT  TXT", 0, "_EPORT.TXT", true},
        {"CAF\x82    TXT", 0, "CAF\xC3\xA9.TXT", false},  // 0x82 is "é" in code page 437
        {"\x05" "BC     TXT", 0, "\xCF\x83" "BC.TXT", false},  // 0x05 stands for a real 0xE5 ("σ")
        {"README  TXT", 0x18, "readme.txt", false},       // lower-case flags for name and extension
        {"README  TXT", 0x08, "readme.TXT", false},
    };
    for (const auto& c : cases) {
        const auto bytes = entryBytes(c.raw, c.caseFlags);
        const ShortNameResult r = ShortName(ByteView(bytes));
        EXPECT_EQ(r.name, c.name) << c.raw;
        EXPECT_EQ(r.deleted, c.deleted) << c.raw;
    }
}

TEST(EntryCluster, Fat32JoinsTheHighWord) {
    std::array<std::byte, 32> e{};
    e[26] = std::byte{5};
    e[20] = std::byte{1};
    EXPECT_EQ(EntryCluster(ByteView(e), true), 65541u);
    EXPECT_EQ(EntryCluster(ByteView(e), false), 5u);
}

TEST(IsListableName, RejectsControlAndReservedCharacters) {
    for (const char* good : {"", "report.txt", "a:b", "Caf\xC3\xA9 r\xC3\xA9sum\xC3\xA9.txt", "with space"}) {
        EXPECT_TRUE(IsListableName(good)) << good;
    }
    for (const char* bad : {"a\"b", "a\\b", "a/b", "a?b", "a*b", "a<b", "a>b", "a|b", "tab\there", "\x1F"}) {
        EXPECT_FALSE(IsListableName(bad)) << bad;
    }
}

class LongNames : public ::testing::Test {
protected:
    test::DiskBuilder disk{4096};
    test::FatBuilder fat{disk, 0, true};
    std::uint64_t s = 1000;  // the directory sector under test

    std::optional<std::string> longNameOf(int index) {
        std::array<std::byte, kSectorSize> sector{};
        auto source = disk.source();
        (void)source->readAt(s * kSectorSize, sector);
        return ReadLongName(sector, static_cast<std::size_t>(index) * 32, s,
                            [&](std::uint64_t n, std::span<std::byte> out) -> std::optional<std::uint64_t> {
                                if (n == 0) return std::nullopt;
                                (void)source->readAt((n - 1) * kSectorSize, out);
                                return n - 1;
                            });
    }
};

TEST_F(LongNames, ExactlyThirteenCharactersInOneEntry) {
    fat.longNameEntry(s, 2, 0x41, u"Thirteen_char", 0x11);
    fat.longNameEntry(s, 1, 0x41, u"other name", 0x22);  // the walk must stop before this
    fat.rawEntry(s, 3, "THIRTE~1   ", 0x20, 7, 10);
    EXPECT_EQ(longNameOf(3), "Thirteen_char");
}

TEST_F(LongNames, SpansEntriesAcrossASectorBoundaryAndDecodesUtf16) {
    // "Café résumé of the summer ☕😀.txt": three entries, the first two in the sector before.
    const std::u16string name = u"Caf\u00e9 r\u00e9sum\u00e9 of the summer \u2615\U0001F600.txt";
    ASSERT_GT(name.size(), 26u);
    fat.longNameEntry(s - 1, 14, 0x43, name.substr(26), 0x33);
    fat.longNameEntry(s - 1, 15, 0x02, name.substr(13, 13), 0x33);
    fat.longNameEntry(s, 0, 0x01, name.substr(0, 13), 0x33);
    fat.rawEntry(s, 1, "CAFRS~1 TXT", 0x20, 9, 100);
    EXPECT_EQ(longNameOf(1), "Caf\xC3\xA9 r\xC3\xA9sum\xC3\xA9 of the summer \xE2\x98\x95\xF0\x9F\x98\x80.txt");
}

TEST_F(LongNames, NoneAndDeletedNeighbours) {
    fat.rawEntry(s, 0, "PLAIN   TXT", 0x20, 5, 1);
    EXPECT_FALSE(longNameOf(0).has_value()) << "the first entry of sector 0-999 has nothing before it";
    fat.rawEntry(s, 1, "PLAIN2  TXT", 0x20, 5, 1);
    EXPECT_FALSE(longNameOf(1).has_value());

    // Two deleted files in a row: their long-name entries lost their ordinals to the deleted
    // mark; the checksum keeps each name apart.
    fat.longNameEntry(s, 4, 0xE5, u"first-name.doc", 0x44);
    fat.rawEntry(s, 5, "\xE5IRST~1 DOC", 0x20, 11, 5);
    fat.longNameEntry(s, 6, 0xE5, u"second.doc", 0x55);
    fat.rawEntry(s, 7, "\xE5" "ECOND  DOC", 0x20, 12, 5);
    EXPECT_EQ(longNameOf(7), "second.doc");
}

}  // namespace
}  // namespace quorlan
