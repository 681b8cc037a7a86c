// The engine's observer for the window: workers store what they report, a timer of the window
// shows it. Questions (a file that exists at the destination) go to the window's thread and the
// worker waits for the answer, or for a stop.
#pragma once

#include <QObject>
#include <QPointer>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <stop_token>
#include <string>

#include "items/save_files.h"

namespace quorlan::ui {

struct ObservedState {
    std::string label;  // the caption of the running phase ("Completed ")
    std::uint64_t total = 0;
    std::uint64_t done = 0;
    std::string status;
    std::map<Counter, std::uint64_t> counters;
    std::deque<std::string> messages;
    std::uint64_t counting = 0;
    std::string fileName, filePath;
    std::uint64_t fileNumber = 0, fileTotal = 0, fileDone = 0, fileSize = 0;
};

class GuiObserver final : public SaveObserver {
public:
    // ask shows the question on the window's thread; it is called there.
    GuiObserver(QObject* window, std::function<CollisionDecision(const std::string&, const std::string&)> ask)
        : m_window(window), m_ask(std::move(ask)) {}

    void setStop(std::stop_token stop) { m_stop = std::move(stop); }
    // A copy of the state, taking the pending messages.
    ObservedState take();

    void beginPhase(std::string_view label, std::uint64_t totalUnits) override;
    void setDone(std::uint64_t doneUnits) override;
    void status(std::string_view line) override;
    void counter(Counter which, std::uint64_t value) override;
    void message(std::string_view text) override;
    void countingFiles(std::uint64_t count) override;
    void savingFile(std::string_view name, std::string_view folder, std::uint64_t number,
                    std::uint64_t total) override;
    void fileProgress(std::uint64_t doneBytes, std::uint64_t totalBytes) override;
    CollisionDecision askCollision(std::string_view existing, std::string_view proposed) override;

private:
    std::mutex m_mutex;
    ObservedState m_state;
    QPointer<QObject> m_window;
    std::function<CollisionDecision(const std::string&, const std::string&)> m_ask;
    std::stop_token m_stop;
};

}  // namespace quorlan::ui
