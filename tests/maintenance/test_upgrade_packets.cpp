// The upgrade exchange's bytes and rules, without a network: headers, command texts, the
// reply rule, the image-name rule, the results of the steps, the local checks and the estimate
// of the time left.
#include <QTcpSocket>
#include <QtTest>

#include "maintenance/upgrade.h"
#include "maintenance/upgrade_packet.h"

using namespace corvane::maintenance;

Q_DECLARE_METATYPE(UpgradeStep)

namespace {

// A source of a given size that must never be read: the attempt has to stop before.
class UnreadSource : public ImageSource {
public:
    explicit UnreadSource(qint64 size) : size_(size) {}
    qint64 size() override { return size_; }
    qint64 read(char*, qint64) override {
        ++reads;
        return -1;
    }
    int reads = 0;

private:
    qint64 size_;
};

QByteArray header(PacketKind kind, quint32 payload) {
    QByteArray bytes(kHeaderBytes, '\x55');
    write_header(bytes.data(), kind, payload);
    return bytes;
}

QByteArray reply(const QByteArray& text) {
    return QByteArray(kHeaderBytes, 'H') + text;
}

}  // namespace

class TestUpgradePackets : public QObject {
    Q_OBJECT

private slots:
    void headerBytes_data();
    void headerBytes();
    void commandTexts_data();
    void commandTexts();
    void replyRule_data();
    void replyRule();
    void nameRule_data();
    void nameRule();
    void stepResults_data();
    void stepResults();
    void refusedBeforeConnecting_data();
    void refusedBeforeConnecting();
    void timeLeft_data();
    void timeLeft();
};

void TestUpgradePackets::headerBytes_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("expected");
    // Every field at its offset, little-endian, the reserved ones zero whatever was there.
    QTest::newRow("start of a 1,000,000-byte image")
        << header(PacketKind::Command, 33)
        << QByteArray::fromHex(
               "504B4748 01000000 01000000 21000000 0000000000000000 "
               "41000000 00000000");
    QTest::newRow("largest piece") << header(PacketKind::Data, quint32(kPieceBytes))
                                   << QByteArray::fromHex(
                                          "504B4748 01000000 02000000 E0FF0F00 0000000000000000 "
                                          "00001000 00000000");
    QTest::newRow("last piece of 100,000,000 bytes")
        << header(PacketKind::Data, 388320)
        << QByteArray::fromHex(
               "504B4748 01000000 02000000 E0EC0500 0000000000000000 "
               "00ED0500 00000000");
}

void TestUpgradePackets::headerBytes() {
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, expected);
    QCOMPARE(bytes.toHex(' '), expected.toHex(' '));
}

void TestUpgradePackets::commandTexts_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("start 1,000,000")
        << start_command(1000000) << QByteArray("CMD\tUPDATE\tSTART\t1000000\t5830617\t");
    QTest::newRow("start empty") << start_command(0)
                                 << QByteArray("CMD\tUPDATE\tSTART\t0\t5830617\t");
    QTest::newRow("start largest")
        << start_command(2147483647) << QByteArray("CMD\tUPDATE\tSTART\t2147483647\t5830617\t");
    QTest::newRow("finish") << finish_command() << QByteArray("CMD\tUPDATE\tFINISH\t");
    QTest::newRow("end") << end_command() << QByteArray("CMD\tUPDATE\tEND\t");
}

void TestUpgradePackets::commandTexts() {
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, expected);
    QCOMPARE(text, expected);
}

