// Dotted IPv4 address texts, as devices report them and as every request is aimed at them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The numeric value of a dotted IPv4 address ("a.b.c.d", each part 0-255 in one to three
// decimal digits, so at most 15 characters); nothing for any other text. Parts are decimal
// also with leading zeros: "198.051.100.010" is 198.51.100.10.
std::optional<std::uint32_t> ipv4_value(std::string_view text);

// The canonical dotted text of an address value: decimal parts without leading zeros.
std::string ipv4_text(std::uint32_t value);

// The canonical text of a dotted IPv4 address; nothing for any other text.
std::optional<std::string> canonical_ipv4(std::string_view text);
