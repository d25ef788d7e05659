// Pictures of the upgrade panel and of an upgrade under way, for corvane-window-shot.
#pragma once

#include <QString>

// The window with rows, two of them ticked, and the upgrade panel open with an image chosen.
int shootUpgradePanel(const QString& out);
// The same window while the image streams to a simulated device: grabbed when the progress
// bar passes 45 %. Runs inside the test network, with the simulator in the device host.
int shootUpgradeProgress(const QString& out);
// An upgrade of eight transmitters going on past failures: batch-under-way.png while the
// fourth takes its image (the rows' states beside it), batch-failures.png the end message.
// Inside the test network, like the progress picture.
int shootBatch(const QString& out_dir);
