// Ctrl-C while a job runs on a worker: the first asks the job to stop, a second one ends the
// program as usual.
#pragma once

#include <chrono>
#include <future>
#include <stop_token>

namespace quorlan::cli {

// While it lives, Ctrl-C is caught and remembered instead of ending the program.
class InterruptWatch {
public:
    InterruptWatch();
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    // Ctrl-C was pressed since the watch began.
    [[nodiscard]] bool interrupted() const;
};

// Waits for a job running on a worker; meanwhile this thread turns Ctrl-C into a stop request.
template <typename T>
T awaitStoppable(std::future<T>& job, std::stop_source& stopper) {
    {
        const InterruptWatch watch;
        while (job.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
            if (watch.interrupted()) stopper.request_stop();
        }
    }
    return job.get();
}

}  // namespace quorlan::cli
