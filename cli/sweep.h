// The discovery sweep as the commands that need the devices' present values run it.
#pragma once

#include <QString>

#include <vector>

#include "discovery/device_list.h"

namespace corvane::cli {

// One sweep over every local IPv4 address: the devices that answered, in the table's order.
std::vector<Device_Info> sweep();
// The device of a sweep at `address`; null when it did not answer.
const Device_Info* findDevice(const std::vector<Device_Info>& devices, const QString& address);

}  // namespace corvane::cli
