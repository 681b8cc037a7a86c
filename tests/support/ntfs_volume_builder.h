// Lays out a small NTFS volume in a DiskBuilder, record by record: a boot sector and its backup in
// the last sector, the $MFT in one run (128 records) and its mirror (records 0 to 3), the root
// folder, folders whose index lies in one INDX buffer each, and files with resident or
// non-resident data. Enough of NTFS for the Advance Search to find, pair and list.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tests/support/disk_builder.h"
#include "tests/support/ntfs_builder.h"

namespace quorlan::test {

class NtfsVolumeBuilder {
public:
    static constexpr std::int64_t kCreated = 133'000'000'000'000'000;
    static constexpr std::uint64_t kMftRecords = 128;

    // A volume of sectors sectors at start, spc sectors per cluster, records of recordBytes; with
    // numbered false its records are of NTFS 3.0 (no number of their own).
    NtfsVolumeBuilder(DiskBuilder& disk, std::uint64_t start, std::uint64_t sectors, std::uint64_t spc,
                      std::size_t recordBytes = 1024, bool numbered = true)
        : m_disk(disk),
          m_start(start),
          m_sectors(sectors),
          m_spc(spc),
          m_recordBytes(recordBytes),
          m_numbered(numbered) {
        m_mftCluster = (64 + spc - 1) / spc;
        const std::uint64_t mftSectors = kMftRecords * recordSectors();
        m_mirrorCluster = m_mftCluster + (mftSectors + spc - 1) / spc;
        m_nextCluster = m_mirrorCluster + (4 * recordSectors() + spc - 1) / spc;
        folder(5, u".", 5);
    }

    [[nodiscard]] std::uint64_t recordSectors() const { return m_recordBytes / 512; }
    [[nodiscard]] std::uint64_t spc() const { return m_spc; }
    [[nodiscard]] std::uint64_t mftSector() const { return clusterSector(m_mftCluster); }
    [[nodiscard]] std::uint64_t mirrorSector() const { return clusterSector(m_mirrorCluster); }
    [[nodiscard]] std::uint64_t recordSector(std::uint64_t n) const { return mftSector() + n * recordSectors(); }
    [[nodiscard]] std::uint64_t clusterSector(std::uint64_t c) const { return m_start + c * m_spc; }
    [[nodiscard]] std::uint64_t start() const { return m_start; }
    [[nodiscard]] std::uint64_t end() const { return m_start + m_sectors; }

    // A folder; indexed: its index lies in an INDX buffer (else in the record, unseen by a scan).
    NtfsVolumeBuilder& folder(std::uint64_t n, const std::u16string& name, std::uint64_t parent, bool indexed = true,
                              bool deleted = false) {
        Item& i = m_items[n];
        i = Item{name, parent, true, deleted, {}, false, indexed ? allocate(8) : 0};
        return *this;
    }
    // A file: its content in the record (resident) or in clusters of its own.
    NtfsVolumeBuilder& file(std::uint64_t n, const std::u16string& name, std::uint64_t parent,
                            const std::string& content, bool resident = false, bool deleted = false) {
        Item& i = m_items[n];
        i = Item{name, parent, false, deleted, content, resident, resident ? 0 : allocate(content.size() / 512 + 1)};
        return *this;
    }

    // An empty record of the volume's size and format.
    [[nodiscard]] RecordBuilder newRecord(std::uint16_t flags) const {
        return RecordBuilder(m_recordBytes, flags, m_numbered ? 0x30 : 0x2A);
    }
    // A record of its own making at number n (its number and update sequence are added).
    NtfsVolumeBuilder& raw(std::uint64_t n, RecordBuilder record) {
        m_raw.emplace(n, std::move(record));
        return *this;
    }
    // A data run list of count clusters at cluster, and a free cluster for such data.
    [[nodiscard]] static std::vector<std::uint8_t> runList(std::uint64_t cluster, std::uint64_t count) {
        return runs(cluster, count);
    }
    std::uint64_t allocateClusters(std::uint64_t count) { return allocate(count * m_spc); }

