#include "cli/interrupt.h"

#include <atomic>
#include <csignal>

namespace quorlan::cli {

namespace {

std::atomic<bool> g_interrupted{false};

// The first Ctrl-C is remembered; the default action is back for a second one.
extern "C" void onInterrupt(int) {
    g_interrupted.store(true);
    std::signal(SIGINT, SIG_DFL);
}

}  // namespace

InterruptWatch::InterruptWatch() {
    std::signal(SIGINT, onInterrupt);
}

InterruptWatch::~InterruptWatch() {
    std::signal(SIGINT, SIG_DFL);
    g_interrupted.store(false);
}

bool InterruptWatch::interrupted() const {
    return g_interrupted.load();
}

}  // namespace quorlan::cli
