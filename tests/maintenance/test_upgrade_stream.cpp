// The upgrade exchange against simulated devices on loopback (127.0.0.170-174, port 6000), from
// generated images that are never written to disk: the exact packets on the wire, the image's hash
// and size as the device counted them, and the progress reported on the way; attempts from an
// image file; hostile peers and a listener for misread addresses on 127.0.0.179.
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QtEndian>
#include <QtTest>

#include <atomic>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include "maintenance/batch.h"
#include "maintenance/upgrade.h"
#include "maintenance/upgrade_packet.h"
#include "tests/support/devsim_harness.h"

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
        if (n == 0 && at_end) {
            at_end();
        }
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
    std::function<void()> at_end;  // runs when the end of the image is read

private:
    qint64 size_;
    qint64 position_ = 0;
    quint64 state_ = 0x9E3779B97F4A7C15ull;
    QCryptographicHash hash_{QCryptographicHash::Sha256};
};

qint64 member(const DevsimRecord& r, const char* name) {
    return qint64(r.raw.value(QLatin1String(name)).toDouble());
}

enum class PeerScript {
    PiecesOkFinishFail,  // answers start and every piece with "OK", finish with "FAIL"
    PushesFinishFail,    // answers start, then sends without pause; finish gets "FAIL"
    CutsMidImage,        // resets the connection once 200,000 bytes of the image came
    StopsReading,        // answers start, then reads nothing more
    ClosesAtStart,       // closes instead of answering start
};

// A hostile device on port 6000 of one loopback address, in a thread of its own (the attempt
// blocks the test's thread): it parses the tool's packets and acts as its script says.
class FirmwarePeer {
public:
    FirmwarePeer(const QString& ip, PeerScript script, qint64 push_bytes = 0)
        : script_(script), push_bytes_(push_bytes) {
        std::promise<bool> listening;
        ready_ = listening.get_future();
        thread_ =
            std::thread([this, ip, p = std::move(listening)]() mutable { run(ip, std::move(p)); });
    }
    ~FirmwarePeer() {
        stop_ = true;
        thread_.join();
    }
    bool listening() { return ready_.get(); }

    std::atomic<int> pieces_answered{0};
    std::atomic<qint64> pushed{0};  // bytes the system took from the peer
    QStringList commands() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return commands_;
    }

private:
    void run(const QString& ip, std::promise<bool> listening) {
        QTcpServer server;
        listening.set_value(server.listen(QHostAddress(ip), kUpgradePort));
        if (!server.isListening() || !server.waitForNewConnection(10000)) {
            return;
        }
        QTcpSocket* s = server.nextPendingConnection();
        QElapsedTimer alive;
        alive.start();
        QByteArray in;
        qint64 image = 0;
        qint64 junk = 0;  // bytes of the push written to the socket
        bool pushing = false;
        auto reply = [&](const QByteArray& text) {
            QByteArray bytes(kHeaderBytes, '\0');
            write_header(bytes.data(), PacketKind::Command, quint32(text.size()));
            s->write(bytes + text);
            s->flush();
        };
        while (!stop_ && alive.elapsed() < 30000 && s->state() == QAbstractSocket::ConnectedState) {
            if (pushing && junk < push_bytes_ && s->bytesToWrite() < 65536) {
                junk += s->write(QByteArray(int(qMin<qint64>(65536, push_bytes_ - junk)), 'x'));
            }
            if (script_ == PeerScript::StopsReading && !commands().isEmpty()) {
                // Without a wait call nothing reads: the system's buffers fill and stay full.
                QThread::msleep(20);
                continue;
            }
            s->waitForReadyRead(5);
            pushed = qMax<qint64>(0, junk - s->bytesToWrite());
            in += s->readAll();
            while (in.size() >= kHeaderBytes) {
                const qint64 payload = qFromLittleEndian<quint32>(in.constData() + 12);
                const bool data = qFromLittleEndian<quint32>(in.constData() + 8) == 2;
                if (data && script_ == PeerScript::CutsMidImage &&
                    image + in.size() - kHeaderBytes >= 200000) {
                    s->abort();
                    return;
                }
                if (in.size() < kHeaderBytes + payload) {
                    break;
                }
                const QByteArray text = in.mid(kHeaderBytes, int(payload));
                in.remove(0, int(kHeaderBytes + payload));
                if (data) {
                    image += payload;
                    if (script_ == PeerScript::PiecesOkFinishFail) {
                        // Late enough to miss what the tool throws away while it sends.
                        QThread::msleep(50);
                        reply("OK");
                        ++pieces_answered;
                    }
                    continue;
                }
                const QString command = QString::fromLatin1(text).section('\t', 2, 2);
                {
                    const std::lock_guard<std::mutex> lock(mutex_);
                    commands_ << command;
                }
                if (command == QLatin1String("START") && script_ == PeerScript::ClosesAtStart) {
                    s->close();
                    return;
                }
                if (command == QLatin1String("START")) {
                    reply("OK");
                    pushing = script_ == PeerScript::PushesFinishFail;
                } else if (command == QLatin1String("FINISH")) {
                    pushing = false;
                    reply("FAIL");
                }
            }
        }
    }

    PeerScript script_;
    qint64 push_bytes_;
    std::future<bool> ready_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    QStringList commands_;
};

