// An observer that requests a stop when a scan announces its n-th chunk ("Sectors  ..."), so that
// a test stops a scan at a known place.
#pragma once

#include <cstdint>
#include <stop_token>
#include <string_view>

#include "core/run_context.h"

namespace quorlan::test {

class StopAtChunk final : public SearchObserver {
public:
    // After chunk chunks (the status line shown before the first one counts as none).
    StopAtChunk(std::stop_source& source, int chunk) : m_source(source), m_chunk(chunk) {}
    void beginPhase(std::string_view, std::uint64_t) override {}
    void setDone(std::uint64_t) override {}
    void counter(Counter, std::uint64_t) override {}
    void status(std::string_view line) override {
        if (line.starts_with("Sectors  ") && ++m_seen == m_chunk + 1) m_source.request_stop();
    }

private:
    std::stop_source& m_source;
    int m_chunk;
    int m_seen = 0;
};

}  // namespace quorlan::test
