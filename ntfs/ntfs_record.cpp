#include "ntfs/ntfs_record.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "core/unicode.h"

namespace quorlan {

namespace {

constexpr std::size_t kMinAttributeLength = 0x18;
constexpr std::size_t kSectorBytes = 512;

// Calls visit(offset, type, length) for each attribute, in order, while it returns true. Ends at
// the end marker and at any header that does not lie wholly inside the record.
template <typename Visit>
void forEachAttribute(ByteView record, Visit&& visit) {
    const auto first = record.u16le(kRecordFirstAttribute);
    if (!first) return;
    std::size_t pos = *first;
    for (int guard = 0; guard < 4096; ++guard) {
        const auto type = record.u32le(pos);
        const auto length = record.u32le(pos + kAttrLength);
        if (!type || !length || *type == 0 || *type == kAttrEnd) return;
        if (*length < kMinAttributeLength || !record.contains(pos, *length)) return;
        if (!visit(pos, *type, static_cast<std::size_t>(*length))) return;
        pos += *length;
    }
}

// The resident value of the attribute at pos (of length len), or empty.
std::optional<ByteView> residentValueIn(ByteView record, std::size_t pos, std::size_t len) {
    if (record.u8(pos + kAttrNonResident) != 0) return std::nullopt;
    const auto valueLength = record.u32le(pos + kAttrValueLength);
    const auto valueOffset = record.u16le(pos + kAttrValueOffset);
    if (!valueLength || !valueOffset) return std::nullopt;
    if (std::uint64_t{*valueOffset} + *valueLength > len) return std::nullopt;
    return record.sub(pos + *valueOffset, *valueLength);
}

// The same, or an empty view.
ByteView residentValue(ByteView record, std::size_t pos, std::size_t len) {
    return residentValueIn(record, pos, len).value_or(ByteView{});
}

// The UTF-16 name of count characters at pos, in UTF-8; empty when it does not lie inside bytes.
std::optional<std::string> utf16NameAt(ByteView bytes, std::size_t pos, std::size_t count) {
    if (!bytes.contains(pos, std::uint64_t{count} * 2)) return std::nullopt;
    std::vector<std::uint16_t> units(count);
    for (std::size_t i = 0; i < count; ++i) units[i] = bytes.u16le_unchecked(pos + 2 * i);
    return utf16ToUtf8(units);
}

std::uint64_t readLittle(ByteView bytes, std::size_t pos, unsigned n) {
    std::uint64_t v = 0;
    for (unsigned i = 0; i < n; ++i) v |= std::uint64_t{bytes.u8_unchecked(pos + i)} << (8 * i);
    return v;
}

}  // namespace

void ApplyFixup(std::span<std::byte> buffer) {
    const ByteView view(buffer);
    const auto usaOffset = view.u16le(kUpdateSequenceOffset);
    const auto usaCount = view.u16le(kUpdateSequenceCount);
    if (!usaOffset || !usaCount || *usaCount < 2) return;
    // The array: the update sequence number, then one saved tail per sector.
    if (!view.contains(*usaOffset, std::uint64_t{*usaCount} * 2)) return;
    const std::size_t sectors = *usaCount - 1u;
    for (std::size_t i = 0; i < sectors; ++i) {
        const std::size_t tail = 510 + 512 * i;
        if (tail + 2 > buffer.size()) break;
        const std::size_t saved = *usaOffset + 2 + 2 * i;
        buffer[tail] = buffer[saved];
        buffer[tail + 1] = buffer[saved + 1];
    }
}

bool ApplyCheckedFixup(std::span<std::byte> buffer) {
    const ByteView view(buffer);
    const std::size_t sectors = buffer.size() / kSectorBytes;
    const auto usaOffset = view.u16le(kUpdateSequenceOffset);
    const auto usaCount = view.u16le(kUpdateSequenceCount);
    if (sectors == 0 || !usaOffset || !usaCount || *usaCount != sectors + 1) return false;
    if (!view.contains(*usaOffset, std::uint64_t{*usaCount} * 2)) return false;
    // The array lies inside the buffer and each tail is inside it: every read below is in bounds.
    const std::uint16_t number = view.u16le_unchecked(*usaOffset);
    for (std::size_t i = 0; i < sectors; ++i) {
        if (view.u16le_unchecked(kSectorBytes * i + kSectorBytes - 2) != number) return false;
    }
    for (std::size_t i = 0; i < sectors; ++i) {
        const std::size_t tail = kSectorBytes * i + kSectorBytes - 2;
        const std::size_t saved = *usaOffset + 2 + 2 * i;
        buffer[tail] = buffer[saved];
        buffer[tail + 1] = buffer[saved + 1];
    }
    return true;
}

bool RepairFileRecord(std::span<std::byte> record) {
    if (!ByteView(record).matches(kRecordMagic, "FILE")) return false;
    ApplyFixup(record);
    return true;
}

std::optional<std::uint64_t> RecordNumber(ByteView record) {
    if (record.u16le(kUpdateSequenceOffset).value_or(0) < kNumberedRecordArrayOffset) return std::nullopt;
    const auto low = record.u32le(kRecordSelfNumber);
    const auto high = record.u16le(kRecordNumberHigh);
    if (!low || !high) return std::nullopt;
    return (std::uint64_t{*high} << 32) | *low;
}

std::optional<std::size_t> FindAttribute(ByteView record, std::uint32_t type, bool unnamedOnly) {
    std::optional<std::size_t> found;
    forEachAttribute(record, [&](std::size_t pos, std::uint32_t t, std::size_t) {
        if (t == type && (!unnamedOnly || record.u8(pos + kAttrNameLength) == 0)) {
            found = pos;
            return false;
        }
        return true;
    });
    return found;
}

std::vector<std::size_t> FindAttributes(ByteView record, std::uint32_t type, bool unnamedOnly) {
    std::vector<std::size_t> found;
    forEachAttribute(record, [&](std::size_t pos, std::uint32_t t, std::size_t) {
        if (t == type && (!unnamedOnly || record.u8(pos + kAttrNameLength) == 0)) found.push_back(pos);
        return true;
    });
    return found;
}

std::optional<ByteView> ResidentValue(ByteView record, std::size_t attributeOffset) {
    const auto length = record.u32le(attributeOffset + kAttrLength);
    if (!length || !record.contains(attributeOffset, *length)) return std::nullopt;
    return residentValueIn(record, attributeOffset, *length);
}

std::optional<FileNameInfo> ParseFileNameValue(ByteView value) {
    const auto nameLength = value.u8(kFileNameLength);
    if (!nameLength || !value.contains(kFileNameChars, std::uint64_t{*nameLength} * 2)) return std::nullopt;
    // The name's characters lie past the parent and the time: both are inside the value.
    std::vector<std::uint16_t> units(*nameLength);
    for (std::size_t i = 0; i < units.size(); ++i) units[i] = value.u16le_unchecked(kFileNameChars + 2 * i);
    FileNameInfo info;
    info.name = utf16ToUtf8(units);
    info.parent = value.u64le(kFileNameParent).value_or(0) & kRecordNumberMask;
    info.creationTime = static_cast<std::int64_t>(value.u64le(kFileNameCreationTime).value_or(0));
    return info;
}

std::optional<FileNameInfo> FindFileName(ByteView record, NameSpace ns) {
    std::optional<FileNameInfo> found;
    forEachAttribute(record, [&](std::size_t pos, std::uint32_t type, std::size_t len) {
        if (type != kAttrFileName || record.u8(pos + kAttrNameLength) != 0) return true;
        const ByteView value = residentValue(record, pos, len);
        if (value.u8(kFileNameSpace) != static_cast<std::uint8_t>(ns)) return true;
        found = ParseFileNameValue(value);
        return !found;
    });
    return found;
}

std::optional<FileNameInfo> FindAnyFileName(ByteView record) {
    // One walk: the first name of each namespace, then the best by kNameSpaceOrder.
    std::array<std::optional<std::size_t>, 4> firstOf{};
    forEachAttribute(record, [&](std::size_t pos, std::uint32_t type, std::size_t) {
        if (type != kAttrFileName || record.u8(pos + kAttrNameLength) != 0) return true;
        const auto length = record.u32le(pos + kAttrLength).value_or(0);
        const auto ns = residentValue(record, pos, length).u8(kFileNameSpace);
        if (ns && *ns < firstOf.size() && !firstOf[*ns]) firstOf[*ns] = pos;
        return true;
    });
    for (const NameSpace ns : kNameSpaceOrder) {
        if (!firstOf[static_cast<std::size_t>(ns)]) continue;
        if (auto info = FindFileName(record, ns)) return info;
    }
    return std::nullopt;
}

std::optional<std::string> AttributeName(ByteView record, std::size_t attributeOffset) {
    const auto length = record.u32le(attributeOffset + kAttrLength);
    const auto count = record.u8(attributeOffset + kAttrNameLength);
    const auto offset = record.u16le(attributeOffset + kAttrNameOffset);
    if (!length || !count || !offset || !record.contains(attributeOffset, *length)) return std::nullopt;
    if (*count == 0) return std::string();
    if (std::uint64_t{*offset} + std::uint64_t{*count} * 2 > *length) return std::nullopt;
    return utf16NameAt(record, attributeOffset + *offset, *count);
}

std::vector<std::string> NamedDataStreams(ByteView record) {
    std::vector<std::string> names;
    for (const std::size_t pos : FindAttributes(record, kAttrData, false)) {
        const auto name = AttributeName(record, pos);
        if (!name || name->empty() || std::find(names.begin(), names.end(), *name) != names.end()) continue;
        names.push_back(*name);
    }
    return names;
}

std::optional<std::size_t> FindDataAttribute(ByteView record, std::string_view stream) {
    if (stream.empty()) return FindAttribute(record, kAttrData, true);
    for (const std::size_t pos : FindAttributes(record, kAttrData, false)) {
        if (AttributeName(record, pos) == stream) return pos;
    }
    return std::nullopt;
}

std::optional<std::uint64_t> FindDataSize(ByteView record, std::string_view stream) {
    const auto pos = FindDataAttribute(record, stream);
    if (!pos) return std::nullopt;
    // The walk has checked that the attribute lies inside the record; a size is taken only from
    // inside the attribute, never from whatever follows a header cut short.
    const std::size_t length = record.u32le(*pos + kAttrLength).value_or(0);
    if (record.u8(*pos + kAttrNonResident) == 1) {
        if (length < kAttrRealSize + 8) return std::nullopt;
        return record.u64le(*pos + kAttrRealSize);
    }
    const auto value = residentValueIn(record, *pos, length);
    if (!value) return std::nullopt;
    return value->size();
}

std::size_t FindIndexAllocation(ByteView record) {
    std::size_t found = 0;
    forEachAttribute(record, [&](std::size_t pos, std::uint32_t type, std::size_t len) {
        if (type != kAttrIndexAllocation || record.u8(pos + kAttrNameLength) != 4) return true;
        const auto nameOffset = record.u16le(pos + kAttrNameOffset);
        if (!nameOffset || *nameOffset + 8u > len) return true;
        const ByteView name = record.sub(pos + *nameOffset, 8);
        if (name.u16le(0) == '$' && name.u16le(2) == 'I' && name.u16le(4) == '3' && name.u16le(6) == '0') {
            found = pos;
            return false;
        }
        return true;
    });
    return found;
}

std::uint64_t FirstIndexCluster(ByteView record) {
    const std::size_t pos = FindIndexAllocation(record);
    if (pos == 0 || record.u8(pos + kAttrNonResident) != 1) return 0;
    RunList runs;
    const auto length = record.u32le(pos + kAttrLength).value_or(0);
    const auto runsOffset = record.u16le(pos + kAttrRunsOffset).value_or(0);
    const auto last = DecodeRuns(record, pos + runsOffset, pos + length, 0, 1, runs, 1);
    return last && *last > 0 ? static_cast<std::uint64_t>(*last) : 0;
}

std::vector<AttributeListEntry> ParseAttributeList(ByteView list) {
    std::vector<AttributeListEntry> entries;
    for (std::uint64_t at = 0; list.contains(at, kListEntryMinLength);) {
        // The fixed part lies inside the list: the reads below are in bounds.
        const std::uint32_t type = list.u32le_unchecked(at + kListEntryType);
        const std::uint16_t entryLength = list.u16le_unchecked(at + kListEntryLength);
        if (type == 0 || type == kAttrEnd || entryLength < kListEntryMinLength) break;
        AttributeListEntry entry;
        entry.type = type;
        entry.nameLength = list.u8_unchecked(at + kListEntryNameLength);
        entry.startVcn = list.u64le(at + kListEntryStartVcn).value_or(0);
        entry.record = list.u32le_unchecked(at + kListEntryBaseReference);
        const std::uint8_t nameOffset = list.u8_unchecked(at + kListEntryNameOffset);
        if (entry.nameLength > 0 && nameOffset + std::uint64_t{entry.nameLength} * 2 <= entryLength) {
            entry.name = utf16NameAt(list, at + nameOffset, entry.nameLength).value_or(std::string());
        }
        entries.push_back(std::move(entry));
        at += entryLength;
    }
    return entries;
}

std::optional<std::int64_t> DecodeRuns(ByteView bytes, std::size_t position, std::size_t end,
                                       std::uint64_t volumeStart, std::uint64_t sectorsPerCluster, RunList& runs,
                                       std::size_t maxRuns) {
    end = std::min(end, bytes.size());
    std::optional<std::int64_t> lcn;
    for (std::size_t count = 0; count < maxRuns && position < end; ++count) {
        const std::uint8_t header = bytes.u8_unchecked(position);
        if (header == 0) break;
        const unsigned L = header & 0x0F;
        const unsigned F = header >> 4;
        if (L == 0 || L > 8 || F > 8 || position + 1 + L + F > end) break;
        const std::uint64_t clusters = readLittle(bytes, position + 1, L);
        const auto sectors = checkedMul(clusters, sectorsPerCluster);
        if (!sectors || clusters == 0) break;
        Run run;
        run.length = *sectors;
        if (F == 0) {
            run.sparse = true;
        } else {
            std::uint64_t raw = readLittle(bytes, position + 1 + L, F);
            if (F < 8 && (raw >> (8 * F - 1)) != 0) raw |= ~std::uint64_t{0} << (8 * F);  // sign-extend
            const auto delta = static_cast<std::int64_t>(raw);
            std::int64_t next = 0;
            if (__builtin_add_overflow(lcn.value_or(0), delta, &next) || next < 0) break;
            const auto offset = checkedMul(static_cast<std::uint64_t>(next), sectorsPerCluster);
            if (!offset) break;
            const auto start = checkedAdd(volumeStart, *offset);
            if (!start) break;
            lcn = next;
            run.start = *start;
        }
        runs.push_back(run);
        position += 1 + L + F;
    }
    return lcn;
}

RunList AttributeRuns(ByteView record, std::size_t attributeOffset, std::uint64_t volumeStart,
                      std::uint64_t sectorsPerCluster) {
    RunList runs;
    if (record.u8(attributeOffset + kAttrNonResident) != 1) return runs;
    const auto length = record.u32le(attributeOffset + kAttrLength).value_or(0);
    const auto runsOffset = record.u16le(attributeOffset + kAttrRunsOffset).value_or(0);
    if (runsOffset >= length) return runs;
    (void)DecodeRuns(record, attributeOffset + runsOffset, attributeOffset + length, volumeStart, sectorsPerCluster,
                     runs);
    return runs;
}

const char* SystemFileNumber(const std::string& name) {
    static constexpr std::pair<const char*, const char*> kTable[] = {
        {"$MFT", "1"},    {"$MFTMirror", "1"}, {"$LogFile", "2"}, {"$Volume", "3"}, {"$AttrDef", "4"},
        {"$Bitmap", "6"}, {"$Boot", "7"},      {"$BadClus", "8"}, {"$Secure", "9"}, {"$UpCase", "10"},
    };
    for (const auto& [n, number] : kTable) {
        if (name == n) return number;
    }
    return "0";
}

}  // namespace quorlan
