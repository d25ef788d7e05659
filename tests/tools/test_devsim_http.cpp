// The simulator's HTTP side on loopback addresses (127.0.0.200-220 belong to these tests),
// seen from a plain TCP client: answers, state, restarts and every HTTP fault.
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QtTest>

#include "tests/support/devsim_harness.h"

using corvane::test::Devsim;
using corvane::test::DevsimRecord;

namespace {

constexpr quint16 kPort = 28080;

struct Exchange {
    bool connected = false;
    QByteArray bytes;  // everything received
    int reads = 0;     // how many pieces it came in
    bool closedByPeer = false;
    int status = 0;
    QByteArray body;
    bool complete = false;  // a whole reply (head and Content-Length body) arrived
};

QByteArray post(const QString& host, const QByteArray& body, bool close = false) {
    return "POST / HTTP/1.1\r\nHost: " + host.toLatin1() +
           "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n" +
           (close ? "Connection: close\r\n" : "") + "\r\n" + body;
}

QByteArray command(int code, const QJsonValue& parameters = QJsonValue::Undefined) {
    QJsonObject o{{"ProtocolCode", code}};
    if (!parameters.isUndefined())
        o.insert("Parameters", parameters);
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

void parse(Exchange* e) {
    const int end = e->bytes.indexOf("\r\n\r\n");
    if (end < 0)
        return;
    const QByteArray head = e->bytes.left(end);
    e->status = head.mid(9, 3).toInt();
    int length = -1;
    for (const QByteArray& line : head.split('\n'))
        if (line.toLower().startsWith("content-length:"))
            length = line.mid(15).trimmed().toInt();
    if (length >= 0 && e->bytes.size() >= end + 4 + length) {
        e->body = e->bytes.mid(end + 4, length);
        e->complete = true;
    }
}

// Sends the request on `socket` and collects until a whole reply, a close, or `waitMs`.
Exchange talk(QTcpSocket& socket, const QByteArray& request, int waitMs = 3000) {
    Exchange e;
    e.connected = socket.state() == QAbstractSocket::ConnectedState;
    if (!e.connected)
        return e;
    socket.write(request);
    QElapsedTimer clock;
    clock.start();
    while (!e.complete && !clock.hasExpired(waitMs)) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(50)) {
            if (socket.state() != QAbstractSocket::ConnectedState) {
                e.closedByPeer = true;
                break;
            }
            continue;
        }
        const QByteArray piece = socket.readAll();
        if (!piece.isEmpty()) {
            e.bytes += piece;
            ++e.reads;
            parse(&e);
        }
    }
    return e;
}

Exchange once(const QString& host, const QByteArray& body, int waitMs = 3000) {
    QTcpSocket socket;
    socket.connectToHost(host, kPort);
    if (!socket.waitForConnected(2000))
        return Exchange{};
    return talk(socket, post(host, body), waitMs);
}

QJsonObject json(const QByteArray& body) {
    return QJsonDocument::fromJson(body).object();
}

bool startSim(Devsim& sim, const QStringList& devices, int restartSeconds = 1) {
    for (const QString& d : devices)
        sim.device(d);
    sim.args({"--no-udp", "--http-port", QString::number(kPort), "--restart-seconds",
              QString::number(restartSeconds)});
    return sim.start(Devsim::Where::Here);
}

// Whether a TCP connect to host is refused (nothing listens) within a short time.
bool refused(const QString& host) {
    QTcpSocket s;
    s.connectToHost(host, kPort);
    return !s.waitForConnected(1000) && s.error() == QAbstractSocket::ConnectionRefusedError;
}

}  // namespace

