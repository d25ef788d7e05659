// --wait and --expect-version: after a restart, an upgrade or a network change, the devices
// are watched until they answer a sweep again (at their new address after a network change).
#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <optional>
#include <vector>

#include "cli/command_line.h"
#include "cli/output.h"
#include "cli/sweep.h"
#include "maintenance/watch.h"

namespace corvane::cli {

struct WaitRequest {
    int seconds = 0;
    QString expect_version;  // upgrade only: the prefix the new version must have
    bool versions = false;   // upgrade: the version is reported and compared
};

// --wait SECONDS (and, for the upgrade, --expect-version PREFIX).
QList<QCommandLineOption> waitOptions(bool upgrade);
// The paragraph of the help texts on them.
QString waitHelp(bool upgrade);
// The request of the command line; nothing without --wait. --expect-version without --wait is
// a usage error.
std::optional<WaitRequest> waitRequest(const Invocation& in, bool upgrade);

// A device to wait for: its entry of the report and what it is watched by.
struct WaitItem {
    std::size_t entry;
    maintenance::WatchedDevice device;
};

// What a device is watched by after it left: its record of the sweep (only its address when it
// did not answer), and where and with which MAC it comes back (empty: as it was).
maintenance::WatchedDevice watchedDevice(const Device_Info* device, const QString& address,
                                         const QString& expected_address = {},
                                         const QString& expected_mac = {});

// Sweeps until every item is back or the time is up, and reports each in its entry: a line
// when it is back, step "wait" when it is not, step "version" when it came back with a version
// that does not start with the expected prefix. Returns the addresses of the items that failed.
// The sweeps follow `plan`; a unicast one also probes the addresses the devices come back at.
QStringList waitForDevices(Report& report, const std::vector<WaitItem>& items,
                           const WaitRequest& request, const SweepPlan& plan);

}  // namespace corvane::cli
