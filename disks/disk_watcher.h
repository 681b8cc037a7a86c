// Notices removable disks being plugged in or pulled out, so that a disk list refreshes itself.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

#include "core/system_bus.h"
#include "disks/disk_inventory.h"

namespace quorlan {

struct DiskWatchOptions {
    InventoryRoots roots;
    BusAddress bus;
    // How often the inventory is looked at when nothing announced a change: udisksd's signals
    // (InterfacesAdded, InterfacesRemoved) wake the watcher at once; without a system bus this is
    // how a change is noticed.
    std::chrono::milliseconds pollInterval{2000};
};

// Watches on a thread of its own from construction to destruction. Whenever the removable disks
// differ from the last list (a disk came or went, or a card was inserted into a reader), calls
// onChange with the new list, on the watcher's thread: a window hands it over to its own thread.
class DiskWatcher {
public:
    using Callback = std::function<void(const std::vector<DiskInfo>&)>;

    DiskWatcher(DiskWatchOptions options, Callback onChange);
    // Watches the inventory at roots, hearing udisksd on the system bus where there is one.
    DiskWatcher(const InventoryRoots& roots, Callback onChange) : DiskWatcher(optionsFor(roots), std::move(onChange)) {}
    ~DiskWatcher();
    DiskWatcher(const DiskWatcher&) = delete;
    DiskWatcher& operator=(const DiskWatcher&) = delete;

    // True when udisksd's signals are heard (a system bus was found).
    [[nodiscard]] bool hearsUDisks2() const { return m_bus != nullptr; }

private:
    static DiskWatchOptions optionsFor(const InventoryRoots& roots) {
        DiskWatchOptions options;
        options.roots = roots;
        return options;
    }
    void run(const std::stop_token& stop);
    // Waits for a signal, the poll interval or a stop; returns whether a signal was heard.
    bool waitForChange(const std::stop_token& stop);

    DiskWatchOptions m_options;
    Callback m_onChange;
    SdBusPtr m_bus;
    sd_bus_slot* m_addedSlot = nullptr;
    sd_bus_slot* m_removedSlot = nullptr;
    bool m_signalled = false;
    std::vector<DiskInfo> m_last;
    std::mutex m_mutex;
    std::condition_variable_any m_wake;
    std::jthread m_thread;
};

// Two disk lists name the same disks with the same media.
[[nodiscard]] bool SameDisks(const std::vector<DiskInfo>& a, const std::vector<DiskInfo>& b);

}  // namespace quorlan
