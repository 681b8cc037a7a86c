#include "items/volume.h"

namespace quorlan {

std::string_view FileSystemTypeText(FileSystemType type) {
    switch (type) {
        case FileSystemType::Fat12:
            return "FAT12";
        case FileSystemType::Fat16:
            return "FAT16";
        case FileSystemType::Fat32:
            return "FAT32";
        case FileSystemType::Ntfs:
            return "NTFS";
        case FileSystemType::Unknown:
            break;
    }
    return "";
}

FileSystemType FileSystemTypeFromText(std::string_view text) {
    for (const FileSystemType t :
         {FileSystemType::Fat12, FileSystemType::Fat16, FileSystemType::Fat32, FileSystemType::Ntfs}) {
        if (text == FileSystemTypeText(t)) return t;
    }
    return FileSystemType::Unknown;
}

std::string_view SearchModeText(SearchMode mode) {
    return mode == SearchMode::Advance ? "Advance Search" : "Standard Search";
}

std::optional<SearchMode> SearchModeFromNumber(std::uint8_t number) {
    if (number == static_cast<std::uint8_t>(SearchMode::Standard)) return SearchMode::Standard;
    if (number == static_cast<std::uint8_t>(SearchMode::Advance)) return SearchMode::Advance;
    return std::nullopt;
}

}  // namespace quorlan