const QString kPeer = QStringLiteral("127.0.0.179");

}  // namespace

Q_DECLARE_METATYPE(PeerScript)
Q_DECLARE_METATYPE(UpgradeStep)

class TestUpgradeStream : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void imageReachesDevice_data();
    void imageReachesDevice();
    void imageFileReachesDevice();
    void hostilePeers_data();
    void hostilePeers();
    void imageChangesWhileSent_data();
    void imageChangesWhileSent();
    void onlyCanonicalAddresses_data();
    void onlyCanonicalAddresses();
    void batchInTurn();

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
    QCOMPARE(progress.last().percent, 100);
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

void TestUpgradeStream::hostilePeers_data() {
    QTest::addColumn<PeerScript>("script");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<qint64>("push");  // bytes the peer sends unasked
    QTest::addColumn<UpgradeStep>("step");
    QTest::addColumn<bool>("closed");
    QTest::addColumn<QStringList>("commands");  // what the peer received
    const QStringList finished{"START", "FINISH"};
    // The pieces' "OK"s arrived before the finish command: none of them answers it.
    QTest::newRow("pieces answered OK, finish refused")
        << PeerScript::PiecesOkFinishFail << qint64(3000000) << qint64(0)
        << UpgradeStep::FinishRefused << false << finished;
    QTest::newRow("sends 6 MiB unasked")
        << PeerScript::PushesFinishFail << qint64(32 << 20) << qint64(6 << 20)
        << UpgradeStep::FinishRefused << false << finished;
    QTest::newRow("cut at 200,000 bytes")
        << PeerScript::CutsMidImage << qint64(3000000) << qint64(0) << UpgradeStep::PieceWrite
        << true << QStringList{"START"};
    QTest::newRow("image not taken") << PeerScript::StopsReading << qint64(48 << 20) << qint64(0)
                                     << UpgradeStep::PieceWrite << false << QStringList{"START"};
    QTest::newRow("closed instead of a start reply")
        << PeerScript::ClosesAtStart << qint64(1000) << qint64(0) << UpgradeStep::StartReply << true
        << QStringList{"START"};
}

