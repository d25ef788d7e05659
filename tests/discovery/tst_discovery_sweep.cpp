// Whole sweeps against simulated devices. Runs only inside the private test network
// (scripts/testnet run), where the tool host's broadcasts reach nothing but the device host.
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>
#include <QtTest>
#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "discovery/device_list.h"
#include "discovery/discovery_transport.h"
#include "tests/support/devsim_harness.h"

namespace {

using corvane::test::Devsim;
using corvane::test::DevsimRecord;
using corvane::test::TestNetwork;

std::mutex log_mutex;
QStringList captured_log;

void capture(QtMsgType, const QMessageLogContext&, const QString& message) {
    std::lock_guard<std::mutex> lock(log_mutex);
    captured_log << message;
}

QStringList take_log() {
    std::lock_guard<std::mutex> lock(log_mutex);
    QStringList out;
    out.swap(captured_log);
    return out;
}

constexpr std::size_t full_capacity = 4194304;

struct SweepOutcome {
    int status = 0;
    QByteArray text;
    qint64 ms = 0;
    QStringList log;
    int sockets = -1;
};

SweepOutcome sweep(std::size_t capacity = full_capacity) {
    std::vector<char> buffer(capacity + 64, '\x5a');
    take_log();
    SweepOutcome out;
    QElapsedTimer timer;
    timer.start();
    out.status = search_device(capacity ? buffer.data() : nullptr, capacity);
    out.ms = timer.elapsed();
    out.log = take_log();
    // Nothing past the capacity may have been touched.
    for (std::size_t i = capacity; i < buffer.size(); ++i) {
        if (buffer[i] != '\x5a') {
            out.status = -100;
        }
    }
    if (capacity > 0) {
        const void* nul = std::memchr(buffer.data(), '\0', capacity);
        out.text = nul ? QByteArray(buffer.data()) : QByteArray("<no terminator>");
    }
    for (const QString& line : out.log) {
        if (line.startsWith(QLatin1String("m_udpSocket length "))) {
            out.sockets = line.mid(19).toInt();
        }
    }
    return out;
}

QJsonArray parameters_of(const QByteArray& text) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        return QJsonArray{QStringLiteral("<not JSON>")};
    }
    if (doc.object().value(QStringLiteral("ProtocolCode")).toInt() != 999) {
        return QJsonArray{QStringLiteral("<no 999>")};
    }
    return doc.object().value(QStringLiteral("Parameters")).toArray();
}

// "IpAddr" of every collected reply, sorted; "" for a reply without one.
QStringList addresses_of(const QJsonArray& parameters) {
    QStringList out;
    for (const QJsonValue& reply : parameters) {
        out << corvane::test::replyIpAddr(reply.toObject());
    }
    std::sort(out.begin(), out.end());
    return out;
}

// Adds an address to the tool host for the length of one test.
class ExtraToolAddress {
public:
    explicit ExtraToolAddress(const QString& cidr) : cidr_(cidr) {
        added_ = !cidr_.isEmpty() && TestNetwork::addToolAddress(cidr_);
    }
    ~ExtraToolAddress() {
        if (added_) {
            TestNetwork::removeToolAddress(cidr_);
        }
    }
    bool ok() const { return cidr_.isEmpty() || added_; }

private:
    QString cidr_;
    bool added_ = false;
};

// A host in the device host that answers the first probe it gets with `count` datagrams,
// `interval_ms` apart, each a device reply of its own address (198.51.100.100 onwards).
const char kDripper[] = R"(
import json, socket, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("0.0.0.0", 61111))
print("ready", flush=True)
s.settimeout(30)
_, peer = s.recvfrom(2048)
for i in range(int(sys.argv[1])):
    reply = {"NetConfig": [{"IpAddr": "198.51.100.%d" % (100 + i)}], "DeviceType": 1102}
    s.sendto(json.dumps(reply).encode(), peer)
    time.sleep(int(sys.argv[2]) / 1000)
)";

bool start_devices(Devsim& sim, const QStringList& devices) {
    for (const QString& device : devices) {
        sim.device(device);
    }
    return sim.start(Devsim::Where::DeviceHost);
}

}  // namespace

