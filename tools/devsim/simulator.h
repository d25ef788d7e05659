// The sockets of the simulated devices: one UDP socket and one HTTP listener per device
// address, plus a wildcard UDP socket that receives the limited broadcasts.
#pragma once

#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <QUdpSocket>

#include <memory>
#include <vector>

#include "device_model.h"
#include "devsim_config.h"
#include "event_log.h"
#include "firmware_port.h"
#include "http_request.h"

class QTcpServer;
class QTcpSocket;

namespace devsim {

constexpr quint16 kDiscoveryPort = 61111;

class SimDevice;

// One accepted HTTP connection of a device.
class HttpConnection : public QObject {
    Q_OBJECT
public:
    HttpConnection(SimDevice* device, QTcpSocket* socket);
    // Ends the connection at once (device restart or shutdown).
    void drop();
    // Lets the last answer go out, then closes.
    void finish();

private:
    void onReadyRead();
    void onDisconnected();
    void processRequests();
    // Records one request; returns its ProtocolCode (0 when none).
    int logRequest(const HttpRequest& r);
    void answer(int code, int status, const QByteArray& body, HttpMode mode, bool keepAlive);
    void sendPiece();
    void afterAnswer();

    SimDevice* device_;
    QTcpSocket* socket_;
    HttpRequestReader reader_;
    bool busy_ = false;  // an answer is still going out in pieces
    bool hung_ = false;  // "hang": read everything, answer nothing
    bool closeAfter_ = false;
    bool restartAfter_ = false;
    bool closed_ = false;
    QByteArray outgoing_;
    QTimer pieceTimer_;
};

class Simulator;

class SimDevice : public QObject {
    Q_OBJECT
public:
    SimDevice(Simulator* sim, const DeviceProfile& profile);
    ~SimDevice() override;

    DeviceModel& model() { return model_; }
    const DeviceProfile& profile() const { return model_.profile(); }
    bool online() const { return online_; }
    QString address() const { return model_.net().ip; }
    Simulator* simulator() const { return sim_; }

    // Opens the device's sockets on its current address.
    bool bindAll(QString* error);
    void unbindAll();

    // Answers a probe that came from peer:port (with the device's UDP fault).
    void answerProbe(const QHostAddress& peer, quint16 port);
    // Whether a probe the wildcard socket received for `destination` is a broadcast this
    // device hears: the limited one, or its subnet's directed one.
    bool hearsBroadcastTo(const QHostAddress& destination) const;

    // Goes silent for the restart time, then comes back with the new settings (never with
    // restart=never).
    void restart(HttpConnection* origin);

    void connectionGone(HttpConnection* c) { connections_.remove(c); }

    // The end command of an upgrade: the device restarts, with the configured new version
    // when the image was confirmed.
    void installFirmware(bool confirmed);

private:
    void onUdpReadyRead();
    void onNewConnection();
    void sendReply(const QByteArray& reply, const QHostAddress& peer, quint16 port);
    // Sends from the reported address; -1 when that cannot be (not held by this host).
    qint64 sendFromReportedAddress(const QByteArray& reply, const QHostAddress& peer, quint16 port);

    Simulator* sim_;
    DeviceModel model_;
    bool online_ = false;
    QUdpSocket* udp_ = nullptr;
    QTcpServer* http_ = nullptr;
    QSet<HttpConnection*> connections_;
    FirmwarePort* firmware_ = nullptr;  // port 6000; none with fw=absent
    QString pendingVersion_;            // "SoftVersion" from the next restart on
};

class Simulator : public QObject {
    Q_OBJECT
public:
    explicit Simulator(const SimConfig& config, QObject* parent = nullptr);
    ~Simulator() override;

    // Opens the log, binds every socket and writes the ready file.
    bool start(QString* error);
    void stop();

    const SimConfig& config() const { return config_; }
    EventLog& log() { return log_; }
    // The device's restart time in seconds, or kRestartNever.
    int restartSeconds(const DeviceProfile& profile) const {
        return profile.restartSeconds != -1 ? profile.restartSeconds : config_.restartSeconds;
    }

    static QString endpoint(const QHostAddress& address, quint16 port);
    // Records one received datagram; returns true when it is the probe.
    bool recordDatagram(const QString& device, const QNetworkDatagram& datagram);
    // The device that is up at `address`; null when none is.
    SimDevice* deviceAt(const QHostAddress& address) const;

private:
    void onWildcardReadyRead();
    bool writeReadyFile(QString* error);

    SimConfig config_;
    EventLog log_;
    QUdpSocket* wildcard_ = nullptr;
    std::vector<std::unique_ptr<SimDevice>> devices_;
};

}  // namespace devsim
