#include "firmware_port.h"

#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtEndian>

#include <cstring>

#include "simulator.h"

namespace devsim {

namespace {

// How often a slow reader takes its share of the rate.
constexpr int kRateTickMs = 100;
// A normal reader takes at most this much per pass, so one connection cannot starve the rest.
constexpr qint64 kReadChunk = 256 * 1024;

quint32 field(const QByteArray& head, int offset) {
    return qFromLittleEndian<quint32>(head.constData() + offset);
}

QByteArray packet(quint32 kind, const QByteArray& payload) {
    char h[kFirmwareHeaderBytes] = {};
    std::memcpy(h, "PKGH", 4);
    qToLittleEndian<quint32>(1, h + 4);
    qToLittleEndian<quint32>(kind, h + 8);
    qToLittleEndian<quint32>(quint32(payload.size()), h + 12);
    qToLittleEndian<quint32>(quint32(payload.size() + kFirmwareHeaderBytes), h + 24);
    return QByteArray(h, kFirmwareHeaderBytes) + payload;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// FirmwareConnection

FirmwareConnection::FirmwareConnection(FirmwarePort* port, SimDevice* device, QTcpSocket* socket)
    : QObject(port), port_(port), device_(device), socket_(socket) {
    socket_->setParent(this);
    peer_ = Simulator::endpoint(socket_->peerAddress(), socket_->peerPort());
    hashing_ = device_->simulator()->config().imageHash;
    finishTimer_.setSingleShot(true);
    // A coarse timer may fire early; an install time is a least time.
    finishTimer_.setTimerType(Qt::PreciseTimer);
    connect(&finishTimer_, &QTimer::timeout, this, &FirmwareConnection::finishReply);
    connect(socket_, &QTcpSocket::disconnected, this, &FirmwareConnection::onDisconnected);
    if (device_->profile().firmware == FirmwareMode::Slow) {
        // Qt holds at most one share and the kernel a small window, so the sender really
        // waits for the reader instead of filling megabytes of buffers.
        const qint64 share =
            qMax<qint64>(1, qint64(device_->profile().firmwareRate) * kRateTickMs / 1000);
        socket_->setReadBufferSize(share);
        socket_->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
        connect(&rateTimer_, &QTimer::timeout, this, &FirmwareConnection::onRateTick);
        rateTimer_.start(kRateTickMs);
    } else {
        connect(socket_, &QTcpSocket::readyRead, this, &FirmwareConnection::onReadyRead);
    }
}

void FirmwareConnection::log(const QString& kind, QJsonObject members) {
    members.insert(QStringLiteral("kind"), kind);
    members.insert(QStringLiteral("device"), device_->address());
    members.insert(QStringLiteral("peer"), peer_);
    device_->simulator()->log().write(members);
}

void FirmwareConnection::drop() {
    if (!closed_)
        closeByDevice(QStringLiteral("down"));
}

void FirmwareConnection::end() {
    if (closed_)
        return;
    closed_ = true;
    rateTimer_.stop();
    finishTimer_.stop();
    socket_->disconnect(this);
    socket_->abort();
    port_->connectionGone(this);
    deleteLater();
}

void FirmwareConnection::closeByDevice(const QString& fault) {
    log(QStringLiteral("fw-close"), {{QStringLiteral("by"), QStringLiteral("device")},
                                     {QStringLiteral("fault"), fault},
                                     {QStringLiteral("received"), received_},
                                     {QStringLiteral("total"), total_}});
    end();
}

void FirmwareConnection::onDisconnected() {
    // What arrived before the close is still read, as a device would: a slow reader may hold
    // the end command in its buffer when the tool has already closed.
    onReadyRead();
    if (closed_)
        return;
    log(QStringLiteral("fw-close"), {{QStringLiteral("by"), QStringLiteral("peer")},
                                     {QStringLiteral("received"), received_},
                                     {QStringLiteral("total"), total_}});
    end();
}

void FirmwareConnection::onReadyRead() {
    QByteArray chunk;
    while (!closed_ && socket_->bytesAvailable() > 0) {
        chunk = socket_->read(kReadChunk);
        consume(chunk.constData(), chunk.size());
    }
}

void FirmwareConnection::onRateTick() {
    if (closed_ || socket_->bytesAvailable() == 0)
        return;
    const QByteArray chunk = socket_->read(socket_->readBufferSize());
    consume(chunk.constData(), chunk.size());
}

void FirmwareConnection::consume(const char* data, qint64 size) {
    const DeviceProfile& profile = device_->profile();
    while (size > 0 && !closed_) {
        qint64 take = size;
        if (profile.firmware == FirmwareMode::Drop)
            take = qMin(take, profile.firmwareDrop - total_);
        if (take <= 0) {
            closeByDevice(QStringLiteral("drop"));
            return;
        }
        if (head_.size() < kFirmwareHeaderBytes) {
            take = qMin<qint64>(take, kFirmwareHeaderBytes - head_.size());
            head_.append(data, int(take));
            total_ += take;
            if (head_.size() == kFirmwareHeaderBytes && !acceptHeader())
                return;
        } else {
            take = qMin(take, payloadLeft_);
            if (kind_ == 1) {
                text_.append(data, int(take));
            } else {
                if (hashing_)
                    hash_.addData(data, int(take));
                received_ += take;
            }
            payloadLeft_ -= take;
            total_ += take;
        }
        data += take;
        size -= take;
        if (head_.size() == kFirmwareHeaderBytes && payloadLeft_ == 0)
            packetDone();
    }
    if (!closed_ && profile.firmware == FirmwareMode::Drop && total_ >= profile.firmwareDrop)
        closeByDevice(QStringLiteral("drop"));
}

bool FirmwareConnection::acceptHeader() {
    const QByteArray& h = head_;
    kind_ = field(h, 8);
    payloadSize_ = field(h, 12);
    payloadLeft_ = payloadSize_;
    QString reason;
    if (!h.startsWith("PKGH"))
        reason = QStringLiteral("magic is not PKGH");
    else if (field(h, 4) != 1)
        reason = QStringLiteral("version %1").arg(field(h, 4));
    else if (kind_ != 1 && kind_ != 2)
        reason = QStringLiteral("kind %1").arg(kind_);
    else if (field(h, 16) != 0 || field(h, 20) != 0 || field(h, 28) != 0)
        reason = QStringLiteral("reserved bytes are not zero");
    else if (qint64(field(h, 24)) != payloadSize_ + kFirmwareHeaderBytes)
        reason = QStringLiteral("packet length %1 for a payload of %2")
                     .arg(field(h, 24))
                     .arg(payloadSize_);
    else if (payloadSize_ + kFirmwareHeaderBytes > kFirmwareMaxPacket)
        reason = QStringLiteral("packet of %1 bytes is over 1 MiB")
                     .arg(payloadSize_ + kFirmwareHeaderBytes);
    else if (payloadSize_ == 0)
        reason = QStringLiteral("empty payload");
    else if (kind_ == 2 && stage_ != Stage::Receiving)
        reason = QStringLiteral("image data outside start and finish");
    if (reason.isEmpty())
        return true;
    violation(reason, h);
    return false;
}

void FirmwareConnection::packetDone() {
    QJsonObject record{{QStringLiteral("type"), qint64(kind_)},
                       {QStringLiteral("payload"), payloadSize_},
                       {QStringLiteral("size"), payloadSize_ + kFirmwareHeaderBytes},
                       {QStringLiteral("header"), QString::fromLatin1(head_.toBase64())}};
    const QByteArray text = text_;
    if (kind_ == 1)
        record.insert(QStringLiteral("data"), QString::fromLatin1(text.toBase64()));
    log(QStringLiteral("fw-packet"), record);
    head_.clear();
    text_.clear();
    if (kind_ == 1)
        command(text);
}

void FirmwareConnection::command(const QByteArray& text) {
    static const QRegularExpression start(
        QStringLiteral("^CMD\\tUPDATE\\tSTART\\t(\\d{1,10})\\t(-?\\d{1,10})\\t$"));
    const QString t = QString::fromLatin1(text);
    const QRegularExpressionMatch m = start.match(t);
    if (m.hasMatch()) {
        if (stage_ != Stage::AwaitStart)
            return violation(QStringLiteral("start after start"), text);
        announced_ = m.captured(1).toLongLong();
        stage_ = Stage::Receiving;
        switch (device_->profile().firmware) {
            case FirmwareMode::StartRefuse:
                return reply("FAIL", QStringLiteral("start-refuse"));
            case FirmwareMode::StartMute:
                return log(QStringLiteral("fw-out"),
                           {{QStringLiteral("fault"), QStringLiteral("start-mute")}});
            default:
                return reply("OK");
        }
    }
    if (t == QLatin1String("CMD\tUPDATE\tFINISH\t")) {
        if (stage_ != Stage::Receiving)
            return violation(QStringLiteral("finish without start"), text);
        stage_ = Stage::Finished;
        imageConfirmed_ = received_ == announced_;
        log(QStringLiteral("fw-image"),
            {{QStringLiteral("announced"), announced_},
             {QStringLiteral("received"), received_},
             {QStringLiteral("sha256"),
              hashing_ ? QString::fromLatin1(hash_.result().toHex()) : QString()},
             {QStringLiteral("complete"), imageConfirmed_}});
        // The reply waits for the install time, and a late device's lateness on top.
        const DeviceProfile& profile = device_->profile();
        int delayMs = profile.firmwareFinishDelayMs;
        switch (profile.firmware) {
            case FirmwareMode::FinishRefuse:
                imageConfirmed_ = false;
                break;
            case FirmwareMode::FinishMute:
                return log(QStringLiteral("fw-out"),
                           {{QStringLiteral("fault"), QStringLiteral("finish-mute")}});
            case FirmwareMode::FinishLate:
                delayMs += profile.firmwareDelayMs;
                break;
            default:
                break;
        }
        if (delayMs > 0)
            return finishTimer_.start(delayMs);
        return finishReply();
    }
    if (t == QLatin1String("CMD\tUPDATE\tEND\t")) {
        if (stage_ != Stage::Finished)
            return violation(QStringLiteral("end before finish"), text);
        stage_ = Stage::Ended;
        device_->installFirmware(imageConfirmed_);
        return;
    }
    violation(QStringLiteral("unknown command"), text);
}

void FirmwareConnection::finishReply() {
    switch (device_->profile().firmware) {
        case FirmwareMode::FinishRefuse:
            return reply("FAIL", QStringLiteral("finish-refuse"));
        case FirmwareMode::FinishLate:
            return reply(imageConfirmed_ ? "OK" : "FAIL", QStringLiteral("finish-late"));
        default:
            return reply(imageConfirmed_ ? "OK" : "FAIL");
    }
}

void FirmwareConnection::reply(const QByteArray& text, const QString& fault) {
    if (closed_)
        return;
    const QByteArray bytes = packet(1, text);
    socket_->write(bytes);
    log(QStringLiteral("fw-out"), {{QStringLiteral("size"), bytes.size()},
                                   {QStringLiteral("data"), QString::fromLatin1(bytes.toBase64())},
                                   {QStringLiteral("fault"), fault}});
}

void FirmwareConnection::violation(const QString& reason, const QByteArray& bytes) {
    log(QStringLiteral("fw-bad"),
        {{QStringLiteral("reason"), reason},
         {QStringLiteral("size"), bytes.size()},
         {QStringLiteral("data"), QString::fromLatin1(bytes.toBase64())}});
    closeByDevice(QStringLiteral("bad-packet"));
}

// ---------------------------------------------------------------------------------------------
// FirmwarePort

FirmwarePort::FirmwarePort(SimDevice* device) : QObject(device), device_(device) {}

FirmwarePort::~FirmwarePort() {
    const QSet<FirmwareConnection*> open = connections_;
    for (FirmwareConnection* c : open)
        c->drop();
}

bool FirmwarePort::listen(const QHostAddress& address, QString* error) {
    server_ = new QTcpServer(this);
    if (!server_->listen(address, kFirmwarePort)) {
        if (error)
            *error = QStringLiteral("cannot listen on TCP %1:%2: %3")
                         .arg(address.toString())
                         .arg(kFirmwarePort)
                         .arg(server_->errorString());
        return false;
    }
    connect(server_, &QTcpServer::newConnection, this, &FirmwarePort::onNewConnection);
    return true;
}

void FirmwarePort::onNewConnection() {
    while (server_->hasPendingConnections()) {
        QTcpSocket* s = server_->nextPendingConnection();
        device_->simulator()->log().write(QJsonObject{
            {QStringLiteral("kind"), QStringLiteral("fw-accept")},
            {QStringLiteral("device"), device_->address()},
            {QStringLiteral("peer"), Simulator::endpoint(s->peerAddress(), s->peerPort())}});
        connections_.insert(new FirmwareConnection(this, device_, s));
    }
}

}  // namespace devsim
