// The tool's HTTP service on a high port of every interface, talked to over loopback.
#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>
#include <memory>
#include <vector>

#include "command/http_server.h"
#include "tests/command/service_client.h"

namespace {

// Below the system's range of ephemeral ports (Linux: 32768-60999), so that no connection of
// another program holds them; kPort + 1 is kept closed by the test that needs it.
constexpr quint16 kPort = 28311;

const QByteArray kAck = "{\n\t\"ProtocolCode\":\t\"OKK\"\n}";

const QByteArray kCors =
    "Access-Control-Allow-Origin: *\r\n"
    "Access-Control-Max-Age: 3600\r\n"
    "Access-Control-Allow-Headers: X-Requested-With,content-type\r\n"
    "Access-Control-Allow-Methods: GET,POST,OPTIONS,DELETE\r\n"
    "Access-Control-Allow-Credentials:true\r\n";

const QByteArray kOkReply = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n" + kCors +
                            "Content-Length: " + QByteArray::number(kAck.size()) + "\r\n\r\n" +
                            kAck;

const QByteArray kBadRequest = "HTTP/1.1 400 bad request\r\nContent-Type: application/json\r\n" +
                               kCors + "Content-Length: 0\r\n\r\n";

const QByteArray kCommand = "{\"ProtocolCode\":1000}";

// A valid command padded to exactly `size` bytes.
QByteArray padded_command(int size) {
    const QByteArray head = "{\"ProtocolCode\":1000,\"Pad\":\"";
    const QByteArray tail = "\"}";
    return head + QByteArray(size - head.size() - tail.size(), 'p') + tail;
}

// A small connection limit and a short time-out, so that the tests reach both quickly.
HttpServiceLimits test_limits() {
    HttpServiceLimits limits;
    limits.max_connections = 16;
    limits.request_timeout = std::chrono::milliseconds(1500);
    return limits;
}

bool service_answers() {
    QTcpSocket socket;
    if (!connect_to(socket, kPort))
        return false;
    socket.write(post_request(kCommand));
    return read_reply(socket) == kOkReply;
}

}  // namespace

class TestHttpService : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void answersCommand1000_data();
    void answersCommand1000();
    void badRequests_data();
    void badRequests();
    void keepAlive();
    void connectionCloseIsHonoured();
    void expectContinue();
    void logsEvents_data();
    void logsEvents();
    void curlRequests_data();
    void curlRequests();
    void refusedRequests_data();
    void refusedRequests();
    void manyIdleConnections();
    void requestOneByteAtATime();
    void slowRequestIsCut();
    void slowUploaderOutlivesIdleConnections();
    void portIsNotShared();
    void secondStartWhileRunning();
    void stopAndStartAgain();
    void portInUse();
    void cleanupTestCase();
};

void TestHttpService::initTestCase() {
    QCOMPARE(service_state.load(), 1);
    set_http_service_limits(test_limits());
    QCOMPARE(start_http_service(kPort), 0);
    QCOMPARE(service_state.load(), 0);
}

void TestHttpService::answersCommand1000_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::newRow("compact") << post_request(kCommand);
    QTest::newRow("1000.9 reads as 1000") << post_request("{\"ProtocolCode\":1000.9}");
    QTest::newRow("pretty, other members")
        << post_request("{\n\t\"protocolcode\":\t1000,\n\t\"Parameters\":\t{}\n}");
    QTest::newRow("5000-byte body") << post_request(padded_command(5000));
    QTest::newRow("4096-byte body") << post_request(padded_command(4096));
    QTest::newRow("4097-byte body") << post_request(padded_command(4097));
    QTest::newRow("exactly 1 MiB") << post_request(padded_command(1048576));
    QTest::newRow("text after the document") << post_request(kCommand + " trailing");
    QTest::newRow("browser simple request") << post_request(
        kCommand, "Origin: http://127.0.0.1:8000\r\nContent-Type: text/plain;charset=UTF-8\r\n");
    QTest::newRow("chunked body") << QByteArray(
        "POST / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n"
        "5\r\n{\"Pro\r\n10\r\ntocolCode\":1000}\r\n0\r\n\r\n");
    QTest::newRow("any method and path")
        << QByteArray("PUT /some/where?x=1 HTTP/1.1\r\nContent-Length: 21\r\n\r\n") + kCommand;
}

