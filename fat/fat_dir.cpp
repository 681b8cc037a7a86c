#include "fat/fat_dir.h"

#include <array>
#include <cstring>
#include <vector>

#include "core/sector_reader.h"
#include "core/unicode.h"

namespace quorlan {

namespace {
// Byte offsets of the 13 UTF-16 characters in a long-name entry.
constexpr std::array<std::size_t, 13> kLongNameSlots = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
constexpr std::size_t kLongNameChecksum = 13;
constexpr std::size_t kMaxLongNameUnits = 255;
}  // namespace

std::uint32_t EntryCluster(ByteView entry, bool fat32) {
    const std::uint32_t low = entry.u16le(kDirClusterLow).value_or(0);
    if (!fat32) return low;
    return low | (static_cast<std::uint32_t>(entry.u16le(kDirClusterHigh).value_or(0)) << 16);
}

ShortNameResult ShortName(ByteView entry) {
    ShortNameResult result;
    if (entry.size() < kDirEntrySize) return result;
    // Windows stores an all-lower-case 8.3 name in upper case with these flags set in byte 12,
    // and shows it in lower case.
    const std::uint8_t caseFlags = entry.u8_unchecked(kDirCaseFlags);
    auto lowerIf = [](std::uint8_t b, bool lower) {
        return lower && b >= 'A' && b <= 'Z' ? static_cast<std::uint8_t>(b + ('a' - 'A')) : b;
    };
    for (std::size_t i = 0; i < 8; ++i) {
        std::uint8_t b = lowerIf(entry.u8_unchecked(i), (caseFlags & kLowerCaseBase) != 0);
        if (b == ' ') continue;
        if (i == 0 && b == kDeletedMark) {
            result.deleted = true;
            result.name += '_';
            continue;
        }
        if (i == 0 && b == 0x05) b = kDeletedMark;  // a real first character 0xE5 is stored as 0x05
        appendCp437(result.name, b);
    }
    for (std::size_t i = 8; i < 11; ++i) {
        const std::uint8_t b = lowerIf(entry.u8_unchecked(i), (caseFlags & kLowerCaseExtension) != 0);
        if (b == ' ') continue;
        if (i == 8) result.name += '.';
        appendCp437(result.name, b);
    }
    return result;
}

std::optional<std::string> ReadLongName(std::span<const std::byte> sectorData, std::size_t entryOffset,
                                        std::uint64_t sectorNumber, const PreviousSectorFetch& fetch) {
    if (sectorData.size() < kSectorSize || entryOffset >= kSectorSize) return std::nullopt;
    std::array<std::byte, kSectorSize> copy{};
    std::memcpy(copy.data(), sectorData.data(), kSectorSize);
    std::int64_t pos = static_cast<std::int64_t>(entryOffset);
    std::vector<std::uint16_t> units;
    std::optional<std::uint8_t> setChecksum;
    for (unsigned setPosition = 1;; ++setPosition) {
        if (units.size() > kMaxLongNameUnits) break;
        pos -= static_cast<std::int64_t>(kDirEntrySize);
        if (pos < 0) {
            copy.fill(std::byte{0});
            const auto previous = fetch(sectorNumber, copy);
            if (!previous) break;
            sectorNumber = *previous;
            pos = kSectorSize - kDirEntrySize;
        }
        const ByteView e(copy.data() + pos, kDirEntrySize);
        if (!IsLongNameEntry(e)) break;
        // All entries of one name carry the checksum of its 8.3 name: an entry with another
        // checksum belongs to a different (deleted) name and ends this one.
        const std::uint8_t checksum = e.u8_unchecked(kLongNameChecksum);
        if (setChecksum && *setChecksum != checksum) break;
        setChecksum = checksum;
        bool terminated = false;
        for (const std::size_t slot : kLongNameSlots) {
            const std::uint16_t unit = e.u16le_unchecked(slot);
            if (unit == 0) {
                terminated = true;
                break;
            }
            units.push_back(unit);
        }
        if (terminated) break;
        if (e.u8_unchecked(kDirName) == kLastLongNameEntry + setPosition) break;  // the last entry of the set
    }
    if (units.empty()) return std::nullopt;
    if (units.size() > kMaxLongNameUnits) units.resize(kMaxLongNameUnits);
    return utf16ToUtf8(units);
}

bool IsListableName(std::string_view name) {
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 1 && c <= 31) || c == '"' || c == '\\' || c == '/' || c == '?' || c == '*' || c == '<' ||
            c == '>' || c == '|') {
            return false;
        }
    }
    return true;
}

}  // namespace quorlan
