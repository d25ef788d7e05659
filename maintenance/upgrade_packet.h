// The bytes of the firmware upgrade exchange on TCP port 6000: packet headers, the three
// command texts, the reply rule and the image-name rule. No sockets and no files here.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace corvane::maintenance {

constexpr quint16 kUpgradePort = 6000;
constexpr int kHeaderBytes = 32;
// Every packet is assembled in one buffer of this size, header first.
constexpr int kSendBufferBytes = 1 << 20;
// The largest image piece: header and piece together fill the send buffer.
constexpr int kPieceBytes = kSendBufferBytes - kHeaderBytes;
// Replies are read into a buffer of this size; the device's own header comes first.
constexpr int kReplyBytes = 4096;
// Second number of the start command; devices expect this constant.
constexpr qint32 kStartTag = 5830617;

enum class PacketKind : quint32 {
    Command = 1,  // tab-separated command text
    Data = 2,     // a piece of the image
};

// Writes the 32-byte header at `packet`: "PKGH", version 1, the kind, the payload length,
// eight reserved zero bytes, the packet length (payload + 32) and four more zero bytes; all
// integers little-endian.
void write_header(char* packet, PacketKind kind, quint32 payload_bytes);

// "CMD\tUPDATE\tSTART\t<image bytes>\t5830617\t", numbers in decimal.
QByteArray start_command(qint32 image_bytes);
QByteArray finish_command();  // "CMD\tUPDATE\tFINISH\t"
QByteArray end_command();     // "CMD\tUPDATE\tEND\t"

// Whether a reply of `received` bytes confirms: "OK" in the text behind the device's 32-byte
// header. The text ends at its first NUL or at the last byte received, whichever comes first;
// nothing beyond the received bytes is ever looked at.
bool reply_confirms(const char* reply, qint64 received);

// Whether `path` may be loaded into a device whose table type text is `device_type`: the path
// (folders included, case-sensitive) must hold the kind's fixed part of the image name.
// Types other than "TX", "RX" and "KVM_RX", the empty one included, have no rule.
bool image_name_fits(const QString& device_type, const QString& path);
// The fixed part of the image name for a type text; empty for the types without a rule.
QString image_name_part(const QString& device_type);

}  // namespace corvane::maintenance
