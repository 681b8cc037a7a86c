// Builds NTFS FILE records in memory: header, update sequence, attributes, end marker; and
// protects them as they lie on disk (sector tails swapped for the update sequence number).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace quorlan::test {

class RecordBuilder {
public:
    // usaOffset 0x30 is a record of NTFS 3.1, which holds its own number at 0x2C; 0x2A one of
    // NTFS 3.0, whose array covers those bytes.
    explicit RecordBuilder(std::size_t size = 1024, std::uint16_t flags = 1, std::uint16_t usaOffset = 0x30)
        : m_bytes(size), m_usa(usaOffset) {
        std::memcpy(m_bytes.data(), "FILE", 4);
        u16(0x04, usaOffset);                                          // update sequence array
        u16(0x06, static_cast<std::uint16_t>(size / 512 + 1));         // its entries, the number included
        m_pos = align8(usaOffset + 2 * (size / 512 + 1));                // the first attribute, after the array
        u16(0x14, static_cast<std::uint16_t>(m_pos));
        u16(0x16, flags);
        u32(0x1C, static_cast<std::uint32_t>(size));
    }

    RecordBuilder& self(std::uint32_t n) { return u32(0x2C, n); }

    // A resident, unnamed $FILE_NAME.
    RecordBuilder& fileName(const std::u16string& name, std::uint32_t parent, std::uint8_t nameSpace,
                            std::int64_t created = 0) {
        std::vector<std::byte> value(0x42 + name.size() * 2);
        put32(value, 0x00, parent);
        put64(value, 0x08, static_cast<std::uint64_t>(created));
        value[0x40] = std::byte{static_cast<std::uint8_t>(name.size())};
        value[0x41] = std::byte{nameSpace};
        for (std::size_t i = 0; i < name.size(); ++i) put16(value, 0x42 + 2 * i, name[i]);
        return resident(0x30, value);
    }
    // A resident attribute of any type.
    RecordBuilder& resident(std::uint32_t type, const std::vector<std::byte>& value, const std::u16string& name = {}) {
        const std::size_t nameOffset = 0x18;
        const std::size_t valueOffset = align8(nameOffset + name.size() * 2);
        const std::size_t length = align8(valueOffset + value.size());
        header(type, length, 0, name, nameOffset);
        u32(m_pos + 0x10, static_cast<std::uint32_t>(value.size()));
        u16(m_pos + 0x14, static_cast<std::uint16_t>(valueOffset));
        std::memcpy(m_bytes.data() + m_pos + valueOffset, value.data(), value.size());
        m_pos += length;
        return *this;
    }
    // A non-resident attribute with the given run bytes and real size; clusters and clusterBytes,
    // when given, fill in its last VCN and its allocated and initialized sizes.
    RecordBuilder& nonResident(std::uint32_t type, const std::vector<std::uint8_t>& runs, std::uint64_t realSize,
                               const std::u16string& name = {}, std::uint64_t clusters = 0,
                               std::uint64_t clusterBytes = 0) {
        if (clusters != 0) {
            u64(m_pos + 0x18, clusters - 1);
            u64(m_pos + 0x28, clusters * clusterBytes);
            u64(m_pos + 0x38, realSize);
        }
        const std::size_t nameOffset = 0x40;
        const std::size_t runsOffset = align8(nameOffset + name.size() * 2);
        const std::size_t length = align8(runsOffset + runs.size() + 1);
        header(type, length, 1, name, nameOffset);
        u16(m_pos + 0x20, static_cast<std::uint16_t>(runsOffset));
        u64(m_pos + 0x30, realSize);
        for (std::size_t i = 0; i < runs.size(); ++i) m_bytes[m_pos + runsOffset + i] = std::byte{runs[i]};
        m_pos += length;
        return *this;
    }
    // A resident $ATTRIBUTE_LIST with one entry per (type, base record).
    RecordBuilder& attributeList(const std::vector<std::pair<std::uint32_t, std::uint32_t>>& entries) {
        std::vector<std::byte> value;
        for (const auto& [type, base] : entries) {
            std::vector<std::byte> e(0x20);
            put32(e, 0x00, type);
            put16(e, 0x04, 0x20);
            put32(e, 0x10, base);
            value.insert(value.end(), e.begin(), e.end());
        }
        return resident(0x20, value);
    }
    // A resident $ATTRIBUTE_LIST whose entries carry a starting cluster and a name.
    struct ListEntry {
        std::uint32_t type;
        std::uint32_t base;
        std::uint64_t startVcn;
        std::u16string name;
    };
    RecordBuilder& namedAttributeList(const std::vector<ListEntry>& entries) {
        std::vector<std::byte> value;
        for (const ListEntry& l : entries) {
            std::vector<std::byte> e(align8(0x1A + l.name.size() * 2));
            put32(e, 0x00, l.type);
            put16(e, 0x04, static_cast<std::uint16_t>(e.size()));
            e[0x06] = std::byte{static_cast<std::uint8_t>(l.name.size())};
            e[0x07] = std::byte{0x1A};
            put64(e, 0x08, l.startVcn);
            put32(e, 0x10, l.base);
            for (std::size_t i = 0; i < l.name.size(); ++i) put16(e, 0x1A + 2 * i, l.name[i]);
            value.insert(value.end(), e.begin(), e.end());
        }
        return resident(0x20, value);
    }
    // The initialized size of the last attribute added, which must be non-resident.
    RecordBuilder& initializedSize(std::uint64_t v) { return u64(m_last + 0x38, v); }
    // Writes raw bytes at an offset (for damage).
    RecordBuilder& poke32(std::size_t offset, std::uint32_t v) { return u32(offset, v); }

