// The unicast sweep: the discovery probe sent to each address of a list, for devices that a
// broadcast cannot reach (behind a router). The replies are taken as the broadcast sweep takes
// them, into the same result document.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "discovery/sweep_report.h"

inline constexpr int unicast_default_rate = 2000;  // probes a second
inline constexpr int unicast_highest_rate = 100000;

// The most datagrams a unicast sweep of `targets` addresses reads: a device answers once, a
// faulty one twice; more than that is a flood, which must not keep the sweep reading without
// end.
inline constexpr long unicast_datagram_bound(std::size_t targets) {
    return long(targets) * 4 + 4096;
}

// Sends the probe to port 61111 of every address in `targets`, in order, at most `rate` a
// second, and takes replies until one second passed after the last probe without any (and at
// most five seconds after it). Nothing is sent to any other address. Writes the result text
// as search_device does; returns its status, or -1 when no socket could be opened.
// `report`, when given, receives the bound warning and the local subnets, so that replies are
// marked as the broadcast sweep's are.
int search_addresses(const std::vector<std::uint32_t>& targets, int rate, char* result,
                     std::size_t capacity, SweepReport* report = nullptr);
