#include "protocol/config_commands.h"

#include <cctype>
#include <cstdint>
#include <optional>
#include <vector>

#include "command/command_request.h"
#include "discovery/ipv4_address.h"
#include "protocol/protocol_codes.h"
#include "protocol/reply_rule.h"

namespace corvane::config {

namespace {

WriteResult write(const std::string& address, const neb::CJsonObject& command, std::size_t capacity,
                  std::size_t accept_length) {
    WriteResult result;
    result.reply = post(address, command, capacity);
    result.accepted = protocol::reply_confirms(result.reply, accept_length);
    return result;
}

// The value of a dotted address without leading zeros: "010" would be read as 8 by some
// socket layers and as 10 by others.
std::optional<uint32_t> strictAddressValue(const std::string& text) {
    const std::optional<uint32_t> value = ipv4_value(text);
    if (!value) {
        return std::nullopt;
    }
    for (std::size_t at = 0; at < text.size(); ++at) {
        const bool part_start = at == 0 || text[at - 1] == '.';
        if (part_start && text[at] == '0' && at + 1 < text.size() && text[at + 1] != '.') {
            return std::nullopt;
        }
    }
    return value;
}

}  // namespace

neb::CJsonObject withCode(int32_t code) {
    neb::CJsonObject document;
    document.PutInt32("ProtocolCode", code);
    return document;
}

neb::CJsonObject withIntegers(int32_t code,
                              std::initializer_list<std::pair<const char*, int32_t>> members) {
    neb::CJsonObject parameters;
    for (const auto& [key, value] : members) {
        parameters.PutInt32(key, value);
    }
    neb::CJsonObject document = withCode(code);
    document.PutDocument("Parameters", parameters);
    return document;
}

std::string post(const std::string& address, const neb::CJsonObject& command,
                 std::size_t capacity) {
    std::vector<char> reply(capacity, '\0');
    send_http_cmd(address.c_str(), command.PrettyText().c_str(), reply.data(), reply.size());
    // The reply counts up to its first NUL byte, as a text.
    return std::string(reply.data());
}

// ---- Network --------------------------------------------------------------------------------

std::size_t fieldLimit(NetworkField field) {
    return field == NetworkField::Mac ? kMacFieldLimit : kAddressFieldLimit;
}

NetworkField overLongField(const NetworkSettings& settings) {
    const std::pair<NetworkField, const std::string*> fields[] = {
        {NetworkField::Ip, &settings.ip},
        {NetworkField::Mask, &settings.mask},
        {NetworkField::Gateway, &settings.gateway},
        {NetworkField::Mac, &settings.mac},
    };
    for (const auto& [field, text] : fields) {
        if (text->size() > fieldLimit(field)) {
            return field;
        }
    }
    return NetworkField::None;
}

bool isDottedAddress(const std::string& text) {
    return strictAddressValue(text).has_value();
}

bool isNetmask(const std::string& text) {
    const std::optional<uint32_t> mask = strictAddressValue(text);
    if (!mask) {
        return false;
    }
    // The zero bits, all trailing, read as a number one below a power of two.
    const uint32_t host_bits = ~*mask;
    return (host_bits & (host_bits + 1)) == 0;
}

bool isMacAddress(const std::string& text) {
    if (text.size() != 17) {
        return false;
    }
    for (std::size_t at = 0; at < text.size(); ++at) {
        const bool separator = at % 3 == 2;
        const unsigned char c = static_cast<unsigned char>(text[at]);
        if (separator ? c != ':' : !std::isxdigit(c)) {
            return false;
        }
    }
    return true;
}

NetworkField malformedField(const NetworkSettings& settings) {
    if (!isDottedAddress(settings.ip)) {
        return NetworkField::Ip;
    }
    if (!isNetmask(settings.mask)) {
        return NetworkField::Mask;
    }
    if (!isDottedAddress(settings.gateway)) {
        return NetworkField::Gateway;
    }
    return isMacAddress(settings.mac) ? NetworkField::None : NetworkField::Mac;
}

bool addressHeldByOther(const std::string& device_address, const std::string& new_ip,
                        const std::vector<std::string>& searched) {
    const std::optional<uint32_t> wanted = ipv4_value(new_ip);
    // Compared by value: a search may have reported an address with leading zeros.
    if (!wanted || ipv4_value(device_address.substr(0, device_address.find(':'))) == wanted) {
        return false;
    }
    for (const std::string& held : searched) {
        if (ipv4_value(held) == wanted) {
            return true;
        }
    }
    return false;
}

neb::CJsonObject networkSettingsDocument(const NetworkSettings& settings) {
    neb::CJsonObject lan;
    lan.PutInt32("LanNo", 0);
    lan.PutString("IP", settings.ip);
    lan.PutString("SubNetMask", settings.mask);
    lan.PutString("GateWay", settings.gateway);
    lan.PutString("MacAddr", settings.mac);
    neb::CJsonObject parameters;
    parameters.AppendDocument(lan);
    neb::CJsonObject document = withCode(protocol::kNetworkSettings);
    document.PutDocument("Parameters", parameters);
    return document;
}

neb::CJsonObject restartDocument() {
    return withCode(protocol::kRestart);
}

WriteResult writeNetworkSettings(const std::string& address, const NetworkSettings& settings) {
    return write(address, networkSettingsDocument(settings), kNetworkReplyCapacity,
                 kNetworkAcceptLength);
}

WriteResult restartDevice(const std::string& address) {
    return write(address, restartDocument(), kNetworkReplyCapacity, kNetworkAcceptLength);
}

RestartReply restartReplyOf(const std::string& reply) {
    if (protocol::reply_refuses(reply)) {
        return RestartReply::Refused;
    }
    return protocol::reply_confirms(reply, kNetworkAcceptLength) ? RestartReply::Confirmed
                                                                 : RestartReply::Silent;
}

NetworkChange changeNetwork(const std::string& address, const NetworkSettings& settings,
                            const std::vector<std::string>& searched) {
    NetworkChange change;
    // A text cut to its field's width would reach the device as if the operator had typed it.
    change.over_long = overLongField(settings);
    if (change.over_long != NetworkField::None) {
        change.outcome = NetworkOutcome::FieldTooLong;
        return change;
    }
    // Some devices save what they are sent and come back unreachable.
    change.malformed = malformedField(settings);
    if (change.malformed != NetworkField::None) {
        change.outcome = NetworkOutcome::FieldMalformed;
        return change;
    }
    // Two devices at one address both drop out of every later search.
    if (addressHeldByOther(address, settings.ip, searched)) {
        change.outcome = NetworkOutcome::AddressTaken;
        return change;
    }
    const WriteResult written = writeNetworkSettings(address, settings);
    change.settings_reply = written.reply;
    if (!written.accepted) {
        change.outcome = NetworkOutcome::SettingsFailed;
        return change;
    }
    const WriteResult restarted = restartDevice(address);
    change.restart_reply = restarted.reply;
    change.outcome =
        restarted.accepted ? NetworkOutcome::Restarting : NetworkOutcome::RestartFailed;
    return change;
}

// ---- Receiver audio -------------------------------------------------------------------------

neb::CJsonObject rxAudioReadDocument(int32_t display_id) {
    return withIntegers(protocol::kRxAudioRead, {{"DisplayId", display_id}});
}

neb::CJsonObject rxAudioWriteDocument(int32_t display_id, int32_t ao_dev_id) {
    return withIntegers(protocol::kRxAudioWrite,
                        {{"DisplayId", display_id}, {"AoDevId", ao_dev_id}});
}

RxAudio parseRxAudioReply(const std::string& reply) {
    RxAudio audio;
    audio.reply = reply;
    neb::CJsonObject document(reply);
    const neb::CJsonObject& parameters = document.Member("Parameters");
    int32_t display_id = 0;
    if (!parameters.ReadInt32("DisplayId", display_id)) {
        return audio;
    }
    audio.display_id = display_id;
    parameters.ReadInt32("AoDevId", audio.ao_dev_id);
    audio.usable = display_id == 1 || display_id == 2;
    return audio;
}

RxAudio readRxAudio(const std::string& address, const neb::CJsonObject& command) {
    return parseRxAudioReply(post(address, command, kAudioReplyCapacity));
}

WriteResult writeRxAudio(const std::string& address, int32_t display_id, int32_t ao_dev_id) {
    return write(address, rxAudioWriteDocument(display_id, ao_dev_id), kAudioReplyCapacity,
                 kAudioAcceptLength);
}

WriteResult changeRxAudio(const std::string& address, int32_t display_id, int32_t ao_dev_id) {
    WriteResult result = writeRxAudio(address, display_id, ao_dev_id);
    if (result.accepted) {
        const RxAudio held = readRxAudio(address, rxAudioReadDocument(display_id));
        result.accepted =
            held.usable && held.display_id == display_id && held.ao_dev_id == ao_dev_id;
    }
    return result;
}

// ---- Transmitter audio ----------------------------------------------------------------------

neb::CJsonObject txAudioReadDocument() {
    return withCode(protocol::kTxAudioRead);
}

neb::CJsonObject txAudioWriteDocument(int32_t audio_in) {
    return withIntegers(protocol::kTxAudioWrite, {{"AudioIn", audio_in}});
}

TxAudio parseTxAudioReply(const std::string& reply) {
    TxAudio audio;
    audio.reply = reply;
    neb::CJsonObject document(reply);
    document.Member("Parameters").ReadInt32("AudioIn", audio.audio_in);
    return audio;
}

TxAudio readTxAudio(const std::string& address, const neb::CJsonObject& command) {
    return parseTxAudioReply(post(address, command, kAudioReplyCapacity));
}

WriteResult writeTxAudio(const std::string& address, int32_t audio_in) {
    return write(address, txAudioWriteDocument(audio_in), kAudioReplyCapacity, kAudioAcceptLength);
}

WriteResult changeTxAudio(const std::string& address, int32_t audio_in) {
    WriteResult result = writeTxAudio(address, audio_in);
    if (result.accepted) {
        // -1 is what a read without the value gives, never what a device holds.
        result.accepted = audio_in != -1 && readTxAudio(address).audio_in == audio_in;
    }
    return result;
}

}  // namespace corvane::config
