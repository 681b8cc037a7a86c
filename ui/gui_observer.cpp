#include "ui/gui_observer.h"

#include <QMetaObject>
#include <chrono>
#include <future>

namespace quorlan::ui {

ObservedState GuiObserver::take() {
    const std::lock_guard lock(m_mutex);
    ObservedState copy = m_state;
    m_state.messages.clear();
    return copy;
}

void GuiObserver::beginPhase(std::string_view label, std::uint64_t totalUnits) {
    const std::lock_guard lock(m_mutex);
    m_state.label = label;
    m_state.total = totalUnits;
    m_state.done = 0;
}
void GuiObserver::setDone(std::uint64_t doneUnits) {
    const std::lock_guard lock(m_mutex);
    m_state.done = doneUnits;
}
void GuiObserver::status(std::string_view line) {
    const std::lock_guard lock(m_mutex);
    m_state.status = line;
}
void GuiObserver::counter(Counter which, std::uint64_t value) {
    const std::lock_guard lock(m_mutex);
    m_state.counters[which] = value;
}
void GuiObserver::message(std::string_view text) {
    const std::lock_guard lock(m_mutex);
    m_state.messages.emplace_back(text);
}
void GuiObserver::countingFiles(std::uint64_t count) {
    const std::lock_guard lock(m_mutex);
    m_state.counting = count;
}
void GuiObserver::savingFile(std::string_view name, std::string_view folder, std::uint64_t number,
                             std::uint64_t total) {
    const std::lock_guard lock(m_mutex);
    m_state.fileName = name;
    m_state.filePath = folder;
    m_state.fileNumber = number;
    m_state.fileTotal = total;
    m_state.fileDone = 0;
}
void GuiObserver::fileProgress(std::uint64_t doneBytes, std::uint64_t totalBytes) {
    const std::lock_guard lock(m_mutex);
    m_state.fileDone = doneBytes;
    m_state.fileSize = totalBytes;
}

CollisionDecision GuiObserver::askCollision(std::string_view existing, std::string_view proposed) {
    auto answer = std::make_shared<std::promise<CollisionDecision>>();
    std::future<CollisionDecision> future = answer->get_future();
    if (m_window.isNull()) return {CollisionAnswer::Cancel, {}, false};
    QMetaObject::invokeMethod(
        m_window.data(),
        [answer, ask = m_ask, e = std::string(existing), p = std::string(proposed)] { answer->set_value(ask(e, p)); },
        Qt::QueuedConnection);
    // Waits for the user, but never past a stop request (closing the window stops the save).
    while (future.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
        if (m_stop.stop_requested()) return {CollisionAnswer::Cancel, {}, false};
    }
    return future.get();
}

}  // namespace quorlan::ui
