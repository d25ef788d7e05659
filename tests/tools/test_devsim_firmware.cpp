// The simulator's firmware port (TCP 6000), inside the private test network: strict packet
// checks, its replies, and the restart that follows the end command. Each fault mode is
// checked through the tool's reaction to it, in the upgrade panel's tests.
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QTcpSocket>
#include <QtEndian>
#include <QtTest>

#include "tests/support/devsim_harness.h"

using corvane::test::Devsim;
using corvane::test::DevsimRecord;
using corvane::test::probeFrom;
using corvane::test::TestNetwork;

namespace {

// Built here byte by byte, independent of the tool's own packet code.
QByteArray packet(quint32 kind, const QByteArray& payload, quint32 version = 1,
                  const char* magic = "PKGH") {
    char h[32] = {};
    memcpy(h, magic, 4);
    qToLittleEndian<quint32>(version, h + 4);
    qToLittleEndian<quint32>(kind, h + 8);
    qToLittleEndian<quint32>(quint32(payload.size()), h + 12);
    qToLittleEndian<quint32>(quint32(payload.size() + 32), h + 24);
    return QByteArray(h, 32) + payload;
}

QByteArray start(int size) {
    return packet(1, "CMD\tUPDATE\tSTART\t" + QByteArray::number(size) + "\t5830617\t");
}
const QByteArray kFinish = packet(1, "CMD\tUPDATE\tFINISH\t");
const QByteArray kEnd = packet(1, "CMD\tUPDATE\tEND\t");

QByteArray patched(QByteArray bytes, int offset, quint32 value) {
    char field[4];
    qToLittleEndian<quint32>(value, field);
    return bytes.replace(offset, 4, field, 4);
}

// A client of one device's port 6000.
struct Client {
    QTcpSocket socket;
    bool open(const QString& ip) {
        socket.connectToHost(ip, 6000);
        return socket.waitForConnected(3000);
    }
    // Sends, then reads one reply (header and text) within `ms`.
    QByteArray exchange(const QByteArray& bytes, int ms = 3000) {
        socket.write(bytes);
        socket.waitForBytesWritten(3000);
        QByteArray reply;
        while (reply.size() < 34 && socket.waitForReadyRead(ms)) {
            reply += socket.readAll();
        }
        return reply + socket.readAll();
    }
    bool closedByPeer(int ms = 5000) {
        if (socket.state() == QAbstractSocket::UnconnectedState) {
            return true;
        }
        return socket.waitForDisconnected(ms);
    }
};

}  // namespace

class TestDevsimFirmware : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void violations_data();
    void violations();
    void replies_data();
    void replies();
    void restartAfterEnd_data();
    void restartAfterEnd();
    void finishDelay_data();
    void finishDelay();
    void parallelConnections();

private:
    Devsim sim_;
};

void TestDevsimFirmware::initTestCase() {
    QVERIFY2(TestNetwork::active(), "run through scripts/testnet");
    const QString restarting = QStringLiteral(",fw-version=V9.9.9_20250101,uptime=90000,restart=2");
    sim_.device("ip=198.51.100.80")
        .device("ip=198.51.100.85" + restarting)
        .device("ip=198.51.100.86,fw=slow,fw-rate=65536" + restarting)
        .device("ip=198.51.100.87,version=V3.0.1_20240101,uptime=90000,restart=2")
        .device("ip=198.51.100.90,fw-finish-delay=800")
        .device("ip=198.51.100.91,fw=finish-refuse,fw-finish-delay=800")
        .device("ip=198.51.100.92,fw=finish-late,fw-delay=300,fw-finish-delay=500")
        .device("ip=198.51.100.93")
        .device("ip=198.51.100.94,fw-finish-delay=6000");
    QVERIFY2(sim_.start(), qPrintable(sim_.errorString()));
}

void TestDevsimFirmware::cleanupTestCase() {
    QCOMPARE(sim_.stop(), 0);
}