void TestUpgradePackets::replyRule_data() {
    QTest::addColumn<QByteArray>("buffer");  // the whole reply buffer
    QTest::addColumn<int>("received");       // how much of it arrived now
    QTest::addColumn<bool>("confirms");
    QTest::newRow("OK behind the header") << reply("OK") << 34 << true;
    QTest::newRow("OK inside a longer text") << reply("UPDATE OK\t") << 42 << true;
    QTest::newRow("OK only inside the header")
        << QByteArray(30, 'H') + "OK" + "FAIL" << 36 << false;
    QTest::newRow("header only") << QByteArray(32, 'O') << 32 << false;
    QTest::newRow("OK after a NUL") << reply(QByteArray("NO\0OK", 5)) << 37 << false;
    // Bytes of an earlier, longer reply still in the buffer never count.
    QTest::newRow("OK beyond the bytes received") << reply("FAILOK") << 36 << false;
    QTest::newRow("O received, K not yet") << reply("OK") << 33 << false;
    QByteArray full = reply(QByteArray(kReplyBytes - kHeaderBytes - 2, 'x') + "OK");
    QTest::newRow("full buffer without NUL, OK at its end") << full << kReplyBytes << true;
    full[kReplyBytes - 1] = 'x';
    QTest::newRow("full buffer without NUL or OK") << full << kReplyBytes << false;
}

void TestUpgradePackets::replyRule() {
    QFETCH(QByteArray, buffer);
    QFETCH(int, received);
    QFETCH(bool, confirms);
    // The whole buffer is there, as in the attempt; only `received` bytes of it are new.
    std::unique_ptr<char[]> bytes(new char[size_t(buffer.size())]);
    memcpy(bytes.get(), buffer.constData(), size_t(buffer.size()));
    QCOMPARE(reply_confirms(bytes.get(), received), confirms);
}

void TestUpgradePackets::nameRule_data() {
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("fits");
    auto row = [](const char* name, const char* type, const char* path, bool fits) {
        QTest::newRow(name) << type << path << fits;
    };
    row("TX", "TX", "/fw/update_app_tx_v3.bin", true);
    row("TX, folder name", "TX", "/fw/update_app_tx/image.bin", true);
    row("TX, other letter case", "TX", "/fw/UPDATE_APP_TX.bin", false);
    row("TX given a receiver image", "TX", "/fw/update_app_application-vwc.bin", false);
    row("RX", "RX", "C:/fw/update_app_application-vwc_2.4.bin", true);
    row("RX given a transmitter image", "RX", "/fw/update_app_tx.bin", false);
    row("KVM_RX", "KVM_RX", "/fw/update_app_application-kvm_rx.img", true);
    // The receiver image's name is no KVM receiver image, and the other way round neither.
    row("KVM_RX given a receiver image", "KVM_RX", "/fw/update_app_application-vwc.bin", false);
    row("RX given a KVM receiver image", "RX", "/fw/update_app_application-kvm_rx.img", false);
    row("empty type, any name", "", "/fw/whatever.bin", true);
    row("empty type, empty path", "", "", true);
    row("TX, empty path", "TX", "", false);
    row("other type", "4242", "/fw/whatever.bin", true);
}

void TestUpgradePackets::nameRule() {
    QFETCH(QString, type);
    QFETCH(QString, path);
    QFETCH(bool, fits);
    QCOMPARE(image_name_fits(type, path), fits);
}

void TestUpgradePackets::stepResults_data() {
    QTest::addColumn<UpgradeStep>("step");
    QTest::addColumn<int>("result");
    QTest::newRow("done") << UpgradeStep::Done << 1;
    for (UpgradeStep s :
         {UpgradeStep::Connect, UpgradeStep::StartWrite, UpgradeStep::StartReply,
          UpgradeStep::StartRefused, UpgradeStep::PieceWrite, UpgradeStep::FinishWrite,
          UpgradeStep::FinishReply, UpgradeStep::FinishRefused}) {
        QTest::addRow("network step %d", int(s)) << s << 2;
    }
    for (UpgradeStep s :
         {UpgradeStep::NameRule, UpgradeStep::FileMissing, UpgradeStep::FileUnreadable,
          UpgradeStep::FileTooLarge, UpgradeStep::FileEmpty, UpgradeStep::FileRead}) {
        QTest::addRow("file step %d", int(s)) << s << 3;
    }
    QTest::newRow("end not sent") << UpgradeStep::EndWrite << 4;
}