    // The record as it lies on disk: each sector's last two bytes saved in the update sequence
    // array and replaced by the update sequence number 0x0007.
    std::vector<std::byte> protect() {
        end();
        std::vector<std::byte> out = m_bytes;
        put16(out, m_usa, 0x0007);
        for (std::size_t s = 0; s < out.size() / 512; ++s) {
            const std::size_t tail = 510 + 512 * s;
            out[m_usa + 2 + 2 * s] = out[tail];
            out[m_usa + 3 + 2 * s] = out[tail + 1];
            put16(out, tail, 0x0007);
        }
        return out;
    }
    // The record as read after repair.
    std::vector<std::byte> bytes() {
        end();
        return m_bytes;
    }

private:
    static std::size_t align8(std::size_t v) { return (v + 7) & ~std::size_t{7}; }
    void end() {
        if (m_ended) return;
        u32(m_pos, 0xFFFFFFFF);
        u32(0x18, static_cast<std::uint32_t>(m_pos + 8));  // used size
        m_ended = true;
    }
    void header(std::uint32_t type, std::size_t length, std::uint8_t nonResident, const std::u16string& name,
                std::size_t nameOffset) {
        m_last = m_pos;
        u32(m_pos, type);
        u32(m_pos + 4, static_cast<std::uint32_t>(length));
        m_bytes[m_pos + 8] = std::byte{nonResident};
        m_bytes[m_pos + 9] = std::byte{static_cast<std::uint8_t>(name.size())};
        u16(m_pos + 0x0A, static_cast<std::uint16_t>(nameOffset));
        for (std::size_t i = 0; i < name.size(); ++i) u16(m_pos + nameOffset + 2 * i, name[i]);
    }
    static void put16(std::vector<std::byte>& b, std::size_t at, std::uint16_t v) {
        b.at(at) = std::byte{static_cast<std::uint8_t>(v)};
        b.at(at + 1) = std::byte{static_cast<std::uint8_t>(v >> 8)};
    }
    static void put32(std::vector<std::byte>& b, std::size_t at, std::uint32_t v) {
        put16(b, at, static_cast<std::uint16_t>(v));
        put16(b, at + 2, static_cast<std::uint16_t>(v >> 16));
    }
    static void put64(std::vector<std::byte>& b, std::size_t at, std::uint64_t v) {
        put32(b, at, static_cast<std::uint32_t>(v));
        put32(b, at + 4, static_cast<std::uint32_t>(v >> 32));
    }
    RecordBuilder& u16(std::size_t at, std::uint16_t v) { put16(m_bytes, at, v); return *this; }
    RecordBuilder& u32(std::size_t at, std::uint32_t v) { put32(m_bytes, at, v); return *this; }
    RecordBuilder& u64(std::size_t at, std::uint64_t v) { put64(m_bytes, at, v); return *this; }

    std::vector<std::byte> m_bytes;
    std::size_t m_usa = 0x30;
    std::size_t m_pos = 0;
    std::size_t m_last = 0;  // the last attribute added
    bool m_ended = false;
};

