#include "device_order.h"

#include <algorithm>

std::optional<std::uint32_t> ipv4_value(std::string_view text) {
    std::uint32_t value = 0;
    int parts = 0;
    std::size_t i = 0;
    while (parts < 4) {
        std::size_t digits = 0;
        std::uint32_t part = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 3) {
            part = part * 10 + static_cast<std::uint32_t>(text[i] - '0');
            ++i;
            ++digits;
        }
        if (digits == 0 || part > 255) {
            return std::nullopt;
        }
        value = (value << 8) | part;
        ++parts;
        if (parts < 4) {
            if (i >= text.size() || text[i] != '.') {
                return std::nullopt;
            }
            ++i;
        }
    }
    if (i != text.size()) {
        return std::nullopt;
    }
    return value;
}

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
