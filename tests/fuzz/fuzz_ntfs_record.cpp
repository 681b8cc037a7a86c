// Fuzzes the FILE record parsers: the input, repaired with its own update sequence, is walked for
// names, sizes, named streams, index allocations, attribute lists and data runs.
#include <cstdint>
#include <cstring>
#include <vector>

#include "ntfs/ntfs_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quorlan;
    std::vector<std::byte> record(size);
    if (size > 0) std::memcpy(record.data(), data, size);
    ApplyFixup(record);
    const ByteView view(record);
    (void)FindAnyFileName(view);
    (void)FindDataSize(view);
    for (const std::string& stream : NamedDataStreams(view)) (void)FindDataSize(view, stream);
    (void)FirstIndexCluster(view);
    if (const auto at = FindAttribute(view, kAttrAttributeList, false)) {
        if (const auto value = ResidentValue(view, *at)) (void)ParseAttributeList(*value);
    }
    if (const auto data80 = FindAttribute(view, kAttrData, true)) (void)AttributeRuns(view, *data80, 63, 8);
    RunList runs;
    (void)DecodeRuns(view, 0, view.size(), 0, 8, runs);
    return 0;
}
