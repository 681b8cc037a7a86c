#include "core/bytes.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>

namespace quorlan {
namespace {

TEST(ByteView, ReadsLittleEndianInsideAndRefusesOutside) {
    const std::array<std::byte, 6> raw{std::byte{0x01}, std::byte{0x02}, std::byte{0x03},
                                       std::byte{0x04}, std::byte{0x05}, std::byte{0x06}};
    const ByteView view(raw);
    EXPECT_EQ(view.u8(5), 0x06);
    EXPECT_EQ(view.u16le(4), 0x0605);
    EXPECT_EQ(view.u32le(2), 0x06050403u);
    // A field that would end one byte past the view is refused, as is one far away.
    EXPECT_FALSE(view.u32le(3).has_value());
    EXPECT_FALSE(view.u8(6).has_value());
    EXPECT_FALSE(view.u64le(0).has_value());
    EXPECT_FALSE(view.u16le(std::numeric_limits<std::uint64_t>::max()).has_value());
    EXPECT_TRUE(view.matches(1, std::string_view("\x02\x03", 2)));
    EXPECT_FALSE(view.matches(5, std::string_view("\x06\x07", 2)));
    EXPECT_EQ(view.sub(4, 2).size(), 2u);
    EXPECT_EQ(view.sub(5, 2).size(), 0u);
}

TEST(CheckedArithmetic, ReportsOverflow) {
    EXPECT_EQ(checkedMul(1ull << 32, 512), (1ull << 41));
    EXPECT_FALSE(checkedMul(1ull << 60, 512).has_value());
    EXPECT_FALSE(checkedAdd(std::numeric_limits<std::uint64_t>::max(), 1).has_value());
}

}  // namespace
}  // namespace quorlan
