#include "cli/sweep.h"

#include <optional>

#include "cli/command_line.h"
#include "discovery/device_order.h"
#include "discovery/ipv4_address.h"

namespace corvane::cli {

std::vector<Device_Info> sweep() {
    int nothing_found = 0;
    DeviceList& list = device_list();
    list.collect_devices(nothing_found);
    // A sweep that found nothing leaves the list as it was; this process has no earlier one.
    std::vector<Device_Info> devices = nothing_found ? std::vector<Device_Info>{} : list.snapshot();
    order_for_table(devices);
    return devices;
}

const Device_Info* findDevice(const std::vector<Device_Info>& devices, const QString& address) {
    // By value, whatever form of the address was given.
    const std::optional<std::uint32_t> wanted = addressValue(address);
    if (!wanted) {
        return nullptr;
    }
    for (const Device_Info& d : devices) {
        if (ipv4_value(d.ip) == wanted) {
            return &d;
        }
    }
    return nullptr;
}

}  // namespace corvane::cli
