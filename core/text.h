// Small text helpers shared by the engine: number parsing and formatting, case-insensitive
// comparison, UTF-8-safe truncation.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quorlan {

// Leading decimal digits of text as an unsigned number (after leading blanks); 0 for an empty
// or non-numeric text. Saturates at the type's maximum.
[[nodiscard]] std::uint64_t parseDecimalU64(std::string_view text);
// As above with an optional leading '-' or '+'. Saturates at the int64 range.
[[nodiscard]] std::int64_t parseDecimalI64(std::string_view text);

[[nodiscard]] bool equalsIgnoreCase(std::string_view a, std::string_view b);
[[nodiscard]] bool isAllDigits(std::string_view text);
[[nodiscard]] bool isAllHexDigits(std::string_view text);

// At most maxBytes bytes of text, never cutting a UTF-8 sequence in two.
[[nodiscard]] std::string_view truncateUtf8(std::string_view text, std::size_t maxBytes);

[[nodiscard]] std::string trim(std::string_view text);

}  // namespace quorlan
