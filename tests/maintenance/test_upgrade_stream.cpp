// The upgrade exchange against simulated devices on loopback (127.0.0.170-174, port 6000), from
// generated images that are never written to disk: the exact packets on the wire, the image's hash
// and size as the device counted them, and the progress reported on the way; and one attempt
// from an image file.
#include <QCryptographicHash>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include "devsim_harness.h"
#include "maintenance/upgrade.h"
#include "maintenance/upgrade_packet.h"

using namespace corvane::maintenance;
using corvane::test::Devsim;
using corvane::test::DevsimRecord;
using corvane::test::fileSha256;
using corvane::test::writeImage;

namespace {

// Pseudo-random bytes, produced piece by piece and hashed as they are handed out.
class GeneratedSource : public ImageSource {
public:
    explicit GeneratedSource(qint64 size) : size_(size) {}
    qint64 size() override { return size_; }
    qint64 read(char* into, qint64 max) override {
        const qint64 n = qMin(max, size_ - position_);
        for (qint64 i = 0; i < n; ++i) {
            state_ ^= state_ << 13;
            state_ ^= state_ >> 7;
            state_ ^= state_ << 17;
            into[i] = char(state_ >> 24);
        }
        hash_.addData(into, int(n));
        position_ += n;
        return n;
    }
    QByteArray sha256() const { return hash_.result().toHex(); }

private:
    qint64 size_;
    qint64 position_ = 0;
    quint64 state_ = 0x9E3779B97F4A7C15ull;
    QCryptographicHash hash_{QCryptographicHash::Sha256};
};

qint64 member(const DevsimRecord& r, const char* name) {
    return qint64(r.raw.value(QLatin1String(name)).toDouble());
}

}  // namespace

class TestUpgradeStream : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void imageReachesDevice_data();
    void imageReachesDevice();
    void imageFileReachesDevice();

private:
    Devsim sim_;
};

void TestUpgradeStream::initTestCase() {
    // Only port 6000 matters here: no discovery, and commands on a port nobody else uses.
    for (int i = 170; i < 175; ++i) {
        sim_.device(QStringLiteral("ip=127.0.0.%1,type=1102,restart=1").arg(i));
    }
    sim_.args({"--no-udp", "--http-port=8170"});
    QVERIFY2(sim_.start(Devsim::Where::Here), qPrintable(sim_.errorString()));
}

void TestUpgradeStream::cleanupTestCase() {
    QCOMPARE(sim_.stop(), 0);
}

void TestUpgradeStream::imageReachesDevice_data() {
    QTest::addColumn<QString>("ip");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QList<qint64>>("pieces");
    QTest::newRow("1,000,000 bytes") << "127.0.0.170" << qint64(1000000) << QList<qint64>{1000000};
    QTest::newRow("empty") << "127.0.0.171" << qint64(0) << QList<qint64>{};
    QTest::newRow("exactly one piece")
        << "127.0.0.172" << qint64(1048544) << QList<qint64>{1048544};
    QList<qint64> pieces;
    for (int i = 0; i < 95; ++i) {
        pieces << 1048544;
    }
    pieces << 388320;
    QTest::newRow("100,000,000 bytes") << "127.0.0.173" << qint64(100000000) << pieces;
}

void TestUpgradeStream::imageReachesDevice() {
    QFETCH(QString, ip);
    QFETCH(qint64, size);
    QFETCH(QList<qint64>, pieces);

    QTcpSocket socket;
    GeneratedSource image(size);
    QList<UpgradeProgress> progress;
    const UpgradeOutcome outcome =
        send_image(socket, ip, image, [&progress](const UpgradeProgress& p) { progress << p; });
    QCOMPARE(outcome.step, UpgradeStep::Done);
    QCOMPARE(outcome.result, 1);
    QCOMPARE(outcome.bytes_sent, size);
    QCOMPARE(socket.state(), QAbstractSocket::UnconnectedState);

    // The end command restarts the device; by then every packet has been logged.
    QVERIFY(sim_.waitForRecord(
        "restart-down", [&ip](const DevsimRecord& r) { return r.device == ip; }, 10000));
    const QList<DevsimRecord> packets = sim_.records("fw-packet", ip);
    QCOMPARE(packets.size(), pieces.size() + 3);

    // The simulator refuses a header whose lengths disagree with what follows it.
    QCOMPARE(packets.first().data, start_command(qint32(size)));
    for (int i = 0; i < pieces.size(); ++i) {
        const DevsimRecord& piece = packets.at(i + 1);
        QCOMPARE(member(piece, "type"), qint64(2));
        QCOMPARE(member(piece, "payload"), pieces.at(i));
        QCOMPARE(member(piece, "size"), pieces.at(i) + 32);
    }
    QCOMPARE(packets.at(packets.size() - 2).data, finish_command());
    QCOMPARE(packets.last().data, end_command());

    const QList<DevsimRecord> images = sim_.records("fw-image", ip);
    QCOMPARE(images.size(), 1);
    QCOMPARE(member(images.first(), "announced"), size);
    QCOMPARE(member(images.first(), "received"), size);
    QCOMPARE(images.first().raw.value("sha256").toString().toLatin1(), image.sha256());
    QVERIFY(images.first().raw.value("complete").toBool());

    // 0 before the first piece, 100 after the last (the values between are the panel's).
    QVERIFY(!progress.isEmpty());
    QCOMPARE(progress.first().stage, UpgradeProgress::Stage::Ready);
    QCOMPARE(progress.first().percent, 0);
    QCOMPARE(progress.last().stage, UpgradeProgress::Stage::Done);
    QCOMPARE(progress.last().percent, pieces.isEmpty() ? 0 : 100);
}

void TestUpgradeStream::imageFileReachesDevice() {
    // A folder named outside every 8-bit code page, as an operator's may be: Windows opens it
    // only through the UTF-16 file functions.
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("固件 ü")));
    const QString path = dir.filePath(QStringLiteral("固件 ü/update_app_tx.bin"));
    QVERIFY(writeImage(path, 300000));
    QTcpSocket socket;
    const UpgradeOutcome outcome = upgrade_device(socket, "127.0.0.174", "TX", path);
    QCOMPARE(outcome.step, UpgradeStep::Done);
    QCOMPARE(outcome.bytes_sent, qint64(300000));
    QVERIFY(sim_.waitForRecord(
        "fw-image", [](const DevsimRecord& r) { return r.device == "127.0.0.174"; }, 10000));
    QCOMPARE(sim_.records("fw-image").last().raw.value("sha256").toString().toLatin1(),
             fileSha256(path));
}

QTEST_GUILESS_MAIN(TestUpgradeStream)
#include "test_upgrade_stream.moc"
