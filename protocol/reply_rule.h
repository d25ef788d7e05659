// How a device's reply to a write (settings, audio, video, restart) is judged.
#pragma once

#include <cstddef>
#include <string>

namespace corvane::protocol {

// A reply that is a JSON object whose "Result" is a whole number below 0: the device refused
// the command. The devices answer a refusal with a text as long as a confirmation, so its
// length says nothing.
bool reply_refuses(const std::string& reply);

// A write is confirmed by a reply of at least `min_length` bytes that is not a refusal.
// Replies without "Result" are judged by their length alone.
bool reply_confirms(const std::string& reply, std::size_t min_length);

}  // namespace corvane::protocol
