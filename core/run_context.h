// The one channel through which long engine operations report progress and learn of a stop.
#pragma once

#include <cstdint>
#include <stop_token>
#include <string>
#include <string_view>

namespace quorlan {

// The counters a search keeps while it runs; each front end gives them its own labels.
enum class Counter {
    FoldersFound,      // folders (directory clusters, folder records) found so far
    BootSectorsFound,  // boot sectors found by a scan of sectors
    RecordsFound,      // file records read from the $MFT or found by a scan
    PartitionsFound,   // lost partitions found by a search of the disk
};

// Front ends implement this. The engine calls it from worker threads; implementations must be
// thread-safe and cheap (store values, let a timer show them). The engine never blocks on it.
class SearchObserver {
public:
    virtual ~SearchObserver() = default;
    // A new pass begins: label for the progress bar caption, total work units (0 = unknown).
    virtual void beginPhase(std::string_view label, std::uint64_t totalUnits) = 0;
    // Work done so far in the current pass, absolute and never decreasing.
    virtual void setDone(std::uint64_t doneUnits) = 0;
    // A short status line shown to the user, in the program's own words.
    virtual void status(std::string_view line) = 0;
    // A counter's value so far.
    virtual void counter(Counter which, std::uint64_t value) = 0;
    // A message the front end shows the user (an error box in the window); never waited for.
    virtual void message(std::string_view /*text*/) {}
    // The chosen disk's partition table is corrupt, or lists no partition (the corrupt-table
    // notice): the front end starts the search for lost partitions. Raised at most once per
    // choice of a disk, on the thread that chose it; never waited for.
    virtual void partitionTableCorrupt() {}
};

// A phase label as a front end shows it: "%d" in it stands for the units done so far (a pass
// that counts sectors labels itself "%d / 123456").
[[nodiscard]] inline std::string ExpandPhaseLabel(std::string_view label, std::uint64_t done) {
    std::string text(label);
    if (const auto at = text.find("%d"); at != std::string::npos) text.replace(at, 2, std::to_string(done));
    return text;
}

// An observer that ignores everything, for tests and for calls that report nothing.
class NullObserver : public SearchObserver {
public:
    void beginPhase(std::string_view, std::uint64_t) override {}
    void setDone(std::uint64_t) override {}
    void status(std::string_view) override {}
    void counter(Counter, std::uint64_t) override {}
};

struct RunContext {
    SearchObserver& observer;
    std::stop_token stop;  // polled by the worker, never forced

    [[nodiscard]] bool stopRequested() const { return stop.stop_requested(); }
};

}  // namespace quorlan
