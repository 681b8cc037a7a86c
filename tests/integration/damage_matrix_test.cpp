// The damage matrix: FAT16, FAT32 and NTFS disks built by tests/fixtures/make-damage-images.sh,
// each damaged one way (a FAT or $MFT region of random bytes, a directory cluster or INDX buffer
// of random bytes, a looping chain and a folder that contains itself, an image cut short, a
// partition table whose entries overlap and run past the disk's end). Every search mode over
// every one must end within its bound and still find what the damage left intact: Keep/ with
// its two files, their bytes, and the partition at sector 2048.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "core/device_table.h"
#include "tests/support/damage_runs.h"

namespace quorlan::test {
namespace {

// These disks are 8 to 36 MiB; a run takes well under a second, a few under the sanitizers.
constexpr std::chrono::seconds kBound{60};

const std::string kKeep1 = "keep me one\n";

std::string keep2() {
    std::string text;
    for (int i = 1; i <= 700; ++i) text += "keep line " + std::to_string(i) + "\n";
    return text;
}

bool anyPartitionHas(const std::set<std::string>& items, const std::string& path) {
    return std::any_of(items.begin(), items.end(), [&](const std::string& item) {
        const auto colon = item.find(':');
        return colon != std::string::npos && item.substr(colon + 1) == path;
    });
}

bool anyItemEndsWith(const std::set<std::string>& items, const std::string& tail) {
    return std::any_of(items.begin(), items.end(), [&](const std::string& item) { return item.ends_with(tail); });
}

const std::string* savedFile(const DamageOutcome& o, const std::string& path) {
    for (const auto& [key, bytes] : o.saved) {
        const auto slash = key.find('/');
        if (slash != std::string::npos && key.substr(slash + 1) == path) return &bytes;
    }
    return nullptr;
}

class DamageMatrix : public ::testing::TestWithParam<std::tuple<const char*, const char*>> {};

TEST_P(DamageMatrix, EveryModeEndsAndFindsWhatIsIntact) {
    const auto [fs, kind] = GetParam();
    const std::string image = std::string(QUORLAN_FIXTURE_DIR) + "/damage-" + fs + "-" + kind + ".img";
    for (const DamageMode mode :
         {DamageMode::Standard, DamageMode::Saving, DamageMode::LostPartitions, DamageMode::Advance}) {
        SCOPED_TRACE(DamageModeName(mode));
        auto reader = openSectorReader(image);
        ASSERT_TRUE(reader.ok()) << image;
        const DamageOutcome o = RunDamageModeWithin(**reader, mode, kBound);
        ASSERT_TRUE(o.ended);
        if (mode == DamageMode::LostPartitions) {
            EXPECT_TRUE(std::any_of(o.partitions.begin(), o.partitions.end(), [](const std::string& p) {
                return p.starts_with("2048-");
            })) << "the volume at sector 2048 was not found";
            continue;
        }
        if (mode == DamageMode::Advance) {
            // Rebuilt from the pieces: the intact folder and its small file are found, wherever
            // the tree puts the folder (under the root, or among the lost folders).
            EXPECT_TRUE(anyItemEndsWith(o.items, "Keep/keep1.txt 12"));
            continue;
        }
        EXPECT_TRUE(anyPartitionHas(o.items, "Keep/"));
        if (mode != DamageMode::Saving) continue;
        EXPECT_TRUE(anyPartitionHas(o.items, "Keep/keep1.txt 12"));
        EXPECT_TRUE(anyPartitionHas(o.items, "Keep/keep2.txt 9692"));
        const std::string* one = savedFile(o, "Keep/keep1.txt");
        const std::string* two = savedFile(o, "Keep/keep2.txt");
        ASSERT_NE(one, nullptr);
        ASSERT_NE(two, nullptr);
        EXPECT_EQ(*one, kKeep1);
        EXPECT_TRUE(*two == keep2()) << "Keep/keep2.txt saved with other bytes";
    }
}

INSTANTIATE_TEST_SUITE_P(Images, DamageMatrix,
                         ::testing::Combine(::testing::Values("fat16", "fat32", "ntfs"),
                                            ::testing::Values("fat", "dir", "loop", "cut", "table")),
                         [](const auto& param) {
                             return std::string(std::get<0>(param.param)) + "_" + std::get<1>(param.param);
                         });

}  // namespace
}  // namespace quorlan::test