void TestHttpService::answersCommand1000() {
    QFETCH(QByteArray, request);
    QTcpSocket socket;
    QVERIFY(connect_to(socket, kPort));
    socket.write(request);
    QCOMPARE(read_reply(socket), kOkReply);
}

void TestHttpService::badRequests_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::newRow("code as string") << post_request("{\"ProtocolCode\":\"1000\"}");
    QTest::newRow("other code") << post_request("{\"ProtocolCode\":1002}");
    QTest::newRow("no code") << post_request("{\"Code\":1000}");
    QTest::newRow("not json") << post_request("ProtocolCode=1000");
    QTest::newRow("array") << post_request("[1000]");
    QTest::newRow("NUL before the document") << post_request(QByteArray("\0", 1) + kCommand);
    QTest::newRow("deeply nested") << post_request(QByteArray(100000, '['));
    QTest::newRow("empty POST") << post_request("");
    QTest::newRow("GET") << QByteArray("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    QTest::newRow("OPTIONS pre-flight") << QByteArray(
        "OPTIONS / HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: http://127.0.0.1:8000\r\n"
        "Access-Control-Request-Method: POST\r\n"
        "Access-Control-Request-Headers: content-type\r\n\r\n");
}

void TestHttpService::badRequests() {
    QFETCH(QByteArray, request);
    QTcpSocket socket;
    QVERIFY(connect_to(socket, kPort));
    socket.write(request);
    QCOMPARE(read_reply(socket), kBadRequest);
    // The connection stays open for the next request.
    socket.write(post_request(kCommand));
    QCOMPARE(read_reply(socket), kOkReply);
}

void TestHttpService::keepAlive() {
    QTcpSocket socket;
    QVERIFY(connect_to(socket, kPort));
    socket.write(post_request(kCommand));
    QCOMPARE(read_reply(socket), kOkReply);
    socket.write(post_request(kCommand));
    QCOMPARE(read_reply(socket), kOkReply);
    // Pipelined: three requests in one write, answered in order.
    socket.write(post_request(kCommand) + post_request("{}") + post_request(kCommand));
    QCOMPARE(read_reply(socket), kOkReply);
    QCOMPARE(read_reply(socket), kBadRequest);
    QCOMPARE(read_reply(socket), kOkReply);
    QCOMPARE(socket.state(), QAbstractSocket::ConnectedState);
}

void TestHttpService::connectionCloseIsHonoured() {
    QTcpSocket socket;
    QVERIFY(connect_to(socket, kPort));
    socket.write(post_request(kCommand, "Connection: close\r\n"));
    QCOMPARE(read_reply(socket), kOkReply);
    QVERIFY(wait_closed(socket, 1000));
}

void TestHttpService::expectContinue() {
    QTcpSocket socket;
    QVERIFY(connect_to(socket, kPort));
    socket.write(
        "POST / HTTP/1.1\r\nHost: x\r\nExpect: 100-continue\r\nContent-Length: 21\r\n\r\n");
    const QByteArray interim = "HTTP/1.1 100 Continue\r\n\r\n";
    QByteArray got;
    while (got.size() < interim.size() && socket.waitForReadyRead(2000))
        got += socket.read(interim.size() - got.size());
    QCOMPARE(got, interim);
    socket.write(kCommand);
    QCOMPARE(read_reply(socket), kOkReply);
}

