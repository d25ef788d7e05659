// Restarting devices: the restart command (ProtocolCode 1002) posted to each address in
// turn, each reply judged by the restart rule of the protocol layer. No window: the caller
// keeps its table and tells the operator.
#pragma once

#include <QStringList>
#include <QVector>

#include "protocol/config_commands.h"

namespace corvane::maintenance {

// The pause after each device, so that devices restarting together are spread out.
constexpr int kRebootPauseMs = 100;

// What one device made of the restart command: Confirmed (it restarts), Refused ("Result"
// below 0) or Silent (no answer, or one too short to confirm).
using RebootReply = config::RestartReply;

// Sends the restart command to each address (dotted IPv4) in order, pausing after each one.
// Returns, per address, what the device answered.
QVector<RebootReply> reboot_devices(const QStringList& addresses);

}  // namespace corvane::maintenance
