// Decoding of on-disk names into UTF-8: UTF-16 (long names, NTFS names) and code page 437
// (the OEM code page of FAT short names).
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace quorlan {

// Appends one code point as UTF-8.
void appendUtf8(std::string& out, char32_t codePoint);

// UTF-16 code units to UTF-8; an unpaired surrogate becomes U+FFFD.
[[nodiscard]] std::string utf16ToUtf8(std::span<const std::uint16_t> units);

// One byte of code page 437 as UTF-8 (bytes below 0x80 are ASCII).
void appendCp437(std::string& out, std::uint8_t byte);

}  // namespace quorlan