void TestHttpService::logsEvents_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("log");
    QTest::newRow("1000") << kCommand
                          << QByteArray(
                                 "_iEvent = 100 ptHttpMs {\"ProtocolCode\":1000}, len=21"
                                 "http_server:135");
    QTest::newRow("string code") << QByteArray("{\"ProtocolCode\":\"1000\"}")
                                 << QByteArray(
                                        "_iEvent = 100 ptHttpMs {\"ProtocolCode\":\"1000\"}, "
                                        "len=23unknwn cmd 0 ({\n\t\"ProtocolCode\":\t"
                                        "\"1000\"\n})http_server:144");
    QTest::newRow("not json") << QByteArray("hello")
                              << QByteArray(
                                     "_iEvent = 100 ptHttpMs hello, len=5unknwn cmd 0 ()"
                                     "http_server:144");
    QTest::newRow("other code") << QByteArray("{\"ProtocolCode\":7}")
                                << QByteArray(
                                       "len=18unknwn cmd 7 ({\n\t\"ProtocolCode\":\t7\n})"
                                       "http_server:144");
    // Whoever reaches the port writes to the operator's terminal: controls (C0, C1 in UTF-8),
    // bidirectional controls and stray bytes are escaped; other characters stay.
    QTest::newRow("terminal controls escaped")
        << QByteArray("\x1b]0;x\x07\x1b[2J\r\n\xc2\x9b\xe2\x80\xae\xff\x7f")
        << QByteArray(
               "ptHttpMs \\x1b]0;x\\x07\\x1b[2J\\x0d\\x0a\\xc2\\x9b\\xe2\\x80\\xae\\xff"
               "\\x7f, len=19unknwn cmd 0 ()http_server:144");
    QTest::newRow("controls in the document read")
        << QByteArray("{\"ProtocolCode\":7,\"v\":\"\xe8\xa7\x86\\u009b\\u2066\"}")
        << QByteArray(
               "{\"ProtocolCode\":7,\"v\":\"\xe8\xa7\x86\\u009b\\u2066\"}, len=40unknwn cmd 7 "
               "({\n\t\"ProtocolCode\":\t7,\n\t\"v\":\t\"\xe8\xa7\x86\\xc2\\x9b\\xe2\\x81\\xa6\"\n}"
               ")"
               "http_server:144");
}

void TestHttpService::logsEvents() {
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, log);
    LogCapture capture;
    {
        QTcpSocket socket;
        QVERIFY(connect_to(socket, kPort));
        socket.write(post_request(body));
        QVERIFY(!read_reply(socket).isEmpty());
        socket.disconnectFromHost();
    }
    // The request's log, then (later) its close; a previous test's connection may close in
    // between, so only the order of these is checked.
    QVERIFY2(capture.wait_for(log), capture.text().constData());
    const QByteArray close = "_iEvent = 5 Client close _iEvent = 5";
    QElapsedTimer timer;
    timer.start();
    while (!capture.text().mid(capture.text().indexOf(log)).contains(close) &&
           timer.elapsed() < 3000)
        QThread::msleep(20);
    const QByteArray text = capture.text();
    QVERIFY2(text.contains("_iEvent = 1 "), text.constData());
    QVERIFY2(text.indexOf("_iEvent = 1 ") < text.indexOf(log), text.constData());
    QVERIFY2(text.mid(text.indexOf(log)).contains(close), text.constData());
}

void TestHttpService::curlRequests_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("POST 1000") << QStringList{"--data-binary", kCommand} << kOkReply;
    QTest::newRow("POST 5000 bytes")
        << QStringList{"--data-binary", QString::fromLatin1(padded_command(5000))} << kOkReply;
    QTest::newRow("GET") << QStringList{} << kBadRequest;
    QTest::newRow("OPTIONS") << QStringList{"-X", "OPTIONS",
                                            "-H", "Origin: http://a.example",
                                            "-H", "Access-Control-Request-Method: POST"}
                             << kBadRequest;
}

void TestHttpService::curlRequests() {
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, reply);
#ifdef Q_OS_WIN
    QSKIP("Linux only: runs the machine's curl, which a wine run does not have");
