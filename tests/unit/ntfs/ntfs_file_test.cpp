// Where an NTFS file's bytes lie: resident data, runs with holes, the initialized size,
// extension records, and records that no longer belong to the file.
#include "ntfs/ntfs_file.h"

#include <gtest/gtest.h>

#include "tests/support/disk_builder.h"
#include "tests/support/ntfs_builder.h"

namespace quorlan {
namespace {

using test::DiskBuilder;
using test::RecordBuilder;

constexpr std::uint64_t kVolume = 1000;  // volume start; clusters of 2 sectors
constexpr std::uint64_t kMft = 3000;     // the $MFT: one run from here
constexpr std::uint64_t kCluster = 1024;

NtfsVolumeParams volume() {
    NtfsVolumeParams p;
    p.volumeStart = kVolume;
    p.sectorsPerCluster = 2;
    p.recordSectors = 2;
    return p;
}

const RunList kMftRuns{{kMft, 200, false}};

std::uint64_t recordSector(std::uint32_t n) { return kMft + 2 * n; }

// Sets a non-resident attribute's lowest VCN and initialized size; the attribute is the first
// one of the record (at 0x38) unless said otherwise.
void poke64(RecordBuilder& r, std::size_t at, std::uint64_t v) {
    r.poke32(at, static_cast<std::uint32_t>(v));
    r.poke32(at + 4, static_cast<std::uint32_t>(v >> 32));
}

struct Piece {
    Extent::Kind kind;
    std::uint64_t sector;  // Sectors only
    std::uint64_t length;
    bool operator==(const Piece& o) const {
        return kind == o.kind && length == o.length && (kind != Extent::Kind::Sectors || sector == o.sector);
    }
};
std::ostream& operator<<(std::ostream& os, const Piece& p) {
    return os << "{" << static_cast<int>(p.kind) << ", " << p.sector << ", " << p.length << "}";
}

std::vector<Piece> pieces(const FileLayout& layout) {
    std::vector<Piece> out;
    for (const Extent& e : layout.extents) out.push_back({e.kind, e.sector, e.length});
    return out;
}

TEST(NtfsFileLayout, ResidentAndNonResidentData) {
    DiskBuilder disk(6000);
    const std::string hello = "hello, world";
    std::vector<std::byte> value(hello.size());
    std::memcpy(value.data(), hello.data(), hello.size());
    disk.put(recordSector(40), RecordBuilder().self(40).resident(0x80, value).protect());

    // 2 clusters at LCN 16, 3 sparse clusters, 1 cluster at LCN 21; 5.5 clusters long, of which
    // 4 clusters were written (initialized), so the cluster at LCN 21 is not read.
    RecordBuilder runs;
    runs.self(41).nonResident(0x80, {0x11, 0x02, 0x10, 0x01, 0x03, 0x11, 0x01, 0x05}, 5 * kCluster + 512);
    poke64(runs, 0x38 + 0x38, 4 * kCluster);
    disk.put(recordSector(41), runs.protect());

    // A named stream comes first and is not the file's data.
    RecordBuilder named;
    named.self(42).resident(0x80, {std::byte{'x'}}, u"Zone.Identifier").resident(0x80, value);
    disk.put(recordSector(42), named.protect());
    auto reader = disk.reader();

    const FileLayout resident = NtfsFileLayout(*reader, volume(), kMftRuns, recordSector(40), 40, false);
    ASSERT_FALSE(resident.failed) << resident.problem;
    ASSERT_EQ(resident.extents.size(), 1u);
    EXPECT_EQ(resident.size, hello.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(resident.extents[0].bytes.data()), hello.size()), hello);

    const FileLayout nonResident = NtfsFileLayout(*reader, volume(), kMftRuns, recordSector(41), 41, false);
    ASSERT_FALSE(nonResident.failed) << nonResident.problem;
    EXPECT_EQ(nonResident.size, 5 * kCluster + 512);
    EXPECT_EQ(pieces(nonResident), (std::vector<Piece>{{Extent::Kind::Sectors, kVolume + 32, 2 * kCluster},
                                                       {Extent::Kind::Zeros, 0, 3 * kCluster},
                                                       {Extent::Kind::Zeros, 0, 512}}));
    EXPECT_TRUE(nonResident.problem.empty()) << nonResident.problem;

