// Writing recovered files and folders under a destination folder: safe names, the folder
// structure of the tree, name collisions, progress, Stop and Skip, and the summary.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "core/run_context.h"
#include "core/sector_reader.h"

namespace quorlan {

// What to do when a file of the same name exists at the destination.
enum class CollisionAnswer { Overwrite, Rename, Skip, Cancel };

struct CollisionDecision {
    CollisionAnswer answer = CollisionAnswer::Rename;
    std::string newName;      // Rename: the name to write under (empty: the proposed one)
    bool applyToAll = false;  // the answer holds for the rest of the save
};

// The observer of a save: the search observer's channel plus what the saving dialogs show.
// beginPhase/setDone carry the count of files over all files ("Total Files Recovered ").
class SaveObserver : public SearchObserver {
public:
    // Counting the files to write: the count so far.
    virtual void countingFiles(std::uint64_t /*count*/) {}
    // A file begins: its name, the folder it goes to (below the destination), its number from 1.
    virtual void savingFile(std::string_view /*name*/, std::string_view /*folder*/, std::uint64_t /*number*/,
                            std::uint64_t /*total*/) {}
    // Bytes of the current file written so far ("Recovered Current File").
    virtual void fileProgress(std::uint64_t /*doneBytes*/, std::uint64_t /*totalBytes*/) {}
    // A file of the same name exists at the destination; proposed is a free name beside it. Called
    // on the saving thread; a window asks the user and answers (the save waits for it).
    virtual CollisionDecision askCollision(std::string_view /*existing*/, std::string_view proposed) {
        return {CollisionAnswer::Rename, std::string(proposed), true};
    }
};

// Stop ends the save; Skip abandons the current file and goes on with the next.
struct SaveControl {
    std::stop_token stop;
    std::atomic<bool> skip{false};
};

// Where a part of a file's bytes comes from.
struct Extent {
    enum class Kind { Sectors, Zeros, Bytes };
    Kind kind = Kind::Zeros;
    std::uint64_t sector = 0;       // Sectors: the first sector
    std::uint64_t length = 0;       // bytes
    std::vector<std::byte> bytes;   // Bytes: the data itself (resident data)
};

// A file's bytes as a list of extents in file order, cut to its size.
struct FileLayout {
    std::vector<Extent> extents;
    std::uint64_t size = 0;   // the file's size; extents covering less make an incomplete file
    std::string problem;      // why the content is incomplete or a best effort; empty when whole
    bool failed = false;      // nothing can be written (problem says why)
    bool bestEffort = false;  // a deleted file whose content had to be guessed
};

// One folder of a path: its name on the medium and a number that tells folders of the same name
// apart (its tree item).
struct SaveFolder {
    std::string name;
    std::int64_t id = 0;
};

// One thing to write.
struct SaveItem {
    std::vector<SaveFolder> folders;  // from the top down; for a folder item, itself last
    std::string name;                 // a file's name on the medium; empty for a folder item
    bool isFolder = false;
    bool deleted = false;
    bool mayBeIncomplete = false;    // a deleted file whose bytes the evidence cannot vouch for
    std::string mayBeIncompleteWhy;  // why not
    std::uint64_t size = 0;
    std::optional<std::int64_t> modified;  // seconds since 1970 (UTC)
    std::size_t source = 0;                // the caller's index of the item, for its layout
};

struct SaveProblem {
    std::string path;  // below the destination, '/'-separated, as the item is named on the medium
    std::string reason;
};

enum class SaveOutcome { Finished, Stopped, Cancelled, Failed };

struct SaveSummary {
    SaveOutcome outcome = SaveOutcome::Finished;
    std::string failure;  // Failed: why the save could not go on (destination full, ...)
    std::uint64_t filesWritten = 0;
    std::uint64_t foldersCreated = 0;
    std::uint64_t bytesWritten = 0;
    std::uint64_t skipped = 0;
    std::uint64_t deletedBestEffort = 0;  // deleted files written whose content is a best effort
    std::vector<SaveProblem> mayBeIncomplete;  // deleted files written whose bytes cannot be vouched for
    std::vector<SaveProblem> failed;      // nothing was written
    std::vector<SaveProblem> incomplete;  // written, but not all of it could be read
    std::vector<SaveProblem> renamed;     // written under another name; reason holds the new path
};

// A name from the medium as a safe single path component: '/', '\\', control characters and DEL
// become '_', "." and ".." become "_" and "__", an empty name "_", and a name longer than 255
// bytes is cut (keeping a short extension).
[[nodiscard]] std::string SafeFileName(std::string_view raw);

// The first free name beside name: "name (2).ext", "name (3).ext", ...
[[nodiscard]] std::string NumberedName(std::string_view name, unsigned number);

// Writes the items under destination, which is created when missing. layoutOf gives a file's
// bytes; it runs on the saving thread and may read the medium. Files are read through reader
// only; nothing is written outside destination (names are made safe, folders are opened
// without following links, files are created exclusively).
[[nodiscard]] SaveSummary WriteSaveItems(const std::vector<SaveItem>& items, const std::filesystem::path& destination,
                                         SectorReader& reader,
                                         const std::function<FileLayout(const SaveItem&)>& layoutOf,
                                         SaveObserver& observer, SaveControl& control);

// A FAT date and time word pair, read as local time, in seconds since 1970; empty when they do
// not form a date.
[[nodiscard]] std::optional<std::int64_t> FatTimeToUnix(std::uint16_t date, std::uint16_t time);
// An NTFS time (100-ns units since 1601, UTC) in seconds since 1970.
[[nodiscard]] std::optional<std::int64_t> NtfsTimeToUnix(std::int64_t stamp);

}  // namespace quorlan
