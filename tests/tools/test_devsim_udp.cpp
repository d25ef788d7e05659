// The simulator's discovery side, inside the private test network: the test is the tool
// host and talks to devices in the device host.
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include "tests/support/devsim_harness.h"

using corvane::test::Devsim;
using corvane::test::DevsimRecord;
using corvane::test::probeFrom;
using corvane::test::TestNetwork;

namespace {

QHostAddress toolAddress(int i = 0) {
    return QHostAddress(TestNetwork::toolAddresses().value(i));
}

QJsonObject asObject(const QByteArray& bytes) {
    return QJsonDocument::fromJson(bytes).object();
}

QString replyIp(const QNetworkDatagram& d) {
    return corvane::test::replyIpAddr(asObject(d.data()));
}

QList<QNetworkDatagram> from(const QList<QNetworkDatagram>& all, const QString& sender) {
    QList<QNetworkDatagram> out;
    for (const QNetworkDatagram& d : all)
        if (d.senderAddress().toString() == sender)
            out << d;
    return out;
}

// A small HTTP exchange with a device in the device host (port 80), Connection: close.
QByteArray httpCommand(const QString& host, const QByteArray& body) {
    QTcpSocket socket;
    socket.connectToHost(host, 80);
    if (!socket.waitForConnected(2000))
        return QByteArray();
    socket.write("POST / HTTP/1.1\r\nHost: " + host.toLatin1() + "\r\nContent-Length: " +
                 QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    QByteArray all;
    while (socket.waitForReadyRead(2000))
        all += socket.readAll();
    all += socket.readAll();
    return all.mid(all.indexOf("\r\n\r\n") + 4);
}

}  // namespace

class TestDevsimUdp : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (!TestNetwork::active())
            QSKIP("needs the test network (scripts/testnet run)");
        QVERIFY(!TestNetwork::toolAddresses().isEmpty());
        QVERIFY(TestNetwork::deviceAddresses().size() >= 250);
    }

    void everyDeviceAnswersOnceFromItsOwnAddress() {
        Devsim sim;
        sim.device(QStringLiteral("ip=198.51.100.10,type=1102,mac=02:00:00:00:00:10,version=V1"))
            .device(QStringLiteral("ip=198.51.100.11,type=307"))
            .device(QStringLiteral("ip=203.0.113.12,type=2000,uptime=90061"));
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        const QList<QNetworkDatagram> replies = probeFrom(toolAddress(), 700);
        QCOMPARE(replies.size(), 3);
        QSet<QString> seen;
        for (const QNetworkDatagram& d : replies) {
            const QString ip = replyIp(d);
            QCOMPARE(d.senderAddress().toString(), ip);  // sent from the device's own address
            QCOMPARE(d.senderPort(), 61111);
            QVERIFY(d.data().size() <= 1400);
            seen.insert(ip);
        }
        QCOMPARE(seen,
                 (QSet<QString>{QStringLiteral("198.51.100.10"), QStringLiteral("198.51.100.11"),
                                QStringLiteral("203.0.113.12")}));
        for (const QNetworkDatagram& d : replies) {
            const QJsonObject o = asObject(d.data());
            if (replyIp(d) == QLatin1String("198.51.100.10")) {
                QCOMPARE(o.value(QStringLiteral("DeviceType")).toInt(), 1102);
                QCOMPARE(o.value(QStringLiteral("SoftVersion")).toString(), QStringLiteral("V1"));
                const QJsonObject nic =
                    o.value(QStringLiteral("NetConfig")).toArray().at(0).toObject();
                QCOMPARE(nic.value(QStringLiteral("Mac")).toString(),
                         QStringLiteral("02:00:00:00:00:10"));
                QCOMPARE(nic.value(QStringLiteral("SubNetMask")).toString(),
                         QStringLiteral("255.255.255.0"));
                QCOMPARE(nic.value(QStringLiteral("GateWay")).toString(),
                         QStringLiteral("198.51.100.1"));
            }
            if (replyIp(d) == QLatin1String("203.0.113.12"))
                QVERIFY(o.value(QStringLiteral("UpTime"))
                            .toString()
                            .startsWith(QLatin1String("1d 01:01:0")));
        }
        // The simulator logged the probe's exact bytes once, on the broadcast socket.
        const QList<DevsimRecord> in = sim.records(QStringLiteral("udp-in"));
        QCOMPARE(in.size(), 1);
        QCOMPARE(in.first().data, corvane::test::discoveryProbe());
        QCOMPARE(in.first().device, QStringLiteral("*"));
        QCOMPARE(in.first().local, QStringLiteral("255.255.255.255:61111"));
        QCOMPARE(in.first().peer.section(':', 0, 0), toolAddress().toString());
    }
    void faults_data() {
        QTest::addColumn<QString>("faults");
        QTest::addColumn<int>("count");       // datagrams from the device
        QTest::addColumn<bool>("json");       // each is a JSON object
        QTest::addColumn<bool>("netConfig");  // each has "NetConfig"
        QTest::addColumn<int>("minSize");
        QTest::addColumn<int>("maxSize");
        QTest::newRow("normal") << "" << 1 << true << true << 100 << 1400;
        QTest::newRow("twice") << "udp=twice" << 2 << true << true << 100 << 1400;
        QTest::newRow("silent") << "udp=silent" << 0 << false << false << 0 << 0;
        QTest::newRow("not json") << "udp=garbage" << 1 << false << false << 1 << 1400;
        QTest::newRow("over 1400") << "udp=oversize" << 1 << true << true << 1500 << 1500;
        QTest::newRow("no NetConfig") << "udp=no-netconfig" << 1 << true << false << 50 << 1400;
        QTest::newRow("exactly 1400") << "udp-size=1400" << 1 << true << true << 1400 << 1400;
    }
    void faults() {
        QFETCH(QString, faults);
        QFETCH(int, count);
        QFETCH(bool, json);
        QFETCH(bool, netConfig);
        QFETCH(int, minSize);
        QFETCH(int, maxSize);
        Devsim sim;
        // A sound neighbour shows the probe got through even when the faulty device is quiet.
        sim.device("ip=198.51.100.20,type=1102," + faults).device("ip=198.51.100.21,type=307");
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        const QList<QNetworkDatagram> all = probeFrom(toolAddress(), 600);
        QCOMPARE(from(all, "198.51.100.21").size(), 1);
        const QList<QNetworkDatagram> mine = from(all, "198.51.100.20");
        QCOMPARE(mine.size(), count);
        for (const QNetworkDatagram& d : mine) {
            QVERIFY2(d.data().size() >= minSize && d.data().size() <= maxSize,
                     qPrintable(QString::number(d.data().size())));
            QJsonParseError err;
            const QJsonDocument doc = QJsonDocument::fromJson(d.data(), &err);
            QCOMPARE(err.error == QJsonParseError::NoError && doc.isObject(), json);
            QCOMPARE(doc.object().contains("NetConfig"), netConfig);
        }
        if (count == 2)
            QCOMPARE(mine.at(0).data(), mine.at(1).data());
    }

    void lateAnswer() {
        Devsim sim;
        sim.device("ip=198.51.100.22,udp-delay=400").device("ip=198.51.100.23");
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        QUdpSocket socket;
        QVERIFY(socket.bind(toolAddress(), 0));
        QElapsedTimer clock;
        clock.start();
        QVERIFY(socket.writeDatagram(corvane::test::discoveryProbe(), QHostAddress::Broadcast,
                                     61111) == 48);
        QHash<QString, qint64> arrival;
        while (arrival.size() < 2 && !clock.hasExpired(3000)) {
            if (!socket.waitForReadyRead(100))
                continue;
            while (socket.hasPendingDatagrams())
                arrival.insert(socket.receiveDatagram().senderAddress().toString(),
                               clock.elapsed());
        }
        QCOMPARE(arrival.size(), 2);
        QVERIFY(arrival.value("198.51.100.23") < 300);
        QVERIFY2(arrival.value("198.51.100.22") >= 400,
                 qPrintable(QString::number(arrival.value("198.51.100.22"))));
    }

    void unicastProbeAndOtherDatagrams() {
        Devsim sim;
        sim.device("ip=198.51.100.24").device("ip=198.51.100.25");
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        QUdpSocket socket;
        QVERIFY(socket.bind(toolAddress(), 0));
        // Not the probe (one byte short): recorded, not answered.
        socket.writeDatagram(corvane::test::discoveryProbe().chopped(1), QHostAddress::Broadcast,
                             61111);
        // The probe sent to one device only: that device answers.
        socket.writeDatagram(corvane::test::discoveryProbe(), QHostAddress("198.51.100.25"), 61111);
        QList<QNetworkDatagram> got;
        QElapsedTimer clock;
        clock.start();
        while (!clock.hasExpired(600))
            if (socket.waitForReadyRead(50))
                while (socket.hasPendingDatagrams())
                    got << socket.receiveDatagram();
        QCOMPARE(got.size(), 1);
        QCOMPARE(got.first().senderAddress().toString(), QStringLiteral("198.51.100.25"));
        const QList<DevsimRecord> in = sim.records("udp-in");
        QCOMPARE(in.size(), 2);
        QCOMPARE(in.at(0).data.size(), 47);
        QCOMPARE(in.at(0).device, QStringLiteral("*"));
        QCOMPARE(in.at(1).device, QStringLiteral("198.51.100.25"));
        QCOMPARE(in.at(1).local, QStringLiteral("198.51.100.25:61111"));
    }

    void secondToolAddressGetsItsOwnReplies() {
        const QString second = "203.0.113.1";
        const bool added = !TestNetwork::toolAddresses().contains(second);
        if (added)
            QVERIFY(TestNetwork::addToolAddress(second + "/24"));
        Devsim sim;
        sim.device("ip=198.51.100.26").device("ip=203.0.113.26");
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        for (const QString& tool : {QStringLiteral("198.51.100.1"), second}) {
            const QList<QNetworkDatagram> got = probeFrom(QHostAddress(tool), 500);
            QCOMPARE(got.size(), 2);
            for (const QNetworkDatagram& d : got) {
                QCOMPARE(d.destinationAddress().toString(), tool);
                QCOMPARE(d.senderAddress().toString(), replyIp(d));
            }
        }
        if (added)
            QVERIFY(TestNetwork::removeToolAddress(second + "/24"));
    }

    void restartTakesNewAddressAndIsSilentMeanwhile() {
        Devsim sim;
        sim.device("ip=198.51.100.27,type=1102,uptime=86400").device("ip=198.51.100.28,type=307");
        sim.args({"--restart-seconds", "1"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        const QByteArray set =
            httpCommand("198.51.100.27",
                        R"({"ProtocolCode":1008,"Parameters":[{"LanNo":0,"IP":"198.51.100.77",)"
                        R"("SubNetMask":"255.255.255.0","GateWay":"198.51.100.1",)"
                        R"("MacAddr":"02:00:00:00:00:77"}]})");
        QVERIFY2(set.size() >= 30, set.constData());
        QVERIFY(httpCommand("198.51.100.27", R"({"ProtocolCode":1002})").size() >= 30);
        // During the restart only the other device answers.
        QList<QNetworkDatagram> got = probeFrom(toolAddress(), 300);
        QCOMPARE(got.size(), 1);
        QCOMPARE(got.first().senderAddress().toString(), QStringLiteral("198.51.100.28"));
        QVERIFY(sim.waitForRecord("restart-up", nullptr, 5000));
        got = from(probeFrom(toolAddress(), 500), "198.51.100.77");
        QCOMPARE(got.size(), 1);
        const QJsonObject reply = asObject(got.first().data());
        QCOMPARE(replyIp(got.first()), QStringLiteral("198.51.100.77"));
        QCOMPARE(reply.value("NetConfig").toArray().at(0).toObject().value("Mac").toString(),
                 QStringLiteral("02:00:00:00:00:77"));
        QVERIFY(reply.value("UpTime").toString().startsWith("0d 00:00:0"));
        QVERIFY(httpCommand("198.51.100.77", R"({"ProtocolCode":3052})").contains("AudioIn"));
    }

    // What reaches the broadcast socket: the limited broadcast every device answers, a
    // directed one the devices of its subnet, a probe to an address no device plays none.
    void wildcardProbes_data() {
        QTest::addColumn<QString>("to");
        QTest::addColumn<QStringList>("answers");
        QTest::newRow("limited broadcast")
            << "255.255.255.255" << QStringList{"198.51.100.65", "203.0.113.65"};
        QTest::newRow("directed broadcast") << "198.51.100.255" << QStringList{"198.51.100.65"};
        QTest::newRow("address without a device") << "198.51.100.66" << QStringList{};
    }
    void wildcardProbes() {
        QFETCH(QString, to);
        QFETCH(QStringList, answers);
        Devsim sim;
        sim.device("ip=198.51.100.65").device("ip=203.0.113.65");
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        QStringList got;
        for (const QNetworkDatagram& d : probeFrom(toolAddress(), 500, {QHostAddress(to)}))
            got << replyIp(d);
        got.sort();
        QCOMPARE(got, answers);
        QCOMPARE(sim.records("udp-in").size(), 1);  // it did arrive
    }

    // How long each device stays away after a restart: its own time beats the simulator's,
    // and one that never comes back stays silent, also to a probe sent to its address.
    void restartDelays() {
        Devsim sim;
        sim.device("ip=198.51.100.60,restart=1")
            .device("ip=198.51.100.61,restart=never")
            .device("ip=198.51.100.62")
            .args({"--restart-seconds", "600"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        for (const char* ip : {"198.51.100.60", "198.51.100.61", "198.51.100.62"})
            QVERIFY(httpCommand(ip, R"({"ProtocolCode":1002})").contains("rebooting"));
        QVERIFY(sim.waitForRecord(
            "restart-up", [](const DevsimRecord& r) { return r.device == "198.51.100.60"; }, 5000));
        QHash<QString, QJsonValue> seconds;
        for (const DevsimRecord& r : sim.records("restart-down"))
            seconds.insert(r.device, r.raw.value("seconds"));
        QCOMPARE(seconds.value("198.51.100.60"), QJsonValue(1));
        QCOMPARE(seconds.value("198.51.100.61"), QJsonValue("never"));
        QCOMPARE(seconds.value("198.51.100.62"), QJsonValue(600));
        QList<QHostAddress> each;
        for (const char* ip : {"198.51.100.60", "198.51.100.61", "198.51.100.62"})
            each << QHostAddress(ip);
        QStringList back;
        for (const QNetworkDatagram& d :
             probeFrom(toolAddress(), 500) + probeFrom(toolAddress(), 500, each))
            back << d.senderAddress().toString();
        QCOMPARE(back, (QStringList{"198.51.100.60", "198.51.100.60"}));
        QCOMPARE(sim.records("restart-up").size(), 1);
    }

    // Two devices answer with one address (different MACs): both answer the broadcast from
    // it when this host holds it; the one listening on it takes unicast and commands.
    void addressConflict_data() {
        QTest::addColumn<QString>("reported");
        QTest::addColumn<QString>("sender");  // of the second device's reply
        QTest::newRow("address held by the host") << "198.51.100.63"
                                                  << "198.51.100.63";
        QTest::newRow("address held by nobody") << "192.0.2.63"
                                                << "198.51.100.64";
    }
    void addressConflict() {
        QFETCH(QString, reported);
        QFETCH(QString, sender);
        Devsim sim;
        sim.device("ip=198.51.100.63,mac=02:00:00:00:00:63")
            .device("ip=198.51.100.64,mac=02:00:00:00:00:64,report-ip=" + reported);
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        QHash<QString, QString> byMac;  // MAC -> "IpAddr from sender"
        for (const QNetworkDatagram& d : probeFrom(toolAddress(), 500)) {
            const QJsonObject nic =
                asObject(d.data()).value("NetConfig").toArray().at(0).toObject();
            byMac.insert(nic.value("Mac").toString(),
                         nic.value("IpAddr").toString() + " from " + d.senderAddress().toString());
        }
        QCOMPARE(byMac.size(), 2);
        QCOMPARE(byMac.value("02:00:00:00:00:63"),
                 QStringLiteral("198.51.100.63 from 198.51.100.63"));
        QCOMPARE(byMac.value("02:00:00:00:00:64"), reported + " from " + sender);
        const QList<QNetworkDatagram> unicast =
            probeFrom(toolAddress(), 500, {QHostAddress("198.51.100.63")});
        QCOMPARE(unicast.size(), 1);
        QVERIFY(unicast.first().data().contains("02:00:00:00:00:63"));
        QVERIFY(httpCommand("198.51.100.63", R"({"ProtocolCode":3052})").contains("AudioIn"));
        const QList<DevsimRecord> in = sim.records("http-in");
        QCOMPARE(in.size(), 1);
        QCOMPARE(in.first().device, QStringLiteral("198.51.100.63"));
    }

    void fleetOf250AllAnswer() {
        Devsim sim;
        sim.args({"--fleet", "250"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        const QList<QNetworkDatagram> got = probeFrom(toolAddress(), 1500);
        QSet<QString> senders;
        for (const QNetworkDatagram& d : got)
            senders.insert(d.senderAddress().toString());
        QCOMPARE(got.size(), 250);
        QCOMPARE(senders.size(), 250);
    }

    void silentHostNeverCompletesAConnect() {
        QTcpSocket socket;
        QElapsedTimer clock;
        clock.start();
        socket.connectToHost(TestNetwork::silentAddress(), 80);
        QVERIFY(!socket.waitForConnected(2000));
        // Neither refused nor unreachable: the wait ran out.
        QCOMPARE(socket.error(), QAbstractSocket::SocketTimeoutError);
        QVERIFY(clock.elapsed() >= 1900);
    }

    void broadcastStaysInsideTheTestNetwork() {
        const QString outer = qEnvironmentVariable("CORVANE_OUTER_NETNS");
        QVERIFY(!outer.isEmpty());
        // A listener on 0.0.0.0:61111 in the namespace the test network was made from.
        QTemporaryDir dir;
        const QString log = dir.filePath("outer.jsonl");
        const QString ready = dir.filePath("outer.ready");
        QProcess outside;
        outside.start("nsenter",
                      {"--net=" + outer, Devsim::binaryPath(), "--device", "ip=127.0.0.215",
                       "--http-port", "28082", "--log", log, "--ready-file", ready});
        QVERIFY(outside.waitForStarted(5000));
        QElapsedTimer clock;
        clock.start();
        while (!QFileInfo::exists(ready) && !clock.hasExpired(10000))
            outside.waitForFinished(20);
        QVERIFY2(QFileInfo::exists(ready), outside.readAllStandardError().constData());
        Devsim inside;
        inside.device("ip=198.51.100.29");
        QVERIFY2(inside.start(), qPrintable(inside.errorString()));

        QCOMPARE(probeFrom(toolAddress(), 500).size(), 1);
        QVERIFY(inside.waitForRecord("udp-in", nullptr, 1000));
        outside.terminate();
        QVERIFY(outside.waitForFinished(5000));
        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY2(!file.readAll().contains("udp-in"), "the probe reached the outer namespace");

        // And the outer namespace holds none of the test network's addresses.
        QProcess ip;
        ip.start("nsenter", {"--net=" + outer, "ip", "-o", "addr"});
        QVERIFY(ip.waitForFinished(5000));
        const QByteArray addrs = ip.readAllStandardOutput();
        QVERIFY(!addrs.isEmpty());
        QVERIFY(!addrs.contains("198.51.100.") && !addrs.contains("203.0.113."));
    }
};

QTEST_GUILESS_MAIN(TestDevsimUdp)
#include "test_devsim_udp.moc"
