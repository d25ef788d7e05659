// The "ProtocolCode" of every command document the tool posts to a device's port 80. The
// devices tell their commands apart by it alone; documents are built in config_commands and
// video_commands. Two codes live below this layer with their own users: 999 heads the collected
// sweep result (discovery/discovery_transport.h), and 1000 is the command the tool's own HTTP
// service answers (command/http_server.h).
#pragma once

#include <cstdint>

namespace corvane::protocol {

enum Code : int32_t {
    kRestart = 1002,          // restart the device
    kNetworkSettings = 1008,  // write address, mask, gateway and MAC
    kStreamsRead = 1022,      // read the four video encoder streams
    kStreamWrite = 1024,      // write one video encoder stream
    kRxAudioRead = 1034,      // read a receiver's audio output
    kRxAudioWrite = 1036,     // write a receiver's audio output
    kTxAudioRead = 3052,      // read a transmitter's audio input
    kTxAudioWrite = 3054,     // write a transmitter's audio input
    kCustomSizeRead = 3129,   // read the custom resolution
    kCustomSizeWrite = 3131,  // write the custom resolution
};

}  // namespace corvane::protocol
