// The simulator's discovery side, inside the private test network: the test is the tool
// host and talks to devices in the device host.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QProcess>
#include <QtTest>

#include "devsim_harness.h"

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
    return asObject(d.data())
        .value(QStringLiteral("NetConfig"))
        .toArray()
        .at(0)
        .toObject()
        .value(QStringLiteral("IpAddr"))
        .toString();
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
        QCOMPARE(in.first().peer.section(':', 0, 0), toolAddress().toString());
    }
};

QTEST_GUILESS_MAIN(TestDevsimUdp)
#include "test_devsim_udp.moc"
