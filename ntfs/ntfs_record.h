// FILE records and INDX buffers: update-sequence repair, attribute walks, data runs.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/bytes.h"

namespace quorlan {

// Attribute types used.
inline constexpr std::uint32_t kAttrAttributeList = 0x20;
inline constexpr std::uint32_t kAttrFileName = 0x30;
inline constexpr std::uint32_t kAttrData = 0x80;
inline constexpr std::uint32_t kAttrIndexAllocation = 0xA0;
inline constexpr std::uint32_t kAttrEnd = 0xFFFFFFFF;

// Attribute header fields.
inline constexpr std::size_t kAttrType = 0x00;             // u32
inline constexpr std::size_t kAttrLength = 0x04;           // u32
inline constexpr std::size_t kAttrNonResident = 0x08;      // u8
inline constexpr std::size_t kAttrNameLength = 0x09;       // u8, characters
inline constexpr std::size_t kAttrNameOffset = 0x0A;       // u16
inline constexpr std::size_t kAttrFlags = 0x0C;            // u16: 0x0001 compressed, 0x4000 encrypted
inline constexpr std::size_t kAttrValueLength = 0x10;      // u32, resident
inline constexpr std::size_t kAttrValueOffset = 0x14;      // u16, resident
inline constexpr std::size_t kAttrLowestVcn = 0x10;        // u64, non-resident
inline constexpr std::size_t kAttrHighestVcn = 0x18;       // u64, non-resident: the last cluster of this part
inline constexpr std::size_t kAttrAllocatedSize = 0x28;    // u64, non-resident, in the part starting at VCN 0
inline constexpr std::size_t kAttrRunsOffset = 0x20;       // u16, non-resident
inline constexpr std::size_t kAttrRealSize = 0x30;         // u64, non-resident, in the part starting at VCN 0
inline constexpr std::size_t kAttrInitializedSize = 0x38;  // u64, likewise

// Header fields that FILE records and INDX buffers share.
inline constexpr std::size_t kUpdateSequenceOffset = 0x04;  // u16: offset of the update sequence array
inline constexpr std::size_t kUpdateSequenceCount = 0x06;   // u16: its entries, the sequence number first

// FILE record header fields.
inline constexpr std::size_t kRecordMagic = 0x00;           // "FILE"
inline constexpr std::size_t kRecordFirstAttribute = 0x14;  // u16
inline constexpr std::size_t kRecordFlags = 0x16;           // u16: 0 deleted file, 1 file, 2 deleted folder, 3 folder
inline constexpr std::size_t kRecordAllocatedSize = 0x1C;   // u32: the record's size in bytes
inline constexpr std::size_t kRecordBaseReference = 0x20;   // u64: 0 in a base record
inline constexpr std::size_t kRecordNumberHigh = 0x2A;      // u16: bits 32 to 47 of the record's number
inline constexpr std::size_t kRecordSelfNumber = 0x2C;      // u32: the record's number, low 32 bits
// Records whose update sequence array begins here or later (NTFS 3.1) hold their own number at
// 0x2A and 0x2C; in older records those bytes belong to the array.
inline constexpr std::uint16_t kNumberedRecordArrayOffset = 0x30;

// $FILE_NAME value fields (the value of a resident attribute of type 0x30, and the key of an
// index entry).
inline constexpr std::size_t kFileNameParent = 0x00;        // u64: parent reference, record number in the low 48 bits
inline constexpr std::size_t kFileNameCreationTime = 0x08;  // i64: 100-ns units since 1601-01-01
inline constexpr std::size_t kFileNameLength = 0x40;        // u8: characters
inline constexpr std::size_t kFileNameSpace = 0x41;         // u8: NameSpace
inline constexpr std::size_t kFileNameChars = 0x42;         // UTF-16 characters
inline constexpr std::size_t kFileNameAttributes = 0x38;    // u32: file attributes, 0x10000000 a folder
inline constexpr std::uint32_t kFileNameIsFolder = 0x10000000;
// A file reference: the record number in the low 48 bits, a sequence number above them.
inline constexpr std::uint64_t kRecordNumberMask = 0xFFFFFFFFFFFFull;

// $ATTRIBUTE_LIST entry fields.
inline constexpr std::size_t kListEntryType = 0x00;           // u32
inline constexpr std::size_t kListEntryLength = 0x04;         // u16
inline constexpr std::size_t kListEntryNameLength = 0x06;     // u8, characters
inline constexpr std::size_t kListEntryNameOffset = 0x07;     // u8: the UTF-16 name, from the entry's start
inline constexpr std::size_t kListEntryStartVcn = 0x08;       // u64
inline constexpr std::size_t kListEntryBaseReference = 0x10;  // u64: the record holding the part, low 32 bits used
inline constexpr std::size_t kListEntryMinLength = 0x1A;      // the fixed part, up to the attribute id

// $FILE_NAME namespaces, in the order names are looked for. A name only in the POSIX namespace
// (what Linux's NTFS driver writes) is taken last.
enum class NameSpace : std::uint8_t { Posix = 0, Win32 = 1, Dos = 2, Win32AndDos = 3 };
inline constexpr NameSpace kNameSpaceOrder[] = {NameSpace::Win32, NameSpace::Win32AndDos, NameSpace::Dos,
                                                NameSpace::Posix};

// Repairs the last two bytes of every 512-byte sector of a FILE record or INDX buffer from its
// update sequence array: entry count - 1 sectors. An array that lies outside the buffer leaves
// the buffer as read.
void ApplyFixup(std::span<std::byte> buffer);

// The update sequence checked before it is applied, as a structure found by a scan of sectors
// must be: the array lies inside the buffer and holds one saved tail for every 512-byte sector of
// it (buffer.size() / 512, besides the sequence number), and every sector ends with the sequence
// number. Then every sector's tail is restored and the result is true; otherwise (a torn or
// damaged record or buffer, or one of another size) the buffer is left as it was.
[[nodiscard]] bool ApplyCheckedFixup(std::span<std::byte> buffer);

// Makes a FILE record read from the disk usable: false when it does not begin with "FILE";
// otherwise its sector tails are repaired (ApplyFixup). Every reader of FILE records goes
// through it.
[[nodiscard]] bool RepairFileRecord(std::span<std::byte> record);

// The record's own number (48 bits), when the record carries one.
[[nodiscard]] std::optional<std::uint64_t> RecordNumber(ByteView record);

struct FileNameInfo {
    std::string name;               // UTF-8
    std::uint64_t parent = 0;       // the parent folder's record number (the low 48 bits of its reference)
    std::int64_t creationTime = 0;  // 100-ns units since 1601-01-01
};

// A $FILE_NAME value (an attribute's value, or the key of a folder's index entry): its name in
// full, its parent and its creation time; empty when the name does not lie wholly inside it.
[[nodiscard]] std::optional<FileNameInfo> ParseFileNameValue(ByteView value);

// The first unnamed $FILE_NAME attribute of the namespace, or empty. Every offset is checked
// against the record; a damaged attribute ends the walk.
[[nodiscard]] std::optional<FileNameInfo> FindFileName(ByteView record, NameSpace ns);
// The name in the first namespace of kNameSpaceOrder that the record has.
[[nodiscard]] std::optional<FileNameInfo> FindAnyFileName(ByteView record);

// The size of the $DATA attribute named stream (empty: the unnamed one, the file's data): the
// 64-bit real size when non-resident, the value length when resident; empty when there is none,
// or when the attribute is too short to hold the real size or its resident value runs past it.
[[nodiscard]] std::optional<std::uint64_t> FindDataSize(ByteView record, std::string_view stream = {});

// The name of the attribute at attributeOffset in UTF-8 ("" when it has none), or empty when the
// name does not lie inside the attribute.
[[nodiscard]] std::optional<std::string> AttributeName(ByteView record, std::size_t attributeOffset);

// The names of the named $DATA attributes of a record (a file's named streams), each once, in
// record order.
[[nodiscard]] std::vector<std::string> NamedDataStreams(ByteView record);

// Offset of the $INDEX_ALLOCATION attribute named $I30, or 0.
[[nodiscard]] std::size_t FindIndexAllocation(ByteView record);
// The cluster (relative to the volume start) of the first run of the $I30 index allocation, or 0.
[[nodiscard]] std::uint64_t FirstIndexCluster(ByteView record);

// One entry of an $ATTRIBUTE_LIST: which record holds which part of an attribute.
struct AttributeListEntry {
    std::uint32_t type = 0;
    std::uint8_t nameLength = 0;
    std::string name;            // UTF-8; empty when unnamed or when the name lies outside the entry
    std::uint64_t startVcn = 0;  // the first cluster of the attribute that this part holds
    std::uint32_t record = 0;    // the record holding it
};

// The entries of an $ATTRIBUTE_LIST value, in order. Ends at a zero or end type, at an entry
// shorter than its fixed part, and where the next entry's fixed part would not fit the value.
[[nodiscard]] std::vector<AttributeListEntry> ParseAttributeList(ByteView list);

// Offset of the first $DATA attribute named stream (empty: the unnamed one), or empty.
[[nodiscard]] std::optional<std::size_t> FindDataAttribute(ByteView record, std::string_view stream);

// Offset of the first attribute of the given type (and, when unnamedOnly, without a name), or
// empty.
[[nodiscard]] std::optional<std::size_t> FindAttribute(ByteView record, std::uint32_t type, bool unnamedOnly);

// Offsets of every attribute of the given type (and, when unnamedOnly, without a name), in
// record order.
[[nodiscard]] std::vector<std::size_t> FindAttributes(ByteView record, std::uint32_t type, bool unnamedOnly);

// The value of the resident attribute at attributeOffset; empty when the attribute is not
// resident or its value does not lie inside the attribute.
[[nodiscard]] std::optional<ByteView> ResidentValue(ByteView record, std::size_t attributeOffset);

// One run of a non-resident attribute, in absolute disk sectors.
struct Run {
    std::uint64_t start = 0;   // first sector; meaningless for a sparse run
    std::uint64_t length = 0;  // sectors
    bool sparse = false;
};
using RunList = std::vector<Run>;

// Decodes the data runs at [position, end) of bytes and appends them. The first run with an
// offset is placed at volumeStart + offset x sectorsPerCluster, each later one relative to the
// one with an offset before it (offsets may be negative). A run without an offset is sparse.
// Stops at a zero header, at a field longer than 8 bytes, at a field that runs past end, at a
// run before the volume start, and after maxRuns runs. Returns the cluster of the last run with
// an offset, relative to the volume start.
std::optional<std::int64_t> DecodeRuns(ByteView bytes, std::size_t position, std::size_t end,
                                       std::uint64_t volumeStart, std::uint64_t sectorsPerCluster, RunList& runs,
                                       std::size_t maxRuns = 1 << 16);

// The runs of the non-resident attribute at attributeOffset of the record.
[[nodiscard]] RunList AttributeRuns(ByteView record, std::size_t attributeOffset, std::uint64_t volumeStart,
                                    std::uint64_t sectorsPerCluster);

// The selfMFT text of a system file by its name ("$MFT" gives "1"), or "0".
[[nodiscard]] const char* SystemFileNumber(const std::string& name);

}  // namespace quorlan
