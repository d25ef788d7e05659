#include "maintenance/batch.h"

#include <chrono>
#include <thread>

namespace corvane::maintenance {

namespace {

bool cancelled(const std::atomic<bool>* cancel) {
    return cancel != nullptr && cancel->load();
}

void pause(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

RebootReply reboot_device(const QString& address) {
    return config::restartReplyOf(config::restartDevice(address.toUtf8().toStdString()).reply);
}

QVector<RebootReply> reboot_devices(const QStringList& addresses, const RebootEvents& events,
                                    const std::atomic<bool>* cancel) {
    QVector<RebootReply> replies;
    replies.reserve(addresses.size());
    for (int i = 0; i < addresses.size() && !cancelled(cancel); ++i) {
        if (events.started) {
            events.started(i);
        }
        replies.append(reboot_device(addresses[i]));
        if (events.outcome) {
            events.outcome(i, replies.last());
        }
        pause(kRebootPauseMs);
    }
    return replies;
}

int upgrade_devices(QTcpSocket& socket, const QVector<UpgradeTarget>& targets,
                    const QString& image_path, const UpgradeEvents& events,
                    const UpgradeWaits& waits, const std::atomic<bool>* cancel) {
    int taken = 0;
    for (; taken < targets.size() && !cancelled(cancel); ++taken) {
        if (events.started && !events.started(taken)) {
            continue;
        }
        ProgressCallback progress;
        if (events.progress) {
            progress = [&events, taken](const UpgradeProgress& p) { events.progress(taken, p); };
        }
        const UpgradeTarget& target = targets[taken];
        const UpgradeOutcome outcome =
            upgrade_device(socket, target.address, target.type, image_path, progress, waits);
        if (events.outcome) {
            events.outcome(taken, outcome);
        }
        pause(kUpgradePauseMs);
    }
    return taken;
}

}  // namespace corvane::maintenance
