// Pictures of the row actions, for corvane-window-shot.
#pragma once

#include <QString>

// Inside the test network: simulated devices in the device host, a search, then the context
// menu of a transmitter (menu-tx.png, grabbed from the screen, as a popup is a window of its
// own) and each window a row action opens, filled by the device (row-video.png,
// row-tx-audio.png, row-rx-audio.png, row-network.png), all saved in `dir`.
int shootRowActions(const QString& dir);
