// Restarting devices: the restart command (ProtocolCode 1002) posted to each address in
// turn, each reply judged. No window: the caller keeps its table and tells the operator.
#pragma once

#include <QStringList>
#include <QVector>

#include <string>

namespace corvane::maintenance {

// The pause after each device, so that devices restarting together are spread out.
constexpr int kRebootPauseMs = 100;
// A reply body of at least this many bytes that is not a refusal counts as the device's
// confirmation, the rule the network settings use for the same command.
constexpr int kRebootReplyMin = 30;

// What one device made of the restart command.
enum class RebootReply {
    Confirmed,  // it restarts
    Refused,    // it answered with a refusal ("Result" below 0)
    Silent,     // no answer, or one too short to confirm
};

// The restart command as it is posted: {"ProtocolCode": 1002} in the formatted text form.
std::string reboot_command_text();

// Sends the restart command to each address (dotted IPv4) in order, pausing after each one.
// Returns, per address, what the device answered.
QVector<RebootReply> reboot_devices(const QStringList& addresses);

}  // namespace corvane::maintenance
