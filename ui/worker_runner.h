// The one worker of the window: every engine job (a search, the lost-partition search, building
// the entries of a file system, loading a log, listing a folder, saving) runs on it, one at a
// time. What the job reports is stored by the observer and shown by a timer on the window's
// thread; the job's end runs its continuation there too. Jobs are stopped through their stop
// token, never killed.
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <thread>

#include "items/save_files.h"
#include "ui/gui_observer.h"
#include "ui/wizard_controller.h"

namespace quorlan::ui {

class WorkerRunner : public QObject {
    Q_OBJECT
public:
    // ask answers a file-exists question of a save on the window's thread.
    WorkerRunner(QObject* window, std::function<CollisionDecision(const std::string&, const std::string&)> ask);
    ~WorkerRunner() override;

    // What a job gets: the observer to report through (a SaveObserver, for saves), its stop token
    // and the save's Skip flag.
    struct Context {
        GuiObserver& observer;
        std::stop_token stop;
        SaveControl& save;
        [[nodiscard]] RunContext run() const { return RunContext{observer, stop}; }
    };

    // Starts work on the worker thread; done runs on the window's thread when it has returned
    // (not when the window is closing). Only when no job runs.
    void start(Job job, std::function<void(Context&)> work, std::function<void()> done);
    [[nodiscard]] bool busy() const { return m_job != Job::None; }
    [[nodiscard]] Job job() const { return m_job; }
    // Asks the job to stop; it returns what it has within one chunk of its work.
    void requestStop();
    [[nodiscard]] bool stopRequested() const { return m_thread.get_stop_token().stop_requested(); }
    // The running job's stop source, for whatever else may end it (a stick pulled out).
    [[nodiscard]] std::stop_source stopSource() { return m_thread.get_stop_source(); }
    // Skip the file being saved.
    void skipFile() { m_save.skip.store(true); }
    // Runs the event loop until the job and its continuation are done.
    void wait();
    // The exit path: stops the job and waits for it; its continuation does not run.
    void shutDown();

signals:
    // Every 150 ms while a job runs, and once when it ends.
    void progress(const quorlan::ui::ObservedState& state);

private:
    void poll();

    QObject* m_window;
    std::function<CollisionDecision(const std::string&, const std::string&)> m_ask;
    std::unique_ptr<GuiObserver> m_observer;
    SaveControl m_save;
    std::jthread m_thread;
    Job m_job = Job::None;
    bool m_shuttingDown = false;
    QTimer m_timer;
};

}  // namespace quorlan::ui
