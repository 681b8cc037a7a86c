// File-type descriptions by name suffix, and the date and time texts of the file list.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quorlan {

// Where a folder's entries were read: two type descriptions depend on it.
enum class FolderSource {
    DirectRegion,  // the FAT16 root region, or an NTFS folder
    ClusterChain,  // a FAT folder read through its cluster chain (sub-folders, the FAT32 root)
};

// The description of the first type-table row with a suffix that ends name exactly (case
// counts), or "File".
[[nodiscard]] std::string FileTypeOf(std::string_view name, FolderSource source);

// "15-FEB-2009" from a FAT date word; a month outside 1-12 shows "ERR".
[[nodiscard]] std::string FatDateText(std::uint16_t date);
// "14:05" from a FAT time word.
[[nodiscard]] std::string FatTimeText(std::uint16_t time);
// "6-DEC-2026" and "3:7:9" from an NTFS time stamp (100-ns units since 1601-01-01, no time-zone
// adjustment).
[[nodiscard]] std::string NtfsDateText(std::int64_t stamp);
[[nodiscard]] std::string NtfsTimeText(std::int64_t stamp);
// Today's local date "06-DEC-2026" and time "14:05".
[[nodiscard]] std::string TodayDateText();
[[nodiscard]] std::string NowTimeText();

}  // namespace quorlan
