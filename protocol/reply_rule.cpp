#include "protocol/reply_rule.h"

#include <cstdint>

#include "json/json_document.h"

namespace corvane::protocol {

bool reply_refuses(const std::string& reply) {
    neb::CJsonObject document;
    if (reply.empty() || !document.FromText(reply)) {
        return false;
    }
    int64_t result = 0;
    double value = 0;
    // A text, or a number with a fraction, is not a result code.
    return document.ReadInt64("Result", result) && document.ReadDouble("Result", value) &&
           value == double(result) && result < 0;
}

bool reply_confirms(const std::string& reply, std::size_t min_length) {
    return reply.size() >= min_length && !reply_refuses(reply);
}

}  // namespace corvane::protocol
