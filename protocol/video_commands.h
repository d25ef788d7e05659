// The video encoder commands of a transmitter: reading its four streams and its custom
// resolution, and writing one stream. No widgets here: the video window and a terminal front
// end both move values between these records and their own input.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "json/json_document.h"

namespace corvane::video {

constexpr int kStreamCount = 4;
// "ImageSize" of the custom width and height, offered on stream 0 only.
constexpr int32_t kCustomImageSize = 25;
// Streams 1 to 3 offer the resolutions up to this one; 2560*1440, 3840*2160 and the custom
// size belong to stream 0.
constexpr int32_t kLastSubStreamImageSize = 22;
// The resolutions by "ImageSize", 0 to 24, as the window's boxes list them.
constexpr std::array<const char*, kCustomImageSize> kImageSizeNames{
    "QCIF",      "HCIF",      "CIF",       "HD1",       "D1",        "960*576",   "320*240",
    "640*480",   "800*600",   "1024*768",  "1280*768",  "1440*900",  "1280*1024", "1400*1050",
    "1600*1200", "2048*1536", "854*480",   "1680*1050", "1920*1200", "2560*1600", "1280*720",
    "1280*960",  "1920*1080", "2560*1440", "3840*2160"};
// A write counts as accepted when its reply text is at least this long and not a refusal.
constexpr std::size_t kAcceptLength = 31;
// Whole numbers the input takes, from 0 up to these; 0 frame rate and 0 I-frame interval are
// then refused by the write's checks.
constexpr int32_t kMaxFrameRate = 60;
constexpr int32_t kMaxIFrameInterval = 255;
constexpr int32_t kMaxCustomWidth = 3840;
constexpr int32_t kMaxCustomHeight = 2160;
// The bit rates a stream takes, by the index of the window's bit-rate box. The last one is
// 20408 as the devices have it, not 20480.
constexpr std::array<int32_t, 12> kBitRates{128,  256,  512,  1024,  2048,  3072,
                                            4096, 6144, 8192, 12288, 16384, 20408};

// Position of a bit rate in kBitRates; -1 for a rate the list does not hold.
int bitRateIndex(int32_t rate);
// The bit rate at a position of kBitRates; -1 outside 0 to 11 (nothing selected).
int32_t bitRateAt(int index);

// A decimal number as the input fields hold it: leading blanks and a sign allowed, reading
// stops at the first character that is not a digit; no digits read as 0. Values beyond the
// 32-bit range stop at its ends.
int32_t decimalValue(const std::string& text);

// One encoder stream; -1 for whatever a reply did not hold.
struct Stream {
    int32_t encode_mode = -1;       // 0 H264, 1 MJPEG, 2 H265
    int32_t pic_quality = -1;       // 0 best to 5 bad
    int32_t bit_rate = -1;          // one of kBitRates, or whatever the device reports
    int32_t bit_rate_type = -1;     // 0 fixed, 1 variable
    int32_t frame_rate = -1;        // frames per second
    int32_t max_frame_rate = -1;    // the device's highest frame rate, shown only
    int32_t image_size = -1;        // resolution 0 to 25 (25 custom, stream 0 only)
    int32_t image_size_adapt = -1;  // 0 fixed, 1 follows the input
    int32_t iframe_interval = -1;   // frames between I-frames
    int32_t profile = -1;           // 0 BASE, 1 MAIN, 2 HIGH
    int32_t max_bit_rate = -1;      // read, not used
};

// The nine values a stream write carries, under the names the devices give them, in the order
// of the command; the maxima are only shown by the devices and never written.
struct WrittenMember {
    const char* name;
    int32_t Stream::*value;
};
inline constexpr WrittenMember kWrittenMembers[] = {
    {"EncodeMode", &Stream::encode_mode},
    {"PicQuality", &Stream::pic_quality},
    {"BitRate", &Stream::bit_rate},
    {"BitRateType", &Stream::bit_rate_type},
    {"FrameRate", &Stream::frame_rate},
    {"ImageSize", &Stream::image_size},
    {"ImageSizeAdapt", &Stream::image_size_adapt},
    {"IFrameInterval", &Stream::iframe_interval},
    {"Profile", &Stream::profile},
};

// The members of the nine written values ("EncodeMode" ... "Profile") that `stream` holds as
// -1: a read that did not give them.
std::vector<const char*> unreadMembers(const Stream& stream);

struct StreamsReply {
    std::array<Stream, kStreamCount> streams;
    bool answered = false;  // the device sent a body
    bool readable = false;  // the body is a JSON text
    int32_t listed = 0;     // elements of its "StreamList" (0 when it has none)
};

struct CustomSize {
    int32_t width = -1;
    int32_t height = -1;
    bool answered = false;  // the device sent a body
};

// Everything one read of a transmitter brings: its streams and, when stream 0 reports the
// custom resolution, the custom width and height.
struct VideoRead {
    StreamsReply streams;
    bool custom_asked = false;  // the custom size was read (stream 0 reported 25)
    CustomSize custom;
};

// Command documents.
neb::CJsonObject streamsReadCommand();                                         // 1022
neb::CJsonObject customSizeReadCommand();                                      // 3129
neb::CJsonObject customSizeWriteCommand(int32_t width, int32_t height);        // 3131
neb::CJsonObject streamWriteCommand(int32_t stream_id, const Stream& stream);  // 1024

// Reply readers: integers, numbers with a fraction cut toward zero, -1 for a missing member,
// element or array.
StreamsReply readStreamsReply(const std::string& reply);
CustomSize readCustomSizeReply(const std::string& reply);

// Sends `command` (a 1022 read) to the transmitter at `address` (dotted IPv4, optionally
// ":port") and, when its stream 0 reports the custom resolution, reads that too (3129).
VideoRead readVideo(const char* address, const neb::CJsonObject& command = streamsReadCommand());
CustomSize readCustomSize(const char* address);

enum class WriteStatus {
    Written,             // sent; the reply was 31 bytes or longer and no refusal
    NotAccepted,         // sent; the reply was shorter, missing or a refusal
    NotHeld,             // accepted, but a read afterwards does not show what was written
    NotRead,             // the stream's values were not all read; nothing sent
    CustomSizeMissing,   // the custom resolution lacks its width or height; nothing sent
    FrameRateZero,       // the stream's frame rate is 0; nothing sent
    IFrameIntervalZero,  // the stream's I-frame interval is 0; nothing sent
    NoSuchStream,        // a stream other than 0 to 3; nothing sent
};

// One stream write as the operator asks for it.
struct StreamWrite {
    int32_t stream_id = 0;
    Stream values;  // the nine written values; the maxima are not sent
    // Whether the read these values started from gave them all; a stream the device did not
    // report whole is not written back.
    bool values_read = true;
    // Stream 0 is set to the custom resolution: the custom size goes out first. A width or
    // height without a value (an empty field, or -1 from a read that did not give it) stops
    // the write.
    bool custom_size = false;
    std::optional<int32_t> custom_width;
    std::optional<int32_t> custom_height;
};

// The first check the write fails, in the order the operator is told: the values read, the
// custom size, the frame rate, the I-frame interval. Nothing when all pass.
std::optional<WriteStatus> writeRefusal(const StreamWrite& write);

struct WriteResult {
    WriteStatus status = WriteStatus::NotAccepted;
    std::string reply;  // the stream write's reply (empty when nothing was sent)
};

// Checks everything, then sends the custom size (3131) when asked and the stream (1024),
// judged by the length of its reply and whether it refuses. A refused custom size stops the
// write before the stream goes out; a short or missing answer to it does not.
WriteResult writeStream(const char* address, const StreamWrite& write);
// writeStream, then a read of the streams (and the custom size): NotHeld unless the device
// then holds every written value.
WriteResult changeStream(const char* address, const StreamWrite& write);
// Whether `read` shows the values of `write` (and its custom size, when it sent one).
bool holdsWrite(const VideoRead& read, const StreamWrite& write);
// The custom size alone, judged like the stream write.
WriteStatus writeCustomSize(const char* address, int32_t width, int32_t height);

}  // namespace corvane::video