class DiscoverySweep : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // A sweep broadcasts from every local address: refuse to run outside the test network.
        if (!TestNetwork::active()) {
            QFAIL("run through scripts/testnet run: a sweep must never leave the test network");
        }
        qInstallMessageHandler(capture);
    }

    void cleanupTestCase() { qInstallMessageHandler(nullptr); }

    void no_devices_one_second_and_empty_result() {
        const SweepOutcome s = sweep();
        QCOMPARE(s.status, 0);
        QCOMPARE(s.text, QByteArray("{\"ProtocolCode\":999,\"Parameters\":[]}"));
        QCOMPARE(s.text.size(), 36);
        QVERIFY2(s.ms >= 950 && s.ms < 3000, qPrintable(QString::number(s.ms)));
        // lo (127.0.0.1, no broadcast) and the IPv6 entries of eth0 get no socket.
        QCOMPARE(s.sockets, 1);
        QVERIFY(s.log.last().startsWith(QStringLiteral("接收数据的时间 QTime(")));
        QVERIFY(s.log.last().contains(QStringLiteral(") 到 QTime(")));
    }

    void replies_data() {
        QTest::addColumn<QStringList>("devices");
        QTest::addColumn<QString>("extraAddress");
        QTest::addColumn<int>("sockets");
        QTest::addColumn<QStringList>("expected");

        const QString a = QStringLiteral("198.51.100.10");
        const QString b = QStringLiteral("198.51.100.11");
        const QString c = QStringLiteral("198.51.100.12");
        QTest::newRow("three devices")
            << QStringList{"ip=198.51.100.10,type=1102", "ip=198.51.100.11,type=307",
                           "ip=198.51.100.12,type=2000"}
            << QString() << 1 << QStringList{a, b, c};
        QTest::newRow("two tool addresses on one network")
            << QStringList{"ip=198.51.100.10", "ip=198.51.100.11,type=307"}
            << QStringLiteral("198.51.100.2/24") << 2 << QStringList{a, b};
        QTest::newRow("second tool network") << QStringList{"ip=198.51.100.10", "ip=203.0.113.10"}
                                             << QStringLiteral("203.0.113.1/24") << 2
                                             << QStringList{a, QStringLiteral("203.0.113.10")};
        QTest::newRow("device answering twice")
            << QStringList{"ip=198.51.100.10,udp=twice", "ip=198.51.100.11"} << QString() << 1
            << QStringList{a, b};
        // Another MAC on the same address is another device: both kept.
        QTest::newRow("two devices with one address")
            << QStringList{"ip=198.51.100.10", "ip=198.51.100.11,report-ip=198.51.100.10"}
            << QString() << 1 << QStringList{a, a};
        QTest::newRow("late reply within the wait")
            << QStringList{"ip=198.51.100.10,udp-delay=400", "ip=198.51.100.11"} << QString() << 1
            << QStringList{a, b};
        QTest::newRow("silent device")
            << QStringList{"ip=198.51.100.10,udp=silent", "ip=198.51.100.11"} << QString() << 1
            << QStringList{b};
        QTest::newRow("no NetConfig accepted once")
            << QStringList{"ip=198.51.100.10,udp=no-netconfig", "ip=198.51.100.11",
                           "ip=198.51.100.12,udp=no-netconfig"}
            << QString() << 1 << QStringList{QString(), b};
        QTest::newRow("not JSON adds nothing")
            << QStringList{"ip=198.51.100.10,udp=garbage", "ip=198.51.100.11"} << QString() << 1
            << QStringList{b};
        QTest::newRow("over 1400 bytes adds nothing")
            << QStringList{"ip=198.51.100.10,udp=oversize", "ip=198.51.100.11,udp-size=1401",
                           "ip=198.51.100.12"}
            << QString() << 1 << QStringList{c};
        QTest::newRow("exactly 1400 bytes accepted")
            << QStringList{"ip=198.51.100.10,udp-size=1400"} << QString() << 1 << QStringList{a};
    }

    void replies() {
        QFETCH(QStringList, devices);
        QFETCH(QString, extraAddress);
        QFETCH(int, sockets);
        QFETCH(QStringList, expected);

        ExtraToolAddress extra(extraAddress);
        QVERIFY(extra.ok());
        Devsim sim;
        QVERIFY2(start_devices(sim, devices), qPrintable(sim.errorString()));
        const SweepOutcome s = sweep();
        QCOMPARE(s.status, 0);
        QCOMPARE(s.sockets, sockets);
        QCOMPARE(addresses_of(parameters_of(s.text)), expected);
        // Every probe that left reached the simulator: one per tool socket.
        QSet<QString> peers;
        for (const DevsimRecord& r : sim.records(QStringLiteral("udp-in"))) {
            peers.insert(r.peer);
        }
        QCOMPARE(peers.size(), sockets);
    }

    // A host that answers just under every second keeps every wait of its socket short of
    // the one-second silence: the sweep still ends 5 s after its last probe, and what comes
    // later is left out.
    void dripping_host_bounded_data() {
        QTest::addColumn<int>("datagrams");
        QTest::addColumn<int>("interval_ms");
        QTest::addColumn<int>("most_kept");  // at most the replies of the first 5 s
        QTest::newRow("every 0.9 s for 22 s") << 25 << 900 << 7;
        QTest::newRow("every 0.3 s for 15 s") << 50 << 300 << 18;
    }

    void dripping_host_bounded() {
        QFETCH(int, datagrams);
        QFETCH(int, interval_ms);
        QFETCH(int, most_kept);
        QProcess dripper;
        dripper.start(QStringLiteral("ip"),
                      {QStringLiteral("netns"), QStringLiteral("exec"), TestNetwork::deviceNetns(),
                       QStringLiteral("python3"), QStringLiteral("-c"), QString::fromUtf8(kDripper),
                       QString::number(datagrams), QString::number(interval_ms)});
        QVERIFY2(dripper.waitForReadyRead(10000) && dripper.readAll().startsWith("ready"),
                 qPrintable("the dripping host did not get ready: " +
                            QString::fromLocal8Bit(dripper.readAllStandardError())));
        const SweepOutcome s = sweep();
        dripper.kill();
        dripper.waitForFinished(5000);
        QCOMPARE(s.status, 0);
        const QStringList found = addresses_of(parameters_of(s.text));
        const QString outcome = QStringLiteral("%1 ms: %2").arg(s.ms).arg(found.join(' '));
        QVERIFY2(found.size() >= 3 && found.size() <= most_kept, qPrintable(outcome));
        QVERIFY2(s.ms < 9000, qPrintable(outcome));
        QVERIFY2(s.log.contains(QStringLiteral(
                     "sweep ended 5000 ms after the last probe; later replies are dropped")),
                 qPrintable(s.log.join('\n')));
    }

    void replies_keep_their_members() {
        Devsim sim;
        QVERIFY2(start_devices(sim, {"ip=198.51.100.20,type=1200,version=V9.1,mac=02:11:22:33:"
                                     "44:55,mask=255.255.255.0,gateway=198.51.100.1"}),
                 qPrintable(sim.errorString()));
        const SweepOutcome s = sweep();
        const QJsonArray parameters = parameters_of(s.text);
        QCOMPARE(parameters.size(), 1);
        const QJsonObject reply = parameters.at(0).toObject();
        QCOMPARE(reply.value(QStringLiteral("DeviceType")).toInt(), 1200);
        QCOMPARE(reply.value(QStringLiteral("SoftVersion")).toString(), QStringLiteral("V9.1"));
        const QJsonObject net = reply.value(QStringLiteral("NetConfig")).toArray().at(0).toObject();
        QCOMPARE(net.value(QStringLiteral("Mac")).toString(), QStringLiteral("02:11:22:33:44:55"));
        QCOMPARE(net.value(QStringLiteral("GateWay")).toString(), QStringLiteral("198.51.100.1"));
        // The collected text is compact (values themselves may hold blanks).
        for (const char* layout : {"\n", "\t", "\": ", ", \"", "{ ", " }"}) {
            QVERIFY2(!s.text.contains(layout), layout);
        }
    }

    void probe_bytes_as_the_device_saw_them() {
        Devsim sim;
        QVERIFY2(start_devices(sim, {"ip=198.51.100.10"}), qPrintable(sim.errorString()));
        sweep();
        const QList<DevsimRecord> in = sim.records(QStringLiteral("udp-in"));
        QVERIFY(!in.isEmpty());
        for (const DevsimRecord& r : in) {
            const QByteArray& data = r.data;
            QCOMPARE(data, QByteArray("{0x3c, 0x51, 0xe2, 0x07, 0x9a, 0x4d, 0xf6, 0x2b}"));
            QCOMPARE(data.size(), 48);
            QVERIFY(!data.contains('\0'));
            QVERIFY2(r.peer.startsWith("198.51.100.1:"), qPrintable(r.peer));
            QVERIFY2(r.local.endsWith(":61111"), qPrintable(r.local));
        }
    }

    void state_empty_after_every_sweep() {
        Devsim sim;
        QVERIFY2(start_devices(sim, {"ip=198.51.100.10", "ip=198.51.100.11,udp=twice"}),
                 qPrintable(sim.errorString()));
        for (int round = 0; round < 2; ++round) {
            const SweepOutcome s = sweep();
            QCOMPARE(addresses_of(parameters_of(s.text)),
                     (QStringList{"198.51.100.10", "198.51.100.11"}));
            QVERIFY(search_result.IsVoid());
            QVERIFY(seen_addresses.empty());
        }
    }

    void concurrent_callers_take_turns() {
        Devsim sim;
        QVERIFY2(start_devices(sim, {"ip=198.51.100.10", "ip=198.51.100.11"}),
                 qPrintable(sim.errorString()));
        std::vector<char> first(full_capacity), second(full_capacity);
        int status_first = -1, status_second = -1;
        QElapsedTimer timer;
        timer.start();
        std::unique_ptr<QThread> a(
            QThread::create([&] { status_first = search_device(first.data(), first.size()); }));
        std::unique_ptr<QThread> b(
            QThread::create([&] { status_second = search_device(second.data(), second.size()); }));
        a->start();
        b->start();
        QVERIFY(a->wait(15000));
        QVERIFY(b->wait(15000));
        QCOMPARE(status_first, 0);
        QCOMPARE(status_second, 0);
        const QStringList both{"198.51.100.10", "198.51.100.11"};
        QCOMPARE(addresses_of(parameters_of(QByteArray(first.data()))), both);
        QCOMPARE(addresses_of(parameters_of(QByteArray(second.data()))), both);
        // One after the other: each sweep waits its own second.
        QVERIFY2(timer.elapsed() >= 1900, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(search_result.IsVoid());
        QVERIFY(seen_addresses.empty());
    }

    void full_size_burst_all_read() {
        // 300 full-size replies at once: the queue holds the burst, and none is lost to a
        // per-socket cap.
        Devsim sim;
        sim.args({QStringLiteral("--fleet"), QStringLiteral("300"), QStringLiteral("--defaults"),
                  QStringLiteral("udp-size=1400")});
        QVERIFY2(sim.start(Devsim::Where::DeviceHost), qPrintable(sim.errorString()));
        const SweepOutcome s = sweep();
        QCOMPARE(s.status, 0);
        const QStringList found = addresses_of(parameters_of(s.text));
        QCOMPARE(QSet<QString>(found.begin(), found.end()).size(), 300);
    }

    // The device list's marks after a real sweep: both devices of one address in conflict, a
    // device of the tool's segment on a subnet the tool holds no address in as other subnet.
    void device_list_marks_data() {
        QTest::addColumn<QStringList>("devices");
        QTest::addColumn<QString>("extraAddress");
        QTest::addColumn<QStringList>("marked");  // "address mark" sorted, mark c, o or -
        QTest::newRow("two devices with one address")
            << QStringList{"ip=198.51.100.30", "ip=198.51.100.31,report-ip=198.51.100.30",
                           "ip=198.51.100.32"}
            << QString() << QStringList{"198.51.100.30 c", "198.51.100.30 c", "198.51.100.32 -"};
        QTest::newRow("a device outside the tool's subnets")
            << QStringList{"ip=198.51.100.30", "ip=203.0.113.10"} << QString()
            << QStringList{"198.51.100.30 -", "203.0.113.10 o"};
        QTest::newRow("the same device with an address there")
            << QStringList{"ip=198.51.100.30", "ip=203.0.113.10"}
            << QStringLiteral("203.0.113.1/24") << QStringList{"198.51.100.30 -", "203.0.113.10 -"};
    }

    void device_list_marks() {
        QFETCH(QStringList, devices);
        QFETCH(QString, extraAddress);
        QFETCH(QStringList, marked);
        ExtraToolAddress extra(extraAddress);
        QVERIFY(extra.ok());
        Devsim sim;
        QVERIFY2(start_devices(sim, devices), qPrintable(sim.errorString()));
        int nothing_found = 0;
        device_list().collect_devices(nothing_found);
        QCOMPARE(nothing_found, 0);
        QStringList got;
        for (const Device_Info& d : device_list().snapshot()) {
            got << QStringLiteral("%1 %2").arg(QString::fromUtf8(d.ip), d.conflict       ? "c"
                                                                        : d.other_subnet ? "o"
                                                                                         : "-");
        }
        got.sort();
        QCOMPARE(got, marked);
        QVERIFY(!device_list().last_report().bound_reached);
    }

    // 1,000 devices on one /22 (scripts/testnet run --large), all answering one probe from
    // the tool's address there (and from its other address, on the same bridge): every one
    // is listed, in the tool's subnet, without conflicts.
    void thousand_devices_on_a_22() {
        if (TestNetwork::largeAddresses().isEmpty()) {
            QSKIP("needs the large subnet: scripts/testnet run --large");
        }
        Devsim sim;
        sim.args({QStringLiteral("--fleet"), QStringLiteral("1000"), QStringLiteral("--addresses"),
                  TestNetwork::largeAddresses().join(' '), QStringLiteral("--defaults"),
                  QStringLiteral("mask=255.255.252.0")});
        QVERIFY2(sim.start(Devsim::Where::DeviceHost, 60000), qPrintable(sim.errorString()));
        int nothing_found = 0;
        device_list().collect_devices(nothing_found);
        const std::vector<Device_Info> devices = device_list().snapshot();
        QSet<QString> found;
        int marked = 0;
        for (const Device_Info& d : devices) {
            found.insert(QString::fromUtf8(d.ip));
            marked += d.conflict || d.other_subnet;
        }
        const QStringList large = TestNetwork::largeAddresses();
        QCOMPARE(found, QSet<QString>(large.begin(), large.end()));
        QCOMPARE(int(devices.size()), 1000);
        QCOMPARE(marked, 0);
        QVERIFY(!device_list().last_report().bound_reached);
    }

    void small_buffer_never_overrun_data() {
        QTest::addColumn<int>("capacity");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("entries");  // -1: as many as fit, at least one fewer than 3
        QTest::newRow("no buffer") << 0 << -1 << 0;
        QTest::newRow("room for the NUL only") << 1 << -1 << 0;
        QTest::newRow("36: empty document without its NUL") << 36 << -1 << 0;
        QTest::newRow("37: empty document") << 37 << 0 << 0;
        QTest::newRow("200") << 200 << 0 << -1;
        QTest::newRow("500") << 500 << 0 << -1;
        QTest::newRow("4 MiB") << 4194304 << 0 << 3;
    }

    void small_buffer_never_overrun() {
        QFETCH(int, capacity);
        QFETCH(int, status);
        QFETCH(int, entries);
        Devsim sim;
        QVERIFY2(start_devices(sim, {"ip=198.51.100.10", "ip=198.51.100.11", "ip=198.51.100.12"}),
                 qPrintable(sim.errorString()));
        const SweepOutcome s = sweep(std::size_t(capacity));
        QCOMPARE(s.status, status);
        if (capacity == 0) {
            return;
        }
        QVERIFY(s.text.size() < capacity);
        if (status != 0) {
            QCOMPARE(s.text, QByteArray());
            return;
        }
        const QJsonArray parameters = parameters_of(s.text);
        if (entries >= 0) {
            QCOMPARE(parameters.size(), entries);
        } else {
            QVERIFY(parameters.size() < 3);
            // Left out only what did not fit: one more reply would have overflowed.
            const int one =
                QJsonDocument(parameters.isEmpty() ? QJsonObject() : parameters.at(0).toObject())
                    .toJson(QJsonDocument::Compact)
                    .size();
            QVERIFY(parameters.isEmpty() || s.text.size() + one + 1 >= capacity);
        }
        QVERIFY(search_result.IsVoid());
    }

    void full_buffer_drops_only_the_last_reply() {
        Devsim sim;
        QVERIFY2(start_devices(sim, {"ip=198.51.100.10", "ip=198.51.100.11", "ip=198.51.100.12"}),
                 qPrintable(sim.errorString()));
        const SweepOutcome full = sweep();
        QCOMPARE(parameters_of(full.text).size(), 3);
        // One byte short of the whole text and its NUL: the third reply is left out.
        const SweepOutcome tight = sweep(std::size_t(full.text.size()));
        QCOMPARE(tight.status, 0);
        QCOMPARE(parameters_of(tight.text).size(), 2);
        QVERIFY(tight.log.contains(QStringLiteral("result buffer full, reply left out")));
        // Exactly enough: everything.
        const SweepOutcome exact = sweep(std::size_t(full.text.size()) + 1);
        QCOMPARE(parameters_of(exact.text).size(), 3);
        QCOMPARE(exact.text.size(), full.text.size());
    }
};

QTEST_GUILESS_MAIN(DiscoverySweep)
#include "tst_discovery_sweep.moc"