// Builds an INDX buffer of a folder's index in memory: header, update sequence array, entries whose
// keys are $FILE_NAME values, the node's last entry; and protects it as it lies on disk.
class IndexBufferBuilder {
public:
    explicit IndexBufferBuilder(std::size_t size = 4096, std::uint64_t vcn = 0) : m_bytes(size) {
        std::memcpy(m_bytes.data(), "INDX", 4);
        put16(m_bytes, 0x04, 0x28);                                        // update sequence array
        put16(m_bytes, 0x06, static_cast<std::uint16_t>(size / 512 + 1));  // its entries, the number included
        put64(m_bytes, 0x10, vcn);
        m_pos = (0x28 + 2 * (size / 512 + 1) + 7) & ~std::size_t{7};
        put32(m_bytes, 0x18, static_cast<std::uint32_t>(m_pos - 0x18));    // first entry
        put32(m_bytes, 0x20, static_cast<std::uint32_t>(size - 0x18));     // allocated
    }

    // An entry naming child, whose key is the $FILE_NAME of name in folder parent.
    IndexBufferBuilder& entry(std::uint64_t child, const std::u16string& name, std::uint64_t parent, bool folder,
                              std::int64_t created = 0) {
        std::vector<std::byte> key(0x42 + name.size() * 2);
        put64(key, 0x00, parent | (std::uint64_t{1} << 48));  // a sequence number above the record number
        put64(key, 0x08, static_cast<std::uint64_t>(created));
        put32(key, 0x38, folder ? 0x10000000u : 0x20u);
        key[0x40] = std::byte{static_cast<std::uint8_t>(name.size())};
        key[0x41] = std::byte{1};
        for (std::size_t i = 0; i < name.size(); ++i) put16(key, 0x42 + 2 * i, name[i]);
        return rawEntry(child | (std::uint64_t{1} << 48), key, 0);
    }
    // An entry with any key (other indexes' keys are no $FILE_NAME).
    IndexBufferBuilder& rawEntry(std::uint64_t reference, const std::vector<std::byte>& key, std::uint16_t flags) {
        const std::size_t length = (0x10 + key.size() + 7) & ~std::size_t{7};
        put64(m_bytes, m_pos, reference);
        put16(m_bytes, m_pos + 0x08, static_cast<std::uint16_t>(length));
        put16(m_bytes, m_pos + 0x0A, static_cast<std::uint16_t>(key.size()));
        put16(m_bytes, m_pos + 0x0C, flags);
        std::memcpy(m_bytes.data() + m_pos + 0x10, key.data(), key.size());
        m_pos += length;
        return *this;
    }
    // Writes raw bytes at an offset (for damage).
    IndexBufferBuilder& poke16(std::size_t offset, std::uint16_t v) {
        end();
        put16(m_bytes, offset, v);
        return *this;
    }

    // The buffer as it lies on disk, every sector's tail replaced by the sequence number 0x0009.
    std::vector<std::byte> protect() {
        end();
        std::vector<std::byte> out = m_bytes;
        put16(out, 0x28, 0x0009);
        for (std::size_t s = 0; s < out.size() / 512; ++s) {
            const std::size_t tail = 510 + 512 * s;
            out[0x2A + 2 * s] = out[tail];
            out[0x2A + 2 * s + 1] = out[tail + 1];
            put16(out, tail, 0x0009);
        }
        return out;
    }
    // The buffer as read after repair.
    std::vector<std::byte> bytes() {
        end();
        return m_bytes;
    }

private:
    void end() {
        if (m_ended) return;
        rawEntry(0, {}, 0x02);
        put32(m_bytes, 0x1C, static_cast<std::uint32_t>(m_pos - 0x18));  // entries in use
        m_ended = true;
    }
    static void put16(std::vector<std::byte>& b, std::size_t at, std::uint16_t v) {
        b.at(at) = std::byte{static_cast<std::uint8_t>(v)};
        b.at(at + 1) = std::byte{static_cast<std::uint8_t>(v >> 8)};
    }
    static void put32(std::vector<std::byte>& b, std::size_t at, std::uint32_t v) {
        put16(b, at, static_cast<std::uint16_t>(v));
        put16(b, at + 2, static_cast<std::uint16_t>(v >> 16));
    }
    static void put64(std::vector<std::byte>& b, std::size_t at, std::uint64_t v) {
        put32(b, at, static_cast<std::uint32_t>(v));
        put32(b, at + 4, static_cast<std::uint32_t>(v >> 32));
    }

    std::vector<std::byte> m_bytes;
    std::size_t m_pos = 0;
    bool m_ended = false;
};

}  // namespace quorlan::test
