#include "simulator.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkDatagram>
#include <QSaveFile>
#include <QTcpServer>
#include <QTcpSocket>

#ifdef Q_OS_LINUX
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#endif

namespace devsim {

namespace {

QByteArray reasonPhrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 400:
            return "Bad Request";
        case 404:
            return "Not Found";
        case 413:
            return "Payload Too Large";
        case 431:
            return "Request Header Fields Too Large";
        case 500:
            return "Internal Server Error";
        case 501:
            return "Not Implemented";
        case 503:
            return "Service Unavailable";
        default:
            return "Status";
    }
}

// The ProtocolCode of a request body, for the log and the http-only filter (0 if none).
int requestCode(const QByteArray& body) {
    const QJsonValue v =
        QJsonDocument::fromJson(body).object().value(QStringLiteral("ProtocolCode"));
    return v.isDouble() ? int(v.toDouble()) : 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// HttpConnection

HttpConnection::HttpConnection(SimDevice* device, QTcpSocket* socket)
    : QObject(device), device_(device), socket_(socket) {
    socket_->setParent(this);
    pieceTimer_.setSingleShot(true);
    connect(&pieceTimer_, &QTimer::timeout, this, &HttpConnection::sendPiece);
    connect(socket_, &QTcpSocket::readyRead, this, &HttpConnection::onReadyRead);
    connect(socket_, &QTcpSocket::disconnected, this, &HttpConnection::onDisconnected);
}

void HttpConnection::drop() {
    if (closed_)
        return;
    closed_ = true;
    pieceTimer_.stop();
    socket_->disconnect(this);
    socket_->abort();
    device_->connectionGone(this);
    deleteLater();
}

void HttpConnection::finish() {
    if (closed_)
        return;
    closed_ = true;
    pieceTimer_.stop();
    socket_->disconnect(this);
    device_->connectionGone(this);
    // disconnectFromHost lets queued bytes go out first.
    connect(socket_, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    socket_->disconnectFromHost();
    if (socket_->state() == QAbstractSocket::UnconnectedState)
        deleteLater();
}

void HttpConnection::onReadyRead() {
    const QByteArray bytes = socket_->readAll();
    reader_.feed(bytes);
    if (hung_) {
        // Keep reading (and recording) what arrives, but never answer.
        HttpRequest r;
        while (reader_.next(&r) == HttpRequestReader::State::Ready)
            logRequest(r);
        return;
    }
    processRequests();
}

int HttpConnection::logRequest(const HttpRequest& r) {
    const int code = requestCode(r.body);
    device_->simulator()->log().write(QJsonObject{
        {QStringLiteral("kind"), QStringLiteral("http-in")},
        {QStringLiteral("device"), device_->address()},
        {QStringLiteral("local"),
         Simulator::endpoint(socket_->localAddress(), socket_->localPort())},
        {QStringLiteral("peer"), Simulator::endpoint(socket_->peerAddress(), socket_->peerPort())},
        {QStringLiteral("method"), QString::fromLatin1(r.method)},
        {QStringLiteral("path"), QString::fromLatin1(r.path)},
        {QStringLiteral("code"), code},
        {QStringLiteral("size"), r.raw.size()},
        {QStringLiteral("data"), QString::fromLatin1(r.raw.toBase64())},
    });
    return code;
}

void HttpConnection::onDisconnected() {
    if (closed_)
        return;
    EventLog& log = device_->simulator()->log();
    if (!reader_.pending().isEmpty()) {
        log.write(QJsonObject{
            {QStringLiteral("kind"), QStringLiteral("http-incomplete")},
            {QStringLiteral("device"), device_->address()},
            {QStringLiteral("peer"),
             Simulator::endpoint(socket_->peerAddress(), socket_->peerPort())},
            {QStringLiteral("size"), reader_.pending().size()},
            {QStringLiteral("data"), QString::fromLatin1(reader_.pending().toBase64())},
        });
    }
    log.write(QJsonObject{{QStringLiteral("kind"), QStringLiteral("tcp-close")},
                          {QStringLiteral("device"), device_->address()},
                          {QStringLiteral("peer"),
                           Simulator::endpoint(socket_->peerAddress(), socket_->peerPort())}});
    closed_ = true;
    pieceTimer_.stop();
    device_->connectionGone(this);
    deleteLater();
}

void HttpConnection::processRequests() {
    EventLog& log = device_->simulator()->log();
    const DeviceProfile& profile = device_->profile();
    while (!busy_ && !hung_ && !closed_) {
        HttpRequest r;
        const HttpRequestReader::State state = reader_.next(&r);
        if (state == HttpRequestReader::State::NeedMore) {
            if (reader_.takeContinue())
                socket_->write("HTTP/1.1 100 Continue\r\n\r\n");
            return;
        }
        if (state == HttpRequestReader::State::Error) {
            log.write(QJsonObject{
                {QStringLiteral("kind"), QStringLiteral("http-bad")},
                {QStringLiteral("device"), device_->address()},
                {QStringLiteral("status"), reader_.errorStatus()},
                {QStringLiteral("reason"), QString::fromLatin1(reader_.errorText())},
                {QStringLiteral("size"), reader_.pending().size()},
                {QStringLiteral("data"), QString::fromLatin1(reader_.pending().toBase64())},
            });
            const QByteArray body =
                QJsonDocument(QJsonObject{{QStringLiteral("Result"), -1},
                                          {QStringLiteral("Message"),
                                           QString::fromLatin1(reader_.errorText())}})
                    .toJson(QJsonDocument::Compact);
            answer(0, reader_.errorStatus(), body, HttpMode::Normal, false);
            return;
        }

        const int code = logRequest(r);

        const HttpMode mode = profile.httpFaultApplies(code) ? profile.http : HttpMode::Normal;
        switch (mode) {
            case HttpMode::Close:
                // Only reached with http-only: the connection was accepted, the request read.
                log.write(QJsonObject{{QStringLiteral("kind"), QStringLiteral("http-out")},
                                      {QStringLiteral("device"), device_->address()},
                                      {QStringLiteral("code"), code},
                                      {QStringLiteral("fault"), QStringLiteral("close")}});
                finish();
                return;
            case HttpMode::Hang:
                log.write(QJsonObject{{QStringLiteral("kind"), QStringLiteral("http-out")},
                                      {QStringLiteral("device"), device_->address()},
                                      {QStringLiteral("code"), code},
                                      {QStringLiteral("fault"), QStringLiteral("hang")}});
                hung_ = true;
                return;
            case HttpMode::BadRequest: {
                const QByteArray body =
                    QJsonDocument(QJsonObject{{QStringLiteral("ProtocolCode"), code},
                                              {QStringLiteral("Result"), -1},
                                              {QStringLiteral("Message"),
                                               QStringLiteral("request refused by device")}})
                        .toJson(QJsonDocument::Compact);
                answer(code, profile.httpStatus, body, mode, r.keepAlive);
                break;
            }
            default: {
                CommandAnswer a = device_->model().handle(r.body);
                QByteArray body = a.body;
                if (mode == HttpMode::Empty)
                    body.clear();
                if (mode == HttpMode::Size)
                    body = DeviceModel::paddedBody(code, profile.httpSize);
                restartAfter_ = a.restart;
                answer(code, a.status, body, mode, r.keepAlive && !a.restart);
                break;
            }
        }
    }
}

void HttpConnection::answer(int code, int status, const QByteArray& body, HttpMode mode,
                            bool keepAlive) {
    const bool slow = mode == HttpMode::Slow;
    // Without Content-Length only the close can end the body.
    if (mode == HttpMode::UntilClose)
        keepAlive = false;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) +
                      "\r\nServer: corvane-devsim\r\nContent-Type: application/json\r\n";
    if (mode != HttpMode::UntilClose)
        head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    head += QByteArray("Connection: ") + (keepAlive ? "keep-alive" : "close") + "\r\n\r\n";
    if (mode == HttpMode::BareLf)
        head.replace("\r\n", "\n");
    if (mode == HttpMode::Continue)
        head.prepend("HTTP/1.1 100 Continue\r\n\r\n");
    device_->simulator()->log().write(QJsonObject{
        {QStringLiteral("kind"), QStringLiteral("http-out")},
        {QStringLiteral("device"), device_->address()},
        {QStringLiteral("code"), code},
        {QStringLiteral("status"), status},
        {QStringLiteral("size"), body.size()},
        {QStringLiteral("data"), QString::fromLatin1(body.toBase64())},
        {QStringLiteral("fault"), mode == HttpMode::Normal ? QString() : httpModeName(mode)},
    });
    closeAfter_ = !keepAlive;
    outgoing_ = head + body;
    if (slow) {
        busy_ = true;
        sendPiece();
        return;
    }
    socket_->write(outgoing_);
    outgoing_.clear();
    afterAnswer();
}

void HttpConnection::sendPiece() {
    if (closed_)
        return;
    const int n = qMin(device_->profile().httpPieceBytes, outgoing_.size());
    socket_->write(outgoing_.left(n));
    socket_->flush();
    outgoing_.remove(0, n);
    if (!outgoing_.isEmpty()) {
        pieceTimer_.start(device_->profile().httpIntervalMs);
        return;
    }
    busy_ = false;
    afterAnswer();
    if (!closed_ && !busy_)
        processRequests();
}

void HttpConnection::afterAnswer() {
    if (restartAfter_) {
        restartAfter_ = false;
        device_->restart(this);
        return;
    }
    if (closeAfter_)
        finish();
}

// ---------------------------------------------------------------------------------------------
// SimDevice

SimDevice::SimDevice(Simulator* sim, const DeviceProfile& profile) : sim_(sim), model_(profile) {}

SimDevice::~SimDevice() {
    unbindAll();
}

bool SimDevice::bindAll(QString* error) {
    const QHostAddress address(model_.net().ip);
    if (sim_->config().udp) {
        udp_ = new QUdpSocket(this);
        // Shares the port with the wildcard socket that takes the broadcasts.
        if (!udp_->bind(address, kDiscoveryPort,
                        QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint)) {
            if (error)
                *error = QStringLiteral("cannot bind UDP %1:%2: %3")
                             .arg(address.toString())
                             .arg(kDiscoveryPort)
                             .arg(udp_->errorString());
            unbindAll();
            return false;
        }
        connect(udp_, &QUdpSocket::readyRead, this, &SimDevice::onUdpReadyRead);
    }
    http_ = new QTcpServer(this);
    http_->setMaxPendingConnections(256);
    if (!http_->listen(address, quint16(sim_->config().httpPort))) {
        if (error)
            *error = QStringLiteral("cannot listen on TCP %1:%2: %3")
                         .arg(address.toString())
                         .arg(sim_->config().httpPort)
                         .arg(http_->errorString());
        unbindAll();
        return false;
    }
    connect(http_, &QTcpServer::newConnection, this, &SimDevice::onNewConnection);
    if (profile().firmware != FirmwareMode::Absent) {
        firmware_ = new FirmwarePort(this);
        if (!firmware_->listen(address, error)) {
            unbindAll();
            return false;
        }
    }
    online_ = true;
    return true;
}

void SimDevice::unbindAll() {
    online_ = false;
    const QSet<HttpConnection*> open = connections_;
    for (HttpConnection* c : open)
        c->drop();
    connections_.clear();
    delete udp_;
    udp_ = nullptr;
    delete http_;
    http_ = nullptr;
    delete firmware_;
    firmware_ = nullptr;
}

void SimDevice::onUdpReadyRead() {
    while (udp_ && udp_->hasPendingDatagrams()) {
        const QNetworkDatagram d = udp_->receiveDatagram();
        // Wine binds a UDP socket given one address to every address (so that it hears
        // broadcasts, as on Windows), and the last device bound then receives the unicast
        // probes of all: each is handed to the device it was sent to, or to nobody.
        const QHostAddress to = d.destinationAddress();
        SimDevice* target = this;
        if (!to.isNull() && to != QHostAddress(address()) && !hearsBroadcastTo(to))
            target = sim_->deviceAt(to);
        if (target == nullptr) {
            sim_->recordDatagram(QStringLiteral("*"), d);
            continue;
        }
        if (sim_->recordDatagram(target->address(), d) && target->online_)
            target->answerProbe(d.senderAddress(), quint16(d.senderPort()));
    }
}

void SimDevice::answerProbe(const QHostAddress& peer, quint16 port) {
    if (!online_ || profile().udp == UdpMode::Silent)
        return;
    if (profile().udpDelayMs > 0) {
        QTimer::singleShot(profile().udpDelayMs, this, [this, peer, port] {
            if (online_)
                sendReply(model_.discoveryReply(), peer, port);
        });
        return;
    }
    sendReply(model_.discoveryReply(), peer, port);
}

void SimDevice::sendReply(const QByteArray& reply, const QHostAddress& peer, quint16 port) {
    if (!udp_ || reply.isEmpty())
        return;
    const bool reportsOther = model_.reportedIp() != address();
    const int copies = profile().udp == UdpMode::Twice ? 2 : 1;
    for (int i = 0; i < copies; ++i) {
        // A device that reports another address answers from it, as a device holding that
        // address would, when this host holds it too; from its own address otherwise.
        qint64 sent = reportsOther ? sendFromReportedAddress(reply, peer, port) : -1;
        const QString from = sent >= 0 ? model_.reportedIp() : address();
        if (sent < 0)
            sent = udp_->writeDatagram(reply, peer, port);
        QJsonObject record{
            {QStringLiteral("kind"), QStringLiteral("udp-out")},
            {QStringLiteral("device"), address()},
            {QStringLiteral("peer"), Simulator::endpoint(peer, port)},
            {QStringLiteral("size"), reply.size()},
            {QStringLiteral("sent"), sent},
            {QStringLiteral("fault"), udpModeName(profile().udp)},
        };
        if (reportsOther)
            record.insert(QStringLiteral("from"),
                          Simulator::endpoint(QHostAddress(from), kDiscoveryPort));
        sim_->log().write(record);
    }
}

qint64 SimDevice::sendFromReportedAddress(const QByteArray& reply, const QHostAddress& peer,
                                          quint16 port) {
#ifdef Q_OS_LINUX
    // The source address of one datagram, through IP_PKTINFO (Qt's own sender field does not
    // set it on Linux); the kernel refuses an address this host does not hold.
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(peer.toIPv4Address());
    iovec data{const_cast<char*>(reply.constData()), size_t(reply.size())};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr message{};
    message.msg_name = &to;
    message.msg_namelen = sizeof to;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = IPPROTO_IP;
    header->cmsg_type = IP_PKTINFO;
    header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_spec_dst.s_addr = htonl(QHostAddress(model_.reportedIp()).toIPv4Address());
    std::memcpy(CMSG_DATA(header), &info, sizeof info);
    return ::sendmsg(int(udp_->socketDescriptor()), &message, 0);
#else
    Q_UNUSED(reply)
    Q_UNUSED(peer)
    Q_UNUSED(port)
    return -1;
#endif
}

bool SimDevice::hearsBroadcastTo(const QHostAddress& destination) const {
    if (destination.isNull() || destination == QHostAddress(QHostAddress::Broadcast))
        return true;
    // A directed broadcast reaches the devices of that subnet only.
    const quint32 mask = QHostAddress(model_.net().mask).toIPv4Address();
    return destination.toIPv4Address() == (QHostAddress(address()).toIPv4Address() | ~mask);
}

void SimDevice::onNewConnection() {
    while (http_ && http_->hasPendingConnections()) {
        QTcpSocket* s = http_->nextPendingConnection();
        sim_->log().write(QJsonObject{
            {QStringLiteral("kind"), QStringLiteral("tcp-accept")},
            {QStringLiteral("device"), address()},
            {QStringLiteral("peer"), Simulator::endpoint(s->peerAddress(), s->peerPort())}});
        if (profile().http == HttpMode::Close && profile().httpOnly.isEmpty()) {
            // Closes before reading anything: the client sees the connection end at once.
            sim_->log().write(QJsonObject{
                {QStringLiteral("kind"), QStringLiteral("tcp-close")},
                {QStringLiteral("device"), address()},
                {QStringLiteral("peer"), Simulator::endpoint(s->peerAddress(), s->peerPort())},
                {QStringLiteral("fault"), QStringLiteral("close")}});
            s->close();
            s->deleteLater();
            continue;
        }
        connections_.insert(new HttpConnection(this, s));
    }
}

void SimDevice::restart(HttpConnection* origin) {
    const QString before = address();
    // The answer that asked for the restart still goes out; everything else stops now.
    if (origin) {
        connections_.remove(origin);
        origin->setParent(nullptr);
        origin->finish();
    }
    unbindAll();
    const int seconds = sim_->restartSeconds(profile());
    sim_->log().write(QJsonObject{{QStringLiteral("kind"), QStringLiteral("restart-down")},
                                  {QStringLiteral("device"), before},
                                  {QStringLiteral("seconds"), restartSecondsValue(seconds)}});
    if (seconds == kRestartNever)
        return;  // a device that did not survive its restart
    QTimer::singleShot(seconds * 1000, this, [this, before] {
        model_.restart();
        if (!pendingVersion_.isEmpty()) {
            model_.setVersion(pendingVersion_);
            pendingVersion_.clear();
        }
        QString error;
        if (bindAll(&error)) {
            sim_->log().write(QJsonObject{{QStringLiteral("kind"), QStringLiteral("restart-up")},
                                          {QStringLiteral("device"), address()},
                                          {QStringLiteral("previous"), before},
                                          {QStringLiteral("version"), profile().version}});
        } else {
            // The new address is not one this host holds: the device is out of reach,
            // as a real one would be on the wrong subnet.
            sim_->log().write(QJsonObject{{QStringLiteral("kind"), QStringLiteral("unreachable")},
                                          {QStringLiteral("device"), address()},
                                          {QStringLiteral("previous"), before},
                                          {QStringLiteral("reason"), error}});
            qWarning("corvane-devsim: device %s is unreachable after restart: %s",
                     qPrintable(address()), qPrintable(error));
        }
    });
}

void SimDevice::installFirmware(bool confirmed) {
    if (confirmed && !profile().firmwareVersion.isEmpty())
        pendingVersion_ = profile().firmwareVersion;
    // Once the end command's handler has returned, as a device reboots into its new image.
    QTimer::singleShot(0, this, [this] {
        if (online_)
            restart(nullptr);
    });
}

// ---------------------------------------------------------------------------------------------
// Simulator

Simulator::Simulator(const SimConfig& config, QObject* parent) : QObject(parent), config_(config) {}

Simulator::~Simulator() {
    stop();
}

QString Simulator::endpoint(const QHostAddress& address, quint16 port) {
    bool ok = false;
    const QHostAddress v4(address.toIPv4Address(&ok));
    return QStringLiteral("%1:%2").arg(ok ? v4.toString() : address.toString()).arg(port);
}

bool Simulator::recordDatagram(const QString& device, const QNetworkDatagram& d) {
    const QByteArray data = d.data();
    log_.write(QJsonObject{
        {QStringLiteral("kind"), QStringLiteral("udp-in")},
        {QStringLiteral("device"), device},
        {QStringLiteral("local"),
         endpoint(d.destinationAddress(), quint16(qMax(0, d.destinationPort())))},
        {QStringLiteral("peer"), endpoint(d.senderAddress(), quint16(qMax(0, d.senderPort())))},
        {QStringLiteral("size"), data.size()},
        {QStringLiteral("data"), QString::fromLatin1(data.toBase64())},
    });
    return data == probeText();
}

bool Simulator::start(QString* error) {
    if (!log_.open(config_.logPath, error))
        return false;
    if (config_.udp) {
        wildcard_ = new QUdpSocket(this);
        if (!wildcard_->bind(QHostAddress::AnyIPv4, kDiscoveryPort,
                             QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint)) {
            if (error)
                *error = QStringLiteral("cannot bind UDP 0.0.0.0:%1: %2")
                             .arg(kDiscoveryPort)
                             .arg(wildcard_->errorString());
            return false;
        }
        connect(wildcard_, &QUdpSocket::readyRead, this, &Simulator::onWildcardReadyRead);
    }
    for (const DeviceProfile& profile : config_.devices) {
        devices_.push_back(std::make_unique<SimDevice>(this, profile));
        if (!devices_.back()->bindAll(error))
            return false;
    }
    return writeReadyFile(error);
}

void Simulator::stop() {
    devices_.clear();
    delete wildcard_;
    wildcard_ = nullptr;
    if (!config_.readyFile.isEmpty())
        QFile::remove(config_.readyFile);
}

SimDevice* Simulator::deviceAt(const QHostAddress& address) const {
    for (const auto& device : devices_)
        if (device->online() && QHostAddress(device->address()) == address)
            return device.get();
    return nullptr;
}

void Simulator::onWildcardReadyRead() {
    while (wildcard_ && wildcard_->hasPendingDatagrams()) {
        const QNetworkDatagram d = wildcard_->receiveDatagram();
        if (!recordDatagram(QStringLiteral("*"), d))
            continue;
        // A broadcast probe: every device that is up answers it. A unicast one lands here
        // when no device is bound to its address (none plays it, or it is restarting): as on
        // a real network, nobody answers.
        for (const auto& device : devices_)
            if (device->hearsBroadcastTo(d.destinationAddress()))
                device->answerProbe(d.senderAddress(), quint16(d.senderPort()));
    }
}

bool Simulator::writeReadyFile(QString* error) {
    if (config_.readyFile.isEmpty())
        return true;
    QJsonArray addresses;
    for (const auto& device : devices_)
        addresses.append(device->address());
    const QJsonObject ready{{QStringLiteral("pid"), QCoreApplication::applicationPid()},
                            {QStringLiteral("httpPort"), config_.httpPort},
                            {QStringLiteral("udp"), config_.udp},
                            {QStringLiteral("devices"), addresses}};
    // Written whole under a temporary name, so a waiting test never reads half of it.
    QSaveFile file(config_.readyFile);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(QJsonDocument(ready).toJson(QJsonDocument::Compact)) < 0 || !file.commit()) {
        if (error)
            *error = QStringLiteral("cannot write ready file %1: %2")
                         .arg(config_.readyFile, file.errorString());
        return false;
    }
    return true;
}

}  // namespace devsim
