// The upgrade batch with up to N devices at a time: each device's exchange on a socket of its
// own in a worker thread, the devices taken in the order given. Beside the sequential batch,
// which it is with a parallelism of 1.
#pragma once

#include <QString>
#include <QVector>

#include <atomic>

#include "maintenance/batch.h"

namespace corvane::maintenance {

constexpr int kMostParallelUpgrades = 32;

// Loads the image at `image_path` into the targets, at most `parallel` (1 to 32, clamped) at
// the same time, each started after the one before it in the order given, each worker pausing
// after each attempt as the sequential batch does. With 1 it is upgrade_devices on a socket of
// its own. The events are called from the workers, never two at once, so a front end needs no
// lock of its own; `started` returning false passes a device by as in upgrade_devices. Returns
// how many targets were taken: all unless `cancel` stopped the batch before its next device.
int upgrade_devices_parallel(const QVector<UpgradeTarget>& targets, const QString& image_path,
                             const UpgradeEvents& events, int parallel,
                             const UpgradeWaits& waits = {},
                             const std::atomic<bool>* cancel = nullptr);

}  // namespace corvane::maintenance