#endif
    QProcess curl;
    curl.start("curl", QStringList{"-s", "-i", "--noproxy", "*", "--max-time", "5",
                                   QString("http://127.0.0.1:%1/").arg(kPort)} +
                           arguments);
    QVERIFY(curl.waitForFinished(10000));
    QCOMPARE(curl.exitCode(), 0);
    QCOMPARE(curl.readAllStandardOutput(), reply);
}

void TestHttpService::refusedRequests_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("more");  // sent after the reply may already have come
    QTest::newRow("declared 2 MiB body")
        << QByteArray("POST / HTTP/1.1\r\nContent-Length: 2097152\r\n\r\n{\"ProtocolCode\":")
        << QByteArray(200000, ' ');
    QTest::newRow("1 MiB + 1 body") << post_request(padded_command(1048577)) << QByteArray();
    QTest::newRow("chunked beyond 1 MiB")
        << QByteArray("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n")
        << ("100000\r\n" + QByteArray(0x100000, 'x') + "\r\n10\r\n" + QByteArray(16, 'y') + "\r\n");
    QTest::newRow("header beyond 8 KiB")
        << QByteArray("POST / HTTP/1.1\r\nX-Big: " + QByteArray(9000, 'h') + "\r\n")
        << QByteArray();
    QTest::newRow("endless header line")
        << QByteArray("GET /" + QByteArray(100000, 'a')) << QByteArray();
    QTest::newRow("not http") << QByteArray("HELLO THERE\r\n\r\n") << QByteArray();
    QTest::newRow("bad content-length")
        << QByteArray("POST / HTTP/1.1\r\nContent-Length: abc\r\n\r\n") << QByteArray();
    QTest::newRow("binary") << QByteArray("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11)
                            << QByteArray();
}

void TestHttpService::refusedRequests() {
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, more);
    QTcpSocket socket;
    QVERIFY(connect_to(socket, kPort));
    socket.write(request);
    socket.write(more);
    QCOMPARE(read_reply(socket), kBadRequest);
    QVERIFY(wait_closed(socket, 3000));
    QVERIFY(service_answers());
}

void TestHttpService::manyIdleConnections() {
    // Far more idle connections than the service holds (16): the oldest make room, and a new
    // client is still answered at once.
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < 40; ++i) {
        idle.push_back(std::make_unique<QTcpSocket>());
        QVERIFY(connect_to(*idle.back(), kPort));
    }
    QElapsedTimer timer;
    timer.start();
    QVERIFY(service_answers());
    QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
    int closed = 0;
    for (auto& socket : idle)
        closed += wait_closed(*socket, 50) ? 1 : 0;
    QVERIFY2(closed >= 40 - 16 + 1, qPrintable(QString::number(closed)));
    // The time-out ends the rest.
    for (auto& socket : idle)
        QVERIFY(wait_closed(*socket, 4000));
}

void TestHttpService::requestOneByteAtATime() {
    QTcpSocket socket;
    QVERIFY(connect_to(socket, kPort));
    const QByteArray request = post_request(kCommand);
    for (char c : request) {
        socket.write(&c, 1);
        socket.waitForBytesWritten(100);
        QThread::msleep(3);
    }
    QCOMPARE(read_reply(socket), kOkReply);
}

void TestHttpService::slowRequestIsCut() {
    // A request that trickles in for ever is cut at the time-out (1.5 s here) while others
    // are answered meanwhile.
    QTcpSocket slow;
    QVERIFY(connect_to(slow, kPort));
    slow.write("POST / HTTP/1.1\r\n");
    QElapsedTimer timer;
    timer.start();
    bool answered_meanwhile = false;
    while (slow.state() == QAbstractSocket::ConnectedState && timer.elapsed() < 6000) {
        slow.write("X-Slow: 1\r\n");
        slow.waitForReadyRead(150);
        if (!answered_meanwhile)
            answered_meanwhile = service_answers();
    }
    const qint64 elapsed = timer.elapsed();
    QVERIFY(answered_meanwhile);
    QCOMPARE(slow.state(), QAbstractSocket::UnconnectedState);
    QVERIFY2(elapsed >= 1000 && elapsed < 4000, qPrintable(QString::number(elapsed)));
}

