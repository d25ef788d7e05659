// Dotted IPv4 address texts, as devices report them and as every request is aimed at them.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// The numeric value of a dotted IPv4 address ("a.b.c.d", each part 0-255 in one to three
// decimal digits, so at most 15 characters); nothing for any other text.
std::optional<std::uint32_t> ipv4_value(std::string_view text);
