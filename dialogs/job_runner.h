// Long work off the interface thread: one worker thread that runs one job at a time (a sweep,
// the reads and writes of a configuration window, a batch) while the windows keep painting.
// A job never touches a widget; it hands what the window shows back to the interface thread,
// either without waiting (post) or waiting for it to have run (call: a box the job must wait
// for). The interface thread itself never waits for the worker except when the runner is
// destroyed, and then a job's pending calls return at once instead of running.
#pragma once

#include <QMutex>
#include <QObject>
#include <QWaitCondition>

#include <atomic>
#include <functional>

class QThread;

namespace corvane {

class JobRunner : public QObject {
    Q_OBJECT

public:
    explicit JobRunner(QObject* parent = nullptr);
    // Stops the running job before its next step (the cancel flag), answers its pending calls
    // with "not run" and joins the worker.
    ~JobRunner() override;

    // Runs `work` on the worker; then, on the interface thread, the runner is idle again and
    // `done` runs. Refused (false, nothing
    // runs) while another job runs: the windows disable what would start a second one.
    bool start(std::function<void()> work, std::function<void()> done = {});
    bool busy() const { return busy_; }
    // Whether a job of any runner of the process has not ended yet (for tests and the bench).
    static bool anyBusy();

    // Set by cancel() and the destructor, cleared when a job starts; a job reads it between
    // its steps (the batches take it as their cancel flag).
    const std::atomic<bool>& cancelFlag() const { return cancel_; }
    void cancel() { cancel_ = true; }

    // From inside a job: `fn` runs on the interface thread later; the job goes on at once.
    void post(std::function<void()> fn);
    // From inside a job: `fn` runs on the interface thread and the job waits for it to end.
    // False when it did not run because the runner is going away. Called on the interface
    // thread itself, it runs `fn` at once.
    bool call(const std::function<void()>& fn);

    // The runner a configuration window uses when the main window gave it none: one made on
    // first use, child of `owner`.
    static JobRunner* of(JobRunner*& runner, QObject* owner);

signals:
    // On the interface thread: a job began (true) or ended (false, just before its `done`).
    void busyChanged(bool busy);

private:
    QThread* thread_;
    QObject* worker_;  // lives in thread_; jobs are queued to it
    bool busy_ = false;
    std::atomic<bool> cancel_{false};
    QMutex mutex_;
    QWaitCondition answered_;
    bool stopping_ = false;
};

}  // namespace corvane
