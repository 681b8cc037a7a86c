// The partition list checked against The Sleuth Kit's mmls on fixture disks and on disks laid
// out by sfdisk at random.
#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <sstream>

#include "core/device_table.h"
#include "disks/partition_table.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace quorlan {
namespace {

using test::runCommand;
using test::shellQuote;

struct Placed {
    std::uint64_t start;
    std::uint64_t length;
    bool operator==(const Placed&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Placed& p) { return os << "(" << p.start << ", " << p.length << ")"; }

// mmls rows of partitions whose type code this program lists, primaries first, then the
// extended tables in chain order: slots "TTT:EEE" sort that way.
std::vector<Placed> mmlsPartitions(const std::filesystem::path& image) {
    const auto result = runCommand("mmls " + shellQuote(image.string()));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    static const std::regex row(R"(^\d+:\s+(\d+):(\d+)\s+(\d+)\s+\d+\s+(\d+)\s+.*\(0x([0-9a-f]{2})\)\s*$)");
    std::vector<std::tuple<int, int, Placed>> rows;
    std::istringstream lines(result.out);
    std::string line;
    while (std::getline(lines, line)) {
        std::smatch m;
        if (!std::regex_match(line, m, row)) continue;
        const auto code = static_cast<std::uint8_t>(std::stoul(m[5].str(), nullptr, 16));
        if (!PartitionTypeLabel(code)) continue;
        rows.emplace_back(std::stoi(m[1].str()), std::stoi(m[2].str()),
                          Placed{std::stoull(m[3].str()), std::stoull(m[4].str())});
    }
    std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
        return std::tie(std::get<0>(a), std::get<1>(a)) < std::tie(std::get<0>(b), std::get<1>(b));
    });
    std::vector<Placed> out;
    for (const auto& r : rows) out.push_back(std::get<2>(r));
    return out;
}

std::vector<Placed> ourPartitions(const std::filesystem::path& image, DiskPartitionList* listOut = nullptr) {
    auto reader = openSectorReader(image);
    EXPECT_TRUE(reader.ok());
    if (!reader) return {};
    const DiskPartitionList list = ReadPartitionTable(**reader, (*reader)->totalSectors());
    std::vector<Placed> out;
    for (const PartitionEntry& p : list.partitions) out.push_back({p.start, p.end - p.start});
    if (listOut != nullptr) *listOut = list;
    return out;
}

class AgainstMmls : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::haveTool("mmls")) GTEST_SKIP() << "mmls (sleuthkit) is not installed";
    }
};

TEST_F(AgainstMmls, FixtureDisksArePlacedAsMmlsPlacesThem) {
    for (const char* name : {"mbr-mixed.img", "looping-chain.img"}) {
        const std::filesystem::path image = std::filesystem::path(QUORLAN_FIXTURE_DIR) / name;
        DiskPartitionList list;
        const auto ours = ourPartitions(image, &list);
        EXPECT_EQ(ours, mmlsPartitions(image)) << name;
        ASSERT_EQ(list.partitions.size(), 5u) << name;
        const std::vector<std::string> types{"FAT16", "FAT32", "NTFS", "FAT16", "FAT32"};
        for (std::size_t i = 0; i < types.size(); ++i) {
            EXPECT_EQ(PartitionTypeName(list.partitions[i].type), types[i]) << name << " partition " << i + 1;
            EXPECT_EQ(list.partitions[i].fromMbr, i < 3) << name << " partition " << i + 1;
        }
    }
}

// An extended record that lists a second partition and the link in entries 1 and 2, as the
// public test image ext-part-test-2.dd does (make-lost-partition-images.sh imitates it).
TEST_F(AgainstMmls, ExtendedRecordsReadInAllFourEntries) {
    const std::filesystem::path image = std::filesystem::path(QUORLAN_FIXTURE_DIR) / "ext-part-16heads.img";
    const auto ours = ourPartitions(image);
    EXPECT_EQ(ours, mmlsPartitions(image));
    EXPECT_EQ(ours.size(), 6u);
}

TEST_F(AgainstMmls, RandomLayoutsWithExtendedChains) {
    if (!test::haveTool("sfdisk")) GTEST_SKIP() << "sfdisk is not installed";
    test::TempDir dir;
    std::mt19937 random(20261209);
    const char* codes[] = {"6", "b", "c", "7", "e", "4", "1", "83"};
    for (int round = 0; round < 12; ++round) {
        const auto image = dir / ("layout" + std::to_string(round) + ".img");
        std::ostringstream table;
        table << "label: dos\n";
        std::uint64_t next = 2048;
        const int primaries = static_cast<int>(random() % 4);  // before the extended one
        for (int i = 0; i < primaries; ++i) {
            const std::uint64_t size = 2048 * (1 + random() % 40);
            table << "start=" << next << ", size=" << size << ", type=" << codes[random() % 8] << "\n";
            next += size;
        }
        table << "start=" << next << ", type=" << (random() % 2 ? "f" : "5") << "\n";
        const int logicals = 1 + static_cast<int>(random() % 12);
        for (int i = 0; i < logicals; ++i) {
            table << "size=" << 2048 * (1 + random() % 40) << ", type=" << codes[random() % 8] << "\n";
        }
        // A disk large enough that no entry comes near its end.
        const auto made = runCommand("truncate -s 2G " + shellQuote(image.string()) + " && printf '%s' " +
                                     shellQuote(table.str()) + " | " + test::sbinPath() +
                                     "sfdisk --quiet --wipe never " + shellQuote(image.string()));
        ASSERT_EQ(made.exitCode, 0) << made.err << table.str();
        EXPECT_EQ(ourPartitions(image), mmlsPartitions(image)) << table.str();
        std::filesystem::remove(image);
    }
}

TEST(FixtureDisks, SuperfloppyAndCorruptTable) {
    DiskPartitionList list;
    const auto stick = ourPartitions(std::filesystem::path(QUORLAN_FIXTURE_DIR) / "superfloppy-fat32.img", &list);
    EXPECT_TRUE(list.superfloppy);
    ASSERT_EQ(stick, (std::vector<Placed>{{0, 81920}}));
    EXPECT_EQ(list.partitions[0].type, FileSystemType::Fat32);

    const auto bad = ourPartitions(std::filesystem::path(QUORLAN_FIXTURE_DIR) / "bad-table.img", &list);
    EXPECT_TRUE(list.corrupt);
    EXPECT_EQ(bad, (std::vector<Placed>{{2048, 32768}})) << "the partition before the failing entry stays";
}

}  // namespace
}  // namespace quorlan
