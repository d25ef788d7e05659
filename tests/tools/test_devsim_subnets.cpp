// Simulated devices on the test network's other subnets (`scripts/testnet run --router
// --large`): a far subnet behind a router, which the broadcast does not reach and unicast
// does, and a /22 with a thousand devices.
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QTcpSocket>
#include <QtTest>

#include "tests/support/devsim_harness.h"

using corvane::test::Devsim;
using corvane::test::probeFrom;
using corvane::test::TestNetwork;

namespace {

const QString kNearDevice = QStringLiteral("198.51.100.10");
const QString kFarDevice = QStringLiteral("198.19.1.10");

// The devices that answered, by the address they report, each once.
QStringList answering(const QList<QNetworkDatagram>& replies) {
    QStringList ips;
    for (const QNetworkDatagram& d : replies)
        ips << corvane::test::replyIpAddr(QJsonDocument::fromJson(d.data()).object());
    return ips;
}

QList<QHostAddress> addresses(const QStringList& texts) {
    QList<QHostAddress> out;
    for (const QString& t : texts)
        out << QHostAddress(t);
    return out;
}

}  // namespace

class TestDevsimSubnets : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (!TestNetwork::active())
            QSKIP("needs the test network (scripts/testnet run --router --large)");
        QVERIFY2(!TestNetwork::farNetns().isEmpty(), "needs scripts/testnet run --router");
        QCOMPARE(TestNetwork::largeAddresses().size(), 1000);
    }

    // The far device answers only what is addressed to it; the near one shows that every
    // probe went out.
    void routedDiscovery_data() {
        QTest::addColumn<QString>("to");
        QTest::addColumn<QStringList>("answers");
        QTest::newRow("limited broadcast") << "255.255.255.255" << QStringList{kNearDevice};
        QTest::newRow("far subnet's directed broadcast") << "198.19.1.255" << QStringList{};
        QTest::newRow("unicast to the far device") << kFarDevice << QStringList{kFarDevice};
        QTest::newRow("unicast to a far address without a device")
            << "198.19.1.12" << QStringList{};
        QTest::newRow("unicast to the near device") << kNearDevice << QStringList{kNearDevice};
    }
    void routedDiscovery() {
        QFETCH(QString, to);
        QFETCH(QStringList, answers);
        Devsim near;
        near.device("ip=" + kNearDevice);
        QVERIFY2(near.start(Devsim::Where::DeviceHost), qPrintable(near.errorString()));
        Devsim far;
        far.device("ip=" + kFarDevice).device("ip=198.19.1.11,type=307");
        QVERIFY2(far.start(Devsim::Where::FarHost), qPrintable(far.errorString()));
        const QList<QNetworkDatagram> replies =
            probeFrom(QHostAddress(TestNetwork::toolAddresses().value(0)), 700, {QHostAddress(to)});
        QCOMPARE(answering(replies), answers);
        // The probe reached the far host only when it was sent to one of its addresses.
        const bool reached = to.startsWith("198.19.1.") && to != "198.19.1.255";
        QCOMPARE(!far.records("udp-in").isEmpty(), reached);
    }

    void farDeviceTakesCommandsAndFirmware() {
        Devsim far;
        far.device("ip=" + kFarDevice);
        QVERIFY2(far.start(Devsim::Where::FarHost), qPrintable(far.errorString()));
        QTcpSocket http;
        http.connectToHost(kFarDevice, 80);
        QVERIFY2(http.waitForConnected(3000), qPrintable(http.errorString()));
        const QByteArray body = R"({"ProtocolCode":3052})";
        http.write("POST / HTTP/1.1\r\nHost: " + kFarDevice.toLatin1() + "\r\nContent-Length: " +
                   QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        QByteArray answer;
        while (http.waitForReadyRead(3000))
            answer += http.readAll();
        QVERIFY2(answer.startsWith("HTTP/1.1 200") && answer.contains("\"AudioIn\""),
                 answer.constData());
        // The answer went back through the router to the tool's own address.
        QCOMPARE(far.records("http-in").value(0).peer.section(':', 0, 0),
                 TestNetwork::toolAddresses().value(0));
        QTcpSocket firmware;
        firmware.connectToHost(kFarDevice, 6000);
        QVERIFY2(firmware.waitForConnected(3000), qPrintable(firmware.errorString()));
    }

    // A thousand devices on one /22, reached by one broadcast or one probe each. Their
    // 3,000 sockets need more descriptors than the usual soft limit of 1,024.
    void thousandDevices_data() {
        QTest::addColumn<QStringList>("launcher");
        QTest::addColumn<bool>("unicast");
        QTest::addColumn<QString>("refusal");  // the simulator's message when it cannot start
        QTest::newRow("broadcast") << QStringList{} << false << "";
        QTest::newRow("unicast to each") << QStringList{} << true << "";
        QTest::newRow("soft descriptor limit 512")
            << QStringList{"prlimit", "--nofile=512:8192"} << false << "";
        QTest::newRow("hard descriptor limit 512")
            << QStringList{"prlimit", "--nofile=512:512"} << false
            << "512 descriptors allowed, 1000 devices may need 4064";
    }
    void thousandDevices() {
        QFETCH(QStringList, launcher);
        QFETCH(bool, unicast);
        QFETCH(QString, refusal);
        const QStringList large = TestNetwork::largeAddresses();
        Devsim sim;
        sim.launcher(launcher).args({"--fleet", "1000", "--addresses", large.join(' ')});
        const bool started = sim.start(Devsim::Where::DeviceHost, 60000);
        if (!refusal.isEmpty()) {
            QVERIFY(!started);
            QVERIFY2(sim.errorString().contains(refusal), qPrintable(sim.errorString()));
            return;
        }
        QVERIFY2(started, qPrintable(sim.errorString()));
        const QHostAddress tool(qEnvironmentVariable("CORVANE_LARGE_TOOL_ADDR"));
        QCOMPARE(tool, QHostAddress("198.18.0.1"));
        const QList<QNetworkDatagram> replies =
            unicast ? probeFrom(tool, 3000, addresses(large)) : probeFrom(tool, 3000);
        QStringList senders;
        for (const QNetworkDatagram& d : replies)
            senders << d.senderAddress().toString();
        QCOMPARE(answering(replies), senders);  // each from the address it reports
        senders.sort();
        senders.removeDuplicates();
        QCOMPARE(replies.size(), 1000);
        QCOMPARE(senders.size(), 1000);
        QCOMPARE(sim.stop(), 0);
    }
};

QTEST_GUILESS_MAIN(TestDevsimSubnets)
#include "test_devsim_subnets.moc"
