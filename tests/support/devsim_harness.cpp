#include "tests/support/devsim_harness.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QThread>
#include <QUdpSocket>

#include <csignal>

#ifdef Q_OS_LINUX
#include <sys/socket.h>
#endif

namespace corvane::test {

namespace {

QString env(const char* name) {
    return qEnvironmentVariable(name);
}

QStringList envList(const char* name) {
    return env(name).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

int runIp(const QStringList& arguments) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("ip"), arguments);
    if (!p.waitForFinished(10000))
        return -1;
    if (p.exitCode() != 0)
        qWarning("ip %s: %s", qPrintable(arguments.join(' ')), p.readAll().constData());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

}  // namespace

bool TestNetwork::active() {
    return env("CORVANE_TESTNET") == QLatin1String("1");
}
QString TestNetwork::toolNetns() {
    return env("CORVANE_TOOL_NETNS");
}
QString TestNetwork::deviceNetns() {
    return env("CORVANE_DEVICE_NETNS");
}
QString TestNetwork::toolInterface() {
    const QString name = env("CORVANE_TOOL_IFACE");
    return name.isEmpty() ? QStringLiteral("eth0") : name;
}
QStringList TestNetwork::toolAddresses() {
    return envList("CORVANE_TOOL_ADDRS");
}
QStringList TestNetwork::deviceAddresses() {
    return envList("CORVANE_DEVICE_ADDRS");
}
QString TestNetwork::silentAddress() {
    return env("CORVANE_SILENT_ADDR");
}
QString TestNetwork::farNetns() {
    return env("CORVANE_FAR_NETNS");
}
QStringList TestNetwork::farAddresses() {
    return envList("CORVANE_FAR_ADDRS");
}
QStringList TestNetwork::largeAddresses() {
    return envList("CORVANE_LARGE_ADDRS");
}

int TestNetwork::runInDeviceHost(const QStringList& command, int timeoutMs, QByteArray* output) {
    if (!active() || command.isEmpty())
        return -1;
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("ip"),
            QStringList{QStringLiteral("netns"), QStringLiteral("exec"), deviceNetns()} + command);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(2000);
        return -1;
    }
    if (output)
        *output = p.readAll();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

bool TestNetwork::addToolAddress(const QString& cidr, bool broadcast) {
    QStringList arguments{QStringLiteral("addr"), QStringLiteral("add"), cidr};
    if (broadcast)
        arguments << QStringLiteral("brd") << QStringLiteral("+");
    arguments << QStringLiteral("dev") << toolInterface();
    return runIp(arguments) == 0;
}

bool TestNetwork::removeToolAddress(const QString& cidr) {
    return runIp({QStringLiteral("addr"), QStringLiteral("del"), cidr, QStringLiteral("dev"),
                  toolInterface()}) == 0;
}

QString Devsim::binaryPath() {
    return QStringLiteral(CORVANE_DEVSIM_PATH);
}

Devsim::Devsim() = default;

Devsim::~Devsim() {
    stop();
}

Devsim& Devsim::device(const QString& profile) {
    arguments_ << QStringLiteral("--device") << profile;
    return *this;
}

Devsim& Devsim::arg(const QString& argument) {
    arguments_ << argument;
    return *this;
}

Devsim& Devsim::args(const QStringList& arguments) {
    arguments_ << arguments;
    return *this;
}

Devsim& Devsim::launcher(const QStringList& command) {
    launcher_ = command;
    return *this;
}

QString Devsim::logPath() const {
    return dir_.filePath(QStringLiteral("devsim.jsonl"));
}

QByteArray Devsim::stderrText() {
    if (process_)
        stderr_ += process_->readAllStandardError();
    return stderr_;
}

bool Devsim::start(Where where, int timeoutMs) {
    stop();
    error_.clear();
    stderr_.clear();
    if (!dir_.isValid()) {
        error_ = QStringLiteral("no temporary directory");
        return false;
    }
    const QString ready = dir_.filePath(QStringLiteral("ready.json"));
    QFile::remove(ready);
    QFile::remove(logPath());
    if (where == Where::Auto)
        where = TestNetwork::active() ? Where::DeviceHost : Where::Here;

    QStringList command = launcher_;
    command << binaryPath() << QStringLiteral("--log") << logPath()
            << QStringLiteral("--ready-file") << ready << arguments_;
    process_ = std::make_unique<QProcess>();
    if (where == Where::DeviceHost || where == Where::FarHost) {
        const QString netns =
            where == Where::FarHost ? TestNetwork::farNetns() : TestNetwork::deviceNetns();
        if (!TestNetwork::active() || netns.isEmpty()) {
            error_ = QStringLiteral("not inside the test network (scripts/testnet run%1)")
                         .arg(where == Where::FarHost ? QStringLiteral(" --router") : QString());
            return false;
        }
        // `ip netns exec` replaces itself with the simulator, so pid() is the simulator's.
        process_->start(
            QStringLiteral("ip"),
            QStringList{QStringLiteral("netns"), QStringLiteral("exec"), netns} + command);
    } else {
        process_->start(command.takeFirst(), command);
    }
    if (!process_->waitForStarted(5000)) {
        error_ = QStringLiteral("cannot start %1: %2").arg(binaryPath(), process_->errorString());
        process_.reset();
        return false;
    }
    QElapsedTimer clock;
    clock.start();
    while (!QFileInfo::exists(ready)) {
        if (process_->state() == QProcess::NotRunning || clock.hasExpired(timeoutMs)) {
            const bool ended = process_->state() == QProcess::NotRunning;
            stderrText();
            error_ =
                QStringLiteral("corvane-devsim %1: %2")
                    .arg(ended ? QStringLiteral("ended with status %1").arg(process_->exitCode())
                               : QStringLiteral("not ready in time"),
                         QString::fromLocal8Bit(stderr_).trimmed());
            stop();
            return false;
        }
        process_->waitForFinished(20);
    }
    return true;
}

