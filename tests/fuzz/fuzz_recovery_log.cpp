// Fuzzes the recovery-log reader and what a loaded log is turned into: the log is decoded, and
// when it decodes its folder records (cycles, folders that name themselves, repeated numbers,
// long names) are built into a tree over a small disk, and every folder of the tree is listed
// as the command line lists a loaded log.
//
// Input: one option byte, then the log. Bit 0 of the option byte set: the disk's model is taken
// from the log's own identity field, so that the fuzzer gets past the identity check; clear: the
// model is a fixed name. The disk read while restoring and listing is the log's bytes again,
// padded to whole sectors, so that "FILE" records and directory entries can be planted.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/sector_reader.h"
#include "log/recovery_log.h"
#include "search/search_driver.h"
#include "search/folder_listing.h"

namespace {

constexpr std::size_t kIdentityLengthAt = 13;
constexpr std::size_t kIdentityAt = 17;
constexpr std::size_t kMinDiskSectors = 64;
// Listing is the slow part (every listing reads FAT sectors into fresh buffers); the first
// folders of the tree give what listing can cover.
constexpr std::size_t kMaxListedFolders = 32;

std::string identityOf(const std::uint8_t* log, std::size_t size) {
    if (size < kIdentityAt) return {};
    std::uint32_t n = 0;
    for (std::size_t i = 0; i < 4; ++i) n |= std::uint32_t{log[kIdentityLengthAt + i]} << (8 * i);
    const std::size_t length = std::min<std::size_t>(n, size - kIdentityAt);
    return std::string(reinterpret_cast<const char*>(log + kIdentityAt), length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quorlan;
    if (size < 1) return 0;
    const bool ownIdentity = (data[0] & 1) != 0;
    const std::uint8_t* log = data + 1;
    const std::size_t logSize = size - 1;
    const std::string model = ownIdentity ? identityOf(log, logSize) : std::string("fuzz.img");

    std::vector<std::byte> bytes(logSize);
    if (logSize > 0) std::memcpy(bytes.data(), log, logSize);
    const auto decoded = DecodeRecoveryLog(bytes, model);
    if (!decoded) {
        if (std::strcmp(decoded.error().message.c_str(), kMsgLogCorrupt) != 0) __builtin_trap();
        return 0;
    }
    // Whatever decodes encodes to the bytes it came from, up to what follows the last record.
    const std::vector<std::byte> again = EncodeRecoveryLog(*decoded);
    if (again.size() > bytes.size() || std::memcmp(again.data() + kIdentityLengthAt, bytes.data() + kIdentityLengthAt,
                                                    again.size() - kIdentityLengthAt) != 0) {
        __builtin_trap();
    }

    const std::size_t sectors = std::max(kMinDiskSectors, (logSize + kSectorSize - 1) / kSectorSize);
    std::vector<std::byte> disk(sectors * kSectorSize);
    if (logSize > 0) std::memcpy(disk.data(), log, logSize);
    SectorReader reader(std::make_unique<MemorySectorSource>(std::move(disk)));
    RecoveryState state;
    NullObserver quiet;
    RestoreRecoveryLog(*decoded, state, reader, quiet);
    // Every folder record becomes one folder of the tree, whatever its numbers say; on NTFS but
    // those of the root record, which is the tree's root item.
    std::size_t expected = decoded->folders.size();
    if (decoded->fileSystem == "NTFS") {
        expected -= static_cast<std::size_t>(std::count_if(decoded->folders.begin(), decoded->folders.end(),
                                                           [](const RecoveryLog::Folder& f) { return f.self == 5; }));
    }
    if (state.model.nodes.size() != expected) __builtin_trap();

    std::vector<TreeItem*> folders;
    ResultTree::ForEach(state.model.tree.root(), [&](TreeItem* item) {
        if (folders.size() < kMaxListedFolders) folders.push_back(item);
    });
    for (TreeItem* item : folders) {
        (void)ExpandFolder(state, reader, item);
        (void)ListFolderRows(state, reader, item, FolderListing::Select);
    }
    return 0;
}