void TestHttpService::slowUploaderOutlivesIdleConnections() {
    // A client sending a large body slowly while 40 idle connections arrive (the service holds
    // 16): its reading keeps it active, so the idle ones make room and its request completes.
    stop_http_service();
    HttpServiceLimits limits = test_limits();
    limits.request_timeout = std::chrono::seconds(20);  // only the connection limit counts here
    set_http_service_limits(limits);
    QCOMPARE(start_http_service(kPort), 0);

    const QByteArray request = post_request(padded_command(4000));
    const int pieces = 40;
    const int piece = request.size() / pieces + 1;
    QTcpSocket uploader;
    QVERIFY(connect_to(uploader, kPort));
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < pieces; ++i) {
        idle.push_back(std::make_unique<QTcpSocket>());
        QVERIFY(connect_to(*idle.back(), kPort));
        uploader.write(request.mid(i * piece, piece));
        QVERIFY(uploader.waitForBytesWritten(1000));
        QThread::msleep(10);
    }
    QCOMPARE(read_reply(uploader), kOkReply);

    idle.clear();
    stop_http_service();
    set_http_service_limits(test_limits());
    QCOMPARE(start_http_service(kPort), 0);
}

void TestHttpService::portIsNotShared() {
    // Not even a socket that offers to share may listen on the service's port beside it, or
    // requests would be split between two programs.
    SharingListener intruder(kPort);
    QVERIFY(!intruder.listening());
    QVERIFY(service_answers());
}

void TestHttpService::secondStartWhileRunning() {
    ClosedPort second(kPort + 1);
    QVERIFY2(second.bound(), "the second port is free for the test");
    LogCapture capture;
    QCOMPARE(start_http_service(kPort), 0);
    QCOMPARE(service_state.load(), 0);
    QCOMPARE(start_http_service(kPort + 1), 0);  // a running service is left as it is
    QVERIFY(service_answers());
    QTcpSocket other;
    other.connectToHost(QHostAddress::LocalHost, kPort + 1);
    QVERIFY(!other.waitForConnected(1000));
    QCOMPARE(other.error(), QAbstractSocket::ConnectionRefusedError);
    QVERIFY2(!capture.text().contains("Error starting"), capture.text().constData());
}

void TestHttpService::stopAndStartAgain() {
    stop_http_service();
    QCOMPARE(service_state.load(), 2);
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, kPort);
    QVERIFY(!socket.waitForConnected(1000));
    QCOMPARE(start_http_service(kPort), 0);
    QCOMPARE(service_state.load(), 0);
    QVERIFY(service_answers());
}

void TestHttpService::portInUse() {
    stop_http_service();
    {
        // The occupier offers to share the port: only the service's own refusal to share can
        // make its start fail.
        SharingListener occupier(kPort);
        QVERIFY(occupier.listening());
        LogCapture capture;
        QCOMPARE(start_http_service(kPort), -1);
        QCOMPARE(service_state.load(), 2);
        QCOMPARE(capture.text(), "Error starting server on port " + QByteArray::number(kPort));
    }
    {
        LogCapture capture;
        QCOMPARE(start_http_service(70000), -1);
        QCOMPARE(capture.text(), QByteArray("Error starting server on port 70000"));
    }
    QCOMPARE(start_http_service(kPort), 0);
    QVERIFY(service_answers());
}

void TestHttpService::cleanupTestCase() {
    stop_http_service();
    QCOMPARE(service_state.load(), 2);
}

QTEST_GUILESS_MAIN(TestHttpService)
#include "test_http_service.moc"