    const FileLayout afterNamed = NtfsFileLayout(*reader, volume(), kMftRuns, recordSector(42), 42, false);
    ASSERT_EQ(afterNamed.extents.size(), 1u);
    EXPECT_EQ(afterNamed.size, hello.size());
}

TEST(NtfsFileLayout, RunsContinuedInAnExtensionRecord) {
    DiskBuilder disk(6000);
    // The attribute list names the $DATA part starting at VCN 2 in record 43.
    std::vector<std::byte> list(0x40);
    auto put = [&](std::size_t at, std::uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) list[at + static_cast<std::size_t>(i)] = static_cast<std::byte>(v >> (8 * i));
    };
    put(0x00, 0x80, 4), put(0x04, 0x20, 2), put(0x08, 0, 8), put(0x10, 40, 4);
    put(0x20, 0x80, 4), put(0x24, 0x20, 2), put(0x28, 2, 8), put(0x30, 43, 4);
    RecordBuilder base;
    base.self(40).resident(0x20, list).nonResident(0x80, {0x11, 0x02, 0x10}, 4 * kCluster - 100);
    const std::size_t dataAt = 0x38 + ((0x18 + list.size() + 7) & ~std::size_t{7});
    poke64(base, dataAt + 0x38, 4 * kCluster - 100);
    disk.put(recordSector(40), base.protect());
    RecordBuilder extension;
    extension.self(43).poke32(0x20, 40).nonResident(0x80, {0x11, 0x02, 0x30}, 0);
    poke64(extension, 0x38 + 0x10, 2);
    disk.put(recordSector(43), extension.protect());
    auto reader = disk.reader();

    const FileLayout layout = NtfsFileLayout(*reader, volume(), kMftRuns, recordSector(40), 40, false);
    ASSERT_FALSE(layout.failed) << layout.problem;
    EXPECT_EQ(pieces(layout), (std::vector<Piece>{{Extent::Kind::Sectors, kVolume + 32, 2 * kCluster},
                                                  {Extent::Kind::Sectors, kVolume + 96, 2 * kCluster - 100}}));
    EXPECT_TRUE(layout.problem.empty()) << layout.problem;

    // Without the $MFT's runs the extension cannot be found: its clusters become zeros, and
    // the layout says so.
    const FileLayout lost = NtfsFileLayout(*reader, volume(), {}, recordSector(40), 40, false);
    ASSERT_FALSE(lost.failed);
    EXPECT_EQ(pieces(lost), (std::vector<Piece>{{Extent::Kind::Sectors, kVolume + 32, 2 * kCluster}}));
    EXPECT_NE(lost.problem.find("extension record (43)"), std::string::npos) << lost.problem;
}

TEST(NtfsFileLayout, FilesThatCannotBeWritten) {
    DiskBuilder disk(6000);
    RecordBuilder compressed;
    compressed.self(44).nonResident(0x80, {0x11, 0x02, 0x10}, 100);
    compressed.poke32(0x38 + 0x0C, 0x0001);
    disk.put(recordSector(44), compressed.protect());
    RecordBuilder encrypted;
    encrypted.self(45).nonResident(0x80, {0x11, 0x02, 0x10}, 100);
    encrypted.poke32(0x38 + 0x0C, 0x4000);
    disk.put(recordSector(45), encrypted.protect());
    disk.put(recordSector(46), RecordBuilder().self(99).protect());  // the slot holds another file now
    auto reader = disk.reader();

    const struct {
        std::uint32_t record;
        const char* problem;
    } cases[] = {
        {44, "compressed"},
        {45, "encrypted"},
        {46, "now holds record 99"},
        {47, "cannot be read"},  // not a FILE record
    };
    for (const auto& c : cases) {
        const FileLayout layout = NtfsFileLayout(*reader, volume(), kMftRuns, recordSector(c.record), c.record, false);
        EXPECT_TRUE(layout.failed) << c.record;
        EXPECT_NE(layout.problem.find(c.problem), std::string::npos) << c.record << ": " << layout.problem;
    }
}

}  // namespace
}  // namespace quorlan
