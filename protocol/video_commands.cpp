#include "protocol/video_commands.h"

#include <QDebug>
#include <QString>

#include <algorithm>
#include <cctype>
#include <limits>

#include "protocol/config_commands.h"
#include "protocol/protocol_codes.h"
#include "protocol/reply_rule.h"

namespace corvane::video {

namespace {

// Reply buffers as the devices' answers need them: the stream list is about 1000 bytes.
constexpr std::size_t kReadReplyBytes = 3072;
constexpr std::size_t kWriteReplyBytes = 1024;

int32_t member(neb::CJsonObject& object, const char* key) {
    int32_t value = -1;
    object.ReadInt32(key, value);
    return value;
}

std::string postCustomSize(const char* address, int32_t width, int32_t height) {
    const neb::CJsonObject command = customSizeWriteCommand(width, height);
    qDebug() << "custom width" << width << "height" << height;
    qDebug().noquote() << QString::fromStdString(command.PrettyText());
    return config::post(address, command, kWriteReplyBytes);
}

}  // namespace

int bitRateIndex(int32_t rate) {
    const auto at = std::find(kBitRates.begin(), kBitRates.end(), rate);
    return at == kBitRates.end() ? -1 : int(at - kBitRates.begin());
}

int32_t bitRateAt(int index) {
    return index >= 0 && index < int(kBitRates.size()) ? kBitRates[std::size_t(index)] : -1;
}

int32_t decimalValue(const std::string& text) {
    std::size_t at = 0;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) {
        ++at;
    }
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    // Accumulate in 64 bits and stop at the 32-bit ends, so no input overflows.
    int64_t value = 0;
    const int64_t limit = negative ? -int64_t(std::numeric_limits<int32_t>::min())
                                   : int64_t(std::numeric_limits<int32_t>::max());
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        value = std::min(limit, value * 10 + (text[at] - '0'));
    }
    return int32_t(negative ? -value : value);
}

std::vector<const char*> unreadMembers(const Stream& stream) {
    std::vector<const char*> unread;
    for (const WrittenMember& m : kWrittenMembers) {
        if (stream.*m.value == -1) {
            unread.push_back(m.name);
        }
    }
    return unread;
}

neb::CJsonObject streamsReadCommand() {
    neb::CJsonObject command = config::withCode(protocol::kStreamsRead);
    neb::CJsonObject parameters;
    parameters.PutEmptyArray("ChnId");
    parameters.Member("ChnId").AppendInt32(1);
    command.PutDocument("Parameters", parameters);
    return command;
}

neb::CJsonObject customSizeReadCommand() {
    return config::withCode(protocol::kCustomSizeRead);
}

neb::CJsonObject customSizeWriteCommand(int32_t width, int32_t height) {
    return config::withIntegers(protocol::kCustomSizeWrite,
                                {{"enable", 1}, {"width", width}, {"height", height}});
}

neb::CJsonObject streamWriteCommand(int32_t stream_id, const Stream& stream) {
    neb::CJsonObject values;
    values.PutInt32("ChnId", 1);
    values.PutInt32("StreamId", stream_id);
    for (const WrittenMember& m : kWrittenMembers) {
        values.PutInt32(m.name, stream.*m.value);
    }
    neb::CJsonObject list;
    list.AppendDocument(values);
    neb::CJsonObject command = config::withCode(protocol::kStreamWrite);
    command.PutDocument("Parameters", list);
    return command;
}

StreamsReply readStreamsReply(const std::string& reply) {
    StreamsReply result;
    neb::CJsonObject document;
    result.answered = !reply.empty();
    result.readable = document.FromText(reply);
    neb::CJsonObject& list = document.Member("Parameters").Element(0).Member("StreamList");
    result.listed = list.ArraySize();
    for (int k = 0; k < kStreamCount; ++k) {
        neb::CJsonObject& source = list.Element(uint32_t(k));
        Stream& stream = result.streams[std::size_t(k)];
        stream.encode_mode = member(source, "EncodeMode");
        stream.pic_quality = member(source, "PicQuality");
        stream.bit_rate = member(source, "BitRate");
        stream.bit_rate_type = member(source, "BitRateType");
        stream.frame_rate = member(source, "FrameRate");
        stream.max_frame_rate = member(source, "MaxFrameRate");
        stream.image_size = member(source, "ImageSize");
        stream.image_size_adapt = member(source, "ImageSizeAdapt");
        stream.iframe_interval = member(source, "IFrameInterval");
        stream.profile = member(source, "Profile");
        stream.max_bit_rate = member(source, "MaxBitRate");
    }
    return result;
}