void TestUpgradePackets::stepResults() {
    QFETCH(UpgradeStep, step);
    QFETCH(int, result);
    QCOMPARE(result_of(step), result);
}

void TestUpgradePackets::refusedBeforeConnecting_data() {
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("address");
    QTest::addColumn<UpgradeStep>("step");
    QTest::newRow("2^31 bytes") << (qint64(1) << 31) << "127.0.0.1" << UpgradeStep::FileTooLarge;
    QTest::newRow("4 GiB + 1") << ((qint64(1) << 32) + 1) << "127.0.0.1"
                               << UpgradeStep::FileTooLarge;
    // A truncated download must never be installed.
    QTest::newRow("empty") << qint64(0) << "127.0.0.1" << UpgradeStep::FileEmpty;
    // Accepted in size, then refused as an address without any name look-up.
    QTest::newRow("2^31 - 1 bytes, host name")
        << ((qint64(1) << 31) - 1) << "device.invalid" << UpgradeStep::Connect;
    QTest::newRow("empty address") << qint64(10) << "" << UpgradeStep::Connect;
}

void TestUpgradePackets::refusedBeforeConnecting() {
    QFETCH(qint64, size);
    QFETCH(QString, address);
    QFETCH(UpgradeStep, step);
    QTcpSocket socket;
    UnreadSource source(size);
    int progressCalls = 0;
    const UpgradeOutcome outcome =
        send_image(socket, address, source, [&](const UpgradeProgress&) { ++progressCalls; });
    QCOMPARE(outcome.step, step);
    QCOMPARE(outcome.result, 3 - int(step == UpgradeStep::Connect));
    QCOMPARE(socket.state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(source.reads, 0);
    QCOMPARE(progressCalls, 0);
}

void TestUpgradePackets::timeLeft_data() {
    QTest::addColumn<QList<QPointF>>("samples");  // seconds after start, image bytes sent
    QTest::addColumn<qint64>("size");
    QTest::addColumn<double>("left");  // seconds; negative: unknown
    QTest::addColumn<double>("rate");  // bytes a second
    // A device taking 200,000 bytes a second, behind 800,000 bytes of buffers: the first piece
    // goes out at once, each later one as the device makes room.
    auto sent_at = [](qint64 sent) { return QPointF((sent - 800000) / 200000.0, double(sent)); };
    const qint64 piece = kPieceBytes;
    QTest::newRow("first piece only")
        << QList<QPointF>{sent_at(piece)} << qint64(4000000) << -1.0 << 0.0;
    QTest::newRow("two pieces of a 20 s transfer")
        << QList<QPointF>{sent_at(piece), sent_at(2 * piece)} << qint64(4000000)
        << 20 - sent_at(2 * piece).x() << 200000.0;
    QTest::newRow("every piece out, buffers still draining")
        << QList<QPointF>{sent_at(piece), sent_at(2 * piece), sent_at(3 * piece), sent_at(4000000)}
        << qint64(4000000) << 4.0 << 200000.0;
    // Never sooner than the bytes not yet sent allow, at the rate measured.
    QTest::newRow("rate rising") << QList<QPointF>{{1, 1000000}, {2, 3000000}} << qint64(10000000)
                                 << 3.5 << 2000000.0;
}

void TestUpgradePackets::timeLeft() {
    QFETCH(QList<QPointF>, samples);
    QFETCH(qint64, size);
    QFETCH(double, left);
    QFETCH(double, rate);
    TransferEstimate estimate;
    for (const QPointF& s : samples) {
        estimate.sample(s.x(), qint64(s.y()));
    }
    QVERIFY2(qAbs(estimate.seconds_left(size) - left) < 0.01,
             qPrintable(QString::number(estimate.seconds_left(size))));
    QVERIFY2(qAbs(estimate.rate() - rate) < 1, qPrintable(QString::number(estimate.rate())));
}

QTEST_GUILESS_MAIN(TestUpgradePackets)
#include "test_upgrade_packets.moc"
