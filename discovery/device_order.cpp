#include "discovery/device_order.h"

#include <algorithm>

#include "discovery/ipv4_address.h"

void order_by_address(std::vector<Device_Info>& records) {
    std::stable_sort(records.begin(), records.end(),
                     [](const Device_Info& a, const Device_Info& b) {
                         const auto ka = ipv4_value(a.ip);
                         const auto kb = ipv4_value(b.ip);
                         // An empty optional compares below every value, so non-addresses lead.
                         return ka < kb;
                     });
}

DeviceGroup device_group(std::uint32_t type) {
    switch (type) {
        case 1102:
        case 1200:
            return DeviceGroup::TX;
        case 307:
            return DeviceGroup::RX;
        case 2000:
            return DeviceGroup::KVM_RX;
        default:
            return DeviceGroup::Other;
    }
}

const char* group_name(DeviceGroup group) {
    switch (group) {
        case DeviceGroup::TX:
            return "TX";
        case DeviceGroup::RX:
            return "RX";
        case DeviceGroup::KVM_RX:
            return "KVM_RX";
        default:
            return "";
    }
}

std::string kind_text(std::uint32_t type) {
    const DeviceGroup group = device_group(type);
    return group == DeviceGroup::Other ? std::to_string(type) : group_name(group);
}

void order_for_table(std::vector<Device_Info>& records) {
    order_by_address(records);
    std::stable_sort(records.begin(), records.end(),
                     [](const Device_Info& a, const Device_Info& b) {
                         return device_group(a.type) < device_group(b.type);
                     });
}