void TestDevsimFirmware::violations_data() {
    QTest::addColumn<QByteArray>("opening");  // sent first, answered with OK
    QTest::addColumn<QByteArray>("bad");
    QTest::addColumn<QString>("reason");
    const QByteArray none;
    const QByteArray started = start(4);
    QTest::newRow("magic") << none << packet(1, "x", 1, "PKGX") << "magic is not PKGH";
    QTest::newRow("version") << none << packet(1, "x", 2) << "version 2";
    QTest::newRow("kind") << none << packet(3, "x") << "kind 3";
    QTest::newRow("reserved at 16")
        << none << patched(start(4), 16, 1) << "reserved bytes are not zero";
    QTest::newRow("reserved at 28")
        << none << patched(start(4), 28, 1) << "reserved bytes are not zero";
    QTest::newRow("packet length")
        << none << patched(start(4), 24, 66) << "packet length 66 for a payload of 27";
    QTest::newRow("over 1 MiB") << started << packet(2, QByteArray(1048545, 'x'))
                                << "packet of 1048577 bytes is over 1 MiB";
    QTest::newRow("empty payload") << started << packet(2, QByteArray()) << "empty payload";
    QTest::newRow("data before start")
        << none << packet(2, "abcd") << "image data outside start and finish";
    QTest::newRow("finish before start") << none << kFinish << "finish without start";
    QTest::newRow("end before finish") << started << kEnd << "end before finish";
    QTest::newRow("start twice") << started << start(4) << "start after start";
    QTest::newRow("start without its last tab")
        << none << packet(1, "CMD\tUPDATE\tSTART\t4\t5830617") << "unknown command";
    QTest::newRow("unknown command")
        << none << packet(1, "CMD\tUPDATE\tSTOP\t") << "unknown command";
}

void TestDevsimFirmware::violations() {
    QFETCH(QByteArray, opening);
    QFETCH(QByteArray, bad);
    QFETCH(QString, reason);
    const int before = sim_.records("fw-bad").size();
    Client c;
    QVERIFY(c.open("198.51.100.80"));
    if (!opening.isEmpty()) {
        QVERIFY(c.exchange(opening).endsWith("OK"));
    }
    c.socket.write(bad);
    QVERIFY(c.closedByPeer());
    QVERIFY(sim_.waitForRecord(
        "fw-close", [](const DevsimRecord& r) { return r.raw.value("fault") == "bad-packet"; },
        3000));
    const QList<DevsimRecord> bads = sim_.records("fw-bad").mid(before);
    QCOMPARE(bads.size(), 1);
    QCOMPARE(bads.first().raw.value("reason").toString(), reason);
}

void TestDevsimFirmware::replies_data() {
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<int>("announced");
    QTest::addColumn<QByteArray>("finishText");
    QTest::addColumn<bool>("complete");
    QTest::newRow("sound device") << QByteArray("abcdef") << 6 << QByteArray("OK") << true;
    QTest::newRow("fewer bytes than announced")
        << QByteArray("abc") << 6 << QByteArray("FAIL") << false;
}

void TestDevsimFirmware::replies() {
    QFETCH(QByteArray, image);
    QFETCH(int, announced);
    QFETCH(QByteArray, finishText);
    QFETCH(bool, complete);
    const int images = sim_.records("fw-image").size();
    Client c;
    QVERIFY(c.open("198.51.100.80"));
    // Replies carry a 32-byte header of the same form as the tool's packets.
    QCOMPARE(c.exchange(start(announced)), packet(1, "OK"));
    c.socket.write(packet(2, image));
    QCOMPARE(c.exchange(kFinish), packet(1, finishText));
    const QList<DevsimRecord> logged = sim_.records("fw-image").mid(images);
    QCOMPARE(logged.size(), 1);
    QCOMPARE(logged.first().raw.value("received").toInt(), image.size());
    QCOMPARE(logged.first().raw.value("announced").toInt(), announced);
    QCOMPARE(logged.first().raw.value("complete").toBool(), complete);
    QCOMPARE(logged.first().raw.value("sha256").toString().toLatin1(),
             QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex());
}

void TestDevsimFirmware::restartAfterEnd_data() {
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("version");  // "SoftVersion" once back
    QTest::newRow("normal reader") << "198.51.100.85"
                                   << "V9.9.9_20250101";
    // Still holds the end command in its buffer when the client has closed.
    QTest::newRow("slow reader") << "198.51.100.86"
                                 << "V9.9.9_20250101";
    QTest::newRow("same version") << "198.51.100.87"
                                  << "V3.0.1_20240101";
}

