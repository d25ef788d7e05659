#include "maintenance/parallel_upgrade.h"

#include <QNetworkSession>
#include <QSharedPointer>
#include <QTcpSocket>

#include <chrono>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace corvane::maintenance {

namespace {

// A socket's first connection looks up the network session type, and Qt registers that type
// and its conversion at the first lookup: workers connecting for the first time at once would
// register it twice and say so on standard error. The lookup made here, before any worker
// starts, makes it once.
void registerSocketTypes() {
#ifndef QT_NO_BEARERMANAGEMENT
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    qMetaTypeId<QSharedPointer<QNetworkSession>>();
#pragma GCC diagnostic pop
#endif
}

}  // namespace

int upgrade_devices_parallel(const QVector<UpgradeTarget>& targets, const QString& image_path,
                             const UpgradeEvents& events, int parallel, const UpgradeWaits& waits,
                             const std::atomic<bool>* cancel) {
    parallel = qBound(1, parallel, kMostParallelUpgrades);
    if (parallel == 1) {
        QTcpSocket socket;
        return upgrade_devices(socket, targets, image_path, events, waits, cancel);
    }
    // One lock for taking the next device and for every event, so devices start in order and
    // the front end sees one call at a time.
    std::mutex lock;
    int next = 0;
    auto worker = [&]() {
        // Created in this thread: a socket's waits work only in the thread that owns it.
        QTcpSocket socket;
        for (;;) {
            int index;
            {
                std::lock_guard<std::mutex> hold(lock);
                if (next >= targets.size() || (cancel != nullptr && cancel->load())) {
                    return;
                }
                index = next++;
                if (events.started && !events.started(index)) {
                    continue;
                }
            }
            ProgressCallback progress;
            if (events.progress) {
                progress = [&events, &lock, index](const UpgradeProgress& p) {
                    std::lock_guard<std::mutex> hold(lock);
                    events.progress(index, p);
                };
            }
            const UpgradeTarget& target = targets[index];
            const UpgradeOutcome outcome =
                upgrade_device(socket, target.address, target.type, image_path, progress, waits);
            if (events.outcome) {
                std::lock_guard<std::mutex> hold(lock);
                events.outcome(index, outcome);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(kUpgradePauseMs));
        }
    };
    registerSocketTypes();
    std::vector<std::thread> workers;
    const int count = qMin(parallel, int(targets.size()));
    for (int i = 0; i < count; ++i) {
        try {
            workers.emplace_back(worker);
        } catch (const std::system_error&) {
            break;  // fewer at a time; the workers there are take every device
        }
    }
    if (workers.empty()) {
        worker();
    }
    for (std::thread& t : workers) {
        t.join();
    }
    return next;
}

}  // namespace corvane::maintenance