void TestUpgradeStream::hostilePeers() {
    QFETCH(PeerScript, script);
    QFETCH(qint64, size);
    QFETCH(qint64, push);
    QFETCH(UpgradeStep, step);
    QFETCH(bool, closed);
    QFETCH(QStringList, commands);

    FirmwarePeer peer(kPeer, script, push);
    QVERIFY2(peer.listening(), "port 6000 of 127.0.0.179 is taken");
    GeneratedSource image(size);
    const int pieces = int((size + kPieceBytes - 1) / kPieceBytes);
    if (script == PeerScript::PiecesOkFinishFail) {
        // Every piece's "OK" has reached the tool before it writes the finish command.
        image.at_end = [&peer, pieces] {
            QElapsedTimer waited;
            waited.start();
            while (peer.pieces_answered < pieces && waited.elapsed() < 10000) {
                QThread::msleep(5);
            }
        };
    }
    QTcpSocket socket;
    qint64 held = 0;  // the most the socket held of what the peer sent
    const UpgradeOutcome outcome = send_image(
        socket, kPeer, image,
        [&socket, &held](const UpgradeProgress&) { held = qMax(held, socket.bytesAvailable()); },
        UpgradeWaits{2000, 1000});

    QCOMPARE(outcome.step, step);
    QCOMPARE(outcome.connection_closed, closed);
    QCOMPARE(socket.state(), QAbstractSocket::UnconnectedState);
    QVERIFY2(held <= kHeldReceiveBytes, qPrintable(QString::number(held)));
    // The pushing peer got its megabytes out, and the tool threw them away as they came.
    QVERIFY2(peer.pushed >= push / 2, qPrintable(QString::number(peer.pushed)));
    QTRY_COMPARE_WITH_TIMEOUT(peer.commands(), commands, 5000);
    if (script == PeerScript::PiecesOkFinishFail) {
        QCOMPARE(peer.pieces_answered.load(), pieces);
    }
}

void TestUpgradeStream::imageChangesWhileSent_data() {
    QTest::addColumn<qint64>("change");  // bytes added to or taken from the file
    QTest::addColumn<qint64>("sent");    // image bytes that went out before it was noticed
    QTest::newRow("grows") << qint64(1000) << 2 * qint64(kPieceBytes);
    QTest::newRow("shrinks") << qint64(-1000) << 2 * qint64(kPieceBytes) + 4000;
}

void TestUpgradeStream::imageChangesWhileSent() {
    QFETCH(qint64, change);
    QFETCH(qint64, sent);
    const QString ip = QStringLiteral("127.0.0.171");
    QTemporaryDir dir;
    const QString path = dir.filePath("update_app_tx.bin");
    const qint64 size = 2 * qint64(kPieceBytes) + 5000;
    QVERIFY(writeImage(path, size));
    const int finishes = sim_.records("fw-image", ip).size();
    const int closes = sim_.records("fw-close").size();

    QFile file(path);
    QTcpSocket socket;
    const UpgradeOutcome outcome =
        upgrade_device(socket, ip, "TX", path, [&](const UpgradeProgress& p) {
            // Once the first piece went out, as a download still writing it would.
            if (p.bytes_sent > 0 && !file.isOpen()) {
                QVERIFY(file.open(QIODevice::ReadWrite));
                QVERIFY(file.resize(size + change));
            }
        });
    QCOMPARE(outcome.step, UpgradeStep::FileRead);
    QCOMPARE(outcome.result, 3);
    QCOMPARE(outcome.bytes_sent, sent);
    QCOMPARE(socket.state(), QAbstractSocket::UnconnectedState);
    // The device never got to the finish command.
    QTRY_COMPARE_WITH_TIMEOUT(sim_.records("fw-close", ip, closes).size(), 1, 5000);
    QCOMPARE(sim_.records("fw-image", ip).size(), finishes);
}

void TestUpgradeStream::onlyCanonicalAddresses_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("connects");
    QTest::newRow("canonical") << "127.0.0.179" << true;
    // Each of these is read by Qt as 127.0.0.179.
    QTest::newRow("leading zeros, octal") << "127.000.000.0263" << false;
    QTest::newRow("octal part") << "127.0.0.0263" << false;
    QTest::newRow("three parts") << "127.0.179" << false;
    QTest::newRow("one number") << "2130706611" << false;
    QTest::newRow("hexadecimal part") << "127.0.0.0xb3" << false;
}

