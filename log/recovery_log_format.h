// Fixed facts of the recovery-log file format that a reader checks first.
#pragma once

#include <span>
#include <string_view>

namespace quorlan {

// Every recovery log begins with these 13 characters, without a terminator.
inline constexpr std::string_view kRecoveryLogSignature = "QLNWIN7SR2009";
inline constexpr std::string_view kRecoveryLogExtension = "QLG";

// True when bytes begin with the signature.
[[nodiscard]] bool HasRecoveryLogSignature(std::span<const std::byte> bytes);

}  // namespace quorlan
