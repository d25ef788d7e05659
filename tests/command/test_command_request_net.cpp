// The command request inside the private test network: simulated devices in the device host,
// and the silent host whose TCP connects never complete.
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QtTest>

#include "command/command_request.h"
#include "tests/support/devsim_harness.h"

using corvane::test::Devsim;
using corvane::test::DevsimRecord;
using corvane::test::TestNetwork;

class TestCommandRequestNet : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void exactBytesReachTheDevice();
    void deviceFaults_data();
    void deviceFaults();
    void silentHostGivesUpAfterThreeEmptyPolls();

private:
    Devsim sim_;
};

void TestCommandRequestNet::initTestCase() {
    QVERIFY2(TestNetwork::active(), "runs inside scripts/testnet");
    sim_.arg("--no-udp")
        .device("ip=198.51.100.20,type=307")
        .device("ip=198.51.100.21,type=1102,http=bad-request")
        .device("ip=198.51.100.22,type=1102,http=hang")
        .device("ip=198.51.100.23,type=1102,http=slow,http-piece=16,http-interval=100")
        .device("ip=198.51.100.24,type=1102,http=close")
        .device("ip=198.51.100.25,type=1102,http=size,http-size=5000")
        .device("ip=198.51.100.26,type=1102,http=empty");
    QVERIFY2(sim_.start(Devsim::Where::DeviceHost), qPrintable(sim_.errorString()));
}

void TestCommandRequestNet::cleanupTestCase() {
    sim_.stop();
}

void TestCommandRequestNet::exactBytesReachTheDevice() {
    const QByteArray body =
        "{\n\t\"ProtocolCode\":\t1034,\n\t\"Parameters\":\t{\n\t\t\"DisplayId\":\t1\n\t}\n}";
    char reply[1024] = {};
    QCOMPARE(send_http_cmd("198.51.100.20", body.constData(), reply, sizeof reply), 0);

    QVERIFY(sim_.waitForRecord(
        "http-in", [](const DevsimRecord& r) { return r.device == "198.51.100.20"; }, 3000));
    const DevsimRecord in = sim_.records("http-in").last();
    QCOMPARE(in.data, "POST / HTTP/1.1\r\nHost: 198.51.100.20\r\nContent-Length: " +
                          QByteArray::number(body.size()) + "\r\n\r\n" + body);
    QCOMPARE(in.code, 1034);

    const DevsimRecord out = sim_.records("http-out").last();
    QCOMPARE(QByteArray(reply), out.data);
    const QJsonObject answer = QJsonDocument::fromJson(reply).object();
    QCOMPARE(answer.value("ProtocolCode").toInt(), 1034);
    QCOMPARE(answer.value("Parameters").toObject().value("DisplayId").toInt(), 1);
}

void TestCommandRequestNet::deviceFaults_data() {
    QTest::addColumn<QByteArray>("address");
    QTest::addColumn<int>("min_ms");
    QTest::addColumn<int>("max_ms");
    QTest::addColumn<int>("reply_size");  // -1: the size of the device's answer as logged

    QTest::newRow("status 400 with body") << QByteArray("198.51.100.21") << 0 << 1000 << -1;
    QTest::newRow("hang") << QByteArray("198.51.100.22") << 1400 << 3000 << 0;
    QTest::newRow("slow pieces") << QByteArray("198.51.100.23") << 0 << 20000 << -1;
    QTest::newRow("close at once") << QByteArray("198.51.100.24") << 0 << 1000 << 0;
    QTest::newRow("5000 bytes cut to the buffer")
        << QByteArray("198.51.100.25") << 0 << 1000 << 4095;
    QTest::newRow("empty body") << QByteArray("198.51.100.26") << 0 << 1000 << 0;
    // Loosely written HTTP: test_command_request reads the exact bytes, test_devsim_http checks
    // that the simulator's modes send them.
}

void TestCommandRequestNet::deviceFaults() {
    QFETCH(QByteArray, address);
    QFETCH(int, min_ms);
    QFETCH(int, max_ms);
    QFETCH(int, reply_size);

    char reply[4096];
    memset(reply, 'q', sizeof reply);
    QElapsedTimer timer;
    timer.start();
    send_http_cmd(address.constData(), "{\n\t\"ProtocolCode\":\t3052\n}", reply, sizeof reply);
    const qint64 elapsed = timer.elapsed();
    QVERIFY2(elapsed >= min_ms && elapsed < max_ms, qPrintable(QString::number(elapsed)));

    if (reply_size < 0) {
        QVERIFY(sim_.waitForRecord(
            "http-out", [&](const DevsimRecord& r) { return r.device == address; }, 3000));
        QByteArray logged;
        for (const DevsimRecord& r : sim_.records("http-out")) {
            if (r.device == address)
                logged = r.data;
        }
        QVERIFY(!logged.isEmpty());
        QCOMPARE(QByteArray(reply), logged);
    } else {
        QCOMPARE(int(strlen(reply)), reply_size);
    }
}

void TestCommandRequestNet::silentHostGivesUpAfterThreeEmptyPolls() {
    const QByteArray silent = TestNetwork::silentAddress().toLatin1();
    QVERIFY(!silent.isEmpty());
    char reply[64] = "unchanged";
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(send_http_cmd(silent.constData(), "{\"ProtocolCode\":1002}", reply, sizeof reply), 0);
    const qint64 elapsed = timer.elapsed();
    QVERIFY2(elapsed >= 1400 && elapsed < 3000, qPrintable(QString::number(elapsed)));
    QCOMPARE(reply[0], '\0');
}

QTEST_GUILESS_MAIN(TestCommandRequestNet)
#include "test_command_request_net.moc"