void TestUpgradeStream::onlyCanonicalAddresses() {
    QFETCH(QString, address);
    QFETCH(bool, connects);
    QTcpServer listener;
    QVERIFY2(listener.listen(QHostAddress(kPeer), kUpgradePort),
             "port 6000 of 127.0.0.179 is taken");
    QTcpSocket socket;
    GeneratedSource image(1000);
    const UpgradeOutcome outcome = send_image(socket, address, image, {}, UpgradeWaits{2000, 200});
    // Connected, the listener never answers start.
    QCOMPARE(outcome.step, connects ? UpgradeStep::StartReply : UpgradeStep::Connect);
    QCOMPARE(listener.waitForNewConnection(connects ? 2000 : 200), connects);
}

// The batch: its devices in order with the pause after each attempt, one passed by at the front
// end's word, each reported as it goes, and a cancel during a device that stops it before the
// next one.
void TestUpgradeStream::batchInTurn() {
    QTemporaryDir dir;
    const QString path = dir.filePath("update_app_tx.bin");
    QVERIFY(writeImage(path, 300000));
    // Devices back from the restarts of the cases before.
    for (const QString ip : {"127.0.0.172", "127.0.0.174"}) {
        QVERIFY(sim_.waitForRecord(
            "restart-up", [&ip](const DevsimRecord& r) { return r.device == ip; }, 10000));
    }
    const QVector<UpgradeTarget> targets{{"127.0.0.172", "TX"},
                                         {"127.0.0.173", "RX"},  // the image is not for it
                                         {"127.0.0.170", "TX"},  // passed by
                                         {"127.0.0.174", "TX"},
                                         {"127.0.0.171", "TX"}};
    const int accepted = sim_.records("fw-accept").size();
    QStringList events;
    QSet<int> progressed;
    QElapsedTimer clock;
    clock.start();
    qint64 outcomeAt = -1;
    QList<qint64> pauses;  // from each outcome to the next start
    std::atomic<bool> cancel{false};
    UpgradeEvents log;
    log.started = [&](int i) {
        if (outcomeAt >= 0) {
            pauses << clock.elapsed() - outcomeAt;
            outcomeAt = -1;
        }
        events << QStringLiteral("started %1").arg(i);
        return i != 2;
    };
    log.progress = [&](int i, const UpgradeProgress&) { progressed << i; };
    log.outcome = [&](int i, const UpgradeOutcome& outcome) {
        events << QStringLiteral("outcome %1: %2").arg(i).arg(int(outcome.step));
        outcomeAt = clock.elapsed();
        cancel = i == 3;
    };
    QTcpSocket socket;
    QCOMPARE(upgrade_devices(socket, targets, path, log, {}, &cancel), 4);
    QCOMPARE(events, (QStringList{"started 0", "outcome 0: 0", "started 1",
                                  QStringLiteral("outcome 1: %1").arg(int(UpgradeStep::NameRule)),
                                  "started 2", "started 3", "outcome 3: 0"}));
    QCOMPARE(progressed, (QSet<int>{0, 3}));
    QCOMPARE(pauses.size(), 2);
    for (qint64 pause : pauses) {
        QVERIFY2(pause >= kUpgradePauseMs - 1, qPrintable(QString::number(pause)));
    }
    QCOMPARE(socket.state(), QAbstractSocket::UnconnectedState);
    QStringList order;
    for (const DevsimRecord& r : sim_.records("fw-accept").mid(accepted)) {
        order << r.device;
    }
    QCOMPARE(order, (QStringList{"127.0.0.172", "127.0.0.174"}));
}

QTEST_GUILESS_MAIN(TestUpgradeStream)
#include "test_upgrade_stream.moc"
