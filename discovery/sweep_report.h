// What a sweep tells besides its replies; apart from the transport so that the readers of the
// device list need no socket headers.
#pragma once

#include <cstdint>
#include <vector>

// A local IPv4 subnet a sweep probed from: the address of the entry and its netmask.
struct LocalSubnet {
    std::uint32_t address = 0;
    std::uint32_t mask = 0;
    bool contains(std::uint32_t other) const { return (other & mask) == (address & mask); }
};

// What a sweep tells besides its replies.
struct SweepReport {
    // A socket stopped at discovery_datagrams_per_socket: devices beyond it may be missing.
    bool bound_reached = false;
    // The subnets of the local addresses the probe left from.
    std::vector<LocalSubnet> subnets;
};
