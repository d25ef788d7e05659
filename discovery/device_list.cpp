#include "discovery/device_list.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include <QDebug>

#include "discovery/discovery_transport.h"
#include "discovery/ipv4_address.h"
#include "discovery/unicast_sweep.h"
#include "json/json_document.h"

void copy_field(char* field, std::size_t capacity, std::string_view text) {
    if (capacity == 0) {
        return;
    }
    std::size_t n = text.size();
    if (n > capacity - 1) {
        n = capacity - 1;
        // Cutting in front of a continuation byte would split a character: back off to its lead.
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) {
            --n;
        }
    }
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

std::vector<std::string> device_addresses(const std::vector<Device_Info>& devices) {
    std::vector<std::string> addresses;
    addresses.reserve(devices.size());
    for (const Device_Info& device : devices) {
        addresses.emplace_back(device.ip);
    }
    return addresses;
}

namespace {

// Sets `conflict` on every record whose address another record has too.
void mark_address_conflicts(std::vector<Device_Info>& devices) {
    std::map<std::string, int> count;
    for (const Device_Info& d : devices) {
        ++count[d.ip];
    }
    for (Device_Info& d : devices) {
        d.conflict = count[d.ip] > 1;
    }
}

// Sets `other_subnet` on every record whose address lies in none of `subnets`.
void mark_other_subnets(std::vector<Device_Info>& devices,
                        const std::vector<LocalSubnet>& subnets) {
    for (Device_Info& d : devices) {
        const std::optional<std::uint32_t> address = ipv4_value(d.ip);
        d.other_subnet =
            address && std::none_of(subnets.begin(), subnets.end(),
                                    [&](const LocalSubnet& s) { return s.contains(*address); });
    }
}

}  // namespace

void DeviceList::collect_devices(int& nothing_found) {
    collect(nothing_found, [](char* result, std::size_t capacity, SweepReport* swept) {
        search_device(result, capacity, swept);
    });
}

void DeviceList::collect_devices_from(const std::vector<std::uint32_t>& targets, int rate,
                                      int& nothing_found) {
    collect(nothing_found,
            [&targets, rate](char* result, std::size_t capacity, SweepReport* swept) {
                search_addresses(targets, rate, result, capacity, swept);
            });
}

void DeviceList::collect(int& nothing_found, const SweepInto& sweep) {
    std::unique_ptr<char[]> result(new char[result_capacity]);
    result[0] = '\0';
    SweepReport swept;
    sweep(result.get(), result_capacity, &swept);
    refill_from_text(result.get(), nothing_found, &swept.subnets);
    std::lock_guard<std::mutex> lock(mutex);
    report = std::move(swept);
}

SweepReport DeviceList::last_report() {
    std::lock_guard<std::mutex> lock(mutex);
    return report;
}

void DeviceList::refill_from_text(const char* text, int& nothing_found,
                                  const std::vector<LocalSubnet>* subnets) {
    if (std::strlen(text) < min_result_length) {
        nothing_found = 1;
        return;
    }
    neb::CJsonObject collected(text);
    neb::CJsonObject& replies = collected.Member("Parameters");
    const int n = replies.ArraySize();
    std::vector<Device_Info> found;
    for (int i = 0; i < n; ++i) {
        neb::CJsonObject& reply = replies.Element(i);
        neb::CJsonObject& net = reply.Member("NetConfig").Element(0);
        // Every action is aimed at this text: one that names no reachable address, or that a
        // cut would turn into another device's address, gives no record. The record holds the
        // canonical form, since "198.051.100.010" read elsewhere as octal names another host.
        const std::string address = net.ReadText("IpAddr");
        const std::optional<std::string> canonical = canonical_ipv4(address);
        if (!canonical) {
            qDebug() << "reply without a dotted IPv4 address left out:"
                     << QString::fromStdString(address);
            continue;
        }
        Device_Info info{};
        copy_field(info.ip, *canonical);
        std::uint32_t type = 0;
        if (reply.ReadUint32("DeviceType", type)) {
            info.type = type;
        }
        copy_field(info.version, reply.ReadText("SoftVersion"));
        copy_field(info.mask, net.ReadText("SubNetMask"));
        copy_field(info.gateway, net.ReadText("GateWay"));
        copy_field(info.mac, net.ReadText("Mac"));
        copy_field(info.uptime, reply.ReadText("UpTime"));
        found.push_back(info);
    }
    // Replies that all name no address found no device: the list keeps what it holds.
    if (found.empty()) {
        nothing_found = 1;
        return;
    }
    mark_address_conflicts(found);
    if (subnets != nullptr) {
        mark_other_subnets(found, *subnets);
    }
    std::lock_guard<std::mutex> lock(mutex);
    devices = std::move(found);
}

std::vector<Device_Info> DeviceList::snapshot() {
    std::lock_guard<std::mutex> lock(mutex);
    return devices;
}

DeviceList& device_list() {
    // Never destroyed, so no exit-time destructor can race a late reader.
    static DeviceList* list = new DeviceList;
    return *list;
}
