#include "discovery/ipv4_address.h"

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

std::string ipv4_text(std::uint32_t value) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        text += std::to_string((value >> shift) & 0xFFu);
        if (shift > 0) {
            text += '.';
        }
    }
    return text;
}

std::optional<std::string> canonical_ipv4(std::string_view text) {
    const std::optional<std::uint32_t> value = ipv4_value(text);
    if (!value) {
        return std::nullopt;
    }
    return ipv4_text(*value);
}
