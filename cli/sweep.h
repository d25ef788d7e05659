// The discovery sweep as the commands that need the devices' present values run it.
#pragma once

#include <QString>

#include <vector>

#include "discovery/device_list.h"

namespace corvane::cli {

// One sweep over every local IPv4 address: the devices that answered, in the table's order.
// When a socket stopped at its datagram bound, says on standard error that devices may be
// missing and sets `incomplete` (when given).
std::vector<Device_Info> sweep(bool* incomplete = nullptr);
// The device of a sweep at `address`; null when it did not answer.
const Device_Info* findDevice(const std::vector<Device_Info>& devices, const QString& address);
// Why an action may not go to `address`: more than one device answered the sweep with it, so
// the action could reach either. Empty when it may.
QString conflictProblem(const std::vector<Device_Info>& devices, const QString& address);

}  // namespace corvane::cli