CustomSize readCustomSizeReply(const std::string& reply) {
    CustomSize size;
    size.answered = !reply.empty();
    neb::CJsonObject document(reply);
    neb::CJsonObject& parameters = document.Member("Parameters");
    size.width = member(parameters, "Width");
    size.height = member(parameters, "Height");
    return size;
}

VideoRead readVideo(const char* address, const neb::CJsonObject& command) {
    qDebug().noquote() << QString::fromStdString(command.PrettyText());
    VideoRead read;
    read.streams = readStreamsReply(config::post(address, command, kReadReplyBytes));
    if (read.streams.streams[0].image_size == kCustomImageSize) {
        read.custom_asked = true;
        read.custom = readCustomSize(address);
    }
    return read;
}

CustomSize readCustomSize(const char* address) {
    return readCustomSizeReply(config::post(address, customSizeReadCommand(), kReadReplyBytes));
}

std::optional<WriteStatus> writeRefusal(const StreamWrite& write) {
    if (write.stream_id < 0 || write.stream_id >= kStreamCount) {
        return WriteStatus::NoSuchStream;
    }
    if (!write.values_read) {
        return WriteStatus::NotRead;
    }
    if (write.custom_size &&
        (write.custom_width.value_or(-1) < 0 || write.custom_height.value_or(-1) < 0)) {
        return WriteStatus::CustomSizeMissing;
    }
    if (write.values.frame_rate == 0) {
        return WriteStatus::FrameRateZero;
    }
    if (write.values.iframe_interval == 0) {
        return WriteStatus::IFrameIntervalZero;
    }
    return std::nullopt;
}

WriteResult writeStream(const char* address, const StreamWrite& write) {
    WriteResult result;
    if (const std::optional<WriteStatus> refused = writeRefusal(write)) {
        result.status = *refused;
        return result;
    }
    if (write.custom_size) {
        // The stream write follows a short or missing answer to the custom size (the read-back
        // tells), but not a refusal: the stream would then use a size the device did not take.
        result.reply = postCustomSize(address, *write.custom_width, *write.custom_height);
        if (protocol::reply_refuses(result.reply)) {
            result.status = WriteStatus::NotAccepted;
            return result;
        }
    }
    result.reply =
        config::post(address, streamWriteCommand(write.stream_id, write.values), kWriteReplyBytes);
    result.status = protocol::reply_confirms(result.reply, kAcceptLength)
                        ? WriteStatus::Written
                        : WriteStatus::NotAccepted;
    return result;
}

bool holdsWrite(const VideoRead& read, const StreamWrite& write) {
    if (write.stream_id < 0 || write.stream_id >= kStreamCount) {
        return false;
    }
    const Stream& held = read.streams.streams[std::size_t(write.stream_id)];
    for (const WrittenMember& m : kWrittenMembers) {
        if (held.*m.value != write.values.*m.value) {
            return false;
        }
    }
    return !write.custom_size ||
           (read.custom.width == write.custom_width && read.custom.height == write.custom_height);
}

WriteResult changeStream(const char* address, const StreamWrite& write) {
    WriteResult result = writeStream(address, write);
    if (result.status != WriteStatus::Written) {
        return result;
    }
    VideoRead read = readVideo(address);
    // A custom size written with another stream is read even though stream 0 does not use it.
    if (write.custom_size && !read.custom_asked) {
        read.custom = readCustomSize(address);
    }
    if (!holdsWrite(read, write)) {
        result.status = WriteStatus::NotHeld;
    }
    return result;
}

WriteStatus writeCustomSize(const char* address, int32_t width, int32_t height) {
    return protocol::reply_confirms(postCustomSize(address, width, height), kAcceptLength)
               ? WriteStatus::Written
               : WriteStatus::NotAccepted;
}

}  // namespace corvane::video
