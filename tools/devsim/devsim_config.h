// Configuration of the device simulator: which devices it plays, and how each one misbehaves.
// Parsed from a JSON file, from "key=value,..." device texts on the command line, or both.
#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <array>

namespace devsim {

// How a device answers a discovery probe.
enum class UdpMode {
    Normal,       // one reply
    Twice,        // the same reply twice
    Silent,       // no reply
    Garbage,      // a datagram that is not JSON
    Oversize,     // a reply longer than 1400 bytes (padded to udp-size, 1500 by default)
    NoNetConfig,  // a JSON reply without "NetConfig"
};

// How a device answers an HTTP command.
enum class HttpMode {
    Normal,
    Empty,       // 200 with an empty body
    Size,        // 200 with a body of exactly http-size bytes
    BadRequest,  // http-status (400) with a JSON error body
    Hang,        // reads the request, never answers
    Slow,        // the normal answer in pieces of http-piece bytes every http-interval ms
    Close,       // closes the connection at once
    BareLf,      // the normal answer with header lines ending in a bare LF
    Continue,    // an interim "HTTP/1.1 100 Continue" first, then the normal answer
    UntilClose,  // the normal answer without Content-Length, ended by closing the connection
};

// How a device's firmware port (TCP 6000) behaves.
enum class FirmwareMode {
    Normal,
    Absent,        // nothing listens on port 6000
    StartRefuse,   // the start command is answered without "OK"
    StartMute,     // the start command is never answered
    Slow,          // the image is taken at fw-rate bytes a second
    Drop,          // the connection is cut after fw-drop bytes
    FinishRefuse,  // the finish command is answered without "OK"
    FinishLate,    // the finish command is answered after fw-delay ms
    FinishMute,    // the finish command is never answered
};

// A restart time for a device that never comes back (restart=never).
constexpr int kRestartNever = -2;

struct DeviceProfile {
    QString ip;
    quint32 type = 1102;
    QString mac;      // derived from the address when empty
    QString version;  // derived from the kind when empty
    QString mask = QStringLiteral("255.255.255.0");
    QString gateway;            // the subnet's .1 when empty
    QString name;               // derived from kind and address when empty
    qint64 uptimeSeconds = -1;  // up-time when the simulator starts; derived when negative

    UdpMode udp = UdpMode::Normal;
    int udpDelayMs = 0;  // answer late
    int udpSize = 0;     // pad the reply to exactly this many bytes (0: natural size)

    HttpMode http = HttpMode::Normal;
    int httpSize = 0;
    int httpStatus = 400;
    int httpPieceBytes = 8;
    int httpIntervalMs = 100;
    QList<int> httpOnly;  // command codes the HTTP fault applies to (empty: every request)

    // "IpAddr" the discovery reply reports instead of the address the device listens on
    // (empty: its own), until network settings of its own take effect at a restart.
    QString reportIp;

    int restartSeconds = -1;  // -1: the simulator-wide value; kRestartNever: stays away

    // Video stream faults: how many streams the 1022 answer lists (0 to 4), start values per
    // stream that skip the domain checks of 1024 (a rate not in the list, a size a stream
    // cannot take), and members the 1022 answer leaves out of a stream (for good).
    int streamCount = 4;
    std::array<QList<QPair<QString, int>>, 4> streamValues;
    std::array<QStringList, 4> streamOmitted;
    FirmwareMode firmware = FirmwareMode::Normal;
    int firmwareRate = 16384;       // bytes a second taken by "slow"
    qint64 firmwareDrop = 65536;    // bytes received before "drop" cuts the connection
    int firmwareDelayMs = 1000;     // how late "finish-late" answers
    int firmwareFinishDelayMs = 0;  // every finish reply waits this long (the install time)
    QString firmwareVersion;        // "SoftVersion" after an upgrade (empty: unchanged)

    bool httpFaultApplies(int code) const { return httpOnly.isEmpty() || httpOnly.contains(code); }
};

struct SimConfig {
    QList<DeviceProfile> devices;
    int httpPort = 80;
    bool udp = true;
    int restartSeconds = 3;  // or kRestartNever
    // Hash firmware images as they arrive. SHA-256 costs more than the rest of the
    // receiving, so a throughput measurement of many upgrades turns it off.
    bool imageHash = true;
    QString logPath;
    QString readyFile;
};

// Applies one key=value pair to a device. Returns false with a message for an unknown key
// or a bad value.
bool applyDeviceKey(DeviceProfile& profile, const QString& key, const QString& value,
                    QString* error);

// Applies "key=value,key=value" to a device.
bool applyDeviceText(DeviceProfile& profile, const QString& text, QString* error);

// Applies the members of a JSON object (same keys as the text form; numbers or strings).
bool applyDeviceJson(DeviceProfile& profile, const QJsonObject& object, QString* error);

// Fills what the description left empty (MAC, version, name, gateway, up-time), from the
// address and the device's position in the list.
void completeDevice(DeviceProfile& profile, int index);

// Makes `count` devices over `addresses` (skipping those in `taken`), each starting from
// `defaults`; kinds cycle 1102, 307, 1200, 2000 unless the defaults name one.
bool makeFleet(int count, const QStringList& addresses, const QStringList& taken,
               const QString& defaults, QList<DeviceProfile>* out, QString* error);

// Reads a JSON configuration file's content into `config` (see docs/devsim.md for its form).
bool parseConfigJson(const QByteArray& text, SimConfig* config, QString* error);

// Checks the finished configuration: valid, distinct addresses and MACs, sane numbers.
bool validateConfig(const SimConfig& config, QString* error);

// Splits an address list given as "a b c", "a,b,c" or with ranges "198.51.100.10-20".
bool expandAddressList(const QString& text, QStringList* out, QString* error);

// A restart time: whole seconds from 0 to 3600, or "never" (kRestartNever).
bool parseRestartSeconds(const QString& text, int* out);
// The restart time as it is written: the number, or "never".
QJsonValue restartSecondsValue(int seconds);

bool isIpv4Text(const QString& text);
bool isMacText(const QString& text);

// The members of one stream in the 1022 answer that stream0..stream3 may set or leave out,
// in the order of the answer (StreamId aside).
const QStringList& streamMemberNames();
// A device's stream faults of one stream as its key's text ("BitRate:20480/ImageSize:omit").
QString streamFaultText(const DeviceProfile& profile, int stream);

QString udpModeName(UdpMode mode);
QString httpModeName(HttpMode mode);
QString firmwareModeName(FirmwareMode mode);

}  // namespace devsim
