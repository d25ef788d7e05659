// Devices watched until they come back: after a restart, an upgrade or a network change the
// devices leave; sweeps every few seconds find them again, each with what came back (the same
// firmware or another), until all are back or the time is up. No window: each sweep and the
// end are reported through callbacks, and a front end may feed in a sweep of its own (the
// window's search during the wait counts).
#pragma once

#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <vector>

#include "discovery/device_list.h"

namespace corvane::maintenance {

constexpr int kWatchIntervalMs = 5000;
constexpr int kWatchLimitMs = 180000;

// One device that left.
struct WatchedDevice {
    Device_Info last{};  // its last known record: address, MAC, version before
    QString
        expected_address;  // where it comes back (a network change's new address); empty: last.ip
    QString expected_mac;  // the MAC it comes back with (a new one given); empty: last.mac
};

enum class WatchOutcome {
    Back,         // found again (versions not compared)
    NewVersion,   // found again with another firmware version than before
    SameVersion,  // found again with the version it had
};

struct WatchReturn {
    int index = 0;  // in the list given to the watch
    WatchOutcome outcome = WatchOutcome::Back;
    Device_Info found{};     // the record it came back with
    long long after_ms = 0;  // since the watch began
};

struct WatchOptions {
    int interval_ms = kWatchIntervalMs;  // from the start, or the end of a sweep, to the next
    int limit_ms = kWatchLimitMs;        // no sweep starts after this
    bool compare_versions = false;       // an upgrade: NewVersion / SameVersion instead of Back
};

// The state of one watch, shared by the thread that runs it and one that feeds in sweeps.
class Watch {
public:
    Watch(std::vector<WatchedDevice> devices, WatchOptions options);

    // Looks for the devices not yet back in one sweep's records; returns those found now.
    // A device is found by its MAC at its expected address (by the address alone when no MAC
    // is known); a record marked as a conflict does not count, since the address is shared.
    std::vector<WatchReturn> feed(const std::vector<Device_Info>& swept);
    bool all_back() const;
    // The indexes of the devices not back yet.
    std::vector<int> missing() const;
    const WatchOptions& options() const { return options_; }
    const std::vector<WatchedDevice>& devices() const { return devices_; }

    // Milliseconds since the watch was made (the devices had just left).
    long long elapsed_ms() const;

private:
    std::vector<WatchedDevice> devices_;
    WatchOptions options_;
    mutable std::mutex mutex_;
    std::vector<bool> back_;
    std::chrono::steady_clock::time_point started_;
};

struct WatchEvents {
    // After each sweep of the watch, with the devices it found back (possibly none).
    std::function<void(const std::vector<WatchReturn>& back)> swept;
    // Once at the end, with the indexes of the devices that did not come back.
    std::function<void(const std::vector<int>& missing)> finished;
};

// Sweeps with `sweep` every interval until every device is back, the limit is reached or
// `cancel` is set (checked at least every 100 ms, never within a sweep). Returns when done,
// after `finished`.
void run_watch(Watch& watch, const std::function<std::vector<Device_Info>()>& sweep,
               const WatchEvents& events, const std::atomic<bool>* cancel = nullptr);

}  // namespace corvane::maintenance
