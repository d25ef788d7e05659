#include "dialogs/job_runner.h"

#include <QMetaObject>
#include <QMutexLocker>
#include <QThread>

#include <memory>

namespace corvane {

namespace {

std::atomic<int> running_jobs{0};

}  // namespace

bool JobRunner::anyBusy() {
    return running_jobs.load() > 0;
}

JobRunner* JobRunner::of(JobRunner*& runner, QObject* owner) {
    if (runner == nullptr) {
        runner = new JobRunner(owner);
    }
    return runner;
}

JobRunner::JobRunner(QObject* parent)
    : QObject(parent), thread_(new QThread), worker_(new QObject) {
    worker_->moveToThread(thread_);
    // The worker object goes with its thread's end, on that thread.
    connect(thread_, &QThread::finished, worker_, &QObject::deleteLater);
    thread_->setObjectName(QStringLiteral("corvane-worker"));
    thread_->start();
}

JobRunner::~JobRunner() {
    cancel_ = true;
    {
        QMutexLocker lock(&mutex_);
        stopping_ = true;
        answered_.wakeAll();
    }
    thread_->quit();
    thread_->wait();
    delete thread_;
    // A job whose end was still queued never reports it.
    if (busy_) {
        --running_jobs;
    }
}

bool JobRunner::start(std::function<void()> work, std::function<void()> done) {
    if (busy_) {
        return false;
    }
    busy_ = true;
    ++running_jobs;
    cancel_ = false;
    emit busyChanged(true);
    QMetaObject::invokeMethod(
        worker_,
        [this, work = std::move(work), done = std::move(done)]() mutable {
            work();
            // Back on the interface thread; dropped unread when the runner is already gone.
            QMetaObject::invokeMethod(
                this,
                [this, done = std::move(done)] {
                    // Idle before `done`, so that what it does (a menu, a message, the next
                    // job) finds the controls as they are between jobs.
                    busy_ = false;
                    emit busyChanged(false);
                    if (done) {
                        done();
                    }
                    --running_jobs;
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    return true;
}

void JobRunner::post(std::function<void()> fn) {
    QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

bool JobRunner::call(const std::function<void()>& fn) {
    if (QThread::currentThread() == thread()) {
        fn();
        return true;
    }
    // Shared with the queued call, which may still be queued when the job gives up waiting.
    auto ran = std::make_shared<bool>(false);
    QMutexLocker lock(&mutex_);
    if (stopping_) {
        return false;
    }
    QMetaObject::invokeMethod(
        this,
        [this, fn, ran] {
            fn();
            QMutexLocker done(&mutex_);
            *ran = true;
            answered_.wakeAll();
        },
        Qt::QueuedConnection);
    while (!*ran && !stopping_) {
        answered_.wait(&mutex_);
    }
    return *ran;
}

}  // namespace corvane
