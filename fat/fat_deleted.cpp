#include "fat/fat_deleted.h"

#include <algorithm>
#include <map>
#include <set>
#include <unordered_set>

#include "fat/fat_file.h"

namespace quorlan {

namespace {

// FAT keeps write times in steps of two seconds: a stamp may lie up to that much before the write.
constexpr std::int64_t kSlack = 200;
// How far past its first cluster a file's clusters are looked for, at the least.
constexpr std::uint64_t kMinSearchClusters = 1u << 16;

constexpr const char* kWhyFirstTaken = "its first cluster now belongs to another file";
constexpr const char* kWhyFirstShared = "another entry starts at its first cluster";
constexpr const char* kWhyMeetsFirst = "its clusters run into another file's first cluster";
constexpr const char* kWhyMeetsLive = "its clusters run into a live file's";
constexpr const char* kWhyUnreadable = "the FAT cannot be read where its clusters lie";
constexpr const char* kWhyVolumeEnd = "the volume ends before its size";
constexpr const char* kWhyShared = "another deleted file's clusters may lie among its own";
constexpr const char* kWhyShort = "no more free clusters were found for it";

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
std::int64_t daysFromCivil(std::int64_t y, std::int64_t m, std::int64_t d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

struct Anchor {
    std::int64_t created = kNoStamp;  // the earliest creation time of the entries starting here
    int entries = 0;                  // directory entries starting here
    bool folder = false;              // a folder the search found starts here
    // No entry that starts behind it was created before it: what lies behind it was allocated
    // after its creation, unless a slot was used again (which an older entry behind it shows).
    bool inOrder = false;
};

enum class Kind {
    Contiguous,  // keeps its run of free clusters
    Blocked,     // its run meets another file's clusters
    Apart,       // its first cluster is allocated or named by another entry: the contiguous guess
};

struct Deleted {
    const FatEntryFact* fact = nullptr;
    std::uint32_t first = 0;
    std::uint64_t need = 0;  // clusters its size takes
    Kind kind = Kind::Contiguous;
    std::vector<std::uint32_t> clusters;
    std::vector<const char*> why;
    bool mark = false;

    void flag(const char* reason) {
        mark = true;
        if (std::find(why.begin(), why.end(), reason) == why.end()) why.push_back(reason);
    }
};

class Weigher {
public:
    Weigher(ClusterChainReader& chains, const FatVolumeParams& params, std::uint64_t clusterEnd)
        : m_chains(chains), m_fat32(params.isFat32()), m_clusterEnd(clusterEnd) {}

    std::unordered_map<std::uint64_t, FatGuess> run(const std::vector<FatEntryFact>& entries,
                                                    const std::vector<std::uint32_t>& folderClusters,
                                                    std::uint64_t clusterBytes) {
        collectAnchors(entries, folderClusters);
        collectDeleted(entries, clusterBytes);
        for (std::size_t i = 0; i < m_files.size(); ++i) classify(i);
        std::vector<std::size_t> blocked;
        for (std::size_t i = 0; i < m_files.size(); ++i) {
            if (m_files[i].kind == Kind::Blocked) blocked.push_back(i);
        }
        std::stable_sort(blocked.begin(), blocked.end(),
                         [&](std::size_t a, std::size_t b) { return m_files[a].first < m_files[b].first; });
        for (const std::size_t b : blocked) {
            m_owner[m_files[b].first] = b;
            choose(b, true);
        }
        markAmbiguous(blocked);

        std::unordered_map<std::uint64_t, FatGuess> guesses;
        for (Deleted& f : m_files) {
            std::sort(f.clusters.begin(), f.clusters.end());
            const bool pastEnd = std::find(f.why.begin(), f.why.end(), kWhyVolumeEnd) != f.why.end();
            if (f.clusters.size() < f.need) f.flag(f.kind == Kind::Apart || pastEnd ? kWhyVolumeEnd : kWhyShort);
            FatGuess g;
            g.clusters = std::move(f.clusters);
            g.mayBeIncomplete = f.mark;
            for (const char* w : f.why) g.why += (g.why.empty() ? "" : "; ") + std::string(w);
            guesses.emplace(f.fact->position, std::move(g));
        }
        return guesses;
    }

private:
    // The FAT entry of c without FAT32's reserved top bits, or empty when it cannot be read.
    std::optional<std::uint32_t> fat(std::uint64_t c) {
        const auto e = m_chains.entry(static_cast<std::uint32_t>(c));
        if (!e) return e;
        return m_fat32 ? (*e & 0x0FFFFFFFu) : *e;
    }
    // As the contiguous guess reads the FAT: an entry that cannot be read counts as free.
    bool free(std::uint64_t c) {
        const auto e = fat(c);
        return !e || *e == 0;
    }
    // A cluster that may hold a deleted file's data: free, and no entry starts there.
    bool eligible(std::uint64_t c) {
        return c < m_clusterEnd && m_anchors.count(static_cast<std::uint32_t>(c)) == 0 && free(c);
    }

    void collectAnchors(const std::vector<FatEntryFact>& entries, const std::vector<std::uint32_t>& folderClusters) {
        std::unordered_set<std::uint64_t> seen;  // a directory read twice gives its entries twice
        for (const FatEntryFact& e : entries) {
            if (e.firstCluster < 2 || e.firstCluster >= m_clusterEnd || !seen.insert(e.position).second) continue;
            Anchor& a = m_anchors[e.firstCluster];
            ++a.entries;
            if (e.created != kNoStamp && (a.created == kNoStamp || e.created < a.created)) a.created = e.created;
        }
        for (const std::uint32_t c : folderClusters) {
            if (c >= 2 && c < m_clusterEnd) m_anchors[c].folder = true;
        }
        std::int64_t laterMin = std::numeric_limits<std::int64_t>::max();
        for (auto it = m_anchors.rbegin(); it != m_anchors.rend(); ++it) {
            Anchor& a = it->second;
            if (a.created == kNoStamp) continue;
            a.inOrder = a.created - kSlack <= laterMin;
            laterMin = std::min(laterMin, a.created);
        }
    }

    void collectDeleted(const std::vector<FatEntryFact>& entries, std::uint64_t clusterBytes) {
        std::unordered_set<std::uint64_t> seen;
        for (const FatEntryFact& e : entries) {
            if (e.directory || e.size == 0 || e.firstCluster < 2 || e.firstCluster >= m_clusterEnd) continue;
            const auto first = fat(e.firstCluster);
            const bool chainGone = !first || *first == 0;
            if (!e.deleted && !chainGone) continue;  // a live file: its chain says where it lies
            if (!seen.insert(e.position).second) continue;
            Deleted d;
            d.fact = &e;
            d.first = e.firstCluster;
            d.need = (std::uint64_t{e.size} + clusterBytes - 1) / clusterBytes;
            m_files.push_back(std::move(d));
        }
    }

    // The free clusters from the first one on, skipping allocated ones: the contiguous guess.
    std::vector<std::uint32_t> contiguousGuess(const Deleted& f) {
        std::vector<std::uint32_t> out;
        for (std::uint64_t c = f.first; c < m_clusterEnd && out.size() < f.need; ++c) {
            if (free(c)) out.push_back(static_cast<std::uint32_t>(c));
        }
        return out;
    }

    void classify(std::size_t i) {
        Deleted& f = m_files[i];
        const Anchor& a = m_anchors.at(f.first);
        if (!free(f.first)) {
            f.kind = Kind::Apart;
            f.flag(kWhyFirstTaken);
        } else if (a.entries > 1 || a.folder) {
            f.kind = Kind::Apart;
            f.flag(kWhyFirstShared);
        }
        if (f.kind == Kind::Apart) {
            f.clusters = contiguousGuess(f);
            return;
        }
        for (std::uint64_t c = std::uint64_t{f.first} + 1; c < std::uint64_t{f.first} + f.need; ++c) {
            if (c >= m_clusterEnd) {
                f.flag(kWhyVolumeEnd);
                break;
            }
            if (m_anchors.count(static_cast<std::uint32_t>(c)) != 0) f.flag(kWhyMeetsFirst);
            const auto e = fat(c);
            if (!e) {
                f.flag(kWhyUnreadable);
            } else if (*e != 0) {
                f.flag(kWhyMeetsLive);
            }
        }
        if (f.mark) {
            f.kind = Kind::Blocked;
            f.clusters = {f.first};
            return;
        }
        for (std::uint64_t c = f.first; c < std::uint64_t{f.first} + f.need; ++c) {
            f.clusters.push_back(static_cast<std::uint32_t>(c));
            m_owner[static_cast<std::uint32_t>(c)] = i;
        }
    }

    // How far past its first cluster a file's clusters are looked for.
    std::uint64_t searchEnd(const Deleted& f) const {
        return std::min(m_clusterEnd, std::uint64_t{f.first} + std::max(kMinSearchClusters, 4 * f.need));
    }

    // The first cluster behind which the file cannot lie by the times: where an entry starts
    // that was created after the file's last write, with no older entry behind it. m_clusterEnd
    // when the times say nothing: unknown, or a last write before the creation (a copy keeps the
    // time of the file it copied).
    std::uint64_t timeBound(const Deleted& f) const {
        const std::int64_t created = f.fact->created;
        const std::int64_t written = f.fact->written;
        if (created == kNoStamp || written == kNoStamp || written < created - kSlack) return m_clusterEnd;
        const std::uint64_t end = searchEnd(f);
        for (auto it = m_anchors.upper_bound(f.first); it != m_anchors.end() && it->first < end; ++it) {
            if (it->second.inOrder && it->second.created > written + kSlack) return it->first;
        }
        return m_clusterEnd;
    }

    // Gives file i the clusters it still lacks. With steal, where the times allow only clusters
    // that another file's contiguous run holds, it takes those, and that file looks again.
    void choose(std::size_t i, bool steal) {
        Deleted& f = m_files[i];
        if (f.clusters.size() >= f.need) return;
        const std::uint64_t wanted = f.need - f.clusters.size();
        const std::uint64_t end = searchEnd(f);
        const std::uint64_t timed = timeBound(f);
        const std::uint64_t bound = std::min(timed, end);
        std::vector<std::uint32_t> picked;
        auto pick = [&](std::uint64_t from, std::uint64_t to, bool held) {
            for (std::uint64_t c = from; c < to && picked.size() < wanted; ++c) {
                const auto key = static_cast<std::uint32_t>(c);
                const auto owner = m_owner.find(key);
                const bool isHeld = owner != m_owner.end();
                if (isHeld != held || !eligible(c)) continue;
                if (held && (owner->second == i || m_files[owner->second].kind != Kind::Contiguous)) continue;
                if (std::find(picked.begin(), picked.end(), key) == picked.end()) picked.push_back(key);
            }
        };
        const std::uint64_t from = std::uint64_t{f.first} + 1;
        pick(from, bound, false);
        if (steal && timed < m_clusterEnd) pick(from, bound, true);
        pick(std::max(bound, from), end, false);

        std::vector<std::size_t> victims;
        for (const std::uint32_t c : picked) {
            if (const auto owner = m_owner.find(c); owner != m_owner.end()) {
                Deleted& v = m_files[owner->second];
                std::erase(v.clusters, c);
                v.flag(kWhyShared);
                if (std::find(victims.begin(), victims.end(), owner->second) == victims.end()) {
                    victims.push_back(owner->second);
                }
            }
            m_owner[c] = i;
            f.clusters.push_back(c);
        }
        for (const std::size_t v : victims) choose(v, false);
    }

    // A contiguous file holding one of the nearest candidates of a blocked file may hold that
    // file's data instead of its own; likewise where a file set apart is guessed to lie.
    void markAmbiguous(const std::vector<std::size_t>& blocked) {
        auto touch = [&](std::uint32_t c, std::size_t by) {
            const auto owner = m_owner.find(c);
            if (owner != m_owner.end() && owner->second != by && m_files[owner->second].kind == Kind::Contiguous) {
                m_files[owner->second].flag(kWhyShared);
            }
        };
        for (const std::size_t b : blocked) {
            const Deleted& f = m_files[b];
            const std::uint64_t end = searchEnd(f);
            std::uint64_t found = 1;
            for (std::uint64_t c = std::uint64_t{f.first} + 1; c < end && found < f.need; ++c) {
                if (!eligible(c)) continue;
                ++found;
                touch(static_cast<std::uint32_t>(c), b);
            }
        }
        for (std::size_t i = 0; i < m_files.size(); ++i) {
            if (m_files[i].kind != Kind::Apart) continue;
            for (const std::uint32_t c : m_files[i].clusters) touch(c, i);
        }
    }

    ClusterChainReader& m_chains;
    bool m_fat32;
    std::uint64_t m_clusterEnd;
    std::map<std::uint32_t, Anchor> m_anchors;
    std::vector<Deleted> m_files;
    std::unordered_map<std::uint32_t, std::size_t> m_owner;  // cluster -> the file the guess gives it to
};

}  // namespace

std::int64_t FatStamp(std::uint16_t date, std::uint16_t time, std::uint8_t hundredths) {
    const int day = date & 0x1F;
    const int month = (date >> 5) & 0x0F;
    const int year = 1980 + (date >> 9);
    const int hour = time >> 11;
    const int minute = (time >> 5) & 0x3F;
    const int second = (time & 0x1F) * 2;
    if (day == 0 || month == 0 || month > 12 || hour > 23 || minute > 59 || second > 59 || hundredths > 199) {
        return kNoStamp;
    }
    const std::int64_t days = daysFromCivil(year, month, day) - daysFromCivil(1980, 1, 1);
    return ((days * 24 + hour) * 60 + minute) * 6000 + std::int64_t{second} * 100 + hundredths;
}

FatDeletedFiles FatDeletedFiles::Weigh(ClusterChainReader& chains, const FatVolumeParams& params,
                                       std::uint64_t volumeEnd, const std::vector<FatEntryFact>& entries,
                                       const std::vector<std::uint32_t>& folderClusters) {
    FatDeletedFiles result;
    const std::uint64_t clusterBytes = params.SPC * kSectorSize;
    if (!params.isFat() || clusterBytes == 0) return result;
    Weigher weigher(chains, params, FatClusterEnd(params, volumeEnd));
    result.m_guesses = weigher.run(entries, folderClusters, clusterBytes);
    return result;
}

const FatGuess* FatDeletedFiles::Find(std::uint64_t position) const {
    const auto it = m_guesses.find(position);
    return it == m_guesses.end() ? nullptr : &it->second;
}

}  // namespace quorlan
