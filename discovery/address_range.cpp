#include "discovery/address_range.h"

#include <unordered_set>

#include "discovery/ipv4_address.h"

namespace {

// Neither "this network" nor a multicast, reserved or broadcast address names a device.
bool is_device_address(std::uint32_t value) {
    return (value >> 24) != 0 && (value >> 29) != 0x7;
}

struct Plan {
    AddressPlan result;
    std::unordered_set<std::uint32_t> seen;

    // False once the plan is refused.
    bool add(std::uint32_t value, const std::string& given) {
        if (!is_device_address(value)) {
            result.error = given + " reaches " + ipv4_text(value) + ", which is no device address";
            return false;
        }
        if (seen.insert(value).second) {
            if (result.addresses.size() >= unicast_sweep_limit) {
                result.error = "more than 65536 addresses (a /16) in all";
                return false;
            }
            result.addresses.push_back(value);
        }
        return true;
    }
};

bool parse_prefix(std::string_view text, int* prefix) {
    if (text.empty() || text.size() > 2) {
        return false;
    }
    int n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        n = n * 10 + (c - '0');
    }
    *prefix = n;
    return n <= 32;
}

}  // namespace

AddressPlan plan_addresses(const std::vector<std::string>& ranges,
                           const std::vector<std::string>& targets) {
    Plan plan;
    auto refuse = [&plan](std::string why) {
        plan.result.addresses.clear();
        plan.result.error = std::move(why);
        return plan.result;
    };
    for (const std::string& range : ranges) {
        const std::size_t slash = range.find('/');
        const std::optional<std::uint32_t> base =
            ipv4_value(std::string_view(range).substr(0, slash));
        int prefix = 0;
        if (slash == std::string::npos || !base ||
            !parse_prefix(std::string_view(range).substr(slash + 1), &prefix)) {
            return refuse("'" + range + "' is not a range such as 198.51.100.0/24");
        }
        const std::uint64_t size = std::uint64_t(1) << (32 - prefix);
        const std::uint32_t host_bits = std::uint32_t(size - 1);
        if ((*base & host_bits) != 0) {
            return refuse(range + " has host bits set; the range starts at " +
                          ipv4_text(*base & ~host_bits) + "/" + std::to_string(prefix));
        }
        // Counted before expanding, so that a /0 is refused without walking it.
        if (size > unicast_sweep_limit + 2) {
            return refuse(range + " is larger than a /16");
        }
        const bool ends_excluded = prefix <= 30;
        for (std::uint64_t i = ends_excluded ? 1 : 0; i < (ends_excluded ? size - 1 : size); ++i) {
            if (!plan.add(*base + std::uint32_t(i), range)) {
                return refuse(plan.result.error);
            }
        }
    }
    for (const std::string& target : targets) {
        const std::optional<std::uint32_t> value = ipv4_value(target);
        if (!value) {
            return refuse("'" + target + "' is not a dotted IPv4 address");
        }
        if (!plan.add(*value, target)) {
            return refuse(plan.result.error);
        }
    }
    return plan.result;
}
