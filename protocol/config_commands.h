// The commands of the network and audio settings: building each document, sending it to a
// device and judging or reading the reply. No widgets here: the windows call these, and so can
// a terminal front end or a test, with nothing but an address and the values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "json/json_document.h"

namespace corvane::config {

// Reply buffers: the network commands keep up to 4095 bytes of the reply, the audio commands
// up to 1023; a longer reply is cut there.
constexpr std::size_t kNetworkReplyCapacity = 4096;
constexpr std::size_t kAudioReplyCapacity = 1024;

// A write counts as accepted when its reply text has at least this many bytes and is not a
// refusal (protocol/reply_rule.h): the devices answer a refusal with a text of that length too.
constexpr std::size_t kNetworkAcceptLength = 30;  // 1008 and 1002
constexpr std::size_t kAudioAcceptLength = 31;    // 1036 and 3054

// Longest texts a network field may hold, in UTF-8 bytes.
constexpr std::size_t kAddressFieldLimit = 15;  // address, mask, gateway
constexpr std::size_t kMacFieldLimit = 19;

// Posts the command's formatted text to `address` (dotted IPv4, optionally ":port") and returns
// the reply text, at most capacity - 1 bytes; empty when the device said nothing.
std::string post(const std::string& address, const neb::CJsonObject& command, std::size_t capacity);

// {"ProtocolCode":code}
neb::CJsonObject withCode(int32_t code);
// {"ProtocolCode":code,"Parameters":{...}} with the integer members in the order given.
neb::CJsonObject withIntegers(int32_t code,
                              std::initializer_list<std::pair<const char*, int32_t>> members);

// The outcome of one write.
struct WriteResult {
    bool accepted = false;
    std::string reply;
};

// ---- Network settings (1008) and restart (1002) ----------------------------------------------

// The four texts as the operator typed them (UTF-8).
struct NetworkSettings {
    std::string ip;
    std::string mask;
    std::string gateway;
    std::string mac;
};

enum class NetworkField { None, Ip, Mask, Gateway, Mac };

std::size_t fieldLimit(NetworkField field);
// The first field, in the order of the form (address, mask, gateway, MAC), whose text is longer
// than its limit; None when all fit.
NetworkField overLongField(const NetworkSettings& settings);

// Four decimal parts 0-255 separated by dots, without leading zeros ("198.51.100.7").
bool isDottedAddress(const std::string& text);
// A dotted address whose one bits all lead (255.255.255.0, never 255.0.255.0).
bool isNetmask(const std::string& text);
// Six pairs of hex digits separated by ':' ("02:43:56:00:00:4D").
bool isMacAddress(const std::string& text);
// The first field, in the order of the form, whose text is not of its kind; None when all are.
NetworkField malformedField(const NetworkSettings& settings);
// Whether a device of `searched` (the addresses of the last search) other than the one at
// `device_address` (optionally with ":port") holds `new_ip`.
bool addressHeldByOther(const std::string& device_address, const std::string& new_ip,
                        const std::vector<std::string>& searched);

// {"ProtocolCode":1008,"Parameters":[{"LanNo":0,"IP":..,"SubNetMask":..,"GateWay":..,"MacAddr":..}]}
neb::CJsonObject networkSettingsDocument(const NetworkSettings& settings);
// {"ProtocolCode":1002}
neb::CJsonObject restartDocument();

WriteResult writeNetworkSettings(const std::string& address, const NetworkSettings& settings);
// Accepted as any write of the network settings is: kNetworkAcceptLength bytes, no refusal.
WriteResult restartDevice(const std::string& address);

// What a device made of the restart command, by the rule of its acceptance.
enum class RestartReply {
    Confirmed,  // accepted: it restarts
    Refused,    // a refusal ("Result" below 0)
    Silent,     // no answer, or one too short to confirm
};
RestartReply restartReplyOf(const std::string& reply);

enum class NetworkOutcome {
    FieldTooLong,    // nothing was sent
    FieldMalformed,  // nothing was sent
    AddressTaken,    // another device holds the new address; nothing was sent
    SettingsFailed,  // 1008 not accepted; 1002 not sent
    RestartFailed,   // 1008 accepted, 1002 not
    Restarting,      // both accepted: the device restarts with the new settings
};

struct NetworkChange {
    NetworkOutcome outcome = NetworkOutcome::SettingsFailed;
    NetworkField over_long = NetworkField::None;  // with FieldTooLong
    NetworkField malformed = NetworkField::None;  // with FieldMalformed
    std::string settings_reply;
    std::string restart_reply;
};

// The whole change: the field checks (lengths, then forms, then the new address against the
// other devices of `searched`), then 1008 and, once it is accepted, 1002, both to `address`
// (the device's present address, whatever the new one in the settings is).
NetworkChange changeNetwork(const std::string& address, const NetworkSettings& settings,
                            const std::vector<std::string>& searched = {});

// ---- Receiver audio output (1034 read, 1036 write) ------------------------------------------

// {"ProtocolCode":1034,"Parameters":{"DisplayId":display_id}}
neb::CJsonObject rxAudioReadDocument(int32_t display_id = 1);
// {"ProtocolCode":1036,"Parameters":{"DisplayId":..,"AoDevId":..}}
neb::CJsonObject rxAudioWriteDocument(int32_t display_id, int32_t ao_dev_id);

struct RxAudio {
    bool usable = false;     // "DisplayId" was 1 or 2
    int32_t display_id = 0;  // as read (0 when missing)
    int32_t ao_dev_id = -1;  // as read; -1 when missing
    std::string reply;
};

// Reads "Parameters" -> "DisplayId" and "AoDevId" (numbers; a fraction is cut toward zero).
RxAudio parseRxAudioReply(const std::string& reply);
RxAudio readRxAudio(const std::string& address,
                    const neb::CJsonObject& command = rxAudioReadDocument());
WriteResult writeRxAudio(const std::string& address, int32_t display_id, int32_t ao_dev_id);
// The write, then a read of the same display: accepted only when the device then holds the
// output written.
WriteResult changeRxAudio(const std::string& address, int32_t display_id, int32_t ao_dev_id);

// ---- Transmitter audio input (3052 read, 3054 write) -----------------------------------------

// {"ProtocolCode":3052}
neb::CJsonObject txAudioReadDocument();
// {"ProtocolCode":3054,"Parameters":{"AudioIn":audio_in}}
neb::CJsonObject txAudioWriteDocument(int32_t audio_in);

struct TxAudio {
    int32_t audio_in = -1;  // as read; -1 when missing
    std::string reply;
};

TxAudio parseTxAudioReply(const std::string& reply);
TxAudio readTxAudio(const std::string& address,
                    const neb::CJsonObject& command = txAudioReadDocument());
WriteResult writeTxAudio(const std::string& address, int32_t audio_in);
// The write, then a read: accepted only when the device then holds the input written.
WriteResult changeTxAudio(const std::string& address, int32_t audio_in);

}  // namespace corvane::config
