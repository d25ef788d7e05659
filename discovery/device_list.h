// The discovered devices: one record per accepted reply of the last sweep that found any.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/sweep_report.h"

// One discovered device. Plain fixed-size record, copied by value; texts NUL-terminated.
struct Device_Info {
    char ip[16];
    std::uint32_t type;
    char version[24];
    char mask[16];
    char gateway[16];
    char mac[18];
    char uptime[20];
    // Another device (another MAC) answered the same sweep with the same address: an action
    // sent to the address could reach either.
    bool conflict;
    // The address lies in none of the local subnets the sweep probed from: reachable only
    // through a router, if at all.
    bool other_subnet;
};

// Copies `text` into a field of `capacity` bytes with its NUL. A longer text is cut at the
// field's capacity, backing off so that no UTF-8 character is split.
void copy_field(char* field, std::size_t capacity, std::string_view text);

template <std::size_t N>
void copy_field(char (&field)[N], std::string_view text) {
    copy_field(field, N, text);
}

// The address texts of the devices, in their order.
std::vector<std::string> device_addresses(const std::vector<Device_Info>& devices);

// The process-wide list of discovered devices, in the order the sweep accepted them.
class DeviceList {
public:
    // Size of the text buffer a sweep writes its result into.
    static constexpr std::size_t result_capacity = 4194304;
    // A collected text shorter than this holds no device worth listing.
    static constexpr std::size_t min_result_length = 50;

    // Runs one sweep and refills the list from it. Sets `nothing_found` to 1 when the sweep
    // found nothing; the list then keeps its previous content. The records are marked for
    // conflicts and for the subnets the sweep probed from.
    void collect_devices(int& nothing_found);
    // The same with the unicast sweep of `targets` (address values) at `rate` probes a second.
    void collect_devices_from(const std::vector<std::uint32_t>& targets, int rate,
                              int& nothing_found);

    // Refills the list from a collected text ({"ProtocolCode":999,"Parameters":[...]}).
    // A reply whose "IpAddr" is not a dotted IPv4 address gives no record (it is logged); when
    // no reply gives one, the sweep found nothing. The record's `ip` is the canonical text of
    // the address (parts decimal, without leading zeros). Records that share an address are
    // marked as conflicts; with `subnets` given, records outside all of them as other subnet.
    void refill_from_text(const char* text, int& nothing_found,
                          const std::vector<LocalSubnet>* subnets = nullptr);

    // What the last sweep of collect_devices told besides its replies (the bound warning).
    SweepReport last_report();

    // A copy of the records, taken under the mutex.
    std::vector<Device_Info> snapshot();

private:
    // Writes one sweep's collected text into the buffer it is given, and its report.
    using SweepInto = std::function<void(char* result, std::size_t capacity, SweepReport* swept)>;
    // Runs `sweep` into a buffer of result_capacity and refills the list from what it wrote.
    void collect(int& nothing_found, const SweepInto& sweep);

    std::mutex mutex;
    std::vector<Device_Info> devices;
    SweepReport report;
};

// The one device list, created on first use and never destroyed.
DeviceList& device_list();