class TestDevsimHttp : public QObject {
    Q_OBJECT
private slots:
    void faults_data() {
        QTest::addColumn<QString>("device");
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("status");    // 0: no reply at all
        QTest::addColumn<int>("bodySize");  // -1: any non-empty JSON
        QTest::addColumn<bool>("closed");   // the device closed the connection
        const QString ip = "ip=127.0.0.201,type=1102,";
        QTest::newRow("normal") << ip + "http=normal" << 3052 << 200 << -1 << false;
        QTest::newRow("empty body") << ip + "http=empty" << 3052 << 200 << 0 << false;
        QTest::newRow("exactly 30") << ip + "http=size,http-size=30" << 1008 << 200 << 30 << false;
        QTest::newRow("exactly 29") << ip + "http=size,http-size=29" << 1002 << 200 << 29 << true;
        QTest::newRow("exactly 31") << ip + "http=size,http-size=31" << 1024 << 200 << 31 << false;
        QTest::newRow("status 400") << ip + "http=bad-request" << 1022 << 400 << -1 << false;
        QTest::newRow("status 500")
            << ip + "http=bad-request,http-status=500" << 1022 << 500 << -1 << false;
        QTest::newRow("hang") << ip + "http=hang" << 1022 << 0 << 0 << false;
        QTest::newRow("close at once") << ip + "http=close" << 1022 << 0 << 0 << true;
        QTest::newRow("fault for other code")
            << ip + "http=empty,http-only=1002" << 3052 << 200 << -1 << false;
        QTest::newRow("fault for this code")
            << ip + "http=empty,http-only=1002/3052" << 3052 << 200 << 0 << false;
        QTest::newRow("close after reading")
            << ip + "http=close,http-only=3052" << 3052 << 0 << 0 << true;
    }
    void faults() {
        QFETCH(QString, device);
        QFETCH(int, code);
        QFETCH(int, status);
        QFETCH(int, bodySize);
        QFETCH(bool, closed);
        Devsim sim;
        QVERIFY2(startSim(sim, {device}), qPrintable(sim.errorString()));
        QJsonValue params;
        if (code == 1008)
            params = QJsonArray{QJsonObject{{"LanNo", 0},
                                            {"IP", "127.0.0.201"},
                                            {"SubNetMask", "255.0.0.0"},
                                            {"GateWay", "127.0.0.1"},
                                            {"MacAddr", "02:00:00:00:00:01"}}};
        if (code == 1024)
            params = QJsonArray{QJsonObject{{"ChnId", 1}, {"StreamId", 0}, {"FrameRate", 25}}};
        const Exchange e = once("127.0.0.201", command(code, params), 1500);
        QVERIFY(e.connected);
        if (status == 0) {
            QVERIFY2(e.bytes.isEmpty(), e.bytes.constData());
            QCOMPARE(e.closedByPeer, closed);
            return;
        }
        QVERIFY2(e.complete, e.bytes.constData());
        QCOMPARE(e.status, status);
        if (bodySize >= 0) {
            QCOMPARE(e.body.size(), bodySize);
        } else {
            QVERIFY(json(e.body).contains("Result"));
        }
        // The simulator logged exactly what was sent.
        const QList<DevsimRecord> in = sim.records("http-in");
        QCOMPARE(in.size(), 1);
        QCOMPARE(in.first().data, post("127.0.0.201", command(code, params)));
        QCOMPARE(in.first().code, code);
    }

