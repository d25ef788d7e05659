// The unicast sweep: the discovery probe sent to each address of a list, for devices that a
// broadcast cannot reach (behind a router). The replies are taken as the broadcast sweep takes
// them, into the same result document.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

inline constexpr int unicast_default_rate = 2000;  // probes a second
inline constexpr int unicast_highest_rate = 100000;

// Sends the probe to port 61111 of every address in `targets`, in order, at most `rate` a
// second, and takes replies until one second passed after the last probe without any (and at
// most five seconds after it). Nothing is sent to any other address. Writes the result text
// as search_device does; returns its status, or -1 when no socket could be opened.
int search_addresses(const std::vector<std::uint32_t>& targets, int rate, char* result,
                     std::size_t capacity);
