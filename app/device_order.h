// How discovered devices are grouped and ordered in the device table.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "discovery/device_list.h"

// The numeric value of a dotted IPv4 address ("a.b.c.d", each part 0-255 in decimal);
// nothing for any other text.
std::optional<std::uint32_t> ipv4_value(std::string_view text);

// Orders records by the numeric value of their address, stably; records whose address is not
// a dotted IPv4 address come first, in their previous order.
void order_by_address(std::vector<Device_Info>& records);

// Table groups, in row order: transmitters, receivers, KVM receivers, then every other kind.
enum class DeviceGroup { TX, RX, KVM_RX, Other };

DeviceGroup device_group(std::uint32_t type);

// "TX", "RX" or "KVM_RX"; empty for other kinds, whose rows show their kind code instead.
const char* group_name(DeviceGroup group);
