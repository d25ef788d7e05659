#include "config_commands.h"

#include <vector>

#include "command_request.h"

namespace corvane::config {

namespace {

WriteResult write(const std::string& address, const neb::CJsonObject& command, std::size_t capacity,
                  std::size_t accept_length) {
    WriteResult result;
    result.reply = post(address, command, capacity);
    result.accepted = result.reply.size() >= accept_length;
    return result;
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

neb::CJsonObject networkSettingsDocument(const NetworkSettings& settings) {
    neb::CJsonObject lan;
    lan.PutInt32("LanNo", 0);
    lan.PutString("IP", settings.ip);
    lan.PutString("SubNetMask", settings.mask);
    lan.PutString("GateWay", settings.gateway);
    lan.PutString("MacAddr", settings.mac);
    neb::CJsonObject parameters;
    parameters.AppendDocument(lan);
    neb::CJsonObject document = withCode(1008);
    document.PutDocument("Parameters", parameters);
    return document;
}

neb::CJsonObject restartDocument() {
    return withCode(1002);
}

WriteResult writeNetworkSettings(const std::string& address, const NetworkSettings& settings) {
    return write(address, networkSettingsDocument(settings), kNetworkReplyCapacity,
                 kNetworkAcceptLength);
}

WriteResult restartDevice(const std::string& address) {
    return write(address, restartDocument(), kNetworkReplyCapacity, kNetworkAcceptLength);
}

NetworkChange changeNetwork(const std::string& address, const NetworkSettings& settings) {
    NetworkChange change;
    // A text cut to its field's width would reach the device as if the operator had typed it.
    change.over_long = overLongField(settings);
    if (change.over_long != NetworkField::None) {
        change.outcome = NetworkOutcome::FieldTooLong;
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
    return withIntegers(1034, {{"DisplayId", display_id}});
}

neb::CJsonObject rxAudioWriteDocument(int32_t display_id, int32_t ao_dev_id) {
    return withIntegers(1036, {{"DisplayId", display_id}, {"AoDevId", ao_dev_id}});
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

// ---- Transmitter audio ----------------------------------------------------------------------

neb::CJsonObject txAudioReadDocument() {
    return withCode(3052);
}

neb::CJsonObject txAudioWriteDocument(int32_t audio_in) {
    return withIntegers(3054, {{"AudioIn", audio_in}});
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

}  // namespace corvane::config
