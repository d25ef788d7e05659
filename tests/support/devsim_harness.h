// Test support for everything that needs the private test network or simulated devices.
//
// Typical use in a NET test (run by `scripts/testnet run`, so the test itself is the tool
// host):
//
//     corvane::test::Devsim sim;
//     sim.device("ip=198.51.100.10,type=1102").device("ip=198.51.100.11,type=307,udp=twice");
//     QVERIFY2(sim.start(), qPrintable(sim.errorString()));   // in the device host
//     ... sweep or send commands ...
//     const auto probes = sim.records("udp-in");               // what the devices received
//
// Without the test network (plain unit tests), start(Devsim::Where::Here) runs the
// simulator in the test's own namespace, e.g. HTTP-only on a loopback address:
//
//     sim.device("ip=127.0.0.200,type=1102").arg("--no-udp").arg("--http-port=8080");
//
// The log records are described in docs/devsim.md.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QNetworkDatagram>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>

namespace corvane::test {

// The network this process runs in, as scripts/testnet describes it in the environment.
struct TestNetwork {
    // True inside `scripts/testnet run` (CORVANE_TESTNET=1).
    static bool active();
    static QString toolNetns();          // CORVANE_TOOL_NETNS
    static QString deviceNetns();        // CORVANE_DEVICE_NETNS
    static QString toolInterface();      // CORVANE_TOOL_IFACE (eth0)
    static QStringList toolAddresses();  // CORVANE_TOOL_ADDRS: 198.51.100.1 [203.0.113.1]
    static QStringList
    deviceAddresses();               // CORVANE_DEVICE_ADDRS: 198.51.100.10-254, 203.0.113.10-254
    static QString silentAddress();  // CORVANE_SILENT_ADDR: TCP connects never complete
    // With `--router`: the far device host behind the router and its addresses
    // (CORVANE_FAR_NETNS, CORVANE_FAR_ADDRS: 198.19.1.10-254); empty without.
    static QString farNetns();
    static QStringList farAddresses();
    // With `--large`: the 1,000 device addresses in 198.18.0.0/22 (CORVANE_LARGE_ADDRS).
    static QStringList largeAddresses();

    // Runs a program inside the device host (ip netns exec). Returns its exit code, or -1
    // when it could not run or did not end within the time.
    static int runInDeviceHost(const QStringList& command, int timeoutMs = 10000,
                               QByteArray* output = nullptr);

    // Adds or removes an address on the tool host's interface (the test runs as root in
    // its own namespace), e.g. the second address 203.0.113.1/24 with its broadcast
    // address, or with broadcast false an entry without one ("198.51.100.5/32").
    static bool addToolAddress(const QString& cidr, bool broadcast = true);
    static bool removeToolAddress(const QString& cidr);
};

// One line of the simulator's log.
struct DevsimRecord {
    QString kind;     // udp-in, udp-out, tcp-accept, http-in, http-out, tcp-close, ...
    QString device;   // the device's address, or "*" for the broadcast socket
    QString local;    // "address:port" the bytes were sent to
    QString peer;     // "address:port" they came from (or went to)
    int code = 0;     // ProtocolCode of an HTTP request (0 when none)
    int status = 0;   // HTTP status of an answer
    QByteArray data;  // the exact bytes (datagram, whole HTTP request, or answer body)
    QDateTime time;
    QJsonObject raw;  // the whole record

    // The body of an HTTP request: what follows its blank line.
    QByteArray body() const { return data.mid(data.indexOf("\r\n\r\n") + 4); }
};

// A corvane-devsim process, with its own log and ready file in a temporary directory.
class Devsim {
public:
    enum class Where {
        Auto,        // device host inside the test network, else here
        DeviceHost,  // ip netns exec $CORVANE_DEVICE_NETNS
        FarHost,     // ip netns exec $CORVANE_FAR_NETNS (behind the router, `--router`)
        Here,        // this process's namespace (loopback use)
    };

    Devsim();
    ~Devsim();  // stops the process
    Devsim(const Devsim&) = delete;
    Devsim& operator=(const Devsim&) = delete;

    // Adds one device: "ip=...,type=...,udp=...,http=..." (see corvane-devsim --help).
    Devsim& device(const QString& profile);
    // Adds any other command-line argument (--fleet 10, --no-udp, --http-port=8080, ...).
    Devsim& arg(const QString& argument);
    Devsim& args(const QStringList& arguments);
    // Starts the simulator through this command, e.g. {"prlimit", "--nofile=512:512"}.
    Devsim& launcher(const QStringList& command);

    // Starts the simulator and waits until every socket is bound. On failure,
    // errorString() holds the simulator's own message.
    bool start(Where where = Where::Auto, int timeoutMs = 15000);
    // SIGTERM, then waits (kills after 5 s). Returns the exit status: 0 for a clean exit, -1
    // when it had to be killed or was not running. On Windows, where a console program cannot
    // be asked to end, it is killed at once: 0 when it was still running, -1 when not.
    int stop();
    bool isRunning() const;
    qint64 pid() const;
    QString errorString() const { return error_; }
    // What the simulator wrote to stderr so far.
    QByteArray stderrText();

    QString logPath() const;
    // The records so far, optionally only those of one kind.
    QList<DevsimRecord> records(const QString& kind = QString()) const;
    // The records of `kind` for one device, after the first `from` records of that kind (of
    // every device): count records(kind) before an action to see only what it caused.
    QList<DevsimRecord> records(const QString& kind, const QString& device, int from = 0) const;
    // Polls the log until a record of `kind` satisfies `match` (or any, when null).
    bool waitForRecord(const QString& kind, const std::function<bool(const DevsimRecord&)>& match,
                       int timeoutMs);

    // Path of the corvane-devsim executable of this build.
    static QString binaryPath();

private:
    QStringList arguments_;
    QStringList launcher_;
    QTemporaryDir dir_;
    std::unique_ptr<QProcess> process_;
    QByteArray stderr_;
    QString error_;
};

// The 48-byte discovery probe text.
QByteArray discoveryProbe();

// Acts as the tool side of discovery: sends the probe to 255.255.255.255:61111 (or to each
// of `to`) from a UDP socket bound to `from` (port 0) and collects what comes back within
// `waitMs`.
QList<QNetworkDatagram> probeFrom(const QHostAddress& from, int waitMs,
                                  const QList<QHostAddress>& to = {QHostAddress::Broadcast});

// "IpAddr" of element 0 of "NetConfig" of a device reply; "" when it has none.
QString replyIpAddr(const QJsonObject& reply);

// Decodes one log line; false when it is not a record.
bool parseDevsimRecord(const QByteArray& line, DevsimRecord* out);

// Writes `size` pseudo-random bytes (the same for every call), as a firmware image.
bool writeImage(const QString& path, qint64 size);
// SHA-256 of a file in hex, as the simulator logs what it received; empty when unreadable.
QByteArray fileSha256(const QString& path);

}  // namespace corvane::test
