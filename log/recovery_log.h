// The recovery log: a finished search stored in a little-endian file, so that it can be shown
// again later for the same disk without searching.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "core/run_context.h"
#include "core/sector_reader.h"
#include "search/recovery_state.h"

namespace quorlan {

inline constexpr const char* kMsgLogCorrupt =
    "Either the selected log file is corrupted or you have selected the wrong disk for recovery.";
inline constexpr const char* kMsgLogFloppy = "Recovery can not be saved for Floppy";
inline constexpr const char* kMsgUnableToOpenFile = "Unable to open file";

// Short texts of the log (disk identity, type and mode texts) pass through 50-byte buffers.
inline constexpr std::size_t kLogShortTextBuffer = 50;
// A name read back must fit a buffer of this many bytes, terminator included.
inline constexpr std::size_t kLogNameBuffer = 1025;

// The log's contents, field by field, in file order.
struct RecoveryLog {
    std::string identity;  // the model text of the disk searched
    std::uint8_t searchMode = 1;
    std::uint8_t selectedDisk = 0;
    std::uint8_t searchDisk = 0;
    std::uint8_t partitionIndex = 0;
    std::string partitionTypeText;
    std::string searchModeText;
    std::uint64_t rangeStart = 0;
    std::uint64_t rangeEnd = 0;
    // SPF, SPC, Root Sectors, Root Start, Reserve Sectors, Cluster0Start, firstFAT, secondFAT,
    // MFT sector, MFT-mirror sector, record size, index-buffer size.
    std::array<std::uint32_t, 12> validation{};
    std::array<std::uint32_t, 12> working{};
    std::string fileSystem;  // the working parameters' type name

    struct Folder {
        std::string name;
        std::uint32_t self = 0;
        std::uint32_t parent = 0;
        std::uint64_t first = 0;   // restored into "date"
        std::uint64_t second = 0;  // restored into "time"
        std::uint8_t flags = 0;    // 1: the folder, or one above it, is deleted
    };
    std::vector<Folder> folders;

    struct NtfsFile {
        std::string name;
        std::uint32_t sector = 0;
        std::uint32_t self = 0;
        std::uint32_t parent = 0;
        std::int64_t date = 0;
        std::uint32_t size = 0;
        std::uint32_t deleted = 0;
    };
    std::vector<NtfsFile> ntfsFiles;  // NTFS logs only
};

// The path a log is written under: ".QLG" is added when the chosen file name has no extension,
// and the file name (not the folders, which on a case-sensitive system would be other folders)
// is put in upper case.
[[nodiscard]] std::filesystem::path RecoveryLogPath(const std::filesystem::path& chosen);

// Whether a log can be kept of the search shown: not of a floppy (FAT12), kMsgLogFloppy. A front
// end asks before it asks for a file name.
[[nodiscard]] Result<void> RecoveryLogAllowed(const RecoveryState& state);

// What the log stores of a search shown in state, for the disk with the given model text.
// Fails with kMsgLogFloppy for a FAT12 search.
[[nodiscard]] Result<RecoveryLog> CaptureRecoveryLog(const RecoveryState& state, std::string_view diskModel);
[[nodiscard]] std::vector<std::byte> EncodeRecoveryLog(const RecoveryLog& log);
// Reads a log. The signature is not compared (a log whose signature is damaged still loads); a
// disk identity other than diskModel, a short file, or a length or count the file cannot hold
// fails with kMsgLogCorrupt.
[[nodiscard]] Result<RecoveryLog> DecodeRecoveryLog(std::span<const std::byte> bytes, std::string_view diskModel);

// Rebuilds the tables, parameters and tree of a search from a log, as the search left them.
// NTFS: the $MFT's runs are read again, and file sizes that the log's 32-bit field cut are taken
// from the files' records when those still match. Reports progress ("Loading tree, Please
// Wait...").
void RestoreRecoveryLog(const RecoveryLog& log, RecoveryState& state, SectorReader& reader, SearchObserver& observer);

// Writes the log of state to path (as given; see RecoveryLogPath). Fails with kMsgLogFloppy
// or kMsgUnableToOpenFile.
[[nodiscard]] Result<std::filesystem::path> WriteRecoveryLog(const std::filesystem::path& path,
                                                             const RecoveryState& state, std::string_view diskModel);
// Reads the log at path and restores it into state. Every failure is kMsgLogCorrupt; state is
// only changed when the log was read whole.
[[nodiscard]] Result<void> LoadRecoveryLog(const std::filesystem::path& path, std::string_view diskModel,
                                           RecoveryState& state, SectorReader& reader, SearchObserver& observer);

}  // namespace quorlan
