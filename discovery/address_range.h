// The addresses a unicast sweep probes: ranges in CIDR notation and single addresses, checked
// before anything is sent, so that a sweep never reaches beyond what the operator named.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The most addresses one unicast sweep probes, ranges and single addresses together: a /16.
inline constexpr std::size_t unicast_sweep_limit = 65536;

struct AddressPlan {
    std::vector<std::uint32_t> addresses;  // in the order given, each once
    std::string error;                     // why the plan was refused; empty when it was not
};

// Expands "a.b.c.d/N" ranges and single dotted addresses into the addresses to probe, each
// once (overlaps are probed once), in the order given. A range leaves out its own network and
// broadcast address (from /0 to /30): a datagram to the latter would be a broadcast after all.
// Refused: a range with host bits set, prefixes outside 0-32, texts that are no address, any
// address of 0.0.0.0/8 or of 224.0.0.0/3 (multicast, reserved, the limited broadcast), and more
// than unicast_sweep_limit addresses in all.
AddressPlan plan_addresses(const std::vector<std::string>& ranges,
                           const std::vector<std::string>& targets);
