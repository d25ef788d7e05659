// How discovered devices are grouped and ordered in the device table; every front end lists
// them this way.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "discovery/device_list.h"

// Orders records by the numeric value of their address, stably; records whose address is not
// a dotted IPv4 address come first, in their previous order.
void order_by_address(std::vector<Device_Info>& records);

// Table groups, in row order: transmitters, receivers, KVM receivers, then every other kind.
enum class DeviceGroup { TX, RX, KVM_RX, Other };

DeviceGroup device_group(std::uint32_t type);

// "TX", "RX" or "KVM_RX"; empty for other kinds, whose rows show their kind code instead.
const char* group_name(DeviceGroup group);

// The type text of a device: its group's name, or the kind code in decimal for other kinds.
std::string kind_text(std::uint32_t type);

// The table's order: transmitters, receivers, KVM receivers, then every other kind, each group
// ordered by address as order_by_address does.
void order_for_table(std::vector<Device_Info>& records);