int Devsim::stop() {
    if (!process_)
        return -1;
    int status = -1;
    if (process_->state() != QProcess::NotRunning) {
#ifdef Q_OS_WIN
        // terminate() asks a Windows program's windows to close; a console program has none,
        // so it is ended at once (its log is unbuffered, nothing is lost). Still running until
        // then is all a clean end can mean here.
        process_->kill();
        if (process_->waitForFinished(2000))
            status = 0;
#else
        process_->terminate();
        if (process_->waitForFinished(5000)) {
            if (process_->exitStatus() == QProcess::NormalExit)
                status = process_->exitCode();
        } else {
            process_->kill();
            process_->waitForFinished(2000);
        }
#endif
    }
    stderr_ += process_->readAllStandardError();
    process_.reset();
    return status;
}

bool Devsim::isRunning() const {
    return process_ && process_->state() == QProcess::Running;
}

qint64 Devsim::pid() const {
    return process_ ? process_->processId() : 0;
}

bool parseDevsimRecord(const QByteArray& line, DevsimRecord* out) {
    const QJsonDocument doc = QJsonDocument::fromJson(line);
    if (!doc.isObject())
        return false;
    const QJsonObject o = doc.object();
    DevsimRecord r;
    r.kind = o.value(QStringLiteral("kind")).toString();
    if (r.kind.isEmpty())
        return false;
    r.device = o.value(QStringLiteral("device")).toString();
    r.local = o.value(QStringLiteral("local")).toString();
    r.peer = o.value(QStringLiteral("peer")).toString();
    r.code = o.value(QStringLiteral("code")).toInt();
    r.status = o.value(QStringLiteral("status")).toInt();
    r.data = QByteArray::fromBase64(o.value(QStringLiteral("data")).toString().toLatin1());
    r.time = QDateTime::fromString(o.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs);
    r.raw = o;
    *out = r;
    return true;
}

QList<DevsimRecord> Devsim::records(const QString& kind) const {
    QList<DevsimRecord> out;
    QFile file(logPath());
    if (!file.open(QIODevice::ReadOnly))
        return out;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray& line : lines) {
        DevsimRecord r;
        // A last line still being written does not parse and is left for the next read.
        if (!parseDevsimRecord(line, &r))
            continue;
        if (kind.isEmpty() || r.kind == kind)
            out << r;
    }
    return out;
}

QList<DevsimRecord> Devsim::records(const QString& kind, const QString& device, int from) const {
    QList<DevsimRecord> out;
    for (const DevsimRecord& r : records(kind).mid(from))
        if (r.device == device)
            out << r;
    return out;
}

bool Devsim::waitForRecord(const QString& kind,
                           const std::function<bool(const DevsimRecord&)>& match, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    do {
        for (const DevsimRecord& r : records(kind))
            if (!match || match(r))
                return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(20);
    } while (!deadline.hasExpired());
    return false;
}

QByteArray discoveryProbe() {
    return QByteArrayLiteral("{0x3c, 0x51, 0xe2, 0x07, 0x9a, 0x4d, 0xf6, 0x2b}");
}

QList<QNetworkDatagram> probeFrom(const QHostAddress& from, int waitMs,
                                  const QList<QHostAddress>& to) {
    QList<QNetworkDatagram> replies;
    QUdpSocket socket;
    if (!socket.bind(from, 0)) {
        qWarning("probeFrom: cannot bind %s: %s", qPrintable(from.toString()),
                 qPrintable(socket.errorString()));
        return replies;
    }
    // Room for a burst of replies from a large fleet; as root beyond the system's cap.
    socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4 * 1024 * 1024);
#ifdef SO_RCVBUFFORCE
    const int force = 8 * 1024 * 1024;
    setsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_RCVBUFFORCE, &force, sizeof force);
#endif
    for (const QHostAddress& address : to) {
        // Many at once may find the send buffer full for a moment.
        int tries = 0;
        while (socket.writeDatagram(discoveryProbe(), address, 61111) < 0 && ++tries < 100)
            QThread::msleep(2);
        if (tries == 100) {
            qWarning("probeFrom: send to %s failed: %s", qPrintable(address.toString()),
                     qPrintable(socket.errorString()));
            return replies;
        }
    }
    QDeadlineTimer deadline(waitMs);
    while (!deadline.hasExpired()) {
        if (!socket.hasPendingDatagrams() &&
            !socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
            continue;
        while (socket.hasPendingDatagrams())
            replies << socket.receiveDatagram(65536);
    }
    return replies;
}

QString replyIpAddr(const QJsonObject& reply) {
    return reply.value(QStringLiteral("NetConfig"))
        .toArray()
        .at(0)
        .toObject()
        .value(QStringLiteral("IpAddr"))
        .toString();
}

bool writeImage(const QString& path, qint64 size) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    QByteArray block(1 << 16, '\0');
    quint32 x = 2463534242u;
    for (qint64 done = 0; done < size; done += block.size()) {
        for (char& c : block) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            c = char(x);
        }
        file.write(block.constData(), qMin<qint64>(block.size(), size - done));
    }
    return file.error() == QFile::NoError;
}

QByteArray fileSha256(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result().toHex();
}

}  // namespace corvane::test