    // Devices that write HTTP loosely: the exact bytes each of these modes puts on the wire.
    void looseHttpAsAsked_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QByteArray>("interim");  // bytes before the reply's status line
        QTest::addColumn<QByteArray>("lineEnd");
        QTest::addColumn<bool>("length");  // the head carries Content-Length
        QTest::newRow("bare-lf") << "bare-lf" << QByteArray() << QByteArray("\n") << true;
        QTest::newRow("continue") << "continue" << QByteArray("HTTP/1.1 100 Continue\r\n\r\n")
                                  << QByteArray("\r\n") << true;
        QTest::newRow("until-close")
            << "until-close" << QByteArray() << QByteArray("\r\n") << false;
    }
    void looseHttpAsAsked() {
        QFETCH(QString, mode);
        QFETCH(QByteArray, interim);
        QFETCH(QByteArray, lineEnd);
        QFETCH(bool, length);
        Devsim sim;
        QVERIFY2(startSim(sim, {"ip=127.0.0.215,type=1102,http=" + mode}),
                 qPrintable(sim.errorString()));
        QTcpSocket socket;
        socket.connectToHost("127.0.0.215", kPort);
        QVERIFY(socket.waitForConnected(2000));
        const Exchange e = talk(socket, post("127.0.0.215", command(3052), true), 3000);
        QVERIFY(e.closedByPeer);
        QVERIFY2(e.bytes.startsWith(interim + "HTTP/1.1 200 OK" + lineEnd), e.bytes.constData());
        const QByteArray reply = e.bytes.mid(interim.size());
        const int end = reply.indexOf(lineEnd + lineEnd);
        QVERIFY(end > 0);
        const QByteArray head = reply.left(end);
        const QByteArray body = reply.mid(end + 2 * lineEnd.size());
        if (lineEnd == "\n")
            QVERIFY2(!head.contains('\r'), head.constData());
        QCOMPARE(head.contains(lineEnd + "Content-Length: " + QByteArray::number(body.size())),
                 length);
        QVERIFY(sim.waitForRecord("http-out", nullptr, 2000));
        QCOMPARE(body, sim.records("http-out").first().data);
        QVERIFY(json(body).value("Parameters").toObject().contains("AudioIn"));
    }

    void slowAnswerComesInPieces() {
        Devsim sim;
        QVERIFY2(startSim(sim, {"ip=127.0.0.202,type=307,http=slow,http-piece=7,http-interval=20"}),
                 qPrintable(sim.errorString()));
        const Exchange e = once("127.0.0.202", command(1034, QJsonObject{{"DisplayId", 1}}), 10000);
        QVERIFY(e.complete);
        QCOMPARE(json(e.body).value("Parameters").toObject().value("AoDevId").toInt(), 2);
        // 7 bytes per piece: well over ten separate reads for head and body.
        QVERIFY2(e.reads > 10, qPrintable(QString::number(e.reads)));
    }

    void keepAliveCarriesStateBetweenRequests() {
        Devsim sim;
        QVERIFY2(startSim(sim, {"ip=127.0.0.203,type=1200"}), qPrintable(sim.errorString()));
        QTcpSocket socket;
        socket.connectToHost("127.0.0.203", kPort);
        QVERIFY(socket.waitForConnected(2000));
        const Exchange w =
            talk(socket, post("127.0.0.203", command(3054, QJsonObject{{"AudioIn", 1}})));
        QVERIFY(w.complete);
        QVERIFY(w.body.size() >= 31);
        const Exchange r = talk(socket, post("127.0.0.203", command(3052)));
        QVERIFY(r.complete);
        QCOMPARE(json(r.body).value("Parameters").toObject().value("AudioIn").toInt(), 1);
        // Connection: close is honoured.
        const Exchange c = talk(socket, post("127.0.0.203", command(3129), true));
        QVERIFY(c.complete);
        QVERIFY(socket.state() == QAbstractSocket::UnconnectedState ||
                socket.waitForDisconnected(2000));
        QCOMPARE(sim.records("tcp-accept").size(), 1);
        QCOMPARE(sim.records("http-in").size(), 3);
    }

    void twoRequestsInOneWrite() {
        Devsim sim;
        QVERIFY2(startSim(sim, {"ip=127.0.0.204,type=1102"}), qPrintable(sim.errorString()));
        QTcpSocket socket;
        socket.connectToHost("127.0.0.204", kPort);
        QVERIFY(socket.waitForConnected(2000));
        Exchange e =
            talk(socket, post("127.0.0.204", command(3052)) + post("127.0.0.204", command(3129)));
        QVERIFY(e.complete);
        QVERIFY(sim.waitForRecord(
            "http-out", [](const DevsimRecord& r) { return r.code == 3129; }, 3000));
        QCOMPARE(sim.records("http-in").size(), 2);
    }

    void expectContinueIsAnswered() {
        Devsim sim;
        QVERIFY2(startSim(sim, {"ip=127.0.0.214,type=1102"}), qPrintable(sim.errorString()));
        QTcpSocket socket;
        socket.connectToHost("127.0.0.214", kPort);
        QVERIFY(socket.waitForConnected(2000));
        const QByteArray body = command(3052);
        socket.write("POST / HTTP/1.1\r\nHost: 127.0.0.214\r\nContent-Length: " +
                     QByteArray::number(body.size()) + "\r\nExpect: 100-continue\r\n\r\n");
        QVERIFY(socket.waitForReadyRead(2000));
        QCOMPARE(socket.readAll(), QByteArray("HTTP/1.1 100 Continue\r\n\r\n"));
        const Exchange e = talk(socket, body);
        QVERIFY(e.complete);
        QCOMPARE(e.status, 200);
        QVERIFY(json(e.body).value("Parameters").toObject().contains("AudioIn"));
    }

    void malformedRequestGetsAnErrorAndClose() {
        Devsim sim;
        QVERIFY2(startSim(sim, {"ip=127.0.0.205"}), qPrintable(sim.errorString()));
        QTcpSocket socket;
        socket.connectToHost("127.0.0.205", kPort);
        QVERIFY(socket.waitForConnected(2000));
        const Exchange e = talk(socket, "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n");
        QVERIFY(e.complete);
        QCOMPARE(e.status, 501);
        QVERIFY(sim.waitForRecord("http-bad", nullptr, 2000));
        const Exchange bad = once("127.0.0.205", "{\"ProtocolCode\":\"1022\"}");
        QCOMPARE(bad.status, 400);
    }

    void hangKeepsRecordingButNeverAnswers() {
        Devsim sim;
        QVERIFY2(startSim(sim, {"ip=127.0.0.213,type=1102,http=hang"}),
                 qPrintable(sim.errorString()));
        QTcpSocket socket;
        socket.connectToHost("127.0.0.213", kPort);
        QVERIFY(socket.waitForConnected(2000));
        const QByteArray first = post("127.0.0.213", command(1022));
        const QByteArray second = post("127.0.0.213", command(3052));
        QVERIFY(talk(socket, first, 300).bytes.isEmpty());
        QVERIFY(talk(socket, second, 300).bytes.isEmpty());
        QVERIFY(sim.waitForRecord(
            "http-in", [](const DevsimRecord& r) { return r.code == 3052; }, 2000));
        const QList<DevsimRecord> in = sim.records("http-in");
        QCOMPARE(in.size(), 2);
        QCOMPARE(in.at(1).data, second);
        QCOMPARE(socket.state(), QAbstractSocket::ConnectedState);
    }

    void restartIsSilentThenBack() {
        Devsim sim;
        QVERIFY2(startSim(sim, {"ip=127.0.0.206,type=1102,uptime=7200"}, 1),
                 qPrintable(sim.errorString()));
        const Exchange e = once("127.0.0.206", command(1002));
        QVERIFY(e.complete);
        QVERIFY(e.body.size() >= 30);
        QVERIFY(e.closedByPeer || e.bytes.contains("Connection: close"));
        QVERIFY(refused("127.0.0.206"));
        QVERIFY(sim.waitForRecord("restart-up", nullptr, 5000));
        const Exchange after = once("127.0.0.206", command(3052));
        QCOMPARE(after.status, 200);
    }

    void networkChangeMovesTheDeviceAtRestart() {
        Devsim sim;
        QVERIFY2(startSim(sim, {"ip=127.0.0.207,type=307"}, 1), qPrintable(sim.errorString()));
        const QJsonArray p{QJsonObject{{"LanNo", 0},
                                       {"IP", "127.0.0.208"},
                                       {"SubNetMask", "255.0.0.0"},
                                       {"GateWay", "127.0.0.1"},
                                       {"MacAddr", "02:00:00:00:02:08"}}};
        const Exchange set = once("127.0.0.207", command(1008, p));
        QVERIFY(set.body.size() >= 30);
        // Not yet: the old address still answers, the new one does not.
        QCOMPARE(once("127.0.0.207", command(1034)).status, 200);
        QVERIFY(refused("127.0.0.208"));
        QVERIFY(once("127.0.0.207", command(1002)).complete);
        QVERIFY(sim.waitForRecord(
            "restart-up", [](const DevsimRecord& r) { return r.device == "127.0.0.208"; }, 5000));
        QVERIFY(refused("127.0.0.207"));
        QCOMPARE(once("127.0.0.208", command(1034)).status, 200);
    }

    void emptyBodyStillCarriesOutTheCommand() {
        Devsim sim;
        QVERIFY2(startSim(sim, {"ip=127.0.0.209,type=1102,http=empty,http-only=3054"}),
                 qPrintable(sim.errorString()));
        QCOMPARE(once("127.0.0.209", command(3054, QJsonObject{{"AudioIn", 1}})).body.size(), 0);
        QCOMPARE(json(once("127.0.0.209", command(3052)).body)
                     .value("Parameters")
                     .toObject()
                     .value("AudioIn")
                     .toInt(),
                 1);
    }

    void refusedFaultDoesNotChangeState() {
        Devsim sim;
        QVERIFY2(startSim(sim, {"ip=127.0.0.210,type=1102,http=bad-request,http-only=3054"}),
                 qPrintable(sim.errorString()));
        QCOMPARE(once("127.0.0.210", command(3054, QJsonObject{{"AudioIn", 1}})).status, 400);
        QCOMPARE(json(once("127.0.0.210", command(3052)).body)
                     .value("Parameters")
                     .toObject()
                     .value("AudioIn")
                     .toInt(),
                 0);
    }

    void bindFailureIsReported() {
        Devsim first;
        QVERIFY2(startSim(first, {"ip=127.0.0.211"}), qPrintable(first.errorString()));
        Devsim second;
        QVERIFY(!startSim(second, {"ip=127.0.0.211"}));
        QVERIFY2(second.errorString().contains("127.0.0.211"), qPrintable(second.errorString()));
    }

    void exitsCleanlyOnSigterm() {
#ifdef Q_OS_WIN
        QSKIP("Linux only: Windows has no SIGTERM; there the simulator ends on Ctrl-C");
#endif
        Devsim sim;
        QVERIFY2(startSim(sim, {"ip=127.0.0.212"}), qPrintable(sim.errorString()));
        QVERIFY(sim.isRunning());
        const QString ready = QFileInfo(sim.logPath()).dir().filePath("ready.json");
        QVERIFY(QFileInfo::exists(ready));
        QCOMPARE(sim.stop(), 0);
        QVERIFY(!QFileInfo::exists(ready));
        QVERIFY(refused("127.0.0.212"));
    }
};

QTEST_GUILESS_MAIN(TestDevsimHttp)
#include "test_devsim_http.moc"
