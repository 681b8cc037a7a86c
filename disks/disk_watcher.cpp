#include "disks/disk_watcher.h"

#include <algorithm>

namespace quorlan {

namespace {

// Waits at most this long in one go, so that a stop is honoured promptly.
constexpr std::chrono::milliseconds kSlice{100};

int onSignal(sd_bus_message* /*m*/, void* userdata, sd_bus_error* /*error*/) {
    *static_cast<bool*>(userdata) = true;
    return 0;
}

}  // namespace

bool SameDisks(const std::vector<DiskInfo>& a, const std::vector<DiskInfo>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const DiskInfo& x, const DiskInfo& y) {
        return x.DeviceID == y.DeviceID && x.TotalSectors == y.TotalSectors && x.Model == y.Model &&
               x.SerialNumber == y.SerialNumber;
    });
}

DiskWatcher::DiskWatcher(DiskWatchOptions options, Callback onChange)
    : m_options(std::move(options)), m_onChange(std::move(onChange)) {
    m_last = EnumerateRemovableDisks(m_options.roots);
    m_bus = ConnectSystemBus(m_options.bus);
    if (m_bus) {
        // Matches are added before the thread starts, so no signal sent after construction is
        // missed.
        const int added =
            sd_bus_match_signal(m_bus.get(), &m_addedSlot, "org.freedesktop.UDisks2", "/org/freedesktop/UDisks2",
                                "org.freedesktop.DBus.ObjectManager", "InterfacesAdded", onSignal, &m_signalled);
        const int removed =
            sd_bus_match_signal(m_bus.get(), &m_removedSlot, "org.freedesktop.UDisks2", "/org/freedesktop/UDisks2",
                                "org.freedesktop.DBus.ObjectManager", "InterfacesRemoved", onSignal, &m_signalled);
        if (added < 0 || removed < 0) {
            m_addedSlot = sd_bus_slot_unref(m_addedSlot);
            m_removedSlot = sd_bus_slot_unref(m_removedSlot);
            m_bus.reset();
        }
    }
    m_thread = std::jthread([this](const std::stop_token& stop) { run(stop); });
}

DiskWatcher::~DiskWatcher() {
    m_thread.request_stop();
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
    sd_bus_slot_unref(m_addedSlot);
    sd_bus_slot_unref(m_removedSlot);
}

bool DiskWatcher::waitForChange(const std::stop_token& stop) {
    const auto until = std::chrono::steady_clock::now() + m_options.pollInterval;
    while (!stop.stop_requested() && std::chrono::steady_clock::now() < until) {
        if (m_bus) {
            // Handle what has arrived, then sleep on the bus's socket for a slice.
            int r = 0;
            while ((r = sd_bus_process(m_bus.get(), nullptr)) > 0) {
            }
            if (r < 0) {
                m_bus.reset();  // the bus went away: go on by looking now and then
                continue;
            }
            if (m_signalled) {
                m_signalled = false;
                return true;
            }
            (void)sd_bus_wait(m_bus.get(), static_cast<std::uint64_t>(
                                               std::chrono::duration_cast<std::chrono::microseconds>(kSlice).count()));
        } else {
            std::unique_lock lock(m_mutex);
            (void)m_wake.wait_for(lock, stop, kSlice, [] { return false; });
        }
    }
    return false;
}

void DiskWatcher::run(const std::stop_token& stop) {
    while (!stop.stop_requested()) {
        (void)waitForChange(stop);
        if (stop.stop_requested()) break;
        auto now = EnumerateRemovableDisks(m_options.roots);
        if (SameDisks(now, m_last)) continue;
        m_last = std::move(now);
        if (m_onChange) m_onChange(m_last);
    }
}

}  // namespace quorlan