    // Writes the volume: the records, the mirror, the index buffers, the file data and, with
    // bootSectors, the boot sector and its backup.
    void write(bool bootSectors = true) {
        const std::uint64_t mftClusters = (kMftRecords * recordSectors() + m_spc - 1) / m_spc;
        const std::uint64_t mirrorClusters = (4 * recordSectors() + m_spc - 1) / m_spc;
        std::map<std::uint64_t, RecordBuilder> records;
        records.emplace(0, systemFile(u"$MFT", m_mftCluster, mftClusters, kMftRecords * m_recordBytes));
        records.emplace(1, systemFile(u"$MFTMirr", m_mirrorCluster, mirrorClusters, 4 * m_recordBytes));
        records.emplace(2, systemFile(u"$LogFile", 0, 0, 0));
        records.emplace(3, systemFile(u"$Volume", 0, 0, 0));
        for (const auto& [n, item] : m_items) {
            const std::uint16_t flags = item.folder ? (item.deleted ? 2 : 3) : (item.deleted ? 0 : 1);
            RecordBuilder r(m_recordBytes, flags, m_numbered ? 0x30 : 0x2A);
            r.fileName(item.name, static_cast<std::uint32_t>(item.parent), 1, kCreated);
            if (item.folder && item.cluster != 0) {
                const std::uint64_t clusters = (8 + m_spc - 1) / m_spc;
                r.nonResident(0xA0, runs(item.cluster, clusters), 4096, u"$I30", clusters, m_spc * 512);
                IndexBufferBuilder index(4096, 0);
                for (const auto& [child, c] : m_items) {
                    if (c.parent == n && child != n) index.entry(child, c.name, n, c.folder, kCreated);
                }
                m_disk.put(clusterSector(item.cluster), index.protect());
            } else if (!item.folder && item.resident) {
                std::vector<std::byte> value(item.content.size());
                std::memcpy(value.data(), item.content.data(), value.size());
                r.resident(0x80, value);
            } else if (!item.folder) {
                const std::uint64_t clusters = (item.content.size() / 512 + 1 + m_spc - 1) / m_spc;
                r.nonResident(0x80, runs(item.cluster, clusters), item.content.size(), {}, clusters, m_spc * 512);
                std::vector<std::byte> data(item.content.size());
                std::memcpy(data.data(), item.content.data(), data.size());
                m_disk.put(clusterSector(item.cluster), data);
            }
            records.emplace(n, std::move(r));
        }
        for (auto& [n, r] : m_raw) records.insert_or_assign(n, std::move(r));
        for (auto& [n, r] : records) {
            if (m_numbered) r.self(static_cast<std::uint32_t>(n));
            const std::vector<std::byte> bytes = r.protect();
            m_disk.put(recordSector(n), bytes);
            if (n < 4) m_disk.put(mirrorSector() + n * recordSectors(), bytes);
        }
        if (bootSectors) {
            bootSector(m_start);
            bootSector(m_start + m_sectors - 1);
        }
    }

private:
    struct Item {
        std::u16string name;
        std::uint64_t parent = 5;
        bool folder = false;
        bool deleted = false;
        std::string content;
        bool resident = false;
        std::uint64_t cluster = 0;  // the index buffer's or the data's first cluster; 0 for none
    };

    std::uint64_t allocate(std::uint64_t sectors) {
        const std::uint64_t c = m_nextCluster;
        m_nextCluster += (sectors + m_spc - 1) / m_spc;
        return c;
    }

    // One run of count clusters at cluster.
    static std::vector<std::uint8_t> runs(std::uint64_t cluster, std::uint64_t count) {
        auto little = [](std::uint64_t v, bool sign) {
            std::vector<std::uint8_t> b;
            do {
                b.push_back(static_cast<std::uint8_t>(v));
                v >>= 8;
            } while (v != 0 || (sign && (b.back() & 0x80) != 0));
            return b;
        };
        const auto length = little(count, false);
        const auto offset = little(cluster, true);
        std::vector<std::uint8_t> out{static_cast<std::uint8_t>(offset.size() << 4 | length.size())};
        out.insert(out.end(), length.begin(), length.end());
        out.insert(out.end(), offset.begin(), offset.end());
        return out;
    }

    // A system file whose data lies in count clusters at cluster, or is empty (count 0).
    RecordBuilder systemFile(const std::u16string& name, std::uint64_t cluster, std::uint64_t count,
                             std::uint64_t size) {
        RecordBuilder r(m_recordBytes, 1, m_numbered ? 0x30 : 0x2A);
        r.fileName(name, 5, 3, kCreated);
        if (count == 0) {
            r.resident(0x80, {});
        } else {
            r.nonResident(0x80, runs(cluster, count), size, {}, count, m_spc * 512);
        }
        return r;
    }

    void bootSector(std::uint64_t sector) {
        m_disk.ntfsBootSector(sector).byte(sector, 13, static_cast<std::uint8_t>(m_spc));
        m_disk.u32(sector, 0x28, static_cast<std::uint32_t>(m_sectors - 1));
        m_disk.u32(sector, 0x30, static_cast<std::uint32_t>(m_mftCluster));
        m_disk.u32(sector, 0x38, static_cast<std::uint32_t>(m_mirrorCluster));
        const std::uint8_t recordField = m_recordBytes == 4096 ? 0xF4 : m_recordBytes == 2048 ? 0xF5 : 0xF6;
        m_disk.byte(sector, 0x40, recordField).byte(sector, 0x44, 0xF4);
    }

    DiskBuilder& m_disk;
    std::uint64_t m_start;
    std::uint64_t m_sectors;
    std::uint64_t m_spc;
    std::size_t m_recordBytes;
    bool m_numbered;
    std::uint64_t m_mftCluster = 0;
    std::uint64_t m_mirrorCluster = 0;
    std::uint64_t m_nextCluster = 0;
    std::map<std::uint64_t, Item> m_items;
    std::map<std::uint64_t, RecordBuilder> m_raw;
};

}  // namespace quorlan::test
