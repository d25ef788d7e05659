// The batches of the maintenance actions: the restart of devices and the firmware upgrade, one
// device after the other in the order given, with a pause after each. No window: each device is
// reported through callbacks as it goes (started, progress, outcome) and every front end shows
// it its own way. A batch may run on a worker thread, which then makes the calls; a cancel flag,
// set from any thread, stops it before its next device, never in the middle of one.
#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <functional>

#include "maintenance/upgrade.h"
#include "protocol/config_commands.h"

namespace corvane::maintenance {

// The pauses after each device, so that devices restarting together are spread out.
constexpr int kRebootPauseMs = 100;
constexpr int kUpgradePauseMs = 100;

// What one device made of the restart command: Confirmed (it restarts), Refused ("Result"
// below 0) or Silent (no answer, or one too short to confirm).
using RebootReply = config::RestartReply;

// The restart command to one device (dotted IPv4), its reply judged by the restart rule.
RebootReply reboot_device(const QString& address);

struct RebootEvents {
    std::function<void(int index)> started;                     // before the command goes out
    std::function<void(int index, RebootReply reply)> outcome;  // its reply judged
};

// Restarts the devices at `addresses` in order, pausing after each. Returns the replies of the
// devices taken, in order: every one unless `cancel` stopped the batch before its next device.
QVector<RebootReply> reboot_devices(const QStringList& addresses, const RebootEvents& events = {},
                                    const std::atomic<bool>* cancel = nullptr);

struct UpgradeTarget {
    QString address;  // dotted IPv4
    QString type;     // the type text the image-name rule reads ("TX", "RX", "KVM_RX")
};

struct UpgradeEvents {
    // Before a device. False passes it by: no attempt, no pause, no outcome (the front end has
    // told why). Unset, every device is tried.
    std::function<bool(int index)> started;
    std::function<void(int index, const UpgradeProgress& progress)> progress;
    std::function<void(int index, const UpgradeOutcome& outcome)> outcome;
};

// Loads the image at `image_path` into each target in order, pausing after each attempt. The
// socket, of the calling thread, must not be in use; it is unconnected again when this returns.
// Returns how many targets were taken, tried or passed by: all unless `cancel` stopped the batch
// before its next device.
int upgrade_devices(QTcpSocket& socket, const QVector<UpgradeTarget>& targets,
                    const QString& image_path, const UpgradeEvents& events,
                    const UpgradeWaits& waits = {}, const std::atomic<bool>* cancel = nullptr);

}  // namespace corvane::maintenance
