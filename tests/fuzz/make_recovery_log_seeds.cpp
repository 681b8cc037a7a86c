// Writes the seed inputs of fuzz_recovery_log into a folder: the recovery logs of searches of
// the fixture images given on the command line (cut to the fuzzers' 4 KiB input limit), and
// small hand-made logs whose folder records form cycles, name themselves, repeat a number,
// miss their parent or carry the longest name a log allows.
//
// usage: make_recovery_log_seeds OUT-DIR [LOG ...]
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "log/recovery_log.h"

namespace {

using namespace quorlan;

// The fuzzer's identity when the option byte's bit 0 is clear.
constexpr const char* kFixedIdentity = "fuzz.img";
constexpr std::size_t kMaxInput = 4096;

bool writeSeed(const std::filesystem::path& path, std::uint8_t option, const RecoveryLog& log) {
    const std::vector<std::byte> bytes = EncodeRecoveryLog(log);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.put(static_cast<char>(option));
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

// Both ways in: with the log's own identity, and under the fixed one.
bool writeBoth(const std::filesystem::path& dir, const std::string& name, RecoveryLog log) {
    bool ok = writeSeed(dir / (name + "-own"), 1, log);
    log.identity = kFixedIdentity;
    return writeSeed(dir / (name + "-fixed"), 0, log) && ok;
}

// Drops rows, then folders, from the end until the input fits the fuzzers' limit.
void fitInput(RecoveryLog& log) {
    while (EncodeRecoveryLog(log).size() + 1 > kMaxInput) {
        if (!log.ntfsFiles.empty()) {
            log.ntfsFiles.pop_back();
        } else if (!log.folders.empty()) {
            log.folders.pop_back();
        } else {
            return;
        }
    }
}

RecoveryLog handMade(const char* fileSystem) {
    RecoveryLog log;
    log.identity = "hand-made.img";
    log.partitionTypeText = fileSystem;
    log.searchModeText = "Standard Search";
    log.fileSystem = fileSystem;
    log.rangeEnd = 64;
    const bool ntfs = log.fileSystem == "NTFS";
    // SPF, SPC, Root Sectors, Root Start, Reserve Sectors, Cluster0Start, firstFAT, secondFAT,
    // MFT sector, mirror sector, record sectors, index-buffer sectors: a volume within 64 sectors.
    log.working = ntfs ? std::array<std::uint32_t, 12>{0, 1, 0, 0, 0, 0, 0, 0, 16, 32, 2, 8}
                       : std::array<std::uint32_t, 12>{2, 1, 4, 5, 1, 7, 1, 3, 0, 0, 0, 0};
    log.validation = log.working;
    const std::uint32_t root = ntfs ? 5 : 0;
    log.folders = {{"QLN_Miscellaneous", 0x0FFFFFFF, root, 0, 0, 0},
                   {"A", 10, root, 0x5A21, 0x6000, 0},
                   {"Self", 11, 11, 0, 0, 0},
                   {"C1", 12, 13, 0, 0, 0},
                   {"C2", 13, 12, 0, 0, 1},
                   {"A again", 10, root, 0, 0, 0},
                   {"Lost", 14, 999, 0, 0, 0},
                   {"Under A", 15, 10, 0, 0, 1},
                   {std::string(1024, 'L'), 16, 15, 0, 0, 0}};
    if (ntfs) {
        log.folders.push_back({".", 5, 5, 0, 0, 0});
        log.ntfsFiles = {{"big.vhd", 16, 40, 10, 133'000'000'000'000'000, 512, 0},
                         {"gone.txt", 18, 41, 12, -1, 0xFFFFFFFFu, 1},
                         {"lost.bin", 20, 42, 999, 0, 7, 0}};
    }
    return log;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_recovery_log_seeds OUT-DIR [LOG ...]\n");
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    bool ok = true;
    for (int i = 2; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        const std::vector<char> chars((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<std::byte> bytes(chars.size());
        std::memcpy(bytes.data(), chars.data(), chars.size());
        // Read the log under its own identity.
        std::string identity;
        if (bytes.size() >= 17) {
            const std::size_t n = std::to_integer<std::size_t>(bytes[13]);
            if (bytes.size() >= 17 + n) identity.assign(chars.data() + 17, n);
        }
        auto log = DecodeRecoveryLog(bytes, identity);
        if (!log) {
            std::fprintf(stderr, "%s: %s\n", argv[i], log.error().message.c_str());
            ok = false;
            continue;
        }
        fitInput(*log);
        ok = writeBoth(dir, std::filesystem::path(argv[i]).stem().string(), *log) && ok;
    }
    ok = writeBoth(dir, "hand-made-fat16", handMade("FAT16")) && ok;
    ok = writeBoth(dir, "hand-made-fat32", handMade("FAT32")) && ok;
    ok = writeBoth(dir, "hand-made-ntfs", handMade("NTFS")) && ok;
    return ok ? 0 : 1;
}
