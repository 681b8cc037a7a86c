#include "ui/worker_runner.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace quorlan::ui {

WorkerRunner::WorkerRunner(QObject* window,
                           std::function<CollisionDecision(const std::string&, const std::string&)> ask)
    : QObject(window), m_window(window), m_ask(std::move(ask)) {
    qRegisterMetaType<quorlan::ui::ObservedState>();
    connect(&m_timer, &QTimer::timeout, this, &WorkerRunner::poll);
}

WorkerRunner::~WorkerRunner() { shutDown(); }

void WorkerRunner::start(Job job, std::function<void(Context&)> work, std::function<void()> done) {
    if (busy() || m_shuttingDown) return;
    if (m_thread.joinable()) m_thread.join();
    m_observer = std::make_unique<GuiObserver>(m_window, m_ask);
    m_save.skip.store(false);
    m_job = job;
    m_timer.start(150);
    m_thread = std::jthread([this, work = std::move(work), done = std::move(done)](std::stop_token stop) mutable {
        m_observer->setStop(stop);
        m_save.stop = stop;
        Context context{*m_observer, stop, m_save};
        work(context);
        QMetaObject::invokeMethod(
            this,
            [this, done = std::move(done)] {
                if (m_thread.joinable()) m_thread.join();
                m_timer.stop();
                if (m_shuttingDown) return;
                poll();
                m_job = Job::None;
                done();
            },
            Qt::QueuedConnection);
    });
}

void WorkerRunner::requestStop() {
    if (busy()) m_thread.request_stop();
}

void WorkerRunner::poll() {
    if (m_observer) emit progress(m_observer->take());
}

void WorkerRunner::wait() {
    while (busy()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QCoreApplication::processEvents();
}

void WorkerRunner::shutDown() {
    m_shuttingDown = true;
    m_timer.stop();
    if (m_thread.joinable()) {
        m_thread.request_stop();
        // A search or a save ends within one chunk of the stop; a listing or a log load runs to
        // its end. None of them waits for the window's thread then.
        m_thread.join();
    }
    m_job = Job::None;
}

}  // namespace quorlan::ui
