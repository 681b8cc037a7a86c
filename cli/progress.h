// Progress of a long command on standard error: a live bar on a terminal, quiet otherwise.
#pragma once

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

#include "core/run_context.h"

namespace quorlan::cli {

class TerminalProgress final : public SearchObserver {
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
    void counter(std::string_view name, std::uint64_t value) override {
        const std::lock_guard lock(m_mutex);
        if (name == "Folders Found") m_folders = value;
        drawLocked(false);
    }
    void message(std::string_view text) override {
        const std::lock_guard lock(m_mutex);
        clearLineLocked();
        std::fprintf(stderr, "quorlan-cli: %.*s\n", static_cast<int>(text.size()), text.data());
    }
    void standardSearchNotPossible() override { m_notPossible = true; }
    [[nodiscard]] bool notPossible() const { return m_notPossible; }
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
        const unsigned percent = m_total == 0 ? 0 : static_cast<unsigned>(std::min<std::uint64_t>(100, m_done * 100 / m_total));
        std::string bar(20, ' ');
        for (unsigned i = 0; i < percent / 5; ++i) bar[i] = '#';
        std::fprintf(stderr, "\r\033[K[%s] %3u%% %s  folders: %llu  %s", bar.c_str(), percent, m_label.c_str(),
                     static_cast<unsigned long long>(m_folders), m_status.c_str());
        std::fflush(stderr);
        m_drawn = true;
    }

    const bool m_live;
    std::atomic<bool> m_notPossible{false};
    std::mutex m_mutex;
    std::string m_label;
    std::string m_status;
    std::uint64_t m_total = 0;
    std::uint64_t m_done = 0;
    std::uint64_t m_folders = 0;
    bool m_drawn = false;
    std::chrono::steady_clock::time_point m_lastDraw{};
};

}  // namespace quorlan::cli
