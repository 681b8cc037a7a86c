// FAT directory entries: first cluster, 8.3 name, deleted mark, long names, name checks.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/bytes.h"

namespace quorlan {

inline constexpr std::size_t kDirEntrySize = 32;
inline constexpr std::size_t kEntriesPerSector = 16;
// Offsets in a 32-byte directory entry.
inline constexpr std::size_t kDirName = 0;          // 8 + 3 bytes; first byte 0: end marker, 0xE5: deleted
inline constexpr std::size_t kDirAttr = 11;
inline constexpr std::size_t kDirCaseFlags = 12;    // u8: 0x08 lower-case name, 0x10 lower-case extension
inline constexpr std::uint8_t kLowerCaseBase = 0x08;
inline constexpr std::uint8_t kLowerCaseExtension = 0x10;
inline constexpr std::size_t kDirCreateHundredths = 13;  // u8: hundredths of a second past the creation time
inline constexpr std::size_t kDirCreateTime = 14;        // u16 FAT time word
inline constexpr std::size_t kDirCreateDate = 16;        // u16 FAT date word
inline constexpr std::size_t kDirClusterHigh = 20;  // u16, FAT32 only
inline constexpr std::size_t kDirTime = 22;         // u16 FAT time word
inline constexpr std::size_t kDirDate = 24;         // u16 FAT date word
inline constexpr std::size_t kDirClusterLow = 26;   // u16
inline constexpr std::size_t kDirSize = 28;         // u32
inline constexpr std::uint8_t kAttrLongName = 0x0F;
inline constexpr std::uint8_t kAttrDirectory = 0x10;
inline constexpr std::uint8_t kDeletedMark = 0xE5;
// A directory cluster begins with its "." entry (naming the cluster itself) and its ".." entry
// (naming the parent, 0 for the root).
inline constexpr std::size_t kDotDotEntry = kDirEntrySize;
// The first byte of the last long-name entry of a set (the one stored first) carries this flag.
inline constexpr std::uint8_t kLastLongNameEntry = 0x40;

// The first cluster of an entry: FAT32 joins the high word at 20 and the low word at 26.
[[nodiscard]] std::uint32_t EntryCluster(ByteView entry, bool fat32);

// True when the sector is the first of a directory: its "." entry at 0 and its ".." entry at 32,
// each name followed by a blank.
[[nodiscard]] inline bool IsDirectoryStart(ByteView sector) {
    return sector.matches(kDirName, ". ") && sector.matches(kDotDotEntry + kDirName, ".. ");
}

[[nodiscard]] inline bool IsDeleted(ByteView entry) { return entry.u8(0) == kDeletedMark; }
[[nodiscard]] inline bool IsDotEntry(ByteView entry) { return entry.u8(0) == '.' && entry.u8(3) == ' '; }
[[nodiscard]] inline bool IsLongNameEntry(ByteView entry) { return entry.u8(kDirAttr) == kAttrLongName; }

struct ShortNameResult {
    std::string name;  // UTF-8; a deleted entry's first character shows as "_"
    bool deleted = false;
};
// The 8.3 name with every blank dropped and a "." before a non-blank extension. Bytes above
// 0x7F are code page 437 characters; the lower-case flags of byte 12 are applied.
[[nodiscard]] ShortNameResult ShortName(ByteView entry);

// Reads the directory sector that comes before sector into out and returns its number; empty
// when there is none. In a directory whose clusters are not contiguous the sector before the
// first sector of a cluster is the last sector of the previous cluster of the chain.
using PreviousSectorFetch = std::function<std::optional<std::uint64_t>(std::uint64_t sector, std::span<std::byte> out)>;

// The long name of the short entry at entryOffset of sectorData (read from sectorNumber), from
// the long-name entries before it (also in earlier sectors, which fetch reads), or empty.
[[nodiscard]] std::optional<std::string> ReadLongName(std::span<const std::byte> sectorData, std::size_t entryOffset,
                                                      std::uint64_t sectorNumber, const PreviousSectorFetch& fetch);

// False for a name holding a control character (1-31) or one of " \ / ? * < > |.
[[nodiscard]] bool IsListableName(std::string_view name);

}  // namespace quorlan
