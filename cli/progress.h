// Progress of a long command on standard error: a live bar on a terminal, quiet otherwise.
#pragma once

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

#include "core/run_context.h"
#include "core/text.h"
#include "items/save_files.h"

namespace quorlan::cli {

class TerminalProgress final : public SaveObserver {
public:
    TerminalProgress() : m_live(::isatty(STDERR_FILENO) == 1) {}
    ~TerminalProgress() override { finish(); }

    void beginPhase(std::string_view label, std::uint64_t totalUnits) override {
        const std::lock_guard lock(m_mutex);
        m_label = label;
        m_total = totalUnits;
        m_done = 0;
        drawLocked(true);
    }
    void setDone(std::uint64_t doneUnits) override {
        const std::lock_guard lock(m_mutex);
        m_done = doneUnits;
        drawLocked(false);
    }
    void status(std::string_view line) override {
        const std::lock_guard lock(m_mutex);
        m_status = line;
        drawLocked(false);
    }
    void counter(Counter which, std::uint64_t value) override {
        const std::lock_guard lock(m_mutex);
        if (which == Counter::FoldersFound) m_folders = value;
        if (which == Counter::RecordsFound) m_records = value;
        if (which == Counter::PartitionsFound) m_partitions = value;
        if (which != Counter::BootSectorsFound) m_shown = which;
        drawLocked(false);
    }
    // The command line does not start a search of its own on the notice: the command that
    // chose the disk says what --find-lost would do.
    void partitionTableCorrupt() override { m_tableCorrupt = true; }
    [[nodiscard]] bool partitionTableCorruptSeen() const { return m_tableCorrupt; }
    void message(std::string_view text) override {
        const std::lock_guard lock(m_mutex);
        clearLineLocked();
        std::fprintf(stderr, "quorlan-cli: %.*s\n", static_cast<int>(text.size()), text.data());
    }

    void countingFiles(std::uint64_t count) override {
        const std::lock_guard lock(m_mutex);
        m_status = "Calculating Total Number of Files, Please Wait ... Total Files : " + std::to_string(count);
        drawLocked(false);
    }
    void savingFile(std::string_view name, std::string_view folder, std::uint64_t number,
                    std::uint64_t total) override {
        const std::lock_guard lock(m_mutex);
        m_status = "Total Files Recovered " + std::to_string(number) + "/" + std::to_string(total) +
                   "  File Name : " + std::string(name) + "  File Path : " + std::string(folder);
        drawLocked(false);
    }
    // The command line never asks: the policy given by --on-collision holds for every file.
    CollisionDecision askCollision(std::string_view, std::string_view proposed) override {
        return {m_collision, std::string(proposed), true};
    }
    void setCollisionPolicy(CollisionAnswer answer) { m_collision = answer; }
    // Clears the live line before the result is printed.
    void finish() {
        const std::lock_guard lock(m_mutex);
        clearLineLocked();
    }

private:
    void clearLineLocked() {
        if (m_live && m_drawn) {
            std::fputs("\r\033[K", stderr);
            std::fflush(stderr);
            m_drawn = false;
        }
    }
    // Draws at most a few times a second.
    void drawLocked(bool force) {
        if (!m_live) return;
        const auto now = std::chrono::steady_clock::now();
        if (!force && now - m_lastDraw < std::chrono::milliseconds(200)) return;
        m_lastDraw = now;
        const unsigned percent =
            m_total == 0
                ? 0
                : static_cast<unsigned>(std::min<std::uint64_t>(100, m_done * 100 / m_total));
        std::string bar(20, ' ');
        for (unsigned i = 0; i < percent / 5; ++i) bar[i] = '#';
        const std::string counts = m_shown == Counter::PartitionsFound ? "  partitions: " + std::to_string(m_partitions)
                                   : m_records > 0 ? "  records: " + std::to_string(m_records)
                                                   : "  folders: " + std::to_string(m_folders);
        const std::string line = "[" + bar + "] " + std::to_string(percent) + "% " +
                                 ExpandPhaseLabel(m_label, m_done) + counts + "  " + m_status;
        // One terminal line: a long file name must not wrap and leave lines behind.
        std::fprintf(stderr, "\r\033[K%s", std::string(truncateUtf8(line, 160)).c_str());
        std::fflush(stderr);
        m_drawn = true;
    }

    const bool m_live;
    CollisionAnswer m_collision = CollisionAnswer::Rename;
    std::mutex m_mutex;
    std::string m_label;
    std::string m_status;
    std::uint64_t m_total = 0;
    std::uint64_t m_done = 0;
    std::uint64_t m_folders = 0;
    std::uint64_t m_records = 0;
    std::uint64_t m_partitions = 0;
    Counter m_shown = Counter::FoldersFound;
    std::atomic<bool> m_tableCorrupt{false};
    bool m_drawn = false;
    std::chrono::steady_clock::time_point m_lastDraw{};
};

}  // namespace quorlan::cli
