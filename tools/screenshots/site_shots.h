// The table after a day's work at a site, for corvane-window-shot.
#pragma once

#include <QString>

// Inside scripts/testnet run: simulated devices in the device host, a search, a reboot and an
// upgrade, and the table once the devices that left are back or given up on: every status the
// table shows, from OK to 未恢复.
int shootSiteStatuses(const QString& out);