void TestDevsimFirmware::restartAfterEnd() {
    QFETCH(QString, ip);
    QFETCH(QString, version);
    const QHostAddress tool(TestNetwork::toolAddresses().value(0));
    Client c;
    QVERIFY(c.open(ip));
    QVERIFY(c.exchange(start(3)).endsWith("OK"));
    c.socket.write(packet(2, "abc"));
    QVERIFY(c.exchange(kFinish).endsWith("OK"));
    // As the tool does: the end command, then the close at once.
    c.socket.write(kEnd);
    QVERIFY(c.socket.waitForBytesWritten(3000));
    c.socket.disconnectFromHost();

    // Silent while it restarts, then back with the new version and its up-time reset.
    QVERIFY(sim_.waitForRecord(
        "restart-down", [&ip](const DevsimRecord& r) { return r.device == ip; }, 3000));
    auto answersFrom = [&](const QList<QNetworkDatagram>& all) {
        QList<QJsonObject> mine;
        for (const QNetworkDatagram& d : all) {
            if (d.senderAddress().toString() == ip) {
                mine << QJsonDocument::fromJson(d.data()).object();
            }
        }
        return mine;
    };
    QVERIFY(answersFrom(probeFrom(tool, 300)).isEmpty());
    QVERIFY(sim_.waitForRecord(
        "restart-up", [&ip](const DevsimRecord& r) { return r.device == ip; }, 5000));
    const QList<QJsonObject> back = answersFrom(probeFrom(tool, 500));
    QCOMPARE(back.size(), 1);
    QCOMPARE(back.first().value("SoftVersion").toString(), version);
    QVERIFY2(back.first().value("UpTime").toString().startsWith("0d 00:00:0"),
             qPrintable(back.first().value("UpTime").toString()));
}

void TestDevsimFirmware::finishDelay_data() {
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QByteArray>("finishText");
    QTest::addColumn<int>("delayMs");  // the reply comes no sooner
    QTest::newRow("install time") << "198.51.100.90" << QByteArray("OK") << 800;
    QTest::newRow("install time, then a refusal") << "198.51.100.91" << QByteArray("FAIL") << 800;
    QTest::newRow("install time and lateness") << "198.51.100.92" << QByteArray("OK") << 800;
}

void TestDevsimFirmware::finishDelay() {
    QFETCH(QString, ip);
    QFETCH(QByteArray, finishText);
    QFETCH(int, delayMs);
    Client c;
    QVERIFY(c.open(ip));
    QCOMPARE(c.exchange(start(3)), packet(1, "OK"));
    c.socket.write(packet(2, "abc"));
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(c.exchange(kFinish, 10000), packet(1, finishText));
    QVERIFY2(clock.elapsed() >= delayMs, qPrintable(QString::number(clock.elapsed())));
}

// Upgrades of several devices at once: images sent in turns over two connections both
// arrive whole, and a device installing (its finish reply pending) holds up no other.
void TestDevsimFirmware::parallelConnections() {
    const int images = sim_.records("fw-image").size();
    Client installing;
    QVERIFY(installing.open("198.51.100.94"));
    QVERIFY(installing.exchange(start(3)).endsWith("OK"));
    installing.socket.write(packet(2, "abc") + kFinish);
    QVERIFY(installing.socket.waitForBytesWritten(3000));

    Client a;
    Client b;
    QVERIFY(a.open("198.51.100.80") && b.open("198.51.100.93"));
    const QByteArray imageA(1 << 20, 'a');
    const QByteArray imageB(1 << 20, 'b');
    QVERIFY(a.exchange(start(imageA.size())).endsWith("OK"));
    QVERIFY(b.exchange(start(imageB.size())).endsWith("OK"));
    const int piece = 64 * 1024;
    for (int at = 0; at < imageA.size(); at += piece) {
        a.socket.write(packet(2, imageA.mid(at, piece)));
        b.socket.write(packet(2, imageB.mid(at, piece)));
        QVERIFY(a.socket.waitForBytesWritten(3000) && b.socket.waitForBytesWritten(3000));
    }
    QCOMPARE(a.exchange(kFinish), packet(1, "OK"));
    QCOMPARE(b.exchange(kFinish), packet(1, "OK"));
    QCOMPARE(installing.exchange(QByteArray(), 15000), packet(1, "OK"));

    QHash<QString, QString> hashes;
    for (const DevsimRecord& r : sim_.records("fw-image").mid(images))
        hashes.insert(r.device, r.raw.value("sha256").toString());
    QCOMPARE(hashes.value("198.51.100.80").toLatin1(),
             QCryptographicHash::hash(imageA, QCryptographicHash::Sha256).toHex());
    QCOMPARE(hashes.value("198.51.100.93").toLatin1(),
             QCryptographicHash::hash(imageB, QCryptographicHash::Sha256).toHex());
    // The installing device answered last, after the two that started later.
    const QList<DevsimRecord> out = sim_.records("fw-out");
    QCOMPARE(out.last().device, QStringLiteral("198.51.100.94"));
}

QTEST_GUILESS_MAIN(TestDevsimFirmware)
#include "test_devsim_firmware.moc"
