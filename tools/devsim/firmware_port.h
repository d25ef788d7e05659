// Firmware upgrade endpoint of a simulated device: TCP port 6000.
//
// Every packet is a 32-byte header ("PKGH", version 1, kind 1 command or 2 image data, payload
// length, reserved zeros, packet length = payload + 32, reserved zeros; little-endian)
// followed by its payload. The commands are "CMD\tUPDATE\tSTART\t<size>\t<tag>\t",
// "CMD\tUPDATE\tFINISH\t" and "CMD\tUPDATE\tEND\t", in that order, with the image data between
// start and finish. Anything else (a bad header field, an unknown command, data outside start
// and finish, a command out of order) is logged as "fw-bad" and the connection closed.
//
// The image is counted and hashed (SHA-256) as it arrives, never kept. Start and finish are
// answered with a 32-byte header and "OK" ("FAIL" when the finish finds a size other than the
// one announced); after the end command the device restarts (SimDevice::installFirmware).
// The fault modes of the key "fw" change this per device.
#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QHostAddress>
#include <QJsonObject>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <QtGlobal>

class QTcpServer;
class QTcpSocket;

namespace devsim {

constexpr quint16 kFirmwarePort = 6000;
constexpr int kFirmwareHeaderBytes = 32;
// The tool assembles every packet in a 1 MiB buffer; a device takes nothing larger.
constexpr int kFirmwareMaxPacket = 1 << 20;

class SimDevice;
class FirmwarePort;

// One upgrade connection of a device.
class FirmwareConnection : public QObject {
    Q_OBJECT
public:
    FirmwareConnection(FirmwarePort* port, SimDevice* device, QTcpSocket* socket);
    // Ends the connection at once (device restart or shutdown).
    void drop();

private:
    enum class Stage { AwaitStart, Receiving, Finished, Ended };

    void onReadyRead();
    void onRateTick();
    void onDisconnected();
    // Parses `size` received bytes; stops early when the connection was closed.
    void consume(const char* data, qint64 size);
    bool acceptHeader();
    void packetDone();
    void command(const QByteArray& text);
    void finishReply();
    void reply(const QByteArray& text, const QString& fault = QString());
    void violation(const QString& reason, const QByteArray& bytes);
    void closeByDevice(const QString& fault);
    void end();
    void log(const QString& kind, QJsonObject members);

    FirmwarePort* port_;
    SimDevice* device_;
    QTcpSocket* socket_;
    QString peer_;
    bool closed_ = false;

    QByteArray head_;  // header bytes of the packet being read
    quint32 kind_ = 0;
    qint64 payloadLeft_ = 0;
    qint64 payloadSize_ = 0;
    QByteArray text_;  // payload of a command packet

    Stage stage_ = Stage::AwaitStart;
    qint64 announced_ = 0;
    qint64 received_ = 0;  // image bytes
    qint64 total_ = 0;     // every byte of the connection
    bool imageConfirmed_ = false;
    bool hashing_ = true;  // off for throughput measurements (--no-image-hash)
    QCryptographicHash hash_{QCryptographicHash::Sha256};
    QTimer rateTimer_;
    QTimer finishTimer_;
};

// The port-6000 listener of one device and its connections.
class FirmwarePort : public QObject {
    Q_OBJECT
public:
    explicit FirmwarePort(SimDevice* device);
    ~FirmwarePort() override;

    bool listen(const QHostAddress& address, QString* error);
    void connectionGone(FirmwareConnection* c) { connections_.remove(c); }

private:
    void onNewConnection();

    SimDevice* device_;
    QTcpServer* server_ = nullptr;
    QSet<FirmwareConnection*> connections_;
};

}  // namespace devsim
